// Radial-warp kernel: the samples it may read, the symmetry about the
// centre and NaN radii.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "fourier/radial_warp_kernel.h"

namespace {

using zorvan::kernels::radial_warp;

// An empty profile is never read: every radius is at or beyond its length.
TEST(RadialWarpKernel, AnEmptyProfileGivesZerosWithoutBeingRead) {
    std::vector<float> result(5 * 4, 9.0f);
    radial_warp<float>(nullptr, 0, 1.0, 1.0, result.data(), 5, 4);
    EXPECT_EQ(result, std::vector<float>(20, 0.0f));
}

// The frame refuses such aspects; the kernel still gives 0 rather than
// converting a NaN to an integer.
TEST(RadialWarpKernel, NaNRadiiGiveZero) {
    const double profile[3] = {1, 2, 3};
    std::vector<double> result(9, 9.0);
    radial_warp(profile, 3, std::nan(""), 1.0, result.data(), 3, 3);
    EXPECT_EQ(result, std::vector<double>(9, 0.0));
    radial_warp(profile, 3, std::numeric_limits<double>::infinity(), 0.0, result.data(), 3, 3);
    EXPECT_EQ(result[4], 0.0) << "0 times infinity at the centre";
}

// Odd sizes are symmetric about the middle pixel; an even size has one
// extra row or column at its start, at a distance no pixel after it has.
TEST(RadialWarpKernel, OddSizesAreMirrorSymmetric) {
    const float profile[6] = {6, 5, 4.5f, 3, 1, 0.5f};
    const std::int32_t w = 11, h = 9;
    std::vector<float> result(w * h);
    radial_warp(profile, 6, 0.8, 1.3, result.data(), w, h);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) {
            EXPECT_EQ(result[y * w + x], result[y * w + (w - 1 - x)]);
            EXPECT_EQ(result[y * w + x], result[(h - 1 - y) * w + x]);
        }
    EXPECT_EQ(result[4 * w + 5], 6.0f);
}

}  // namespace
