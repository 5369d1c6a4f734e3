// Wiener-mask kernel: double arithmetic rounded once, zero amplitudes
// replaced in place, NaN quotients clipped to 0.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "fourier/wiener_mask_kernel.h"

namespace {

using zorvan::kernels::wiener_mask;

TEST(WienerMaskKernel, WorkedValuesAndTheZeroReplacement) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    float amplitude[7] = {2, 0, -0.0f, 0, nan, 3, 1e20f};
    const float base[7] = {1, 0.5f, 0, 3, 1, nan, 1e20f};
    float mask[7];
    wiener_mask(amplitude, base, mask, 7);
    const float want[7] = {0.75f, 0.75f, 1, 0, 0, 0, 0};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(mask[i], want[i]) << i;
    EXPECT_EQ(amplitude[1], 1.0f);
    EXPECT_EQ(amplitude[2], 1.0f) << "-0 equals 0";
    EXPECT_EQ(amplitude[3], 1.0f);
    EXPECT_TRUE(std::isnan(amplitude[4]));
    EXPECT_EQ(amplitude[6], 1e20f) << "squares of float values do not overflow in double";
}

// (9 - 1) / 9 rounded once from double.
TEST(WienerMaskKernel, FloatResultsAreRoundedOnceFromDouble) {
    float amplitude[2] = {3, 7};
    const float base[2] = {1, 0.3f};
    float mask[2];
    wiener_mask(amplitude, base, mask, 2);
    EXPECT_EQ(mask[0], float(8.0 / 9.0));
    EXPECT_EQ(mask[1], float((49.0 - double(0.3f) * double(0.3f)) / 49.0));
}

}  // namespace
