// Median kernel: worked rules on ties, NaN and even counts, and every output
// against its clipped window reduced naively; the median for a destination
// apart from the source against the selecting kernel.

#include "filters/median/median_kernel.h"
#include "tests/support/kernel_test.h"

namespace {

using namespace zorvan::testing;
using zorvan::kernels::median_filter_2d;
using zorvan::kernels::median_filter_apart;
using zorvan::kernels::median_filter_histograms;
using zorvan::kernels::median_filter_ranks;
using zorvan::kernels::median_fast::median_by_networks;

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

// Every route of the median apart from the source (dispatch, ranks, networks
// and column histograms, plain and vector) equals median_filter_2d bit for
// bit, NaN payloads included; only +0 and -0 may stand for each other. Sizes
// cover empty, 1 x 1, single rows and columns, several rank tiles, and radii
// 0, the network/rank crossover (3, 4), the rank/histogram crossover (10, 11),
// the first tile-size steps (10, 11) and beyond the image; for the
// histograms also widths and heights of r, 2r, 2r + 1 and 2r + 2, several
// tiles (128 outputs a side, 3r from radius 43) and the largest radius (127);
// for radius 1 (sorted columns shared between windows and pairs of rows)
// interiors of exactly one vector of doubles or floats and a little more,
// rows of one, two and three pieces of the sorted columns, odd and even
// numbers of rows (a last row without a pair) and NaN rows at every place
// in a pair's four; the row-by-row kernel the pairs replaced runs beside
// them.
template <class T>
void apart_cases() {
    const T nan = std::numeric_limits<T>::quiet_NaN(), inf = std::numeric_limits<T>::infinity();
    const T tiny = std::numeric_limits<T>::denorm_min();
    const std::vector<T> specials{nan, inf, -inf, T(0), -T(0), tiny, -3 * tiny, 1, -1, std::numeric_limits<T>::max()};
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> pick(0, 99);
    const auto draw = [&](int kind, I y) -> T {  // few distinct values; specials; NaN rows; mostly NaN
        const int p = pick(rng);
        if (kind == 0) return T(p % 4 - 1);
        if (kind == 1) return p < 30 ? specials[std::size_t(p % 10)] : T(p) / T(7) - 5;
        if (kind == 2) return y % 5 == 3 ? nan : T(p * 1000 + pick(rng)) / T(3);
        return p < 85 ? (p % 2 ? nan : -nan) : -T(p);
    };
    using route = void (*)(const T*, I, I, I, T*);
    const route routes[] = {
        median_filter_apart<T>, median_filter_ranks<T>,
        [](const T* s, I nx, I ny, I r, T* d) { median_by_networks(s, nx, ny, r, d, false); },
        [](const T* s, I nx, I ny, I r, T* d) { median_by_networks(s, nx, ny, r, d, true); },
        [](const T* s, I nx, I ny, I r, T* d) { median_by_networks(s, nx, ny, r, d, true, false); },
        [](const T* s, I nx, I ny, I r, T* d) { median_filter_histograms(s, nx, ny, r, d, false); },
        [](const T* s, I nx, I ny, I r, T* d) { median_filter_histograms(s, nx, ny, r, d, true); }};
    // Which routes take which radius and size.
    const auto takes = [](std::size_t way, I nx, I ny, I r) {
        if (way >= 2 && way <= 4) return r >= 1 && r <= 3 && nx > 2 * r && ny > 2 * r;
        if (way >= 5) return r >= 1 && r <= 127;  // the histograms' precondition, as the dispatch keeps it
        return true;
    };
    const std::pair<std::array<I, 2>, std::vector<I>> cases[] = {
        {{0, 4}, {1}}, {{1, 1}, {0, 1, 2}}, {{1, 9}, {1, 3, huge_radius}}, {{9, 1}, {2, 4}}, {{2, 3}, {1, 2, 3}},
        {{5, 5}, {1, 2, 6}}, {{7, 8}, {3, 4}}, {{13, 6}, {1, 2, 3}}, {{37, 29}, {0, 1, 2, 3, 4, huge_radius}},
        {{150, 70}, {1, 2, 3, 4}}, {{260, 30}, {10, 11}}, {{6, 5}, {1}}, {{10, 3}, {1}}, {{11, 4}, {1}},
        {{19, 7}, {1}}, {{70, 3}, {1}}, {{570, 3}, {1}}, {{600, 3}, {1}}, {{1100, 4}, {1}},
        {{1, 40}, {9, 10, 39, 40}}, {{40, 1}, {10, 127}}, {{10, 20}, {10}}, {{21, 22}, {10}}, {{23, 11}, {10, 11}},
        {{300, 12}, {10, 11}}, {{12, 290}, {10, 30}}, {{61, 62}, {30, 31}}, {{140, 131}, {10}},
        {{135, 50}, {43}}, {{255, 3}, {127}}, {{3, 300}, {127, 128}}};
    for (const auto& [size, radii] : cases)
        for (const I r : radii)
            for (int kind = 0; kind < 4; ++kind) {
                // At least one element, so that an empty image still has a buffer.
                std::vector<T> src(std::max<std::size_t>(1, std::size_t(size[0] * size[1])));
                for (I i = 0; i < size[0] * size[1]; ++i) src[std::size_t(i)] = draw(kind, i / size[0]);
                std::vector<T> want(src.size());
                median_filter_2d(src.data(), size[0], size[1], r, want.data());
                for (std::size_t way = 0; way < std::size(routes); ++way) {
                    if (!takes(way, size[0], size[1], r)) continue;
                    std::vector<T> got(src.size());
                    routes[way](src.data(), size[0], size[1], r, got.data());
                    for (std::size_t i = 0; i < got.size(); ++i)
                        if (!same_bits(got[i], want[i]) && !(got[i] == 0 && want[i] == 0))
                            ADD_FAILURE() << size[0] << "x" << size[1] << " radius " << r << " values " << kind
                                          << " route " << way << " pixel " << i << ": " << got[i] << ", not " << want[i];
                }
            }
}

TEST(MedianKernel, ApartFromTheSourceEqualsTheSelectingKernel) {
    apart_cases<float>();
    apart_cases<double>();
}

}  // namespace
