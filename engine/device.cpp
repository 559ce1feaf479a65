// Listing, opening and closing the sensor for the D-Bus front end, and the
// uptime timer.
#include "engine/device.h"

#include "engine/capture_ring.h"
#include "engine/vorl2547_drv.h"
#include "log/log.h"
#include "protocol/sensor_ids.h"
#include "usb/vlUsb.h"

long m_getDevTime = 0;
int (*vlReadSysinfo)(struct sysinfo *info) = sysinfo;

namespace {

constexpr long DEV_TIMER_EXPIRY = 300;

int listSensors()
{
    char list[SS_DEV_LIST_SIZE] = {};
    return ssUsblst(list, sizeof list, VL_SENSOR_VID, VL_SENSOR_PID);
}

} // namespace

int vlLstDev(int *count)
{
    const int n = listSensors();
    if (n < 0)
        return -1;
    *count = n;
    return 0;
}

int vlOpenDev()
{
    initCapture_Image();
    if (listSensors() < 0)
        return -1;
    ssUsbClose();
    return ssUsbOpen() == 0 ? 0 : -2;
}

int vlCloseDev()
{
    ssUsbClose();
    return 0;
}

int getCurTm(long *seconds)
{
    struct sysinfo info {};
    if (vlReadSysinfo(&info) != 0) {
        vllogstr("sysinfo error");
        return 0;
    }
    *seconds = info.uptime;
    return 1;
}

int setGetDevtimer() { return getCurTm(&m_getDevTime); }

int isGetDevExpired()
{
    long now = 0;
    if (!getCurTm(&now))
        return 1;
    return now - m_getDevTime >= DEV_TIMER_EXPIRY ? 1 : 0;
}
