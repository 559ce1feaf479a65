// Log channel: every thread hands finished lines to one writer thread through
// a SysV message queue; the writer appends them to the log file and echoes
// them to standard output.
#pragma once

#include <cstdint>

// Texts are cut to this many characters; a record holds one more for the NUL.
inline constexpr int VLLOG_TEXT_MAX = 511;

// Creates the queue and starts the writer. Ends the process on failure.
int vllogExec();

int _vllog(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int vllogE(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
int vllogstr(const char *text);
int vllogstrex(const char *bytes, int length);
int vllogM(const char *caption, const void *data, uint32_t size);
int vllogtm();
int vllogClr();
