// Survey kernel: exact conversion of every pixel type, non-finite pixels,
// padded rows and planes, and running sums in visiting order.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "measure/survey_kernel.h"

namespace {

using zorvan::kernels::survey_pixels;
using zorvan::kernels::survey_totals;

constexpr double largest = std::numeric_limits<double>::max();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// NaN expectations compare as NaN; everything else must match exactly.
void expect_totals(const survey_totals& got, const survey_totals& want) {
    const auto same = [](double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; };
    EXPECT_TRUE(same(got.min, want.min)) << "min " << got.min << " want " << want.min;
    EXPECT_TRUE(same(got.max, want.max)) << "max " << got.max << " want " << want.max;
    EXPECT_TRUE(same(got.sum, want.sum)) << "sum " << got.sum << " want " << want.sum;
    EXPECT_TRUE(same(got.sqsum, want.sqsum)) << "sqsum " << got.sqsum << " want " << want.sqsum;
}

// One row of pixels.
template <class T>
survey_totals survey_row(const std::vector<T>& pixels) {
    return survey_pixels(pixels.data(), std::int64_t(pixels.size()), 1, 1, 0, 0);
}

TEST(SurveyKernel, EveryPixelTypeConvertsExactly) {
    const auto check = [](const char* type, const auto& pixels, const survey_totals& want) {
        SCOPED_TRACE(type);
        expect_totals(survey_row(pixels), want);
    };
    check("int8", std::vector<std::int8_t>{-128, 127, 3}, {-128, 127, 2, 16384 + 16129 + 9});
    check("uint8", std::vector<std::uint8_t>{255, 0}, {0, 255, 255, 65025});
    check("int16", std::vector<std::int16_t>{-32768, 32767}, {-32768, 32767, -1, 1073741824.0 + 1073676289.0});
    check("uint16", std::vector<std::uint16_t>{65535}, {65535, 65535, 65535, 4294836225.0});
    check("int32", std::vector<std::int32_t>{-2147483647 - 1, 2147483647},
          {-2147483648.0, 2147483647.0, -1, 9223372032559808512.0});
    check("uint32 with all bits set is 2^32-1, not -1", std::vector<std::uint32_t>{4294967295u},
          {4294967295.0, 4294967295.0, 4294967295.0, 4294967295.0 * 4294967295.0});
    const double tenth = 0.1f;  // squared in double, not in float
    check("float", std::vector<float>{0.1f}, {tenth, tenth, tenth, tenth * tenth});
    check("double", std::vector<double>{-1.5, 2.25}, {-1.5, 2.25, 0.75, 2.25 + 5.0625});
}

TEST(SurveyKernel, NonFinitePixelsNeverBecomeExtremesButReachTheSums) {
    struct non_finite_case {
        const char* name;
        std::vector<double> pixels;
        survey_totals want;
    };
    const non_finite_case cases[] = {
        {"NaN among numbers", {2, nan, -1}, {-1, 2, nan, nan}},
        {"NaN first", {nan, 5}, {5, 5, nan, nan}},
        {"all NaN keeps the initial extremes", {nan, nan}, {largest, -largest, nan, nan}},
        {"+inf", {1, inf}, {1, inf, inf, inf}},
        {"both infinities", {-inf, inf}, {-inf, inf, nan, inf}},
        {"no pixels", {}, {largest, -largest, 0, 0}},
    };
    for (const non_finite_case& c : cases) {
        SCOPED_TRACE(c.name);
        expect_totals(survey_row(c.pixels), c.want);
    }
}

// A 3 x 2 x 2 volume with row step 5 and plane step 13: padding holds values
// that would change every total if read.
TEST(SurveyKernel, PaddingBetweenRowsAndPlanesIsSkipped) {
    std::vector<float> data(13 * 2, std::numeric_limits<float>::quiet_NaN());
    data[0 * 13 + 0 * 5 + 1] = -4;
    data[1 * 13 + 1 * 5 + 2] = 9;
    for (std::int64_t z = 0; z < 2; ++z) {
        for (std::int64_t y = 0; y < 2; ++y) {
            for (std::int64_t x = 0; x < 3; ++x) {
                float& pixel = data[std::size_t(x + 5 * y + 13 * z)];
                if (std::isnan(pixel)) pixel = 1;
            }
        }
    }
    expect_totals(survey_pixels(data.data(), 3, 2, 2, 5, 13), {-4, 9, 15, 16 + 81 + 10});
}

// Planes are visited outermost: 1e16, then 1 (absorbed by rounding), then
// -1e16 gives 0; visiting columns outermost would give 1.
TEST(SurveyKernel, SumsAccumulateInVisitingOrder) {
    const double data[] = {1e16, 1, -1e16, 0};  // x = 0..1 of plane 0, then of plane 1
    expect_totals(survey_pixels(data, 2, 1, 2, 0, 2), {-1e16, 1e16, 0, 2e32});
}

}  // namespace
