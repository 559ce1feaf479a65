// What the writer thread does with one line.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "log/log_internal.h"

static FILE *m_file = nullptr;

// The log names who verified and when: readable by root and the log readers
// of group adm (where the system has one), like the system's own logs.
static constexpr mode_t LOG_FILE_MODE = 0640;
static constexpr const char *LOG_GROUP = "adm";

// Texts are written as bytes, never used as a format: a user id such as
// "%s%n" comes from a bus client.
static void writeLiterally(FILE *out, const char *text, size_t len)
{
    fwrite(text, 1, len, out);
    fputc('\n', out);
}

static gid_t logGroup()
{
    struct group entry;
    struct group *found = nullptr;
    char buf[1024];
    if (getgrnam_r(LOG_GROUP, &entry, buf, sizeof buf, &found) != 0 || found == nullptr)
        return static_cast<gid_t>(-1);
    return found->gr_gid;
}

// Appends to the file, creating it with the log's mode and group when it is
// missing. A file that is already there keeps whatever its owner gave it.
static FILE *openForAppend(const char *path)
{
    int fd = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, LOG_FILE_MODE);
        if (fd >= 0) {
            // The umask may have taken bits away, and the group is only ours
            // to set as root: elsewhere the file stays the creator's.
            (void)fchmod(fd, LOG_FILE_MODE);
            gid_t group = logGroup();
            // Failing leaves the file root's group, still closed to others;
            // a log line must not be lost for it.
            if (group != static_cast<gid_t>(-1) && fchown(fd, static_cast<uid_t>(-1), group) != 0) {
            }
        } else if (errno == EEXIST) {
            fd = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
        }
    }
    if (fd < 0)
        return nullptr;
    FILE *f = fdopen(fd, "ab");
    if (f == nullptr)
        close(fd);
    return f;
}

void vllogLimitSize(const char *path, FILE *f, long limit)
{
    struct stat st;
    if (fflush(f) != 0 || fstat(fileno(f), &st) != 0 || st.st_size <= limit)
        return;
    char aside[VLLOG_RECORD_TEXT + 8];
    int n = snprintf(aside, sizeof aside, "%s.old", path);
    if (n > 0 && static_cast<size_t>(n) < sizeof aside)
        (void)rename(path, aside);
}

void vllogWriteLine(const char *path, const char *text)
{
    size_t len = strnlen(text, VLLOG_RECORD_TEXT);

    // Opened per line, so the file may be moved or removed at any time and
    // the next line creates it anew.
    m_file = openForAppend(path);
    if (m_file != nullptr) {
        writeLiterally(m_file, text, len);
        vllogLimitSize(path, m_file, VLLOG_MAX_FILE_BYTES);
        fclose(m_file);
    }
    m_file = nullptr;

    writeLiterally(stdout, text, len);
    fflush(stdout);
}
