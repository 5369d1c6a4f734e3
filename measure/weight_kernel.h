#pragma once
// Radial weighting: every pixel of a plane combined with the value of a 1-D
// weight table at the pixel's scaled distance from a centre, linearly
// interpolated between entries. All arithmetic is in float, in the order
// written here.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "contract/data_types.h"
#include "simd/cpu_features.h"

namespace zorvan::kernels {

enum class weight_mode : std::int32_t { multiply = 0, add = 1, subtract = 2, replace = 3 };

inline bool is_weight_mode(std::int32_t mode) { return mode >= 0 && mode <= 3; }

// The table entry at radius sqrt(d2) (d2 the squared scaled distance). At
// and beyond the last index, and for NaN, the last entry holds. When the
// square root rounds up to the last index (or, for tables too long for float
// to count, past it), only the last entry is used: nothing past the table is
// read.
inline float table_weight(const float* table, std::int64_t last, float last_squared, float d2) {
    if (d2 >= last_squared || std::isnan(d2)) return table[last];
    const float r = std::sqrt(d2);
    const auto i0 = static_cast<std::int64_t>(r);
    if (i0 >= last) return table[last];
    const float f = r - std::floor(r);
    return table[i0] * (1.0f - f) + table[i0 + 1] * f;
}

// One pixel combined with the weight w; a complex pixel meets (w, 0), with
// the zero parts written out so that signed zeros, infinities and NaN come
// out as the complex formulas give them.
template <weight_mode Mode, class T>
inline T weighted(const T& p, float w) {
    if constexpr (dm::is_complex_v<T>) {
        if constexpr (Mode == weight_mode::multiply) {
            return T{p.re * w - p.im * 0.0f, p.re * 0.0f + p.im * w};
        } else if constexpr (Mode == weight_mode::add) {
            return T{p.re + w, p.im + 0.0f};
        } else if constexpr (Mode == weight_mode::subtract) {
            return T{p.re - w, p.im - 0.0f};
        } else {
            return T{w, 0.0f};
        }
    } else {
        if constexpr (Mode == weight_mode::multiply) {
            return p * w;
        } else if constexpr (Mode == weight_mode::add) {
            return p + w;
        } else if constexpr (Mode == weight_mode::subtract) {
            return p - w;
        } else {
            return w;
        }
    }
}

// The weights of x = first .. end-1 in a row whose squared scaled y offset
// is v_squared: the table at sqrt(u * u + v_squared), u = float(x - cx) *
// scale_x. Plain, and on AVX2 (weight_avx2.cpp, the same bits: the float
// square root is correctly rounded, the products and sums are the same).
inline void weight_span(const float* table, std::int64_t last, float last_squared, std::int64_t cx, float scale_x,
                        float v_squared, float* weights, std::int64_t first, std::int64_t end) {
    for (std::int64_t x = first; x < end; ++x) {
        const float u = static_cast<float>(x - cx) * scale_x;
        weights[x] = table_weight(table, last, last_squared, u * u + v_squared);
    }
}
void weight_span_avx2(const float* table, std::int64_t last, float last_squared, std::int64_t cx, float scale_x,
                      float v_squared, float* weights, std::int64_t first, std::int64_t end);

namespace detail {

// The weights of row v (its scaled y offset) for x = 0 .. nx-1. A weight
// depends on |x - cx| only within a row: float(-n) = -float(n), the product
// with the scale is negated exactly and its square is the same. So the
// columns from the centre on, and those left of it whose mirror 2 cx - x
// lies past the row, are computed; the rest copied from the mirror.
inline void row_weights(std::int64_t nx, std::int64_t cx, float v, float scale_x, const float* table,
                        std::int64_t last, float last_squared, float* weights) {
    const auto span = [&](std::int64_t first, std::int64_t end) {
        if (simd::avx2()) {
            weight_span_avx2(table, last, last_squared, cx, scale_x, v * v, weights, first, end);
        } else {
            weight_span(table, last, last_squared, cx, scale_x, v * v, weights, first, end);
        }
    };
    const std::int64_t right = cx < 0 ? 0 : cx < nx ? cx : nx;
    const std::int64_t unmirrored = std::min(right, std::max(std::int64_t{0}, 2 * cx - nx + 1));
    span(right, nx);
    span(0, unmirrored);
    for (std::int64_t x = unmirrored; x < right; ++x) weights[x] = weights[2 * cx - x];
}

template <weight_mode Mode, class T>
void weight_rows(const T* source, T* destination, std::int64_t nx, std::int64_t ny, const float* table,
                 std::int64_t table_size, std::int64_t cx, std::int64_t cy, float scale_x, float scale_y) {
    const std::int64_t last = table_size - 1;
    const float last_as_float = static_cast<float>(last);
    const float last_squared = last_as_float * last_as_float;
    std::vector<float> weights(static_cast<std::size_t>(nx));
    for (std::int64_t y = 0; y < ny; ++y) {
        const float v = static_cast<float>(y - cy) * scale_y;
        row_weights(nx, cx, v, scale_x, table, last, last_squared, weights.data());
        // Each output reads only its own input element: in place is safe.
        const T* in = source + y * nx;
        T* out = destination + y * nx;
        for (std::int64_t x = 0; x < nx; ++x) out[x] = weighted<Mode>(in[x], weights[x]);
    }
}

}  // namespace detail

// Combines the nx x ny pixels of `source` (packed rows) with the weights of
// `table` (table_size >= 1 entries) around (cx, cy) and stores them at the
// same index of `destination`, which may be `source` itself: each output
// reads only its own input element.
template <class T>
void weight_pixels(const T* source, T* destination, std::int64_t nx, std::int64_t ny, const float* table,
                   std::int64_t table_size, std::int64_t cx, std::int64_t cy, float scale_x, float scale_y,
                   weight_mode mode) {
    static_assert(std::is_same_v<T, float> || std::is_same_v<T, dm::complex8>);
    switch (mode) {
        case weight_mode::multiply:
            return detail::weight_rows<weight_mode::multiply>(source, destination, nx, ny, table, table_size, cx, cy,
                                                              scale_x, scale_y);
        case weight_mode::add:
            return detail::weight_rows<weight_mode::add>(source, destination, nx, ny, table, table_size, cx, cy,
                                                         scale_x, scale_y);
        case weight_mode::subtract:
            return detail::weight_rows<weight_mode::subtract>(source, destination, nx, ny, table, table_size, cx, cy,
                                                              scale_x, scale_y);
        case weight_mode::replace:
            return detail::weight_rows<weight_mode::replace>(source, destination, nx, ny, table, table_size, cx, cy,
                                                             scale_x, scale_y);
    }
}

}  // namespace zorvan::kernels
