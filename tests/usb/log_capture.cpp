// Stands in for vl_log in unit tests, so that log texts can be asserted.
#include "tests/usb/log_capture.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "log/log.h"

namespace {
std::mutex s_lock;
std::vector<std::string> s_lines;

int keep(const std::string &line)
{
    std::lock_guard<std::mutex> guard(s_lock);
    s_lines.push_back(line);
    return 0;
}

int keepf(const char *fmt, va_list ap)
{
    char text[VLLOG_TEXT_MAX + 1];
    vsnprintf(text, sizeof text, fmt, ap);
    return keep(text);
}
} // namespace

std::vector<std::string> loggedLines()
{
    std::lock_guard<std::mutex> guard(s_lock);
    return s_lines;
}

bool wasLogged(const std::string &line)
{
    const auto lines = loggedLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void clearLoggedLines()
{
    std::lock_guard<std::mutex> guard(s_lock);
    s_lines.clear();
}

int vllogExec() { return 0; }
int _vllog(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int r = keepf(fmt, ap);
    va_end(ap);
    return r;
}
int vllogE(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int r = keepf(fmt, ap);
    va_end(ap);
    return r;
}
int vllogstr(const char *text) { return keep(text); }
int vllogstrex(const char *bytes, int length) { return keep(std::string(bytes, length > 0 ? length : 0)); }
int vllogM(const char *caption, const void *, uint32_t) { return keep(caption); }
int vllogtm() { return 0; }
int vllogClr() { return 0; }
bool vllogDrain(int) { return true; }
void vllogClose() {}
