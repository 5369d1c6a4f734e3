#pragma once
// The maximum filter: every pixel of a 2-D image becomes the largest pixel of
// the square window of radius r around it, the window cut to the image.
//
// A value v replaces a running maximum m only when v > m, and every maximum
// starts from the type's lowest value: NaN never wins, and a window of NaN
// alone gives the lowest value. The maximum of a window is then the same
// whichever way its pixels are grouped, except that of +0 and -0 either may
// be returned; that freedom is what lets the window be split below.
//
// Separable: a pass along the columns (source to destination), then one along
// the rows (destination in place), each with the running maxima of van Herk
// (Pattern Recogn. Lett. 13, 1992) and Gil & Werman (IEEE PAMI 15, 1993):
// a line is padded with r lowest values at each end and cut into blocks of
// W = 2r+1; the window starting at padded position p is the suffix of p's
// block from p on, joined with the prefix of the next block up to p+W-1.
// About three comparisons per pixel and pass, whatever the radius.
//
// maximum_filter_2d is the portable kernel; maximum_filter_2d_avx2
// (maximum_avx2.cpp) the same on AVX2 for every pixel type; maximum_filter
// picks one.

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "simd/cpu_features.h"

namespace zorvan::kernels {

// The neutral element of the maximum: the most negative finite value of
// the type, 0 for unsigned types.
template <class T>
inline constexpr T lowest_value = std::numeric_limits<T>::lowest();

namespace detail {

template <class T>
inline T larger(T v, T m) {
    return v > m ? v : m;
}

// The column pass keeps the suffix maxima of min(2r+1, ny) rows. It runs on
// whole rows when those take at most 2^21 elements, and otherwise in strips
// of 512 columns, so that its memory stays bounded whatever the radius.
inline bool maximum_whole_rows(std::int64_t nx, std::int64_t ny, std::int64_t r) {
    return std::min(2 * r + 1, ny) * nx <= (std::int64_t{1} << 21);
}
inline constexpr std::int64_t maximum_strip = 512;

// Window maxima along the columns [x0, x1) of an nx x ny image of packed
// rows, from src into dst. Padded position p holds source row p - r (the
// lowest value outside the image); output row y is the window starting at
// p = y. `suffixes` holds min(2r+1, ny) rows of x1 - x0 elements, `prefix`
// one row.
template <class T>
void maximum_columns(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t r, std::int64_t x0,
                     std::int64_t x1, T* dst, T* suffixes, T* prefix) {
    const std::int64_t window = 2 * r + 1;
    const std::int64_t width = x1 - x0;
    const T lowest = lowest_value<T>;
    for (std::int64_t block = 0; block < ny; block += window) {
        const std::int64_t outputs = std::min(window, ny - block);
        // Suffix maxima, backward from the block's last source row; those
        // beyond its last output row gather in that row's suffix.
        T* carry = suffixes + width * (outputs - 1);
        std::fill(carry, carry + width, lowest);
        for (std::int64_t p = std::min(block + window - 1, ny - 1 + r); p >= block + outputs - 1; --p) {
            if (p < r) break;
            const T* row = src + nx * (p - r) + x0;
            for (std::int64_t x = 0; x < width; ++x) carry[x] = larger(row[x], carry[x]);
        }
        for (std::int64_t t = outputs - 2; t >= 0; --t) {
            T* suffix = suffixes + width * t;
            const T* next = suffix + width;
            if (block + t < r) {
                std::copy(next, next + width, suffix);
                continue;
            }
            const T* row = src + nx * (block + t - r) + x0;
            for (std::int64_t x = 0; x < width; ++x) suffix[x] = larger(row[x], next[x]);
        }
        // Output `block` is the whole block; the others join a suffix with
        // the prefix of the next block.
        std::copy(suffixes, suffixes + width, dst + nx * block + x0);
        std::fill(prefix, prefix + width, lowest);
        for (std::int64_t t = 1; t < outputs; ++t) {
            const std::int64_t source_row = block + window + t - 1 - r;
            const T* suffix = suffixes + width * t;
            T* out = dst + nx * (block + t) + x0;
            if (source_row < ny) {
                const T* row = src + nx * source_row + x0;
                for (std::int64_t x = 0; x < width; ++x) prefix[x] = larger(row[x], prefix[x]);
            }
            for (std::int64_t x = 0; x < width; ++x) out[x] = larger(prefix[x], suffix[x]);
        }
    }
}

// Window maxima along one padded line: `line` holds n + 2r elements, the
// line's n values after r lowest values and before r more; out[i] is the
// maximum of line[i .. i+2r]. out may be line itself (each output lands
// where nothing is read any more). `suffixes` holds min(2r+1, n) elements.
template <class T>
void maximum_line(const T* line, std::int64_t n, std::int64_t r, T* out, T* suffixes) {
    const std::int64_t window = 2 * r + 1;
    for (std::int64_t block = 0; block < n; block += window) {
        const std::int64_t outputs = std::min(window, n - block);
        T m = lowest_value<T>;
        for (std::int64_t p = std::min(block + window, n + 2 * r) - 1; p >= block + outputs; --p) {
            m = larger(line[p], m);
        }
        for (std::int64_t t = outputs - 1; t >= 0; --t) {
            m = larger(line[block + t], m);
            suffixes[t] = m;
        }
        out[block] = suffixes[0];
        m = lowest_value<T>;
        for (std::int64_t t = 1; t < outputs; ++t) {
            m = larger(line[block + window + t - 1], m);
            out[block + t] = larger(m, suffixes[t]);
        }
    }
}

}  // namespace detail

// Maximum over the (2*radius+1)^2 window of every pixel of an nx x ny image
// of packed rows, cut to the image. src and dst must not overlap.
//
// A radius beyond an image side reaches the whole side, so it is cut to that
// side. Memory beyond the images: (min(2r+1, ny) + 1) * nx + nx + 2r
// elements, or with strips (min(2r+1, ny) + 1) * 512 + nx + 2r.
template <class T>
void maximum_filter_2d(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, T* dst) {
    assert(src != nullptr && dst != nullptr);
    assert(nx >= 0 && ny >= 0 && radius >= 0);
    if (nx == 0 || ny == 0) return;
    const std::int64_t ry = std::min(radius, ny);
    const std::int64_t rx = std::min(radius, nx);
    const std::int64_t strip = detail::maximum_whole_rows(nx, ny, ry) ? nx : std::min(detail::maximum_strip, nx);
    std::vector<T> suffixes(static_cast<std::size_t>(std::min(2 * ry + 1, ny) * strip));
    std::vector<T> prefix(static_cast<std::size_t>(strip));
    for (std::int64_t x0 = 0; x0 < nx; x0 += strip) {
        detail::maximum_columns(src, nx, ny, ry, x0, std::min(nx, x0 + strip), dst, suffixes.data(), prefix.data());
    }
    std::vector<T> line(static_cast<std::size_t>(nx + 2 * rx), lowest_value<T>);
    suffixes.resize(static_cast<std::size_t>(std::min(2 * rx + 1, nx)));
    for (std::int64_t y = 0; y < ny; ++y) {
        T* row = dst + nx * y;
        std::copy(row, row + nx, line.begin() + rx);
        detail::maximum_line(line.data(), nx, rx, row, suffixes.data());
    }
}

// maximum_filter_2d on AVX2, with the same arguments and results, on whole
// rows only (memory: min(2r+1, ny) + 3 rows).
void maximum_filter_2d_avx2(const float* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, float* dst);
void maximum_filter_2d_avx2(const double* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, double* dst);
void maximum_filter_2d_avx2(const std::int8_t* src, std::int64_t nx, std::int64_t ny, std::int64_t radius,
                            std::int8_t* dst);
void maximum_filter_2d_avx2(const std::uint8_t* src, std::int64_t nx, std::int64_t ny, std::int64_t radius,
                            std::uint8_t* dst);
void maximum_filter_2d_avx2(const std::int16_t* src, std::int64_t nx, std::int64_t ny, std::int64_t radius,
                            std::int16_t* dst);
void maximum_filter_2d_avx2(const std::uint16_t* src, std::int64_t nx, std::int64_t ny, std::int64_t radius,
                            std::uint16_t* dst);
void maximum_filter_2d_avx2(const std::int32_t* src, std::int64_t nx, std::int64_t ny, std::int64_t radius,
                            std::int32_t* dst);
void maximum_filter_2d_avx2(const std::uint32_t* src, std::int64_t nx, std::int64_t ny, std::int64_t radius,
                            std::uint32_t* dst);

// The AVX2 body when the CPU has it and its row buffers fit (see
// maximum_whole_rows), the portable kernel otherwise.
template <class T>
void maximum_filter(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, T* dst) {
    if (simd::avx2() && detail::maximum_whole_rows(nx, ny, std::min(radius, ny))) {
        return maximum_filter_2d_avx2(src, nx, ny, radius, dst);
    }
    maximum_filter_2d(src, nx, ny, radius, dst);
}

}  // namespace zorvan::kernels
