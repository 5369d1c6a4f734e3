// Invert-rotate kernel: for every small size the result is a permutation of
// the source that undoes itself, along each even dimension the index
// reflection k -> (n - k) mod n.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

#include "fourier/invert_rotate_kernel.h"

namespace {

using zorvan::kernels::invert_rotate;

std::vector<double> rotated(const std::vector<double>& source, std::int32_t w, std::int32_t h) {
    std::vector<double> result(source);  // the clone
    invert_rotate(source.data(), result.data(), w, h);
    return result;
}

TEST(InvertRotateKernel, EverySmallSizeIsAPermutationThatUndoesItself) {
    for (std::int32_t h = 1; h <= 9; ++h) {
        for (std::int32_t w = 1; w <= 9; ++w) {
            SCOPED_TRACE(::testing::Message() << w << " x " << h);
            std::vector<double> source(std::size_t(w) * h);
            std::iota(source.begin(), source.end(), 0.0);
            const auto once = rotated(source, w, h);
            auto sorted = once;
            std::sort(sorted.begin(), sorted.end());
            EXPECT_EQ(sorted, source) << "not a permutation";
            EXPECT_EQ(rotated(once, w, h), source);
            if (w % 2 == 0 && h % 2 == 0) {
                for (std::int32_t y = 0; y < h; ++y)
                    for (std::int32_t x = 0; x < w; ++x)
                        EXPECT_EQ(once[y * w + x], source[((h - y) % h) * w + (w - x) % w]);
            }
            if (w % 2 == 1 && h % 2 == 1) {
                std::vector<double> reversed(source.rbegin(), source.rend());
                EXPECT_EQ(once, reversed) << "odd sizes rotate by 180 degrees";
            }
        }
    }
}

TEST(InvertRotateKernel, AnEmptyBlockIsNotTouched) {
    const double source[2] = {1, 2};
    double result[2] = {7, 7};
    for (const auto& [w, h] : std::vector<std::pair<std::int32_t, std::int32_t>>{{0, 4}, {4, 0}, {0, 0}, {-2, 3}}) {
        invert_rotate(source, result, w, h);
        EXPECT_EQ(result[0], 7);
        EXPECT_EQ(result[1], 7);
    }
}

}  // namespace
