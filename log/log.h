// Log channel: every thread hands finished lines to one writer thread through
// a SysV message queue; the writer appends them to the log file and echoes
// them to standard output.
#pragma once

#include <cstddef>
#include <cstdint>

// Texts are cut to this many characters; a record holds one more for the NUL.
inline constexpr int VLLOG_TEXT_MAX = 511;

// The log file when VORL2547_LOG_FILE does not name another one.
inline constexpr const char *VLLOG_DEFAULT_PATH = "/var/log/vorlenfp2547.log";

// Creates the queue and starts the writer. Ends the process on failure.
int vllogExec();

int _vllog(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int vllogE(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int vllogstr(const char *text);
int vllogstrex(const char *bytes, int length);
int vllogM(const char *caption, const void *data, uint32_t size);
int vllogtm();
int vllogClr();

// Room for one escaped client string: every name the daemon takes is at most
// 255 bytes, and a line holds only VLLOG_TEXT_MAX characters anyway.
inline constexpr size_t VLLOG_ESCAPED_SIZE = VLLOG_TEXT_MAX + 1;

// Copies text into buf (size bytes, always terminated, cut before an escape
// that would not fit) with control characters and backslashes escaped ("\n",
// "\x1b", "\\"), so that a client string never breaks a log line; returns
// buf.
const char *vllogEscape(const char *text, char *buf, size_t size);

// Waits up to timeoutMs for the writer to have written every line posted so
// far; true when it has. Used before the process exits so that its last lines
// are not lost with the queue.
bool vllogDrain(int timeoutMs);

// Removes the queue. Safe in a signal handler. The writer thread ends quietly
// when it sees the queue gone; later posts fail with -1.
void vllogClose();
