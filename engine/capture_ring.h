// Capture ring: ten frame-sized slots between the receive and the consumer
// that turns a frame into a template. Used by one worker at a time; the main
// thread resets it before a worker starts.
#pragma once

#include <cstdint>

#include "protocol/sensor_frames.h"

inline constexpr int VL_RING_SLOTS = 10;
enum { ST_IMG_FREE = 1, ST_IMG_RECV = 2 };

// Every capture is received here first.
extern uint8_t g_imgbuf[VL_FRAME_SIZE];
extern uint8_t g_img_arrays[VL_RING_SLOTS * VL_FRAME_SIZE];
extern uint8_t g_img_status[VL_RING_SLOTS];
extern uint8_t g_img_ar_set_index;
extern uint8_t g_img_ar_get_index;

void initCapture_Image();
// Copies g_imgbuf into the slot at the write index and advances it.
void setCapture_Image();
// The slot at the read index.
const uint8_t *getCapture_Image();
// Gives the slot at the read index back and advances it.
void freeCapture_Image();
