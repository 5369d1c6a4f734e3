// Radial weighting kernel: the table interpolation with its worked blend and
// its ends, no read past the last entry, the four modes on real and complex
// pixels with signed zeros and infinities, and whole planes in place.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "measure/weight_kernel.h"

namespace {

using namespace zorvan::kernels;
using zorvan::dm::complex8;

constexpr float inf = std::numeric_limits<float>::infinity();
const float nan = std::numeric_limits<float>::quiet_NaN();

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

float weight_at(const std::vector<float>& table, float d2) {
    const auto last = std::int64_t(table.size()) - 1;
    const float last_float = float(last);
    return table_weight(table.data(), last, last_float * last_float, d2);
}

TEST(WeightKernel, TableInterpolationAndItsEnds) {
    const std::vector<float> table = {10, 20, 40, 80, 160};
    struct table_case {
        const char* what;
        float d2;
        float want;
    };
    const table_case cases[] = {
        {"radius 2.25 blends 0.75 W[2] + 0.25 W[3]", 2.25f * 2.25f, 40 * 0.75f + 80 * 0.25f},
        {"the centre takes W[0] exactly", 0, 10},
        {"a whole radius takes its entry", 9, 80},
        {"the last index", 16, 160},
        {"beyond the table the last entry holds", 1e30f, 160},
        {"an infinite distance", inf, 160},
        {"a NaN distance", nan, 160},
    };
    for (const table_case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(same_bits(weight_at(table, c.d2), c.want)) << weight_at(table, c.d2);
    }
    EXPECT_EQ(weight_at({7}, 0), 7) << "a one-entry table";
    EXPECT_EQ(weight_at({7}, 12.5f), 7);
}

TEST(WeightKernel, NothingPastTheLastEntryIsRead) {
    // Just below 25 = 5^2, the float square root rounds up to 5: only W[5]
    // is used (its sign of zero survives), and the table ends there.
    const float below = std::nextafter(25.0f, 0.0f);
    ASSERT_EQ(std::sqrt(below), 5.0f);
    const std::vector<float> six = {1, 2, 3, 4, 5, -0.0f};
    EXPECT_TRUE(same_bits(weight_at(six, below), -0.0f));
    // Whatever bound a caller derives, an index at or past the last entry
    // takes the last entry.
    const std::vector<float> four = {1, 2, 3, 4};
    EXPECT_EQ(table_weight(four.data(), 3, 100.0f, 4.5f * 4.5f), 4);
}

TEST(WeightKernel, ModesOnRealPixels) {
    EXPECT_EQ(weighted<weight_mode::multiply>(3.0f, 0.5f), 1.5f);
    EXPECT_EQ(weighted<weight_mode::add>(3.0f, 0.5f), 3.5f);
    EXPECT_EQ(weighted<weight_mode::subtract>(3.0f, 0.5f), 2.5f);
    EXPECT_EQ(weighted<weight_mode::replace>(3.0f, 0.5f), 0.5f);
    EXPECT_TRUE(std::isnan(weighted<weight_mode::multiply>(inf, 0.0f)));
    EXPECT_EQ(weighted<weight_mode::replace>(nan, 2.0f), 2.0f);
}

// The weight meets a complex pixel as (w, 0), with every product and sum of
// the complex formulas evaluated: -0 + 0 is +0, inf * 0 is NaN.
TEST(WeightKernel, ModesOnComplexPixelsFollowTheWrittenOutFormulas) {
    struct complex_case {
        const char* what;
        complex8 p;
        float w;
        weight_mode mode;
        complex8 want;
    };
    const complex_case cases[] = {
        {"multiply", {3, -2}, 0.5f, weight_mode::multiply, {1.5f, -1}},
        {"multiply: im * 0 of an infinite part", {1, inf}, 2, weight_mode::multiply, {nan, inf}},
        {"multiply: re * 0 of an infinite part", {inf, 1}, 2, weight_mode::multiply, {inf, nan}},
        {"multiply: re * 0 + im * w is +0 + -0", {1, -0.0f}, 2, weight_mode::multiply, {2, 0.0f}},
        {"add changes the real part only", {3, -2}, 0.5f, weight_mode::add, {3.5f, -2}},
        {"add: -0 + 0 is +0", {3, -0.0f}, 1, weight_mode::add, {4, 0.0f}},
        {"subtract", {3, -2}, 0.5f, weight_mode::subtract, {2.5f, -2}},
        {"subtract: -0 - 0 stays -0", {3, -0.0f}, 1, weight_mode::subtract, {2, -0.0f}},
        {"replace", {3, -2}, 0.5f, weight_mode::replace, {0.5f, 0}},
    };
    for (const complex_case& c : cases) {
        SCOPED_TRACE(c.what);
        complex8 got{};
        switch (c.mode) {
            case weight_mode::multiply: got = weighted<weight_mode::multiply>(c.p, c.w); break;
            case weight_mode::add: got = weighted<weight_mode::add>(c.p, c.w); break;
            case weight_mode::subtract: got = weighted<weight_mode::subtract>(c.p, c.w); break;
            case weight_mode::replace: got = weighted<weight_mode::replace>(c.p, c.w); break;
        }
        const auto same = [](float a, float b) { return (std::isnan(a) && std::isnan(b)) || same_bits(a, b); };
        EXPECT_TRUE(same(got.re, c.want.re)) << got.re;
        EXPECT_TRUE(same(got.im, c.want.im)) << got.im;
    }
}

// A 4 x 3 plane around (1, 2) with scales 0.5 and 2: the weight of each
// pixel, in place and out of place.
TEST(WeightKernel, WholePlaneInPlaceAndOutOfPlace) {
    const std::vector<float> table = {1, 2, 4, 8, 16, 32};
    std::vector<float> source(12);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = float(i) + 0.5f;
    std::vector<float> want(12);
    for (std::int64_t y = 0; y < 3; ++y) {
        for (std::int64_t x = 0; x < 4; ++x) {
            const float u = float(x - 1) * 0.5f, v = float(y - 2) * 2.0f;
            want[std::size_t(y * 4 + x)] = source[std::size_t(y * 4 + x)] - weight_at(table, u * u + v * v);
        }
    }
    // Pixel (1, 0): u = 0, v = -4, radius 4: exactly W[4].
    EXPECT_EQ(want[1], 1.5f - 16);
    std::vector<float> out(12, -1);
    weight_pixels(source.data(), out.data(), 4, 3, table.data(), 6, 1, 2, 0.5f, 2.0f, weight_mode::subtract);
    EXPECT_EQ(out, want);
    weight_pixels(source.data(), source.data(), 4, 3, table.data(), 6, 1, 2, 0.5f, 2.0f, weight_mode::subtract);
    EXPECT_EQ(source, want);
}

}  // namespace
