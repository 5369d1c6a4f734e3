// One order of the horizontal difference on its own: worked rows, the output
// one column narrower and packed, and a chain of orders each rounded to float.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "filters/diff_h_kernel.h"

namespace {

using namespace zorvan;
using I = std::int64_t;

TEST(DiffHKernel, OneOrderOfWorkedRows) {
    const float inf = std::numeric_limits<float>::infinity();
    // 4 x 3 in, 3 x 3 out, then one guard element.
    const std::vector<float> in{1, 4, 9, 16, 0, -2, -2, 5, inf, 1, inf, inf};
    std::vector<float> out(3 * 3 + 1, -7.0f);
    kernels::difference_along_x(in.data(), 4, 3, out.data());
    EXPECT_EQ(std::vector<float>(out.begin(), out.begin() + 6), (std::vector<float>{3, 5, 7, -2, 0, 7}));
    EXPECT_EQ(out[6], -inf);
    EXPECT_EQ(out[7], inf);
    EXPECT_TRUE(std::isnan(out[8])) << "inf - inf";
    EXPECT_EQ(out[9], -7.0f) << "written past the output";
}

TEST(DiffHKernel, EachOrderIsRoundedToFloatBeforeTheNext) {
    // 0, 2^-25, 1: the first order rounds 1 - 2^-25 to 1 (a tie, to even),
    // so the second gives 1 - 2^-25 -> 1 again; kept unrounded between the
    // orders it would be 1 - 2^-24, a float of its own.
    const std::vector<float> in{0.0f, std::ldexp(1.0f, -25), 1.0f};
    std::vector<float> first(2), second(1);
    kernels::difference_along_x(in.data(), 3, 1, first.data());
    kernels::difference_along_x(first.data(), 2, 1, second.data());
    EXPECT_EQ(first[1], 1.0f);
    EXPECT_EQ(second[0], 1.0f);
    EXPECT_NE(static_cast<float>((1.0 - std::ldexp(1.0, -25)) - std::ldexp(1.0, -25)), 1.0f);

    std::mt19937 rng(12);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const I width = 9, height = 4;
    std::vector<float> chain(width * height);
    for (float& v : chain) v = std::ldexp(unit(rng), int(rng() % 40) - 20);
    std::vector<float> expected = chain;
    for (I w = width; w > 1; --w) {
        std::vector<float> next((w - 1) * height), want((w - 1) * height);
        kernels::difference_along_x(chain.data(), w, height, next.data());
        for (I y = 0; y < height; ++y)
            for (I x = 0; x + 1 < w; ++x) want[y * (w - 1) + x] = expected[y * w + x + 1] - expected[y * w + x];
        ASSERT_EQ(next, want) << "order " << width - w + 1;
        chain = next;
        expected = want;
    }
}

}  // namespace
