// Command frames and the 12-bit raw frame layout.
//
// A row is four 36-byte blocks; block r holds columns r, r+4, ..., r+92, two
// samples per three bytes: the high bytes of both, then both low nibbles.
#include "protocol/sensor_frames.h"

const uint8_t m_capture_beg_cmd[VL_CMD_SIZE] = {0xEA, 0x03, 0x00, 0x00, 0x00, 0x00, 0x03, 0xEA};
const uint8_t m_verify_beg_cmd[VL_CMD_SIZE] = {0xEA, 0x04, 0x00, 0x00, 0x00, 0x00, 0x04, 0xEA};
const uint8_t m_capture_end_cmd[VL_CMD_SIZE] = {0xEA, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02, 0xEA};

int commandFrameCode(const uint8_t *bytes, int length)
{
    if (length != VL_CMD_SIZE || bytes[0] != 0xEA || bytes[7] != 0xEA || bytes[1] != bytes[6])
        return -1;
    for (int i = 2; i < 6; ++i)
        if (bytes[i] != 0)
            return -1;
    return bytes[1];
}

namespace {

// Byte offset of the three-byte group holding (y, x), and whether the sample
// is the second one of that group.
int groupOffset(int y, int x, bool *second)
{
    const int i = x / 4;
    *second = (i & 1) != 0;
    return VL_FRAME_ROW_BYTES * y + VL_FRAME_BLOCK_BYTES * (x % 4) + 3 * (i / 2);
}

} // namespace

uint16_t frameSample(const uint8_t *frame, int y, int x)
{
    bool second = false;
    const uint8_t *g = frame + groupOffset(y, x, &second);
    if (second)
        return static_cast<uint16_t>((g[1] << 4) | (g[2] & 0x0F));
    return static_cast<uint16_t>((g[0] << 4) | (g[2] >> 4));
}

void unpackFrame(const uint8_t *frame, uint16_t *samples)
{
    for (int y = 0; y < VL_IMG_SIDE; ++y)
        for (int x = 0; x < VL_IMG_SIDE; ++x)
            samples[y * VL_IMG_SIDE + x] = frameSample(frame, y, x);
}

void packFrame(const uint16_t *samples, uint8_t *frame)
{
    for (int y = 0; y < VL_IMG_SIDE; ++y) {
        for (int x = 0; x < VL_IMG_SIDE; ++x) {
            const uint16_t v = samples[y * VL_IMG_SIDE + x] & 0x0FFF;
            bool second = false;
            uint8_t *g = frame + groupOffset(y, x, &second);
            if (second) {
                g[1] = static_cast<uint8_t>(v >> 4);
                g[2] = static_cast<uint8_t>((g[2] & 0xF0) | (v & 0x0F));
            } else {
                g[0] = static_cast<uint8_t>(v >> 4);
                g[2] = static_cast<uint8_t>((g[2] & 0x0F) | ((v & 0x0F) << 4));
            }
        }
    }
}
