// Pieces of the log channel shared by its own files and by its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "log/log.h"

// Size of a record's text field: the longest text plus its terminator.
inline constexpr int VLLOG_RECORD_TEXT = VLLOG_TEXT_MAX + 1;

// Every record on the queue carries this type.
inline constexpr long VLLOG_MSG_TYPE = 2;

// One queue record. The whole record is zeroed before the text goes in, so
// the text is always terminated inside the field.
struct LogMsg {
    long mtype;
    char mtext[VLLOG_RECORD_TEXT];
};

// Builds the record from a NUL-terminated text (cut to VLLOG_TEXT_MAX) and
// sends it. 0 when queued, -1 when the send failed.
int postMsgLog(const char *text);

// Sends len bytes (0..VLLOG_TEXT_MAX) as a record text.
int vllogSendBytes(const char *bytes, size_t len);

// The writer's work for one record: append the text and a line feed to the
// file at path (skipped when it cannot be opened), then echo both to stdout.
// Only the characters up to the terminator, and at most VLLOG_RECORD_TEXT of
// them, are written.
void vllogWriteLine(const char *path, const char *text);

// A client that calls without end must not fill the disk through the log:
// a file that has grown past limit bytes is moved aside to "<path>.old"
// (replacing the one before), and the next line starts a new file. Weekly
// rotation does not look at that name. f is the file open for appending.
inline constexpr long VLLOG_MAX_FILE_BYTES = 16L << 20;
void vllogLimitSize(const char *path, FILE *f, long limit);

// Builds the hex dump text of vllogM into out (VLLOG_RECORD_TEXT bytes).
void vllogFormatDump(char *out, const char *caption, const void *data, uint32_t size);

// The file the writer appends to.
const char *vllogPath();
