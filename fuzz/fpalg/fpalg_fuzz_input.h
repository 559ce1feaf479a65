// Turns fuzz input into templates for the matching library's targets. The
// checksum would stop almost every input at the door, so when the first
// byte asks for it the checksum is repaired and the fields behind it get
// fuzzed too.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "../../engine/alg/fpalg.h"

namespace fpalg_fuzz {

using Bytes = std::vector<std::uint8_t>;

inline void repair_checksum(Bytes &t) {
    uLong c = crc32(0L, t.data(), 12);
    c = crc32(c, t.data() + 16, static_cast<uInt>(t.size() - 16));
    for (int i = 0; i < 4; ++i) t[12 + i] = static_cast<std::uint8_t>(c >> (8 * i));
}

// A 28000-byte template from `size` bytes at `data` (zero-padded, as the
// daemon's buffer is after a short read).
inline Bytes template_from(const std::uint8_t *data, std::size_t size, bool repair) {
    Bytes t(FPALG_TEMPLATE_SIZE, 0);
    std::memcpy(t.data(), data, std::min<std::size_t>(size, t.size()));
    if (repair) repair_checksum(t);
    return t;
}

// A valid probe: a ridge pattern the library accepts.
inline const Bytes &valid_probe() {
    static const Bytes probe = [] {
        std::vector<std::uint16_t> img(96 * 96);
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 96; ++x) {
                const int phase = (x * 7 + y * 3 + (x * y) / 40) % 18;
                img[y * 96 + x] = static_cast<std::uint16_t>(phase < 9 ? 200 + 60 * phase : 1100 - 50 * phase);
            }
        Bytes t(FPALG_TEMPLATE_SIZE), scratch(FPALG_SCRATCH_SIZE), rec(FPALG_COUNT_RECORD_SIZE);
        FpAlg_Init(5);
        FpAlg_CreateTemplate16(img.data(), scratch.data(), 96, 96, t.data(), rec.data());
        return t;
    }();
    return probe;
}

}  // namespace fpalg_fuzz
