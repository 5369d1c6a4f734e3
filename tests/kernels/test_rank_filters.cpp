// Median kernel: worked rules on ties, NaN and even counts, and every output
// against its clipped window reduced naively.

#include "filters/median_kernel.h"
#include "tests/support/kernel_test.h"

namespace {

using namespace zorvan::testing;
using zorvan::kernels::median_filter_2d;

// NaN left out (the first sample when nothing else is left); an even count
// takes (upper + lower) * 0.5 in T.
template <class T>
T sorted_median(std::vector<T> samples) {
    const T first = samples.front();
    samples.erase(std::remove_if(samples.begin(), samples.end(), [](T v) { return std::isnan(v); }), samples.end());
    if (samples.empty()) return first;
    std::sort(samples.begin(), samples.end());
    const std::size_t k = samples.size() / 2;
    return samples.size() % 2 ? samples[k] : (samples[k] + samples[k - 1]) * T(0.5);
}

// The filter against `reduce` of each clipped window, read row by row.
template <class T, class Filter, class Reduce>
::testing::AssertionResult matches(const std::vector<T>& src, I nx, I ny, I r, Filter filter, Reduce reduce) {
    std::vector<T> got(src.size() + 1, T(77)), want;
    filter(src.data(), nx, ny, r, got.data());
    for (I i = 0; i < nx * ny; ++i) {
        std::vector<T> window;
        for (I y = std::max<I>(0, i / nx - r); y <= std::min(ny - 1, i / nx + r); ++y)
            for (I x = std::max<I>(0, i % nx - r); x <= std::min(nx - 1, i % nx + r); ++x)
                window.push_back(src[y * nx + x]);
        want.push_back(reduce(window));
    }
    want.push_back(T(77));
    return same_values(got, want) << " (" << nx << "x" << ny << ", radius " << r << ")";
}

template <class T>
void median_cases() {
    const T nan = std::numeric_limits<T>::quiet_NaN(), big = std::numeric_limits<T>::max();
    const T inf = std::numeric_limits<T>::infinity();
    const std::pair<std::vector<T>, T> lists[] = {
        {{T(-4.25)}, T(-4.25)}, {{9, -1, 4, 7, 2}, 4}, {{9, -1, 4, 7}, 5.5}, {{3, 1, 3, 3, 1, 1}, 2},
        {{8, 7, 6, 5, 4, 3, 2, 1}, 4.5}, {{-inf, inf, 1}, 1}, {{nan, 8, nan, 2, 5}, 5}, {{1, nan, 2}, 1.5},
        {{big, big}, inf},          // (max + max) overflows in T before the halving
        {{-nan, nan, nan}, -nan}};  // only NaN: the first sample, bit for bit
    for (const auto& [values, want] : lists)  // on a copy, which the median reorders
        EXPECT_TRUE(same_bits(zorvan::kernels::median_of(std::vector<T>(values).data(), I(values.size())), want));
    // Quarter steps with ties and NaN; shapes on both sides of 2r+1, so that
    // rows and columns with and without interior pixels are met.
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pick(-9, 9);
    for (const std::array<I, 2> size :
         std::vector<std::array<I, 2>>{{1, 1}, {1, 7}, {7, 1}, {5, 5}, {11, 6}, {6, 13}}) {
        for (const I r : {I(0), I(1), I(2), I(3), I(6), huge_radius}) {
            std::vector<T> src(std::size_t(size[0] * size[1]));
            for (T& v : src) v = pick(rng) == 0 ? nan : T(pick(rng)) / T(4);
            EXPECT_TRUE(matches(src, size[0], size[1], r, median_filter_2d<T>, sorted_median<T>));
        }
    }
}

TEST(MedianKernel, WorkedListsAndTheSortedClippedWindow) {
    median_cases<float>();
    median_cases<double>();
}

}  // namespace
