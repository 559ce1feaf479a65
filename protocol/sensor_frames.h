// The sensor's protocol above USB: the three 8-byte command frames the daemon
// sends and the layout of the 13824-byte raw image frame it gets back.
#pragma once

#include <cstdint>

inline constexpr int VL_CMD_SIZE = 8;
inline constexpr int VL_IMG_SIDE = 96;
inline constexpr int VL_IMG_PIXELS = VL_IMG_SIDE * VL_IMG_SIDE;
inline constexpr int VL_FRAME_SIZE = 13824;
inline constexpr int VL_FRAME_ROW_BYTES = 144;
inline constexpr int VL_FRAME_BLOCK_BYTES = 36;

// Command codes as they appear in bytes 1 and 6 of a command frame.
enum SensorCommand { VL_CMD_CAPTURE_END = 2, VL_CMD_CAPTURE_BEGIN = 3, VL_CMD_VERIFY_BEGIN = 4 };

extern const uint8_t m_capture_beg_cmd[VL_CMD_SIZE];
extern const uint8_t m_verify_beg_cmd[VL_CMD_SIZE];
extern const uint8_t m_capture_end_cmd[VL_CMD_SIZE];

// The command code of a well-formed command frame, or -1.
int commandFrameCode(const uint8_t *bytes, int length);

// The 12-bit sample at row y, column x of a raw frame.
uint16_t frameSample(const uint8_t *frame, int y, int x);
// All 96 x 96 samples, row by row.
void unpackFrame(const uint8_t *frame, uint16_t *samples);
// The inverse: packs 96 x 96 samples (low 12 bits used) into a raw frame.
void packFrame(const uint16_t *samples, uint8_t *frame);
