// Device entry points of the engine (vlLstDev, vlOpenDev, vlCloseDev are
// declared in vorl2547_drv.h) and the uptime timer.
#pragma once

#include <sys/sysinfo.h>

// Stamp taken by setGetDevtimer, in seconds since boot.
extern long m_getDevTime;

// 1 with the uptime in whole seconds, or 0 (logged) when it cannot be read.
int getCurTm(long *seconds);
int setGetDevtimer();
// 1 when 300 s or more passed since setGetDevtimer, or the uptime is unknown.
int isGetDevExpired();

// Where the uptime comes from; tests put a clock of their own here.
extern int (*vlReadSysinfo)(struct sysinfo *info);
