#include <gtest/gtest.h>

#include <cmath>

#include "detmath.h"
#include "rng.h"

namespace {

TEST(DetMath, AgreesWithTheCLibrary)
{
    fpgen::Rng rng(7);
    for (int i = 0; i < 20000; ++i) {
        const double x = rng.uniform(-40.0, 40.0);
        const double y = rng.uniform(-40.0, 40.0);
        ASSERT_NEAR(fpgen::det_sin(x), std::sin(x), 1e-12) << x;
        ASSERT_NEAR(fpgen::det_cos(x), std::cos(x), 1e-12) << x;
        ASSERT_NEAR(fpgen::det_atan2(y, x), std::atan2(y, x), 1e-10) << y << "," << x;
        const double e = rng.uniform(-50.0, 50.0);
        ASSERT_NEAR(fpgen::det_exp(e) / std::exp(e), 1.0, 1e-13) << e;
    }
}

TEST(DetMath, EdgeValues)
{
    EXPECT_EQ(fpgen::det_atan2(0.0, 0.0), 0.0);
    EXPECT_NEAR(fpgen::det_atan2(0.0, -1.0), fpgen::kPi, 1e-15);
    EXPECT_NEAR(fpgen::det_atan2(-1.0, 0.0), -fpgen::kPi / 2, 1e-15);
    EXPECT_NEAR(fpgen::det_atan2(1.0, 1.0), fpgen::kPi / 4, 1e-15);
    EXPECT_EQ(fpgen::det_exp(-1000.0), 0.0);
    EXPECT_DOUBLE_EQ(fpgen::det_exp(0.0), 1.0);
    for (double a : {-7.0, -fpgen::kPi, 0.0, 3.0, fpgen::kPi, 10.0}) {
        const double w = fpgen::wrap_pi(a);
        EXPECT_GE(w, 0.0);
        EXPECT_LT(w, fpgen::kPi);
        EXPECT_NEAR(std::sin(2 * w), std::sin(2 * a), 1e-12);
    }
}

} // namespace
