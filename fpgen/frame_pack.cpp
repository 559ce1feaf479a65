// The sensor's packed 12-bit frame: 96 rows of four interleaved column
// blocks, two samples per three bytes.
#include <algorithm>

#include "fpgen.h"

namespace fpgen {

namespace {

constexpr int kRowBytes = 144;
constexpr int kBlockBytes = 36;
constexpr int kBlocks = 4;

// Byte offset of the 3-byte group holding column x of row y, and whether x
// is the first (even) sample of that group.
size_t group_offset(int y, int x, bool &first)
{
    const int r = x % kBlocks;
    const int i = x / kBlocks;
    first = (i % 2) == 0;
    return static_cast<size_t>(kRowBytes * y + kBlockBytes * r + 3 * (i / 2));
}

} // namespace

Frame pack_frame(const uint16_t img12[kFramePixels])
{
    Frame frame{};
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x) {
            const unsigned v = std::min<unsigned>(img12[y * kFrameSide + x], 0xFFF);
            bool first = false;
            const size_t g = group_offset(y, x, first);
            if (first) {
                frame[g] = static_cast<uint8_t>(v >> 4);
                frame[g + 2] = static_cast<uint8_t>((frame[g + 2] & 0x0F) | ((v & 0x0F) << 4));
            } else {
                frame[g + 1] = static_cast<uint8_t>(v >> 4);
                frame[g + 2] = static_cast<uint8_t>((frame[g + 2] & 0xF0) | (v & 0x0F));
            }
        }
    return frame;
}

void unpack_frame(const uint8_t frame[kFrameBytes], uint16_t img12[kFramePixels])
{
    for (int y = 0; y < kFrameSide; ++y)
        for (int x = 0; x < kFrameSide; ++x) {
            bool first = false;
            const size_t g = group_offset(y, x, first);
            img12[y * kFrameSide + x] = first ? static_cast<uint16_t>((frame[g] << 4) | (frame[g + 2] >> 4))
                                              : static_cast<uint16_t>((frame[g + 1] << 4) | (frame[g + 2] & 0x0F));
        }
}

} // namespace fpgen
