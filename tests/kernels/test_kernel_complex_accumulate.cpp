// Complex-accumulate kernel: part-wise sums in the element precision.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "fourier/complex_accumulate_kernel.h"

namespace {

using zorvan::dm::complex16;
using zorvan::dm::complex8;
using zorvan::kernels::accumulate_complex;

TEST(ComplexAccumulateKernel, SumsInTheElementPrecision) {
    const float inf = std::numeric_limits<float>::infinity();
    complex8 target[3] = {{1e8f, 0.1f}, {inf, -inf}, {3e38f, -3e38f}};
    const complex8 plus[3] = {{1, 0.2f}, {-inf, 1}, {3e38f, -3e38f}};
    accumulate_complex(target, plus, 3);
    EXPECT_EQ(target[0].re, 1e8f) << "1e8 + 1 rounds back in float";
    EXPECT_EQ(target[0].im, 0.1f + 0.2f);
    EXPECT_TRUE(std::isnan(target[1].re));
    EXPECT_EQ(target[1].im, -inf);
    EXPECT_EQ(target[2].re, inf);
    EXPECT_EQ(target[2].im, -inf);
}

TEST(ComplexAccumulateKernel, ATargetAddedToItselfDoubles) {
    complex16 target[2] = {{1.5, -2}, {1e-300, 4}};
    accumulate_complex(target, target, 2);
    EXPECT_EQ(target[0].re, 3.0);
    EXPECT_EQ(target[0].im, -4.0);
    EXPECT_EQ(target[1].re, 2e-300);
    EXPECT_EQ(target[1].im, 8.0);
}

}  // namespace
