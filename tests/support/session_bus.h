// A throwaway dbus-daemon for in-process tests and fuzzers that need a real
// bus connection. It dies with the process that started it.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <string>

// Starts the daemon and returns its address ("" when it did not start); its
// pid goes to *pid.
inline std::string startSessionBus(pid_t *pid)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "";
    *pid = fork();
    if (*pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(fds[1], STDOUT_FILENO);
        // Its complaints about resource limits are no business of the caller.
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=1", "--address=unix:tmpdir=/tmp",
               static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string address;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        address += c;
    close(fds[0]);
    return address;
}
