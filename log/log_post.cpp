// The posting functions every thread uses.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "log/log_internal.h"

static int postFormatted(const char *fmt, va_list ap)
{
    char text[VLLOG_RECORD_TEXT];
    memset(text, 0, sizeof text);
    // vsnprintf cuts a longer result to VLLOG_TEXT_MAX characters.
    vsnprintf(text, sizeof text, fmt, ap);
    return postMsgLog(text);
}

int _vllog(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int rc = postFormatted(fmt, ap);
    va_end(ap);
    return rc;
}

int vllogE(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int rc = postFormatted(fmt, ap);
    va_end(ap);
    return rc;
}

int vllogstr(const char *text) { return postMsgLog(text); }

// Raw bytes need no terminator; a length outside 0..511 is clamped so that
// nothing beyond the caller's bytes or the record is touched.
int vllogstrex(const char *bytes, int length)
{
    if (bytes == nullptr || length < 0)
        length = 0;
    return vllogSendBytes(bytes, static_cast<size_t>(length));
}

int vllogtm()
{
    time_t now = time(nullptr);
    struct tm local;
    memset(&local, 0, sizeof local);
    localtime_r(&now, &local);
    return _vllog("%04d/%02d/%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec);
}

// The daemon never truncates its log.
int vllogClr() { return 0; }
