// The 28000-byte template: a header with magic, version, view count and a
// CRC-32 over all other bytes, then up to kMaxViews fixed-size views.
// Nothing in a stored template is trusted until decode_template() accepts it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "params.h"

namespace fpalg {

inline constexpr std::size_t kTemplateBytes = 28000;
inline constexpr std::uint32_t kMagic = 0x54504656;  // "VFPT" read little-endian
inline constexpr std::uint16_t kFormatVersion = 1;
inline constexpr std::size_t kHeaderBytes = 32;
inline constexpr std::size_t kLevelBytes = params::kPixels / 4;  // two bits per pixel
inline constexpr std::size_t kMaskBytes = (params::kMaskGrid * params::kMaskGrid + 7) / 8;
inline constexpr std::size_t kViewBytes = kLevelBytes + kMaskBytes + 14;
static_assert(kTemplateBytes == FPALG_TEMPLATE_SIZE);
static_assert(kHeaderBytes + params::kMaxViews * kViewBytes <= kTemplateBytes);

// One enrolled or probe capture: ridge levels 0..3 (two bits per pixel, from
// most negative to most positive band-passed value) and a block mask.
struct View {
    std::array<std::uint8_t, params::kPixels> level{};
    std::array<std::uint8_t, params::kMaskGrid * params::kMaskGrid> mask{};
    std::uint16_t hits = 0;      // renewals in which this view matched best
    std::uint16_t origin = 0;    // 0 enrollment, 1 renewal
    std::uint8_t ambiguity = 0;  // how well the view matches itself shifted, 0..255
    // Views registered to each other share a frame, named by the index of
    // the view that defines it; the pose places this view in that frame:
    // rotation about the image centre, then translation in 1/8 px.
    std::uint8_t frame = 0;
    std::int16_t pose_angle_deci = 0;
    std::int16_t pose_ty_eighths = 0, pose_tx_eighths = 0;
};

struct Template {
    int view_count = 0;
    std::uint16_t renewals = 0;
    std::array<View, params::kMaxViews> views{};
};

// Writes t into out (kTemplateBytes, fully overwritten).
void encode_template(const Template &t, std::uint8_t *out);
// Accepts only a well-formed template of this version with a valid checksum.
bool decode_template(const std::uint8_t *in, Template &t);

}  // namespace fpalg
