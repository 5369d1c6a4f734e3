// The 3 x 3, 5 x 5 and 7 x 7 median networks over AVX2 registers: 8 floats or 4
// doubles of one row at a time, from unaligned loads.

#include <immintrin.h>

#include "filters/median/median_network_kernel.h"

namespace zorvan::kernels::median_network {

namespace {

struct float_lanes {
    using V = __m256;
    static constexpr std::int64_t width = 8;
    static V load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, V v) { _mm256_storeu_ps(p, v); }
    static V min(V a, V b) { return _mm256_min_ps(a, b); }
    static V max(V a, V b) { return _mm256_max_ps(a, b); }
    static V nan_lanes(V a, V b) { return _mm256_or_ps(a, _mm256_cmp_ps(b, b, _CMP_UNORD_Q)); }
    static V unordered(V a, V b) { return _mm256_cmp_ps(a, b, _CMP_UNORD_Q); }  // a or b NaN
    static V either(V a, V b) { return _mm256_or_ps(a, b); }
    static V mean(V a, V b) { return _mm256_mul_ps(_mm256_add_ps(a, b), _mm256_set1_ps(0.5f)); }
    static int bits(V a) { return _mm256_movemask_ps(a); }
};

// One value at a time, for the cut windows (kept here, apart from the
// header's scalar_ops, so that nothing inline leaves this object).
template <class T>
struct single_lanes {
    using V = T;
    static T min(T a, T b) { return b < a ? b : a; }
    static T max(T a, T b) { return a < b ? b : a; }
};

struct double_lanes {
    using V = __m256d;
    static constexpr std::int64_t width = 4;
    static V load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
    static V min(V a, V b) { return _mm256_min_pd(a, b); }
    static V max(V a, V b) { return _mm256_max_pd(a, b); }
    static V nan_lanes(V a, V b) { return _mm256_or_pd(a, _mm256_cmp_pd(b, b, _CMP_UNORD_Q)); }
    static V unordered(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_UNORD_Q); }  // a or b NaN
    static V either(V a, V b) { return _mm256_or_pd(a, b); }
    static V mean(V a, V b) { return _mm256_mul_pd(_mm256_add_pd(a, b), _mm256_set1_pd(0.5)); }
    static int bits(V a) { return _mm256_movemask_pd(a); }
};

// The window of the pixels at p[0..width), as loads in row order. Checked:
// `nan_mask` gets a bit for each pixel whose window holds NaN.
template <class Lanes, int r, bool checked, class T, std::size_t... I>
inline typename Lanes::V median_at(const T* p, std::int64_t nx, int& nan_mask, std::index_sequence<I...>) {
    constexpr int side = 2 * r + 1;
    typename Lanes::V w[] = {Lanes::load(p + (int(I) / side - r) * nx + (int(I) % side - r))...};
    if constexpr (checked) {
        typename Lanes::V nan = Lanes::unordered(w[0], w[0]);
        ((nan = Lanes::nan_lanes(nan, w[I])), ...);
        nan_mask = Lanes::bits(nan);
    }
    if constexpr (r == 1) {
        return median_9<Lanes>(w);
    } else if constexpr (r == 2) {
        return median_25<Lanes>(w);
    } else {
        return median_49<Lanes>(w);
    }
}

template <class Lanes, int r, bool checked, class T>
void median_row(const T* src, std::int64_t nx, std::int64_t y, T* dst, std::uint8_t* nan_windows) {
    constexpr auto window = std::make_index_sequence<(2 * r + 1) * (2 * r + 1)>();
    const T* in = src + y * nx;
    T* out = dst + y * nx;
    const auto group = [&](std::int64_t x) {
        int nan_mask = 0;
        Lanes::store(out + x, median_at<Lanes, r, checked>(in + x, nx, nan_mask, window));
        if constexpr (checked) {
            for (int lane = 0; lane < int(Lanes::width); ++lane) nan_windows[x + lane] |= (nan_mask >> lane) & 1;
        }
    };
    // The last group overlaps the one before when the width does not divide:
    // it computes the same values again.
    const std::int64_t end = nx - r;
    std::int64_t x = r;
    for (; x + Lanes::width <= end; x += Lanes::width) group(x);
    if (x < end) group(end - Lanes::width);
}

template <class Lanes, int r, class T>
void median_row(const T* src, std::int64_t nx, std::int64_t y, T* dst, std::uint8_t* nan_windows) {
    if (nan_windows == nullptr) {
        median_row<Lanes, r, false>(src, nx, y, dst, nullptr);
    } else {
        median_row<Lanes, r, true>(src, nx, y, dst, nan_windows);
    }
}

// Radius 1 on a row whose windows hold no NaN, by sorted columns (Paeth
// 1990): each column of rows y-1 .. y+1 is sorted once into `columns`
// (least, middle and most, nx each), and each window's median is then
// median_9's on the three sorted columns at x-1, x and x+1: the median of
// the largest least, the median of the middles and the smallest most. 16
// operations a pixel instead of 30; the same median (up to the sign of a
// zero in a tie), as the median is the same whichever way the window is cut
// into triples. The row goes in pieces of about 512 pixels, so that the
// sorted columns stay in the first-level cache.
template <class Lanes, class T>
void median_row_by_columns(const T* src, std::int64_t nx, std::int64_t y, T* dst, T* columns) {
    using V = typename Lanes::V;
    constexpr std::int64_t width = Lanes::width;
    constexpr std::int64_t piece = 512;
    const T* above = src + (y - 1) * nx;
    const T* row = src + y * nx;
    const T* below = src + (y + 1) * nx;
    T* out = dst + y * nx;
    const std::int64_t end = nx - 1;  // outputs at x = 1 .. nx-2; nx - 2 >= width
    for (std::int64_t x0 = 1; x0 < end;) {
        // Outputs [x0, x1) from the columns [x0 - 1, x1 + 1); a remainder of
        // less than 64 joins the piece before, so every piece spans a vector.
        const std::int64_t x1 = end - (x0 + piece) < 64 ? end : x0 + piece;
        const std::int64_t first = x0 - 1;
        const std::int64_t count = x1 + 1 - first;
        // The sorted column x at least[x - first], middle[..], most[..].
        T* const least = columns;
        T* const middle = columns + nx;
        T* const most = columns + 2 * nx;
        const auto at = [first](T* sorted, std::int64_t x) { return sorted + (x - first); };
        // A last group that overlaps the one before computes the same values again.
        const auto sort_group = [&](std::int64_t x) {
            V lo, mid, hi;
            sort_3<Lanes>(Lanes::load(above + x), Lanes::load(row + x), Lanes::load(below + x), lo, mid, hi);
            Lanes::store(at(least, x), lo);
            Lanes::store(at(middle, x), mid);
            Lanes::store(at(most, x), hi);
        };
        std::int64_t x = first;
        for (; x + width <= first + count; x += width) sort_group(x);
        if (x < first + count) sort_group(first + count - width);
        const auto median_group = [&](std::int64_t x) {
            const V low = Lanes::max(Lanes::max(Lanes::load(at(least, x - 1)), Lanes::load(at(least, x))),
                                     Lanes::load(at(least, x + 1)));
            const V high = Lanes::min(Lanes::min(Lanes::load(at(most, x - 1)), Lanes::load(at(most, x))),
                                      Lanes::load(at(most, x + 1)));
            const V mid = median_3<Lanes>(Lanes::load(at(middle, x - 1)), Lanes::load(at(middle, x)),
                                          Lanes::load(at(middle, x + 1)));
            Lanes::store(out + x, median_3<Lanes>(low, mid, high));
        };
        for (x = x0; x + width <= x1; x += width) median_group(x);
        if (x < x1) median_group(x1 - width);
        x0 = x1;
    }
}

// Radius 1 over the rows [y0, y1) (1 <= y0, y1 <= ny - 1), two rows at a
// time: rows y and y + 1 share the pair of rows y and y + 1 in their columns,
// which is sorted once and merged with row y - 1 for the one and row y + 2
// for the other (10 operations for two sorted columns instead of 12). Each
// source row is read once for the pair, and the check for NaN rides on those
// loads, so that the image is read in one pass while the sorted columns of
// a piece stay in the first-level cache. A row whose windows may hold NaN
// gets nan_rows[y] = 1 and a result to be replaced. The first and last
// pixels of the rows (x = 0 and nx - 1) are done too.
template <class Lanes, class T>
void median_rows_by_column_pairs(const T* src, std::int64_t nx, std::int64_t y0, std::int64_t y1, T* dst,
                                 std::uint8_t* nan_rows) {
    using V = typename Lanes::V;
    constexpr std::int64_t width = Lanes::width;
    constexpr std::int64_t piece = 512;
    constexpr std::int64_t stride = piece + 64 + 2;  // the longest piece's columns
    alignas(32) T columns[6 * stride];
    T* const least_a = columns;  // rows y-1 .. y+1
    T* const middle_a = columns + stride;
    T* const most_a = columns + 2 * stride;
    T* const least_b = columns + 3 * stride;  // rows y .. y+2
    T* const middle_b = columns + 4 * stride;
    T* const most_b = columns + 5 * stride;
    const std::int64_t end = nx - 1;  // outputs at x = 1 .. nx-2; nx - 2 >= width
    for (std::int64_t y = y0; y < y1; y += 2) {
        const bool pair = y + 1 < y1;
        const T* above = src + (y - 1) * nx;
        const T* row = src + y * nx;
        const T* next = src + (y + 1) * nx;
        const T* below = pair ? src + (y + 2) * nx : next;  // a single row: column b repeats a
        // The next pair's new rows are fetched while this pair computes, so
        // that the memory traffic overlaps the arithmetic (row y1 is the
        // last one read).
        const T* ahead = src + (y + 3 < y1 ? y + 3 : y1) * nx;
        const T* further = src + (y + 4 < y1 ? y + 4 : y1) * nx;
        V nan = Lanes::unordered(Lanes::load(row), Lanes::load(row));
        for (std::int64_t x0 = 1; x0 < end;) {
            const std::int64_t x1 = end - (x0 + piece) < 64 ? end : x0 + piece;
            const std::int64_t first = x0 - 1;
            const std::int64_t count = x1 + 1 - first;
            const auto sort_group = [&](std::int64_t x) {
                const V a = Lanes::load(above + x), b = Lanes::load(row + x), c = Lanes::load(next + x),
                        d = Lanes::load(below + x);
                _mm_prefetch(reinterpret_cast<const char*>(ahead + x), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(further + x), _MM_HINT_T0);
                nan = Lanes::either(nan, Lanes::either(Lanes::unordered(a, d), Lanes::unordered(b, c)));
                const V low = Lanes::min(b, c), high = Lanes::max(b, c);
                const std::int64_t at = x - first;
                // a merged into (low, high), as sort_3 does
                const V rest_a = Lanes::min(high, a);
                Lanes::store(most_a + at, Lanes::max(high, a));
                Lanes::store(least_a + at, Lanes::min(low, rest_a));
                Lanes::store(middle_a + at, Lanes::max(low, rest_a));
                const V rest_b = Lanes::min(high, d);
                Lanes::store(most_b + at, Lanes::max(high, d));
                Lanes::store(least_b + at, Lanes::min(low, rest_b));
                Lanes::store(middle_b + at, Lanes::max(low, rest_b));
            };
            // A last group that overlaps the one before computes the same values again.
            std::int64_t x = first;
            for (; x + width <= first + count; x += width) sort_group(x);
            if (x < first + count) sort_group(first + count - width);
            const auto median_group = [&](const T* least, const T* middle, const T* most, T* out, std::int64_t x) {
                const std::int64_t at = x - first;
                const V low = Lanes::max(Lanes::max(Lanes::load(least + at - 1), Lanes::load(least + at)),
                                         Lanes::load(least + at + 1));
                const V high = Lanes::min(Lanes::min(Lanes::load(most + at - 1), Lanes::load(most + at)),
                                          Lanes::load(most + at + 1));
                const V mid = median_3<Lanes>(Lanes::load(middle + at - 1), Lanes::load(middle + at),
                                              Lanes::load(middle + at + 1));
                Lanes::store(out + x, median_3<Lanes>(low, mid, high));
            };
            T* out = dst + y * nx;
            for (x = x0; x + width <= x1; x += width) median_group(least_a, middle_a, most_a, out, x);
            if (x < x1) median_group(least_a, middle_a, most_a, out, x1 - width);
            if (pair) {
                out += nx;
                for (x = x0; x + width <= x1; x += width) median_group(least_b, middle_b, most_b, out, x);
                if (x < x1) median_group(least_b, middle_b, most_b, out, x1 - width);
            }
            x0 = x1;
        }
        // The first and last pixels of the rows, windows of six cut by the
        // image, while their rows are in cache; right unless NaN was met.
        for (std::int64_t at = y; at < y + (pair ? 2 : 1); ++at) {
            const T* up = src + (at - 1) * nx;
            const T* here = src + at * nx;
            const T* down = src + (at + 1) * nx;
            const std::int64_t lefts[] = {0, nx - 2};  // the windows' first columns
            for (const std::int64_t x : lefts) {
                T w[6] = {up[x], up[x + 1], here[x], here[x + 1], down[x], down[x + 1]};
                run_all<single_lanes<T>, network_6>(w);
                dst[at * nx + (x == 0 ? 0 : nx - 1)] = (w[3] + w[2]) * T(0.5);
            }
        }
        if (Lanes::bits(nan) != 0) {  // sign bits: the lanes that met NaN
            nan_rows[y] = 1;
            if (pair) nan_rows[y + 1] = 1;
        }
    }
}

// Radius 1 on the first or last row (`row` and its one neighbour `other`),
// x from 1 to nx - 2: six samples a window, the mean of the middle two as
// median_of takes it ((upper + lower) * 0.5 in T). Windows holding NaN get
// nan_windows[x] = 1 and need another median.
template <class Lanes, class T>
void median_edge_row(const T* row, const T* other, std::int64_t nx, T* out, std::uint8_t* nan_windows) {
    using V = typename Lanes::V;
    const auto group = [&](std::int64_t x) {
        V w[6] = {Lanes::load(row + x - 1), Lanes::load(row + x), Lanes::load(row + x + 1),
                  Lanes::load(other + x - 1), Lanes::load(other + x), Lanes::load(other + x + 1)};
        const V nan = Lanes::either(Lanes::either(Lanes::unordered(w[0], w[1]), Lanes::unordered(w[2], w[3])),
                                    Lanes::unordered(w[4], w[5]));
        const int nan_mask = Lanes::bits(nan);
        for (int lane = 0; nan_mask != 0 && lane < int(Lanes::width); ++lane) nan_windows[x + lane] |= (nan_mask >> lane) & 1;
        run_all<Lanes, network_6>(w);
        Lanes::store(out + x, Lanes::mean(w[3], w[2]));
    };
    const std::int64_t end = nx - 1;  // nx - 2 >= width
    std::int64_t x = 1;
    for (; x + Lanes::width <= end; x += Lanes::width) group(x);
    if (x < end) group(end - Lanes::width);
}

template <class Lanes, class T>
bool holds_nan(const T* values, std::int64_t n) {
    typename Lanes::V nan = Lanes::unordered(Lanes::load(values), Lanes::load(values));  // n >= width
    std::int64_t i = Lanes::width;
    for (; i + Lanes::width <= n; i += Lanes::width) nan = Lanes::nan_lanes(nan, Lanes::load(values + i));
    bool any = Lanes::bits(nan) != 0;
    for (; i < n; ++i) any |= values[i] != values[i];
    return any;
}

}  // namespace

bool holds_nan_avx2(const float* values, std::int64_t n) {
    if (n < float_lanes::width) {
        bool any = false;
        for (std::int64_t i = 0; i < n; ++i) any |= values[i] != values[i];
        return any;
    }
    return holds_nan<float_lanes>(values, n);
}
bool holds_nan_avx2(const double* values, std::int64_t n) {
    if (n < double_lanes::width) {
        bool any = false;
        for (std::int64_t i = 0; i < n; ++i) any |= values[i] != values[i];
        return any;
    }
    return holds_nan<double_lanes>(values, n);
}

void median_row_avx2(const float* src, std::int64_t nx, std::int64_t y, std::int64_t r, float* dst,
                     std::uint8_t* nan_windows, float* columns) {
    if (r == 1 && nan_windows == nullptr) {
        median_row_by_columns<float_lanes>(src, nx, y, dst, columns);
    } else if (r == 1) {
        median_row<float_lanes, 1>(src, nx, y, dst, nan_windows);
    } else if (r == 2) {
        median_row<float_lanes, 2>(src, nx, y, dst, nan_windows);
    } else {
        median_row<float_lanes, 3>(src, nx, y, dst, nan_windows);
    }
}

void median_3x3_rows_avx2(const float* src, std::int64_t nx, std::int64_t y0, std::int64_t y1, float* dst,
                          std::uint8_t* nan_rows) {
    median_rows_by_column_pairs<float_lanes>(src, nx, y0, y1, dst, nan_rows);
}

void median_3x3_rows_avx2(const double* src, std::int64_t nx, std::int64_t y0, std::int64_t y1, double* dst,
                          std::uint8_t* nan_rows) {
    median_rows_by_column_pairs<double_lanes>(src, nx, y0, y1, dst, nan_rows);
}

void median_3x3_edge_row_avx2(const float* row, const float* other, std::int64_t nx, float* out,
                              std::uint8_t* nan_windows) {
    median_edge_row<float_lanes>(row, other, nx, out, nan_windows);
}

void median_3x3_edge_row_avx2(const double* row, const double* other, std::int64_t nx, double* out,
                              std::uint8_t* nan_windows) {
    median_edge_row<double_lanes>(row, other, nx, out, nan_windows);
}

void median_row_avx2(const double* src, std::int64_t nx, std::int64_t y, std::int64_t r, double* dst,
                     std::uint8_t* nan_windows, double* columns) {
    if (r == 1 && nan_windows == nullptr) {
        median_row_by_columns<double_lanes>(src, nx, y, dst, columns);
    } else if (r == 1) {
        median_row<double_lanes, 1>(src, nx, y, dst, nan_windows);
    } else if (r == 2) {
        median_row<double_lanes, 2>(src, nx, y, dst, nan_windows);
    } else {
        median_row<double_lanes, 3>(src, nx, y, dst, nan_windows);
    }
}

}  // namespace zorvan::kernels::median_network
