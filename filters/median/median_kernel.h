#pragma once
// The median filter's one entry point, median_filter, and the routes it
// picks between, all with the result of the selecting kernel
// median_filter_2d (median_select_kernel.h) up to the sign of a zero in a
// tie:
//   in place (dst == src)   median_filter_2d itself: its visiting order is
//                           part of the result;
//   radius 0                a copy;
//   radius 1 to 3           selection networks (median_network_kernel.h) for
//                           the windows the image does not cut and that hold
//                           no NaN, 8 floats or 4 doubles at a time where the
//                           CPU has AVX2 (radius 1 by sorted columns shared
//                           between windows and between pairs of rows, in one
//                           pass over the image); the other windows selected;
//   radius 4 to 10          the sliding rank sets of median_rank_kernel.h,
//                           for images of fewer than 2^31 pixels;
//   radius 11 to 127        the column histograms over ranks of
//                           median_histogram_kernel.h, as large;
//   radius 128 and up       the rank sets again (16-bit counts end there);
//   anything else           median_filter_2d.
// Crossovers, float32, one thread, AVX2, CPU time, the machine lightly
// loaded. Networks and ranks, 1024 x 1024: radius 3 takes 22 ms by network,
// 61 ms by ranks; radius 4 by ranks 63 ms, where a network of 81 inputs
// (twice the operations of 49) would take about as long. Ranks and
// histograms: at 1024 x 1024 ranks take 78, 80, 94 and 108 ms at radius 9,
// 10, 12 and 16, histograms 89, 86, 85 and 84; at 2048 x 2048 ranks 308,
// 330, 341, 366 and 423 ms at radius 9 to 12 and 14, histograms 349, 353,
// 337, 338 and 350: histograms from radius 11 (2048 x 2048, histograms:
// 340 ms at radius 10, 370 at 30, 510 at 100, where ranks take 255 at
// radius 4).

#include <algorithm>
#include <cstdint>
#include <vector>

#include "filters/median/median_histogram_kernel.h"
#include "filters/median/median_network_kernel.h"
#include "filters/median/median_rank_kernel.h"
#include "filters/median/median_select_kernel.h"
#include "simd/cpu_features.h"

namespace zorvan::kernels {

namespace median_fast {

// Radii up to this one use the networks.
inline constexpr std::int64_t largest_network_radius = 3;
// From this radius on (up to median_histograms::largest_radius) the column
// histograms, below it the rank sets.
inline constexpr std::int64_t first_histogram_radius = 11;

// median_of for the few samples of a window the image cuts (up to 32): NaN
// dropped, the k-th smallest of the rest by counting ranks (of 4 or 6 by a
// network), the same values as median_of's (up to the sign of a zero in a
// tie) and the same arithmetic for an even count; a window of NaN alone
// gives its first sample.
template <class T>
T median_of_few(T* values, std::int64_t count) {
    const T first = values[0];
    std::int64_t n = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        if (values[i] == values[i]) values[n++] = values[i];
    }
    if (n == 0) return first;
    using ops = median_network::scalar_ops<T>;  // without branches to mispredict on the common cut windows
    if (n == 4) {
        median_network::run_all<ops, median_network::network_4>(values);
        return (values[2] + values[1]) * T(0.5);
    }
    if (n == 6) {
        median_network::run_all<ops, median_network::network_6>(values);
        return (values[3] + values[2]) * T(0.5);
    }
    // Each sample's rank: the samples below it, ties ordered by position, so
    // that the ranks are 0 to n-1 once each. No branch on the data (an
    // insertion sort mispredicts at every other step), and the counts
    // vectorise.
    const std::int64_t k = n / 2;
    T upper = values[0], lower = values[0];
    for (std::int64_t i = 0; i < n; ++i) {
        const T v = values[i];
        int rank = 0;
        for (std::int64_t j = 0; j < i; ++j) rank += values[j] <= v;
        for (std::int64_t j = i + 1; j < n; ++j) rank += values[j] < v;
        upper = rank == k ? v : upper;
        lower = rank == k - 1 ? v : lower;
    }
    return n % 2 != 0 ? upper : (upper + lower) * T(0.5);
}

// The median of pixel (x, y)'s window cut to the image, as median_filter_2d
// takes it.
template <class T>
T cut_window_median(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t r, std::int64_t x, std::int64_t y,
                    std::vector<T>& samples) {
    samples.clear();
    for (std::int64_t yy = std::max<std::int64_t>(0, y - r); yy <= std::min(ny - 1, y + r); ++yy) {
        for (std::int64_t xx = std::max<std::int64_t>(0, x - r); xx <= std::min(nx - 1, x + r); ++xx) {
            samples.push_back(src[nx * yy + xx]);
        }
    }
    const auto count = static_cast<std::int64_t>(samples.size());
    return count <= 32 ? median_of_few(samples.data(), count) : median_of(samples.data(), count);
}

// Radius 1 by AVX2 (nx - 2 at least one vector): the first and last rows
// by vectors too (windows of six), the other rows in one pass by pairs,
// then the rows that met NaN again with a check per window; the corners and
// the windows with NaN one by one.
template <class T>
void median_3x3_by_row_pairs(const T* src, std::int64_t nx, std::int64_t ny, T* dst) {
    std::vector<T> samples;
    std::vector<std::uint8_t> nan_windows(static_cast<std::size_t>(nx));
    for (const std::int64_t y : {std::int64_t(0), ny - 1}) {
        std::fill(nan_windows.begin(), nan_windows.end(), std::uint8_t(0));
        const std::int64_t other = y == 0 ? 1 : ny - 2;
        median_network::median_3x3_edge_row_avx2(src + y * nx, src + other * nx, nx, dst + y * nx, nan_windows.data());
        nan_windows[0] = nan_windows[std::size_t(nx - 1)] = 1;  // the corners
        for (std::int64_t x = 0; x < nx; ++x) {
            if (nan_windows[std::size_t(x)]) dst[y * nx + x] = cut_window_median(src, nx, ny, 1, x, y, samples);
        }
    }
    std::vector<std::uint8_t> nan_rows(static_cast<std::size_t>(ny), 0);
    median_network::median_3x3_rows_avx2(src, nx, 1, ny - 1, dst, nan_rows.data());
    for (std::int64_t y = 1; y < ny - 1; ++y) {
        if (!nan_rows[std::size_t(y)]) continue;
        std::fill(nan_windows.begin(), nan_windows.end(), std::uint8_t(0));
        median_network::median_row_avx2(src, nx, y, 1, dst, nan_windows.data(), nullptr);
        nan_windows[0] = nan_windows[std::size_t(nx - 1)] = 1;
        for (std::int64_t x = 0; x < nx; ++x) {
            if (nan_windows[std::size_t(x)]) dst[y * nx + x] = cut_window_median(src, nx, ny, 1, x, y, samples);
        }
    }
}

// Radius 1 to 3, the image at least 2r + 1 pixels each way; AVX2 where asked
// for and the CPU has it. Radius 1 by AVX2 goes by pairs of rows, unless
// row_pairs is false (then row by row, as the tests' reference for it).
template <class T>
void median_by_networks(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t r, T* dst, bool avx2,
                        bool row_pairs = true) {
    if (r == 1 && row_pairs && avx2 && simd::avx2() && nx - 2 >= 32 / std::int64_t(sizeof(T))) {
        return median_3x3_by_row_pairs(src, nx, ny, dst);
    }
    std::vector<T> samples;
    // Rows whose windows meet no NaN need no check for it. Each row is
    // scanned just before the first window that reaches it, while the
    // windows' rows are still in cache.
    std::vector<std::int64_t> nan_rows_before(static_cast<std::size_t>(ny + 1), 0);
    std::int64_t scanned = 0;
    const bool vectors = avx2 && simd::avx2() && nx - 2 * r >= 32 / std::int64_t(sizeof(T));
    const auto scan_through = [&](std::int64_t last) {
        for (; scanned <= last; ++scanned) {
            const T* row = src + scanned * nx;
            bool has_nan = false;
            if (vectors) {
                has_nan = median_network::holds_nan_avx2(row, nx);
            } else {
                for (std::int64_t x = 0; x < nx; ++x) has_nan |= row[x] != row[x];
            }
            nan_rows_before[scanned + 1] = nan_rows_before[scanned] + has_nan;
        }
    };
    std::vector<std::uint8_t> nan_windows(static_cast<std::size_t>(nx));
    std::vector<T> columns(static_cast<std::size_t>(vectors ? 3 * nx : 0));
    for (std::int64_t y = 0; y < ny; ++y) {
        T* out = dst + y * nx;
        if (y < r || y >= ny - r) {
            for (std::int64_t x = 0; x < nx; ++x) out[x] = cut_window_median(src, nx, ny, r, x, y, samples);
            continue;
        }
        for (std::int64_t x = 0; x < r; ++x) out[x] = cut_window_median(src, nx, ny, r, x, y, samples);
        for (std::int64_t x = nx - r; x < nx; ++x) out[x] = cut_window_median(src, nx, ny, r, x, y, samples);
        scan_through(y + r);
        const bool meets_nan = nan_rows_before[y + r + 1] != nan_rows_before[y - r];
        if (vectors) {
            if (meets_nan) std::fill(nan_windows.begin(), nan_windows.end(), std::uint8_t(0));
            median_network::median_row_avx2(src, nx, y, r, dst, meets_nan ? nan_windows.data() : nullptr,
                                            columns.data());
            for (std::int64_t x = r; meets_nan && x < nx - r; ++x) {
                if (nan_windows[x]) out[x] = cut_window_median(src, nx, ny, r, x, y, samples);
            }
            continue;
        }
        for (std::int64_t x = r; x < nx - r; ++x) {
            T window[49];
            int n = 0;
            bool nan = false;
            for (std::int64_t yy = y - r; yy <= y + r; ++yy) {
                for (std::int64_t xx = x - r; xx <= x + r; ++xx) {
                    window[n] = src[yy * nx + xx];
                    nan |= window[n] != window[n];
                    ++n;
                }
            }
            using ops = median_network::scalar_ops<T>;
            out[x] = nan      ? cut_window_median(src, nx, ny, r, x, y, samples)
                     : r == 1 ? median_network::median_9<ops>(window)
                     : r == 2 ? median_network::median_25<ops>(window)
                              : median_network::median_49<ops>(window);
        }
    }
}

}  // namespace median_fast

// median_filter_2d for dst apart from src (not overlapping it): the routes
// above by radius and size.
template <class T>
void median_filter_apart(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, T* dst) {
    assert(src != nullptr && dst != nullptr && src != dst);
    assert(nx >= 0 && ny >= 0 && radius >= 0);
    const std::int64_t r = std::min(radius, std::max(nx, ny));
    if (r == 0) {
        std::copy(src, src + nx * ny, dst);  // copies NaN payloads as median_of does
    } else if (r <= median_fast::largest_network_radius && nx > 2 * r && ny > 2 * r) {
        median_fast::median_by_networks(src, nx, ny, r, dst, true);
    } else if (r >= median_fast::first_histogram_radius && r <= median_histograms::largest_radius &&
               nx * ny < (std::int64_t(1) << 31)) {
        median_filter_histograms(src, nx, ny, r, dst);
    } else if (nx * ny < (std::int64_t(1) << 31)) {  // ranks and sample indices are 32-bit
        median_filter_ranks(src, nx, ny, r, dst);
    } else {
        median_filter_2d(src, nx, ny, r, dst);
    }
}

// The entry point: in place by the selecting kernel, apart by the fastest
// route. dst is src itself or does not overlap it.
template <class T>
void median_filter(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, T* dst) {
    if (src == dst) return median_filter_2d(src, nx, ny, radius, dst);
    median_filter_apart(src, nx, ny, radius, dst);
}

}  // namespace zorvan::kernels
