// Complex-by-real kernel: the factor converted to the complex precision
// before both products, with the conversions' edge values.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "fourier/complex_by_real_kernel.h"

namespace {

using zorvan::dm::complex16;
using zorvan::dm::complex8;
using zorvan::kernels::multiply_complex_by_real;

constexpr float kInf = std::numeric_limits<float>::infinity();

// A double factor beyond float becomes infinite and a tiny one 0 before the
// products; 0 times infinity is NaN.
TEST(ComplexByRealKernel, DoubleFactorsAreRoundedToFloatFirst) {
    const complex8 z[4] = {{1, -1}, {1, 0}, {3, -4}, {kInf, 1}};
    const double g[4] = {1e300, 1e-50, 0.1, 0};
    complex8 out[4];
    multiply_complex_by_real(z, g, out, 4);
    EXPECT_EQ(out[0].re, kInf);
    EXPECT_EQ(out[0].im, -kInf);
    EXPECT_EQ(out[1].re, 0.0f);
    EXPECT_EQ(out[1].im, 0.0f);
    EXPECT_EQ(out[2].re, 3.0f * 0.1f);
    EXPECT_EQ(out[2].im, -4.0f * 0.1f);
    EXPECT_TRUE(std::isnan(out[3].re));
    EXPECT_EQ(out[3].im, 0.0f);
}

TEST(ComplexByRealKernel, FloatFactorsAreWidenedForDoublePairs) {
    const complex16 z[1] = {{1.0 / 3, -1e300}};
    const float g[1] = {0.1f};
    complex16 out[1];
    multiply_complex_by_real(z, g, out, 1);
    EXPECT_EQ(out[0].re, (1.0 / 3) * double(0.1f));
    EXPECT_EQ(out[0].im, -1e300 * double(0.1f));
}

}  // namespace
