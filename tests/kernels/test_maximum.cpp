// Maximum kernels, plain and AVX2, against the ring kernel they replace, on
// every pixel type; equal results except that a +0/-0 tie may go either way.

#include "filters/maximum_kernel.h"
#include "tests/support/kernel_test.h"
#include "tests/support/reference_maximum.h"

namespace {

using namespace zorvan;
using namespace zorvan::testing;

// Bit for bit, but +0 and -0 match each other; never NaN.
template <class T>
::testing::AssertionResult same_maxima(const std::vector<T>& got, const std::vector<T>& want) {
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (!(same_bits(got[i], want[i]) || (got[i] == 0 && want[i] == 0)) || got[i] != got[i])
            return ::testing::AssertionFailure() << "value " << i << " is " << +got[i] << ", not " << +want[i];
    }
    return ::testing::AssertionSuccess();
}

// NaN never wins, not even alone (which gives the lowest value, as -inf
// does); zeros of either sign tie.
TEST(MaximumKernel, WorkedAnswers) {
    const float p = +0.0f, m = -0.0f, low = std::numeric_limits<float>::lowest(), inf = INFINITY;
    const std::pair<std::array<I, 3>, std::array<std::vector<float>, 2>> cases[] = {
        {{5, 1, 1}, {{{-1, p, -5, m, -7}, {p, p, p, m, m}}}},
        {{3, 1, 0}, {{{NAN, 1, -NAN}, {low, 1, low}}}},
        {{1, 3, 1}, {{{NAN, -inf, -2}, {low, -2, -2}}}},
        {{3, 2, huge_radius}, {{{-2, NAN, 3, inf, 1, 0}, {inf, inf, inf, inf, inf, inf}}}},
        {{2, 2, 1}, {{{-inf, NAN, -inf, NAN}, {low, low, low, low}}}}};
    for (const auto& [size, images] : cases) {
        std::vector<float> got(images[0].size()), fast(got);
        kernels::maximum_filter_2d(images[0].data(), size[0], size[1], size[2], got.data());
        EXPECT_TRUE(same_maxima(got, images[1])) << size[0] << "x" << size[1] << ", radius " << size[2];
        if (!simd::avx2()) continue;
        kernels::maximum_filter_2d_avx2(images[0].data(), size[0], size[1], size[2], fast.data());
        EXPECT_TRUE(same_maxima(fast, images[1])) << size[0] << "x" << size[1] << ", radius " << size[2];
    }
}

template <class T>
class MaximumKernel : public ::testing::Test {};
using PixelTypes = ::testing::Types<std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t, std::uint32_t,
                                    float, double>;
TYPED_TEST_SUITE(MaximumKernel, PixelTypes);

// Sizes about the vector widths (8 to 32 lanes), windows narrower and wider
// than the image (and wider than 128, where the vector row pass of float and
// double changes method); real pixels in quarter steps on a random slope,
// with NaN, -inf, both zeros and denormals often, +inf seldom; integer ones
// anywhere in their range, the type's extremes often.
TYPED_TEST(MaximumKernel, MatchesTheRingKernel) {
    using T = TypeParam;
    std::mt19937 rng(41);
    const std::pair<I, I> sizes[] = {{1, 1}, {1, 33}, {33, 1}, {2, 2},  {7, 9},   {8, 8},   {9, 17},
                                     {31, 4}, {32, 3}, {33, 7}, {65, 5}, {70, 1}, {300, 9}, {515, 3}};
    for (const auto& [nx, ny] : sizes) {
        for (const I r : {I(0), I(1), I(2), I(3), I(5), I(13), I(70), huge_radius}) {
            SCOPED_TRACE(::testing::Message() << nx << "x" << ny << " radius " << r);
            std::vector<T> src = random_pixels<T>(std::size_t(nx * ny), rng);
            if constexpr (std::is_floating_point_v<T>) {
                const T specials[] = {NAN, -INFINITY, +0.0, -0.0, std::numeric_limits<T>::denorm_min(),
                                      -std::numeric_limits<T>::denorm_min(), INFINITY};
                std::uniform_int_distribution<int> pick(0, 255), quarter(-4000, 4000), slope(-16, 16);
                const int sx = slope(rng), sy = slope(rng);  // so that window edges hold the maxima
                for (I i = 0; i < nx * ny; ++i) {
                    const int p = pick(rng);
                    src[i] = p < 6 * 8 ? specials[p / 8]
                             : p == 255 ? specials[6]
                                        : T(quarter(rng)) / 4 + T(sx * (i % nx) + sy * (i / nx));
                }
            } else {
                std::uniform_int_distribution<int> pick(0, 15);
                for (T& v : src) {
                    const int p = pick(rng);
                    if (p == 0) v = std::numeric_limits<T>::min();
                    if (p == 1) v = std::numeric_limits<T>::max();
                    if (p == 2) v = T(std::numeric_limits<T>::max() - 1);
                }
            }
            std::vector<T> want(src.size()), got(src.size());
            reference::ring_maximum(src.data(), nx, ny, r, want.data());
            kernels::maximum_filter_2d(src.data(), nx, ny, r, got.data());
            ASSERT_TRUE(same_maxima(got, want)) << "plain";
            if (!simd::avx2()) continue;
            kernels::maximum_filter_2d_avx2(src.data(), nx, ny, r, got.data());
            ASSERT_TRUE(same_maxima(got, want)) << "AVX2";
        }
    }
}

// Rows too long for whole-row suffix buffers are filtered in column strips.
TEST(MaximumKernel, WideImagesGoInStrips) {
    const I nx = (I(1) << 20) + 3, ny = 3;
    ASSERT_FALSE(kernels::detail::maximum_whole_rows(nx, ny, 1));
    std::mt19937 rng(3);
    const std::vector<float> src = random_pixels<float>(std::size_t(nx * ny), rng);
    std::vector<float> want(src.size()), got(src.size());
    reference::ring_maximum(src.data(), nx, ny, I(1), want.data());
    kernels::maximum_filter_2d(src.data(), nx, ny, I(1), got.data());
    EXPECT_TRUE(same_maxima(got, want));
}

}  // namespace
