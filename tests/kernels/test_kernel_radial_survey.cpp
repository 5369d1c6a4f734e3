// Radial survey kernel: ring counts in each precision, the worked 5 x 5
// example, empty and light rings, NaN pixels, the result's row pitch, and no
// write past a result that is too narrow.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "measure/radial_survey_kernel.h"

namespace {

using namespace zorvan::kernels;

template <class P>
struct survey_result {
    ring_layout layout;
    std::vector<P> rows;  // 5 rows of layout.count
    P at(std::int64_t row, std::int64_t ring) const { return rows[std::size_t(row * layout.count + ring)]; }
};

template <class P>
survey_result<P> survey(const std::vector<P>& pixels, std::int64_t nx, std::int64_t ny, std::int64_t cx,
                        std::int64_t cy, P sx, P sy) {
    survey_result<P> out;
    out.layout = rings_of(farthest_radius<P>(nx, ny, cx, cy, sx, sy));
    // Stale values everywhere, so every row must be written.
    out.rows.assign(std::size_t(radial_row_count * out.layout.count), P(-77));
    radial_survey(pixels.data(), nx, ny, cx, cy, sx, sy, out.layout, out.rows.data(), out.layout.count);
    return out;
}

TEST(RadialSurveyKernel, RingCountsAreTakenInThePixelPrecision) {
    struct ring_case {
        const char* what;
        double farthest;
        std::int64_t float_count, float_nearest, double_count, double_nearest;
    };
    const ring_case cases[] = {
        {"centre only", 0.0, 1, 1, 1, 1},
        {"hypot(2, 2)", 2.8284271247461903, 4, 4, 4, 4},
        {"a whole radius", 3.0, 4, 4, 4, 4},
        {"nearest ring short of the last", 2.4, 4, 3, 4, 3},
        {"a half rounds up", 2.5, 4, 4, 4, 4},
        // 0.49999997f + 0.5f rounds to 1 in float; in double it stays below 1.
        {"just under a half", 0.49999997019767761, 2, 2, 2, 1},
    };
    for (const ring_case& c : cases) {
        SCOPED_TRACE(c.what);
        const ring_layout as_float = rings_of(static_cast<float>(c.farthest));
        EXPECT_EQ(as_float.count, c.float_count);
        EXPECT_EQ(as_float.nearest, c.float_nearest);
        const ring_layout as_double = rings_of(c.farthest);
        EXPECT_EQ(as_double.count, c.double_count);
        EXPECT_EQ(as_double.nearest, c.double_nearest);
    }
}

TEST(RadialSurveyKernel, RadiusIsTheDoubleHypotOfProductsFormedInThePixelPrecision) {
    // 0.1f * 3 in float is 0.3f rounded from the float product, not 0.3.
    const float along_x = 0.1f * 3.0f;
    const float along_y = 0.7f * -2.0f;
    EXPECT_EQ(ring_radius<float>(3, -2, 0.1f, 0.7f),
              static_cast<float>(std::hypot(double(along_x), double(along_y))));
    EXPECT_EQ(ring_radius<double>(3, -2, 0.1, 0.7), std::hypot(0.1 * 3.0, 0.7 * -2.0));
    // The farthest corner of a 5 x 4 plane around (1, 3) is (4, 0): offsets 3 and 3.
    EXPECT_EQ(farthest_radius<double>(5, 4, 1, 3, 1.0, 1.0), std::hypot(3.0, 3.0));
    // A centre outside the plane measures to the far edge.
    EXPECT_EQ(farthest_radius<double>(5, 4, -2, 9, 1.0, 1.0), std::hypot(6.0, 9.0));
}

TEST(RadialSurveyKernel, FiveByFiveOnesAroundTheCentre) {
    for (const bool in_double : {false, true}) {
        SCOPED_TRACE(in_double ? "double" : "float");
        const auto check = [](const auto& result) {
            ASSERT_EQ(result.layout.count, 4);
            EXPECT_EQ(result.layout.nearest, 4);
            const double weights[] = {1.0, 6.343, 12.455, 5.202};
            double total = 0;
            for (std::int64_t i = 0; i < 4; ++i) {
                EXPECT_EQ(result.at(ring_min, i), 1);
                EXPECT_EQ(result.at(ring_max, i), 1);
                EXPECT_NEAR(result.at(ring_weight, i), weights[i], 1e-3);
                EXPECT_FLOAT_EQ(result.at(ring_mean, i), 1);
                EXPECT_EQ(result.at(ring_deviation, i), 0);
                total += result.at(ring_weight, i);
            }
            EXPECT_NEAR(total, 25.0, 1e-5);
        };
        if (in_double) check(survey(std::vector<double>(25, 1.0), 5, 5, 2, 2, 1.0, 1.0));
        else check(survey(std::vector<float>(25, 1.0f), 5, 5, 2, 2, 1.0f, 1.0f));
    }
}

TEST(RadialSurveyKernel, ZeroScalesPutEveryPixelInTheCentreRing) {
    const std::vector<double> pixels = {4, -1, 2.5, 0, 9, 3};
    const auto result = survey(pixels, 3, 2, 1, 0, 0.0, 0.0);
    ASSERT_EQ(result.layout.count, 1);
    EXPECT_EQ(result.at(ring_min, 0), -1);
    EXPECT_EQ(result.at(ring_max, 0), 9);
    EXPECT_EQ(result.at(ring_weight, 0), 6);
    EXPECT_EQ(result.at(ring_mean, 0), 17.5 / 6);
    const double mean = 17.5 / 6;
    const double sum_sq = 16 + 1 + 6.25 + 0 + 81 + 9;
    EXPECT_EQ(result.at(ring_deviation, 0), std::sqrt((sum_sq - mean * mean * 6) / 5));
}

// One row of three pixels around x = 0 with scale 1.5: radii 0, 1.5 and 3,
// so n = 4 and m = 4; ring 2 is nobody's nearest ring and ring 3 is the
// nearest of the last pixel only.
TEST(RadialSurveyKernel, EmptyAndLightRings) {
    const std::vector<double> pixels = {2, 4, 8};
    const auto result = survey(pixels, 3, 1, 0, 0, 1.5, 1.5);
    ASSERT_EQ(result.layout.count, 4);
    const double largest = std::numeric_limits<double>::max();
    // Nearest rings: 0 -> 0, 1.5 -> 2, 3 -> 3.
    EXPECT_EQ(result.at(ring_min, 1), largest);
    EXPECT_EQ(result.at(ring_max, 1), -largest);
    EXPECT_EQ(result.at(ring_min, 2), 4);
    EXPECT_EQ(result.at(ring_max, 3), 8);
    // Weights: ring 0 gets 1; 1.5 splits 0.5/0.5 over rings 1 and 2; 3 goes
    // whole to ring 3 (its share f = 0 for ring 4 is dropped).
    EXPECT_EQ(result.at(ring_weight, 0), 1);
    EXPECT_EQ(result.at(ring_weight, 1), 0.5);
    EXPECT_EQ(result.at(ring_weight, 2), 0.5);
    EXPECT_EQ(result.at(ring_weight, 3), 1);
    // A weight in (0, 1] divides by itself: ring 1 holds 4 with weight 0.5,
    // sum 2, squares 8; mean 4, d = 8 - 16 * 0.5 = 0.
    EXPECT_EQ(result.at(ring_mean, 1), 4);
    EXPECT_EQ(result.at(ring_deviation, 1), 0);

    // A ring with no weight has mean 0 and deviation 0/0.
    const auto gap = survey(std::vector<double>{1, 1}, 2, 1, 0, 0, 3.0, 3.0);
    ASSERT_EQ(gap.layout.count, 4);
    EXPECT_EQ(gap.at(ring_weight, 1), 0);
    EXPECT_EQ(gap.at(ring_mean, 1), 0);
    EXPECT_TRUE(std::isnan(gap.at(ring_deviation, 1)));
}

TEST(RadialSurveyKernel, NearestRingsPastTheLastReachableOneReadZero) {
    // Radii 0, 1.2 and 2.4 (scale 1.2), the last the farthest: n = 4, m = 3.
    const auto result = survey(std::vector<float>{5, 6, 7}, 3, 1, 0, 0, 1.2f, 1.2f);
    ASSERT_EQ(result.layout.count, 4);
    ASSERT_EQ(result.layout.nearest, 3);
    EXPECT_EQ(result.at(ring_min, 3), 0);
    EXPECT_EQ(result.at(ring_max, 3), 0);
    EXPECT_GT(result.at(ring_weight, 3), 0);  // still weighted
}

TEST(RadialSurveyKernel, NaNPixelsPoisonTheirTwoRingsButNeverTheExtremes) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Radii 0, 1.5, 3: the NaN at 1.5 contributes to rings 1 and 2.
    const auto result = survey(std::vector<double>{2, nan, 8}, 3, 1, 0, 0, 1.5, 1.5);
    EXPECT_EQ(result.at(ring_weight, 1), 0.5);  // weights do not see the pixel value
    EXPECT_EQ(result.at(ring_min, 2), std::numeric_limits<double>::max());
    EXPECT_TRUE(std::isnan(result.at(ring_mean, 1)));
    EXPECT_TRUE(std::isnan(result.at(ring_mean, 2)));
    EXPECT_TRUE(std::isnan(result.at(ring_deviation, 2)));
    EXPECT_EQ(result.at(ring_mean, 0), 2);
    EXPECT_EQ(result.at(ring_mean, 3), 8);
}

TEST(RadialSurveyKernel, WritesOnlyItsRowsAndNothingPastANarrowResult) {
    const std::vector<float> pixels(12, 1.0f);
    const ring_layout layout = rings_of(farthest_radius<float>(4, 3, 0, 0, 1.0f, 1.0f));
    ASSERT_EQ(layout.count, 5);
    // Rows 7 apart: the two elements after each row are padding.
    std::vector<float> padded(5 * 7, -5.0f);
    radial_survey(pixels.data(), 4, 3, 0, 0, 1.0f, 1.0f, layout, padded.data(), 7);
    for (std::int64_t row = 0; row < 5; ++row) {
        EXPECT_EQ(padded[std::size_t(row * 7 + 5)], -5.0f);
        EXPECT_EQ(padded[std::size_t(row * 7 + 6)], -5.0f);
    }
    // Handed a layout of two rings for pixels that reach ring 4, the survey
    // stays inside its 5 x 2 result.
    std::vector<float> narrow(5 * 2 + 8, -5.0f);
    radial_survey(pixels.data(), 4, 3, 0, 0, 1.0f, 1.0f, ring_layout{2, 2}, narrow.data(), 2);
    for (std::size_t i = 10; i < narrow.size(); ++i) EXPECT_EQ(narrow[i], -5.0f) << i;
}

}  // namespace
