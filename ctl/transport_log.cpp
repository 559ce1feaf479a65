// The USB transport logs through the daemon's log channel; in the client its
// lines only matter when something goes wrong, and the command says what in
// its own words. VORL2547_CTL_DEBUG shows them on standard error.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "log/log.h"

namespace {
bool shown() { return std::getenv("VORL2547_CTL_DEBUG") != nullptr; }
} // namespace

int vllogstr(const char *text)
{
    if (shown())
        std::fprintf(stderr, "vorl2547-ctl: usb: %s", text);
    return 0;
}

int _vllog(const char *fmt, ...)
{
    if (!shown())
        return 0;
    va_list ap;
    va_start(ap, fmt);
    std::fputs("vorl2547-ctl: usb: ", stderr);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    return 0;
}
