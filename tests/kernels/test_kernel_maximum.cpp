// The maximum kernel on its own: which of equal values (+0 and -0) wins, in
// the ring of column maxima and in the array that replaces it for wide
// windows, and both against a window scan for every width around the ring's
// size.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "filters/maximum_kernel.h"
#include "tests/support/values.h"

namespace {

using namespace zorvan;
using I = std::int64_t;
constexpr I huge_radius = 2147483647;

template <class T>
bool same_bits(T a, T b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

template <class T>
std::vector<T> filtered(const std::vector<T>& src, I nx, I ny, I r) {
    std::vector<T> dst(src.size() + 1, T(77));  // one spare element, which must stay untouched
    kernels::maximum_filter_2d(src.data(), nx, ny, r, dst.data());
    EXPECT_TRUE(same_bits(dst.back(), T(77))) << "written past the image";
    dst.pop_back();
    return dst;
}

::testing::AssertionResult same_zeros(const std::vector<float>& got, const std::vector<float>& want) {
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (!same_bits(got[i], want[i])) {
            return ::testing::AssertionFailure() << "pixel " << i << " is " << (std::signbit(got[i]) ? "-" : "+")
                                                 << got[i];
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(MaximumKernelTies, OfEqualValuesTheFirstInRingOrderWins) {
    const float p = +0.0f, m = -0.0f;
    struct Case {
        const char* what;
        I nx, ny, r;
        std::vector<float> src, want;
    };
    const Case cases[] = {
        // Ring of 3 slots over 5 columns: at x = 2 the columns 1, 2, 3 sit in
        // slots 1, 2, 0, so column 3 (-0) is met before column 1 (+0).
        {"ring: slot order, not column order", 5, 1, 1, {-1, p, -5, m, -7}, {p, p, m, m, m}},
        // A window as wide as the image: columns in ascending order.
        {"wide window: the first column", 2, 1, 1, {m, p}, {m, m}},
        {"wide window: the first column, other way round", 2, 1, 1, {p, m}, {p, p}},
        {"largest radius: the first column", 3, 1, huge_radius, {-2, m, p}, {m, m, m}},
        // Down a column the first row of the band wins.
        {"column: the first row", 1, 3, 1, {p, m, -1}, {p, p, m}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(same_zeros(filtered(c.src, c.nx, c.ny, c.r), c.want));
    }
}

// Every pixel of the window, in any order: v > m from the lowest value.
template <class T>
T window_maximum(const std::vector<T>& src, I nx, I ny, I x, I y, I r) {
    T m = kernels::lowest_value<T>;
    for (I j = std::max<I>(0, y - r); j <= std::min(ny - 1, y + r); ++j)
        for (I i = std::max<I>(0, x - r); i <= std::min(nx - 1, x + r); ++i) {
            if (src[j * nx + i] > m) m = src[j * nx + i];
        }
    return m;
}

template <class T>
class MaximumKernel : public ::testing::Test {};
using PixelTypes = ::testing::Types<std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t,
                                    std::uint32_t, float, double>;
TYPED_TEST_SUITE(MaximumKernel, PixelTypes);

using zorvan::testing::random_pixels;

TYPED_TEST(MaximumKernel, RingAndWideWindowMatchAWindowScan) {
    using T = TypeParam;
    std::mt19937 rng(41);
    for (I nx = 1; nx <= 12; ++nx) {
        for (const I ny : {I(1), I(2), I(5)}) {
            for (const I r : {I(0), I(1), I(2), I(3), I(5), I(6), I(13), huge_radius}) {
                SCOPED_TRACE(::testing::Message() << nx << "x" << ny << " radius " << r);
                const std::vector<T> src = random_pixels<T>(std::size_t(nx * ny), rng);
                const std::vector<T> got = filtered(src, nx, ny, r);
                for (I y = 0; y < ny; ++y)
                    for (I x = 0; x < nx; ++x) {
                        ASSERT_TRUE(same_bits(got[y * nx + x], window_maximum(src, nx, ny, x, y, r))) << x << "," << y;
                    }
            }
        }
    }
}

}  // namespace
