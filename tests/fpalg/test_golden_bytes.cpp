// Stored templates outlive the library build that wrote them and move
// between machines: the same capture must give the same bytes on every CPU
// (x86_64 and arm64 alike) and in every later build of this format
// version. A change of these checksums needs a new template version.
#include <gtest/gtest.h>

#include <zlib.h>

#include "fpalg_test_util.h"

using namespace fpalg_test;

namespace {

std::uint32_t crc(const Bytes &b) {
    return static_cast<std::uint32_t>(crc32(0L, b.data(), static_cast<uInt>(b.size())));
}

TEST(GoldenBytes, CaptureAndEnrollmentGiveTheRecordedBytes) {
    FpAlg_Init(5);
    EXPECT_EQ(crc(make_template(SyntheticPrint(1).capture(128, 128))), 0xdcdb7650u);
    EXPECT_EQ(crc(enroll_grid(SyntheticPrint(3))), 0xc02154aeu);
}

}  // namespace
