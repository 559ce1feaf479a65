// The capture ring. Anomalies (overwriting an unconsumed frame, taking a
// slot that holds none) are logged and processing goes on with the slot.
#include "engine/capture_ring.h"

#include <cstring>

#include "log/log.h"

uint8_t g_imgbuf[VL_FRAME_SIZE];
uint8_t g_img_arrays[VL_RING_SLOTS * VL_FRAME_SIZE];
uint8_t g_img_status[VL_RING_SLOTS];
uint8_t g_img_ar_set_index;
uint8_t g_img_ar_get_index;

namespace {

uint8_t nextIndex(uint8_t i) { return static_cast<uint8_t>(i >= VL_RING_SLOTS - 1 ? 0 : i + 1); }

} // namespace

void initCapture_Image()
{
    g_img_ar_set_index = 0;
    g_img_ar_get_index = 0;
    _vllog("%s g_img_ar_set_index = %d ----------------------\n", "initCapture_Image", 0);
    memset(g_img_status, ST_IMG_FREE, sizeof g_img_status);
}

void setCapture_Image()
{
    const uint8_t i = g_img_ar_set_index % VL_RING_SLOTS;
    if (g_img_status[i] != ST_IMG_FREE)
        _vllog("g_img_ar_set_index =%d data is override,status =%d\n", i, g_img_status[i]);
    memcpy(g_img_arrays + VL_FRAME_SIZE * i, g_imgbuf, VL_FRAME_SIZE);
    g_img_status[i] = ST_IMG_RECV;
    _vllog("%s g_img_ar_set_index = %d ----------------------\n", "setCapture_Image", i);
    g_img_ar_set_index = nextIndex(i);
}

const uint8_t *getCapture_Image()
{
    const uint8_t i = g_img_ar_get_index % VL_RING_SLOTS;
    if (g_img_status[i] != ST_IMG_RECV)
        _vllog("g_img_ar_get_index =%d data is NOT ST_IMG_RECV\n", i);
    return g_img_arrays + VL_FRAME_SIZE * i;
}

void freeCapture_Image()
{
    const uint8_t i = g_img_ar_get_index % VL_RING_SLOTS;
    g_img_status[i] = ST_IMG_FREE;
    g_img_ar_get_index = nextIndex(i);
}
