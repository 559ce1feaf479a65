#include "template_format.h"

#include <zlib.h>
#include <cstdlib>
#include <cstring>

namespace fpalg {
namespace {

void put16(std::uint8_t *p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t *p, std::uint32_t v) {
    put16(p, static_cast<std::uint16_t>(v));
    put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}
std::uint16_t get16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t get32(const std::uint8_t *p) { return get16(p) | static_cast<std::uint32_t>(get16(p + 2)) << 16; }

// Header layout: magic(4) version(2) header size(2) views(1) reserved(1)
// renewals(2) crc(4), rest zero.
enum : std::size_t { kOffMagic = 0, kOffVersion = 4, kOffHeader = 6, kOffViews = 8, kOffRenewals = 10, kOffCrc = 12 };

// CRC-32 of every byte but the checksum field itself.
std::uint32_t body_crc(const std::uint8_t *buf) {
    uLong c = crc32(0L, buf, static_cast<uInt>(kOffCrc));
    c = crc32(c, buf + kOffCrc + 4, static_cast<uInt>(kTemplateBytes - kOffCrc - 4));
    return static_cast<std::uint32_t>(c);
}

void encode_view(const View &v, std::uint8_t *p) {
    for (std::size_t i = 0; i < kLevelBytes; ++i)
        p[i] = static_cast<std::uint8_t>(v.level[4 * i] | v.level[4 * i + 1] << 2 | v.level[4 * i + 2] << 4 |
                                         v.level[4 * i + 3] << 6);
    std::uint8_t *m = p + kLevelBytes;
    for (std::size_t i = 0; i < v.mask.size(); ++i)
        if (v.mask[i]) m[i / 8] = static_cast<std::uint8_t>(m[i / 8] | 1u << (i % 8));
    put16(m + kMaskBytes, v.hits);
    put16(m + kMaskBytes + 2, v.origin);
    m[kMaskBytes + 4] = v.frame;
    put16(m + kMaskBytes + 5, static_cast<std::uint16_t>(v.pose_angle_deci));
    put16(m + kMaskBytes + 7, static_cast<std::uint16_t>(v.pose_ty_eighths));
    put16(m + kMaskBytes + 9, static_cast<std::uint16_t>(v.pose_tx_eighths));
    m[kMaskBytes + 11] = v.ambiguity;
}

// The four 2-bit levels of each byte value, lowest bits first: one table
// look-up per byte costs less than four shifts and masks (a stored template
// is unpacked on every comparison).
struct Unpacked {
    std::uint8_t level[256][4];
    constexpr Unpacked() : level{} {
        for (int b = 0; b < 256; ++b)
            for (int k = 0; k < 4; ++k) level[b][k] = static_cast<std::uint8_t>((b >> (2 * k)) & 3);
    }
};
constexpr Unpacked kUnpacked{};

bool decode_view(const std::uint8_t *p, View &v) {
    for (std::size_t i = 0; i < kLevelBytes; ++i) std::memcpy(&v.level[4 * i], kUnpacked.level[p[i]], 4);
    const std::uint8_t *m = p + kLevelBytes;
    int on = 0;
    for (std::size_t i = 0; i < v.mask.size(); ++i) {
        v.mask[i] = (m[i / 8] >> (i % 8)) & 1;
        on += v.mask[i];
    }
    v.hits = get16(m + kMaskBytes);
    v.origin = get16(m + kMaskBytes + 2);
    v.frame = m[kMaskBytes + 4];
    v.pose_angle_deci = static_cast<std::int16_t>(get16(m + kMaskBytes + 5));
    v.pose_ty_eighths = static_cast<std::int16_t>(get16(m + kMaskBytes + 7));
    v.pose_tx_eighths = static_cast<std::int16_t>(get16(m + kMaskBytes + 9));
    v.ambiguity = m[kMaskBytes + 11];
    const bool pose_sane = std::abs(v.pose_angle_deci) <= params::kMaxPoseAngleDeci &&
                           std::abs(v.pose_ty_eighths) <= params::kMaxPoseShiftEighths &&
                           std::abs(v.pose_tx_eighths) <= params::kMaxPoseShiftEighths;
    return on >= params::kMinForegroundBlocks && v.origin <= 1 && v.frame < params::kMaxViews && pose_sane;
}

}  // namespace

void encode_template(const Template &t, std::uint8_t *out) {
    std::memset(out, 0, kTemplateBytes);
    put32(out + kOffMagic, kMagic);
    put16(out + kOffVersion, kFormatVersion);
    put16(out + kOffHeader, kHeaderBytes);
    out[kOffViews] = static_cast<std::uint8_t>(t.view_count);
    put16(out + kOffRenewals, t.renewals);
    for (int i = 0; i < t.view_count; ++i) encode_view(t.views[i], out + kHeaderBytes + i * kViewBytes);
    put32(out + kOffCrc, body_crc(out));
}

bool decode_template(const std::uint8_t *in, Template &t) {
    if (!in || get32(in + kOffMagic) != kMagic || get16(in + kOffVersion) != kFormatVersion ||
        get16(in + kOffHeader) != kHeaderBytes)
        return false;
    const int n = in[kOffViews];
    if (n < 1 || n > params::kMaxViews || get32(in + kOffCrc) != body_crc(in)) return false;
    t.view_count = n;
    t.renewals = get16(in + kOffRenewals);
    for (int i = 0; i < n; ++i)
        if (!decode_view(in + kHeaderBytes + i * kViewBytes, t.views[i])) return false;
    return true;
}

}  // namespace fpalg
