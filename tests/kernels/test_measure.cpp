// Measuring kernels by worked answers on tiny planes with NaN and extremes.

#include "tests/support/kernel_test.h"

#include "measure/ft_window_kernel.h"
#include "measure/radial_survey_kernel.h"
#include "measure/survey_kernel.h"
#include "measure/weight_kernel.h"
#include "tests/support/reference_radial.h"
#include "tests/support/reference_survey.h"

namespace {

using namespace zorvan::kernels;
using namespace zorvan::testing;
constexpr double top = std::numeric_limits<double>::max(), inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Min, max, sum and sum of squares of a row: every pixel converted exactly
// to double and squared there; NaN never an extreme but in the sums.
template <class T>
std::vector<double> survey_row(const std::vector<T>& pixels) {
    const survey_totals t = survey_pixels(pixels.data(), I(pixels.size()), 1, 1, 0, 0);
    return {t.min, t.max, t.sum, t.sqsum};
}

TEST(SurveyKernel, WorkedRows) {
    const std::pair<std::vector<double>, std::vector<double>> cases[] = {
        {survey_row<std::int8_t>({-128, 127, 3}), {-128, 127, 2, 16384 + 16129 + 9}},
        {survey_row<std::uint32_t>({~0u}), {4294967295.0, 4294967295.0, 4294967295.0, 4294967295.0 * 4294967295.0}},
        {survey_row<float>({0.1f}), {0.1f, 0.1f, 0.1f, double(0.1f) * double(0.1f)}},
        {survey_row<double>({2, nan, -1}), {-1, 2, nan, nan}},
        {survey_row<double>({nan, nan}), {top, -top, nan, nan}},
        {survey_row<double>({-inf, inf}), {-inf, inf, nan, inf}},
        {survey_row<double>({}), {top, -top, 0, 0}}};
    for (const auto& [got, want] : cases) EXPECT_TRUE(same_values(got, want));
}

// 3 x 2 x 2 pixels at row step 5 and plane step 13 amid NaN padding. Planes
// are visited outermost: 1e16 + 1 - 1e16 is 0 (columns outermost give 1).
TEST(SurveyKernel, PaddingIsSkippedAndSumsRunInVisitingOrder) {
    std::vector<float> data(13 * 2, NAN);
    for (I i = 0; i < 12; ++i) data[std::size_t(i % 3 + 5 * (i / 3 % 2) + 13 * (i / 6))] = 1;
    data[1] = -4, data[13 + 5 + 2] = 9;
    const survey_totals t = survey_pixels(data.data(), 3, 2, 2, 5, 13);
    EXPECT_TRUE(same_values(std::vector<double>{t.min, t.max, t.sum, t.sqsum}, {-4, 9, 15, 16 + 81 + 10}));
    const double order[] = {1e16, 1, -1e16, 0};  // x = 0..1 of plane 0, then of plane 1
    EXPECT_EQ(survey_pixels(order, 2, 1, 2, 0, 2).sum, 0);
}

// 8- and 16-bit pixels are summed exactly in integers: the same totals as
// the loop in visiting order, bit for bit. Widths about the vector widths
// and the 2^16-pixel chunks, 1-row and 3-D images with padding, the types'
// extremes often; and uint16 images of 65535 just below and just above the
// sum of squares (2^53) beyond which the double loop rounds and takes over.
template <class T>
void integer_surveys_match_the_loop() {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> pick(0, 7);
    const std::array<I, 3> shapes[] = {{1, 1, 1}, {1, 9, 2}, {7, 1, 1},  {31, 3, 1},    {32, 2, 2},
                                       {33, 5, 1}, {70, 1, 3}, {65537, 2, 1}, {(I(1) << 17) + 5, 1, 1}};
    for (const auto& [nx, ny, nz] : shapes) {
        const I row_step = nx + 3, plane_step = row_step * ny + 5;
        std::vector<T> data = random_pixels<T>(std::size_t(plane_step * nz), rng);
        for (T& v : data) {
            const int p = pick(rng);
            v = p == 0 ? std::numeric_limits<T>::min() : p == 1 ? std::numeric_limits<T>::max() : v;
        }
        const survey_totals got = survey_pixels(data.data(), nx, ny, nz, row_step, plane_step);
        const survey_totals want = reference::survey_in_visiting_order(data.data(), nx, ny, nz, row_step, plane_step);
        EXPECT_TRUE(same_values(std::vector<double>{got.min, got.max, got.sum, got.sqsum},
                                {want.min, want.max, want.sum, want.sqsum}))
            << nx << "x" << ny << "x" << nz;
    }
}
TEST(SurveyKernel, IntegerSumsMatchTheLoopInVisitingOrder) {
    integer_surveys_match_the_loop<std::int8_t>();
    integer_surveys_match_the_loop<std::uint8_t>();
    integer_surveys_match_the_loop<std::int16_t>();
    integer_surveys_match_the_loop<std::uint16_t>();
    for (const I n : {I(2097215), I(2097300)}) {  // 65535^2 * n: below 2^53, above (and rounded)
        const std::vector<std::uint16_t> data(std::size_t(n), 65535);
        const survey_totals got = survey_pixels(data.data(), n, 1, 1, 0, 0);
        const survey_totals want = reference::survey_in_visiting_order(data.data(), n, 1, 1, 0, 0);
        EXPECT_TRUE(same_values(std::vector<double>{got.sum, got.sqsum}, {want.sum, want.sqsum})) << n;
    }
}

// Rows min, max, weight, mean, deviation, a column per ring, all written; at
// a row pitch one longer, the element after each row is left alone.
template <class P>
std::vector<P> survey(const std::vector<P>& pixels, I nx, I ny, I cx, I cy, P scale) {
    const ring_layout layout = rings_of(farthest_radius<P>(nx, ny, cx, cy, scale, scale));
    const I pitch = layout.count + 1;
    std::vector<P> padded(std::size_t(radial_row_count * pitch), P(-77)), rows;
    radial_survey(pixels.data(), nx, ny, cx, cy, scale, scale, layout, padded.data(), pitch);
    for (I i = 0; i < radial_row_count * pitch; ++i) {
        if (i % pitch < layout.count) rows.push_back(padded[i]);
        else EXPECT_EQ(padded[i], P(-77)) << "row " << i / pitch;
    }
    return rows;
}

// Counts ceil(R) + 1 and nearest limits trunc(R + 0.5) + 1 in the pixel
// precision; R from the farthest corner.
TEST(RadialSurveyKernel, RingCountsAndRadii) {
    const std::pair<double, std::array<I, 4>> cases[] = {{0.0, {1, 1, 1, 1}}, {2.8284271247461903, {4, 4, 4, 4}},
                                                         {3.0, {4, 4, 4, 4}}, {2.4, {4, 3, 4, 3}},
                                                         {2.5, {4, 4, 4, 4}}, {0.49999997019767761, {2, 2, 2, 1}}};
    for (const auto& [farthest, want] : cases) {
        const ring_layout f = rings_of(float(farthest)), d = rings_of(farthest);
        EXPECT_EQ((std::array<I, 4>{f.count, f.nearest, d.count, d.nearest}), want) << farthest;
    }
    EXPECT_EQ(farthest_radius<double>(5, 4, -2, 9, 1.0, 0.5), std::hypot(6.0, 4.5));  // a centre outside
}

TEST(RadialSurveyKernel, WorkedRings) {
    // Zero scales put every pixel in the centre ring; the deviation divides by w - 1.
    const double mean = 17.5 / 6, deviation = std::sqrt((16 + 1 + 6.25 + 81 + 9 - mean * mean * 6) / 5);
    EXPECT_TRUE(same_values(survey<double>({4, -1, 2.5, 0, 9, 3}, 3, 2, 1, 0, 0.0), {-1, 9, 6, mean, deviation}));
    // Radii 0, 1.5, 3: nearest rings 0, 2, 3; 1.5 weighs 0.5 in rings 1 and
    // 2. A weight in (0, 1] divides by itself. NaN never becomes an extreme.
    EXPECT_TRUE(same_values(survey<double>({2, 4, 8}, 3, 1, 0, 0, 1.5),
                            {2, top, 4, 8, 2, -top, 4, 8, 1, 0.5, 0.5, 1, 2, 4, 4, 8, 0, 0, 0, 0}));
    EXPECT_TRUE(same_values(survey<double>({2, nan, 8}, 3, 1, 0, 0, 1.5),
                            {2, top, top, 8, 2, -top, -top, 8, 1, 0.5, 0.5, 1, 2, nan, nan, 8, 0, nan, nan, 0}));
    // Radii 0, 1.2, 2.4: ring 3 is weighted but nobody's nearest (extremes
    // 0). A ring with no weight: mean 0, deviation 0/0.
    const auto light = survey<float>({5, 6, 7}, 3, 1, 0, 0, 1.2f);
    const auto gap = survey<double>({1, 1}, 2, 1, 0, 0, 3.0);
    EXPECT_TRUE(light[3] == 0 && light[4 + 3] == 0 && light[8 + 3] > 0);
    EXPECT_TRUE(same_values(std::vector<double>{gap[8 + 1], gap[12 + 1], gap[16 + 1]}, {0, 0, nan}));
}

// The survey with one hypot per distinct |u| and the two rings of a pixel in
// registers, against the per-pixel loop, bit for bit: odd, even, 1-wide and
// 1-high planes, centres inside, on the edges and outside on every side,
// scales 0, -0, negative, unequal, tiny and large (down to the float limit
// on rings), pixels with NaN, infinities, -0 and a wide range.
template <class P>
void expect_survey_as_per_pixel() {
    std::mt19937 rng(23);
    const P specials[] = {P(NAN), std::numeric_limits<P>::infinity(), -std::numeric_limits<P>::infinity(), -P(0),
                          P(0), std::numeric_limits<P>::denorm_min(), P(1e30)};
    const std::array<I, 4> planes[] = {{1, 1, 0, 0},  {1, 7, 0, 3},    {9, 1, 4, 0},   {8, 6, 4, 3},  {7, 5, 3, 2},
                                       {8, 6, 0, 5},  {7, 5, -3, 2},   {7, 5, 12, -4}, {6, 9, 6, 9},  {33, 20, 16, 10},
                                       {33, 20, 40, -9}, {40, 31, -20, 50}};
    const std::pair<P, P> scales[] = {{1, 1},         {0, 0},          {-P(0), P(0.5)}, {P(-0.7), P(-0.7)},
                                      {P(0.37), 2},   {P(1e-30), 1},   {P(3.1), P(0.01)}, {P(5000), P(7000)}};
    for (const auto& [nx, ny, cx, cy] : planes) {
        std::vector<P> pixels = random_values<P>(std::size_t(nx * ny), rng);
        for (std::size_t i = 0; i < pixels.size(); i += 5) pixels[i] = specials[i / 5 % 7];
        for (const auto& [sx, sy] : scales) {
            const ring_layout layout = rings_of(farthest_radius<P>(nx, ny, cx, cy, sx, sy));
            const I pitch = layout.count + 2;
            std::vector<P> want(std::size_t(radial_row_count * pitch), P(-77)), got = want;
            reference::radial_survey_per_pixel(pixels.data(), nx, ny, cx, cy, sx, sy, layout, want.data(), pitch);
            radial_survey(pixels.data(), nx, ny, cx, cy, sx, sy, layout, got.data(), pitch);
            ASSERT_TRUE(same_values(got, want)) << nx << " x " << ny << " around " << cx << ", " << cy << ", scales "
                                                << sx << ", " << sy;
        }
    }
}
TEST(RadialSurveyKernel, MirroredSurveyAsThePerPixelLoop) {
    expect_survey_as_per_pixel<float>();
    expect_survey_as_per_pixel<double>();
}

float weight_at(const std::vector<float>& table, float d2) {
    const float last = float(table.size() - 1);
    return table_weight(table.data(), I(table.size()) - 1, last * last, d2);
}

// From the last index on, and for NaN, the last entry holds; just below 25
// the square root rounds up to 5 and only W[5] is read (its -0 survives).
TEST(WeightKernel, TableInterpolationAndItsEnds) {
    const std::vector<float> table = {10, 20, 40, 80, 160}, six = {1, 2, 3, 4, 5, -0.0f};
    const float below_25 = std::nextafter(25.0f, 0.0f);
    ASSERT_EQ(std::sqrt(below_25), 5.0f);
    const std::vector<float> got = {weight_at(table, 2.25f * 2.25f), weight_at(table, 0), weight_at(table, 9),
                                    weight_at(table, 16), weight_at(table, 1e30f), weight_at(table, INFINITY),
                                    weight_at(table, NAN), weight_at({7}, 0), weight_at({7}, 12.5f),
                                    weight_at(six, below_25), table_weight(six.data(), 3, 100.0f, 4.5f * 4.5f)};
    EXPECT_TRUE(same_values(got, {40 * 0.75f + 80 * 0.25f, 10, 80, 160, 160, 160, 160, 7, 7, -0.0f, 4}));
}

// One pixel through the whole kernel: a one-entry table weighs w everywhere.
template <class T>
T weighted_pixel(T p, float w, weight_mode mode) {
    weight_pixels(&p, &p, 1, 1, &w, 1, 0, 0, 1.0f, 1.0f, mode);
    return p;
}

// A complex pixel meets (w, 0) in the written-out complex formulas.
TEST(WeightKernel, ModesOnRealAndComplexPixels) {
    const weight_mode times = weight_mode::multiply, plus = weight_mode::add, minus = weight_mode::subtract;
    const std::tuple<float, float, weight_mode, float> reals[] = {
        {3, 0.5f, times, 1.5f}, {3, 0.5f, plus, 3.5f}, {3, 0.5f, minus, 2.5f},
        {NAN, 0.5f, weight_mode::replace, 0.5f}, {INFINITY, 0, times, NAN}};
    for (const auto& [p, w, mode, want] : reals) EXPECT_TRUE(same_value(weighted_pixel(p, w, mode), want)) << p;
    using zorvan::dm::complex8;
    const std::tuple<complex8, float, weight_mode, complex8> complexes[] = {
        {{3, -2}, 0.5f, times, {1.5f, -1}},          {{1, INFINITY}, 2, times, {NAN, INFINITY}},
        {{INFINITY, 1}, 2, times, {INFINITY, NAN}},  {{1, -0.0f}, 2, times, {2, 0.0f}},
        {{3, -0.0f}, 1, plus, {4, 0.0f}},            {{3, -0.0f}, 1, minus, {2, -0.0f}},
        {{3, -2}, 0.5f, minus, {2.5f, -2}},          {{3, -2}, 0.5f, weight_mode::replace, {0.5f, 0}}};
    for (const auto& [p, w, mode, want] : complexes) EXPECT_TRUE(same_value(weighted_pixel(p, w, mode), want)) << p.re;
}

// 3 x 2 around (1, 1), scales 1.5 and 2: radii 2.5, 2, 2.5 / 1.5, 0, 1.5.
TEST(WeightKernel, WholePlane) {
    const std::vector<float> table = {1, 2, 4, 8, 16}, want = {4, 6, 4, 7, 9, 7};
    std::vector<float> source(6, 10.0f), out(6, -1);
    weight_pixels(source.data(), out.data(), 3, 2, table.data(), 5, 1, 1, 1.5f, 2.0f, weight_mode::subtract);
    weight_pixels(source.data(), source.data(), 3, 2, table.data(), 5, 1, 1, 1.5f, 2.0f, weight_mode::subtract);
    EXPECT_TRUE(out == want && source == want);
}

// The weighting with one table lookup per distinct |x - cx| in a row,
// against the per-pixel loop, bit for bit, in place and not, real and
// complex, every mode: odd, even and 1-wide planes, centres inside and
// outside on every side, scales 0, -0, negative, unequal, huge and NaN,
// tables of 1 and 6 entries with NaN, infinity and -0, pixels with NaN,
// infinities and -0.
template <class T, weight_mode Mode>
void expect_weight_as_per_pixel(std::mt19937& rng) {
    const std::vector<float> tables[] = {{2.5f}, {1, NAN, -0.0f, INFINITY, 3, -4}};
    const std::array<I, 4> planes[] = {{1, 1, 0, 0}, {1, 6, 0, 2}, {9, 1, 4, 0},  {8, 6, 4, 3},
                                       {7, 5, -3, 9}, {7, 5, 12, -4}, {6, 9, 6, 9}, {33, 4, 16, 1}};
    const std::pair<float, float> scales[] = {{1, 1},      {0, 0},     {-0.0f, 0.5f}, {-0.7f, -0.7f},
                                              {0.37f, 2},  {1e20f, 1}, {NAN, 1}};
    const float specials[] = {NAN, INFINITY, -INFINITY, -0.0f};
    for (const auto& table : tables) {
        for (const auto& [nx, ny, cx, cy] : planes) {
            std::vector<T> source = random_pixels<T>(std::size_t(nx * ny), rng);
            for (std::size_t i = 0; i < source.size(); i += 3) {
                if constexpr (std::is_same_v<T, float>) source[i] = specials[i / 3 % 4];
                else source[i].im = specials[i / 3 % 4];
            }
            for (const auto& [sx, sy] : scales) {
                const I size = I(table.size());
                std::vector<T> want(source.size()), got(source.size()), in_place = source;
                reference::weight_per_pixel<Mode>(source.data(), want.data(), nx, ny, table.data(), size, cx, cy, sx,
                                                  sy);
                weight_pixels(source.data(), got.data(), nx, ny, table.data(), size, cx, cy, sx, sy, Mode);
                weight_pixels(in_place.data(), in_place.data(), nx, ny, table.data(), size, cx, cy, sx, sy, Mode);
                ASSERT_TRUE(same_values(got, want) && same_values(in_place, want))
                    << nx << " x " << ny << " around " << cx << ", " << cy << ", scales " << sx << ", " << sy;
            }
        }
    }
}
template <class T>
void expect_weight_modes_as_per_pixel(std::mt19937& rng) {
    expect_weight_as_per_pixel<T, weight_mode::multiply>(rng);
    expect_weight_as_per_pixel<T, weight_mode::add>(rng);
    expect_weight_as_per_pixel<T, weight_mode::subtract>(rng);
    expect_weight_as_per_pixel<T, weight_mode::replace>(rng);
}
TEST(WeightKernel, MirroredWeightsAsThePerPixelLoop) {
    std::mt19937 rng(29);
    expect_weight_modes_as_per_pixel<float>(rng);
    expect_weight_modes_as_per_pixel<zorvan::dm::complex8>(rng);
}

// The AVX2 lookups against the plain ones (the weighting takes one of them
// for the whole process): tables of 1, 2 and 6 entries with NaN, infinity
// and -0; squared distances below, at and past the last index (just below
// 25 the root rounds up to 5), NaN and infinite; centres left and right.
TEST(WeightKernel, VectorLookupsAsThePlainOnes) {
    if (!zorvan::simd::avx2()) GTEST_SKIP() << "no AVX2";
    const std::vector<float> table = {1, NAN, -0.0f, INFINITY, 3, -4};
    const float below_25 = std::nextafter(25.0f, 0.0f);
    const std::tuple<I, float, float> rows[] = {{0, 1, 0},        {3, 1, below_25}, {7, 0.37f, 2.25f}, {-2, -1.5f, 1},
                                                {20, 1, 0},       {5, NAN, 0},      {5, 1, NAN},       {4, 1e20f, 0},
                                                {4, 0.25f, INFINITY}, {9, -0.0f, 16}};
    for (const I size : {1, 2, 6}) {
        const float last = float(size - 1);
        for (const auto& [cx, scale, v_squared] : rows) {
            for (I first = 0; first < 3; ++first) {
                for (I end = first; end < 22; ++end) {
                    std::vector<float> want(24, 9.0f), got = want;
                    weight_span(table.data(), size - 1, last * last, cx, scale, v_squared, want.data(), first, end);
                    weight_span_avx2(table.data(), size - 1, last * last, cx, scale, v_squared, got.data(), first, end);
                    ASSERT_TRUE(same_values(got, want))
                        << size << " entries, centre " << cx << ", scale " << scale << ", " << first << " .. " << end;
                }
            }
        }
    }
}

std::vector<float> window_of(std::vector<float> plane, std::int32_t nx, std::int32_t ny, window_mode mode) {
    std::vector<float> out(plane.size(), -99.0f);
    fourier_window(plane.data(), out.data(), nx, ny, mode);
    fourier_window(plane.data(), plane.data(), nx, ny, mode);
    EXPECT_EQ(plane, out);
    return out;
}

// 2 x 2 of 3: Hann factors 1 - cos 0 = 0 and 1 - cos pi = 2, so (1, 1) keeps
// ((3 * 0.25) * 2) * 2; sine factors cos(-pi/2) (about -4.4e-8) and 1.
TEST(FourierWindowKernel, WorkedValuesOfBothWindows) {
    const float e = std::cos(-0.5f * 3.1415927f);
    EXPECT_TRUE(same_values(window_of({3, 3, 3, 3}, 2, 2, window_mode::hann), {0, 0, 0, 3}));
    EXPECT_TRUE(same_values(window_of({3, 3, 3, 3}, 2, 2, window_mode::sine), {(3 * e) * e, 3 * e, 3 * e, 3}));
    EXPECT_TRUE(same_values(window_of({5, 6, 7}, 1, 3, window_mode::hann), {0, 0, 0}));
}

// Both cosines per pixel: every side up to 64 (the step factors show in the
// low bits for some), and 5000 columns (a full block of columns and a part).
TEST(FourierWindowKernel, PlanesMatchThePerPixelFormulas) {
    const float pi = 3.1415927f;
    const auto factor = [pi](window_mode mode, std::int32_t i, std::int32_t n) {
        return mode == window_mode::hann ? 1.0f - std::cos(float(i) * ((pi + pi) / float(n)))
                                         : std::cos((float(i) * (1.0f / float(n)) - 0.5f) * pi);
    };
    std::vector<std::pair<std::int32_t, std::int32_t>> shapes = {{5000, 3}};
    for (std::int32_t n = 1; n <= 64; ++n) shapes.insert(shapes.end(), {{n, 3}, {3, n}});
    for (const window_mode mode : {window_mode::hann, window_mode::sine}) {
        for (const auto& [nx, ny] : shapes) {
            std::vector<float> source, want;
            for (std::int32_t i = 0; i < nx * ny; ++i) {
                source.push_back(float(i % 97) * 0.37f - 11.0f);
                const float p = mode == window_mode::hann ? source.back() * 0.25f : source.back();
                want.push_back((p * factor(mode, i % nx, nx)) * factor(mode, i / nx, ny));
            }
            ASSERT_TRUE(same_values(window_of(source, nx, ny, mode), want)) << nx << " x " << ny;
        }
    }
}

}  // namespace
