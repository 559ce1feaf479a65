// What the writer thread does with one line.
#include <cstdio>
#include <cstring>

#include "log/log_internal.h"

static FILE *m_file = nullptr;

// Texts are written as bytes, never used as a format: a user id such as
// "%s%n" comes from a bus client.
static void writeLiterally(FILE *out, const char *text, size_t len)
{
    fwrite(text, 1, len, out);
    fputc('\n', out);
}

void vllogWriteLine(const char *path, const char *text)
{
    size_t len = strnlen(text, VLLOG_RECORD_TEXT);

    // Opened per line, so the file may be moved or removed at any time and
    // the next line creates it anew.
    m_file = fopen(path, "ab");
    if (m_file != nullptr) {
        writeLiterally(m_file, text, len);
        fclose(m_file);
    }
    m_file = nullptr;

    writeLiterally(stdout, text, len);
    fflush(stdout);
}
