// vllogM: a captioned hex dump of a buffer, as one log line.
#include <cstdio>
#include <cstring>

#include "log/log_internal.h"

// Larger buffers get a warning and are shown only as far as a line allows.
static constexpr uint32_t DUMP_WARN_SIZE = 256;
static constexpr size_t SCRATCH_SIZE = 128;

// Appends piece to out, stopping at VLLOG_TEXT_MAX characters. Returns false
// once out is full.
static bool appendBounded(char *out, size_t *used, const char *piece)
{
    size_t room = VLLOG_TEXT_MAX - *used;
    size_t len = strlen(piece);
    if (len > room)
        len = room;
    memcpy(out + *used, piece, len);
    *used += len;
    out[*used] = '\0';
    return *used < VLLOG_TEXT_MAX;
}

void vllogFormatDump(char *out, const char *caption, const void *data, uint32_t size)
{
    memset(out, 0, VLLOG_RECORD_TEXT);
    size_t used = 0;
    char scratch[SCRATCH_SIZE];

    if (caption != nullptr) {
        unsigned low = size & 0xFFFFu;
        snprintf(scratch, sizeof scratch, "[%s]\tsize:%04u(H:%04X)", caption, low, low);
        appendBounded(out, &used, scratch);
    }
    if (size > DUMP_WARN_SIZE)
        appendBounded(out, &used, "\nWARRYINT too SIZE, ONLY show 2.5K\r\n");
    if (data == nullptr)
        return;

    const auto *bytes = static_cast<const unsigned char *>(data);
    for (uint32_t i = 0; i < size; i += 2) {
        if (i % 32 == 0) {
            if (!appendBounded(out, &used, "\r\n"))
                return;
        } else if (i % 16 == 0) {
            if (!appendBounded(out, &used, " "))
                return;
        }
        if (i + 1 < size)
            snprintf(scratch, sizeof scratch, "%02X%02X", bytes[i], bytes[i + 1]);
        else
            snprintf(scratch, sizeof scratch, "%02X", bytes[i]);
        if (!appendBounded(out, &used, scratch))
            return;
    }
}

int vllogM(const char *caption, const void *data, uint32_t size)
{
    char text[VLLOG_RECORD_TEXT];
    vllogFormatDump(text, caption, data, size);
    return postMsgLog(text);
}
