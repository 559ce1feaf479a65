// Client strings in log lines. A user id or finger name is anybody's text;
// written as it came, a line feed in it would start a line of the caller's
// choosing, and an escape sequence would act on whoever reads the log on a
// terminal.
#include <cstdio>
#include <cstring>

#include "log/log.h"

const char *vllogEscape(const char *text, char *buf, size_t size)
{
    if (buf == nullptr || size == 0)
        return "";
    size_t out = 0;
    for (const char *p = text != nullptr ? text : ""; *p != '\0'; ++p) {
        auto c = static_cast<unsigned char>(*p);
        char piece[5];
        if (c == '\n')
            std::memcpy(piece, "\\n", 3);
        else if (c == '\r')
            std::memcpy(piece, "\\r", 3);
        else if (c == '\t')
            std::memcpy(piece, "\\t", 3);
        else if (c == '\\')
            std::memcpy(piece, "\\\\", 3);
        else if (c < 0x20 || c == 0x7f)
            std::snprintf(piece, sizeof piece, "\\x%02x", c);
        else {
            piece[0] = static_cast<char>(c);
            piece[1] = '\0';
        }
        size_t len = std::strlen(piece);
        // Whole escapes only: a cut one would read as another character.
        if (out + len >= size)
            break;
        std::memcpy(buf + out, piece, len);
        out += len;
    }
    buf[out] = '\0';
    return buf;
}
