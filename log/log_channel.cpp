// The queue between the logging threads and the one writer thread.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <thread>

#include "log/log_internal.h"

// -1 until vllogExec: a post before then fails instead of landing on
// whatever queue happens to have id 0.
static std::atomic<int> m_msgid{-1};
static char m_path[VLLOG_RECORD_TEXT] = "/var/log/vorlenfp2547.log";

// Lines accepted by the queue and lines the writer has finished, so that
// vllogDrain can tell when the last line reached the file.
static std::atomic<unsigned long> s_posted{0};
static std::atomic<unsigned long> s_written{0};

const char *vllogPath() { return m_path; }

int vllogSendBytes(const char *bytes, size_t len)
{
    LogMsg rec;
    memset(&rec, 0, sizeof rec);
    rec.mtype = VLLOG_MSG_TYPE;
    if (len > VLLOG_TEXT_MAX)
        len = VLLOG_TEXT_MAX;
    if (bytes != nullptr && len > 0)
        memcpy(rec.mtext, bytes, len);

    // Blocks while the queue is full; that throttles every logger to the
    // writer's pace.
    int rc;
    do {
        rc = msgsnd(m_msgid.load(), &rec, sizeof rec.mtext, 0);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        return -1;
    s_posted.fetch_add(1);
    return 0;
}

int postMsgLog(const char *text)
{
    if (text == nullptr)
        text = "";
    return vllogSendBytes(text, strnlen(text, VLLOG_TEXT_MAX));
}

static void *ExecThreadLog(void *)
{
    LogMsg rec;
    for (;;) {
        memset(&rec, 0, sizeof rec);
        if (msgrcv(m_msgid.load(), &rec, sizeof rec.mtext, VLLOG_MSG_TYPE, 0) < 0) {
            if (errno == EINTR)
                continue;
            // The queue was removed at exit: nothing more will come.
            if (errno == EIDRM || errno == EINVAL)
                return nullptr;
            perror("msgrcv");
            // Do not spin on a failure that repeats.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        vllogWriteLine(m_path, rec.mtext);
        s_written.fetch_add(1);
    }
}

// The log file is whatever VORL2547_LOG_FILE names, so tests and sandboxes
// keep away from /var/log.
static void takePathFromEnvironment()
{
    const char *env = getenv("VORL2547_LOG_FILE");
    if (env != nullptr && env[0] != '\0')
        snprintf(m_path, sizeof m_path, "%s", env);
}

static void removeQueueAtExit()
{
    vllogDrain(1000);
    vllogClose();
}

int vllogExec()
{
    takePathFromEnvironment();

    int id = msgget(IPC_PRIVATE, IPC_CREAT | 0);
    if (id < 0) {
        printf("msgget failed\n");
        fflush(stdout);
        exit(1);
    }
    m_msgid.store(id);
    printf("msgget ok ,msgid = %d\n", id);
    fflush(stdout);
    // A private queue outlives the process unless removed.
    atexit(removeQueueAtExit);

    pthread_t thread;
    int rc = pthread_create(&thread, nullptr, ExecThreadLog, nullptr);
    if (rc != 0) {
        errno = rc;
        perror("pthread_create ExecThreadLog error\n");
        exit(1);
    }
    // The writer runs for the life of the process and nobody joins it.
    pthread_detach(thread);
    return 0;
}

bool vllogDrain(int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (s_written.load() < s_posted.load()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void vllogClose()
{
    int id = m_msgid.exchange(-1);
    if (id >= 0)
        msgctl(id, IPC_RMID, nullptr);
}
