// The median kernel on its own: the median of a list (odd and even counts,
// ties, NaN, the even rule's arithmetic in the element type), a selection
// that stays inside its buffer whatever the comparisons answer, and the
// filter against the median of each clipped window found by sorting.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "filters/median_kernel.h"

namespace {

using namespace zorvan;
using I = std::int64_t;
constexpr I huge_radius = 2147483647;

template <class T>
bool same_bits(T a, T b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Sorting reference: NaN left out (the first sample when nothing else is
// left); an even count takes (upper + lower) * 0.5 in T.
template <class T>
T sorted_median(std::vector<T> samples) {
    const T first = samples.front();
    samples.erase(std::remove_if(samples.begin(), samples.end(), [](T v) { return std::isnan(v); }), samples.end());
    if (samples.empty()) return first;
    std::sort(samples.begin(), samples.end());
    const std::size_t k = samples.size() / 2;
    return samples.size() % 2 ? samples[k] : (samples[k] + samples[k - 1]) * T(0.5);
}

template <class T>
class MedianKernel : public ::testing::Test {};
using RealTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(MedianKernel, RealTypes);

TYPED_TEST(MedianKernel, MedianOfAListWorkedAnswers) {
    using T = TypeParam;
    const T nan = std::numeric_limits<T>::quiet_NaN();
    const T big = std::numeric_limits<T>::max();
    const T inf = std::numeric_limits<T>::infinity();
    struct Case {
        const char* what;
        std::vector<T> values;
        T want;
    };
    const Case cases[] = {
        {"one value", {T(-4.25)}, T(-4.25)},
        {"odd count: the middle value", {T(9), T(-1), T(4), T(7), T(2)}, T(4)},
        {"even count: the mean of the middle two", {T(9), T(-1), T(4), T(7)}, T(5.5)},
        {"ties", {T(3), T(1), T(3), T(3), T(1), T(1)}, T(2)},
        {"all equal", {T(6), T(6), T(6), T(6)}, T(6)},
        {"sorted ascending", {T(1), T(2), T(3), T(4), T(5), T(6), T(7)}, T(4)},
        {"sorted descending", {T(8), T(7), T(6), T(5), T(4), T(3), T(2), T(1)}, T(4.5)},
        // (max + max) overflows in T before the halving: the rule's own arithmetic.
        {"the even rule is computed in the element type", {big, big}, inf},
        {"infinities", {-inf, inf, T(1)}, T(1)},
        {"NaN samples are left out", {nan, T(8), nan, T(2), T(5)}, T(5)},
        {"the even rule over the numbers only", {T(1), nan, T(2)}, T(1.5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<T> values = c.values;
        EXPECT_TRUE(same_bits(kernels::median_of(values.data(), I(values.size())), c.want));
    }
    // Only NaN: the first sample, bit for bit.
    const T first = -std::numeric_limits<T>::quiet_NaN();
    std::vector<T> only_nan{first, nan, nan};
    EXPECT_TRUE(same_bits(kernels::median_of(only_nan.data(), 3), first));
}

// A value whose comparisons answer at random: no order at all. Guards around
// the buffer carry negative ids, and comparing one counts as a stray read.
struct Capricious {
    int id;
    static std::mt19937& rng() {
        static std::mt19937 generator(99);
        return generator;
    }
    static int& stray_reads() {
        static int count = 0;
        return count;
    }
    friend bool operator<(const Capricious& a, const Capricious& b) {
        if (a.id < 0 || b.id < 0) ++stray_reads();
        return rng()() % 2 == 0;
    }
};

TEST(MedianKernelSelection, StaysInsideItsBufferWhateverTheComparisonsAnswer) {
    for (const I n : {I(1), I(2), I(3), I(4), I(9), I(64), I(257)}) {
        for (int round = 0; round < 50; ++round) {
            // Four guards on each side; the selection works on the middle.
            std::vector<Capricious> buffer(static_cast<std::size_t>(n + 8));
            for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i].id = -1;
            Capricious* values = buffer.data() + 4;
            for (I i = 0; i < n; ++i) values[i].id = int(i);
            Capricious::stray_reads() = 0;
            kernels::detail::select_kth(values, n, round % n);
            ASSERT_EQ(Capricious::stray_reads(), 0) << n;
            for (int i = 0; i < 4; ++i) {
                ASSERT_EQ(buffer[std::size_t(i)].id, -1);
                ASSERT_EQ(buffer[std::size_t(n + 4 + i)].id, -1);
            }
            std::vector<int> ids;
            for (I i = 0; i < n; ++i) ids.push_back(values[i].id);
            std::sort(ids.begin(), ids.end());
            std::vector<int> expected(static_cast<std::size_t>(n));
            std::iota(expected.begin(), expected.end(), 0);
            ASSERT_EQ(ids, expected) << "values were lost or duplicated";
        }
    }
}

TYPED_TEST(MedianKernel, FilterMatchesTheSortedClippedWindow) {
    using T = TypeParam;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pick(-9, 9);
    // Shapes on both sides of 2r+1, so that rows and columns with and
    // without interior pixels are met; 1 x 1500 and 1500 x 1 with the
    // largest radius need no more than a row of samples.
    const std::vector<std::array<I, 2>> shapes = {{1, 1}, {1, 7}, {7, 1}, {5, 5}, {11, 6}, {6, 13}, {1, 1500}, {1500, 1}};
    for (const auto& [nx, ny] : shapes) {
        for (const I r : {I(0), I(1), I(2), I(3), I(6), huge_radius}) {
            if (nx * ny > 100 && r != huge_radius) continue;
            SCOPED_TRACE(::testing::Message() << nx << "x" << ny << " radius " << r);
            std::vector<T> src(static_cast<std::size_t>(nx * ny));
            for (T& v : src) {
                const int p = pick(rng);
                v = p == 0 ? std::numeric_limits<T>::quiet_NaN() : T(p) / T(4);
            }
            // One spare element past the end, which must stay untouched.
            std::vector<T> dst(src.size() + 1, T(-1234));
            kernels::median_filter_2d(src.data(), nx, ny, r, dst.data());
            EXPECT_EQ(dst.back(), T(-1234));
            for (I y = 0; y < ny; ++y)
                for (I x = 0; x < nx; ++x) {
                    std::vector<T> window;
                    for (I j = std::max<I>(0, y - r); j <= std::min(ny - 1, y + r); ++j)
                        for (I i = std::max<I>(0, x - r); i <= std::min(nx - 1, x + r); ++i) window.push_back(src[j * nx + i]);
                    ASSERT_TRUE(same_bits(dst[y * nx + x], sorted_median(window))) << x << "," << y;
                }
        }
    }
}

}  // namespace
