#pragma once
// A radial profile spread over a width x height image: each pixel takes the
// profile at its elliptically scaled distance from the centre
// (width div 2, height div 2), linearly interpolated between samples.
// Samples at positions `length` and beyond count as 0 and are never read,
// so the value falls linearly from P[length-1] to 0 between the radii
// length-1 and length, and is 0 beyond.
//
// Every value is
//   r = sqrt(dx * dx + dy * dy), dx = (x - cx) * aspect_x, dy = (y - cy) * aspect_y,
//   0 when r > length (or NaN), else P[i] * (1 - f) + P[i + 1] * f, i = floor(r), f = r - i,
// in double precision, rounded to T at the store. A value depends on |x - cx|
// and |y - cy| only (a negated offset gives the negated product, and the
// same square), so each row right of the centre column is computed and its
// left part copied from the mirror, and each row below the centre row is a
// copy of its mirror above: one square root per distinct (|dx|, |dy|).

#include <math.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "fourier/parallel.h"
#include "simd/cpu_features.h"

namespace zorvan::kernels {

// The value at radius r (r = sqrt(dx * dx + dy_squared)) of a profile of
// `length` samples, samples at `length` and beyond 0 and never read.
template <class T>
double warp_value(const T* profile, std::int32_t length, double r) {
    // Written so that a NaN radius also gives 0 and never reaches the
    // conversion to an integer.
    if (!(r <= static_cast<double>(length))) return 0.0;
    const auto i = static_cast<std::int32_t>(::floor(r));
    const double f = r - static_cast<double>(i);
    const double lower = i < length ? static_cast<double>(profile[i]) : 0.0;
    const double upper = i < length - 1 ? static_cast<double>(profile[i + 1]) : 0.0;
    return lower * (1.0 - f) + upper * f;
}

// The values of x = first .. end-1 of a row whose squared y offset is
// dy_squared. Plain, and on AVX2 (radial_warp_avx2.cpp, the same bits:
// double square roots and floors are exact operations, and the products and
// sums are the same).
template <class T>
void warp_span(const T* profile, std::int32_t length, double centre_x, double aspect_x, double dy_squared, T* row,
               std::int32_t first, std::int32_t end) {
    for (std::int32_t x = first; x < end; ++x) {
        const double dx = (static_cast<double>(x) - centre_x) * aspect_x;
        row[x] = static_cast<T>(warp_value(profile, length, ::sqrt(dx * dx + dy_squared)));
    }
}
void warp_span_avx2(const float* profile, std::int32_t length, double centre_x, double aspect_x, double dy_squared,
                    float* row, std::int32_t first, std::int32_t end);
void warp_span_avx2(const double* profile, std::int32_t length, double centre_x, double aspect_x, double dy_squared,
                    double* row, std::int32_t first, std::int32_t end);
// One row: the columns from the centre on, and those left of it whose
// mirror 2 cx - x lies past the last column, computed; the rest copied.
template <class T>
void warp_row(const T* profile, std::int32_t length, double aspect_x, double dy_squared, T* row, std::int32_t width) {
    const std::int32_t centre = width / 2;
    // x < unmirrored has its mirror 2 centre - x at width or beyond: 0 for
    // an even width, none for an odd one.
    const std::int32_t unmirrored = std::max(0, 2 * centre - width + 1);
    const double centre_x = static_cast<double>(centre);
    const auto span = [&](std::int32_t first, std::int32_t end) {
        if (simd::avx2()) {
            warp_span_avx2(profile, length, centre_x, aspect_x, dy_squared, row, first, end);
        } else {
            warp_span(profile, length, centre_x, aspect_x, dy_squared, row, first, end);
        }
    };
    span(centre, width);
    span(0, unmirrored);
    for (std::int32_t x = unmirrored; x < centre; ++x) row[x] = row[2 * centre - x];
}

// All arithmetic in double precision; the value is rounded to T only at
// the store. Parallel over the rows down to the centre row, each writing
// its mirror below too, so every row is written by one thread.
template <class T>
void radial_warp(const T* profile, std::int32_t length, double aspect_x, double aspect_y, T* result,
                 std::int32_t width, std::int32_t height) {
    const std::int32_t centre = height / 2;
    const double centre_y = static_cast<double>(centre);
// A quarter of the square roots, floors and interpolations, four at a time,
// and copies: measured at 1.5 plain passes' time at 4096 x 4096, so counted
// as 2 (threads from 2048 x 2048 on).
#pragma omp parallel for schedule(static) if (worth_threads(std::int64_t{width} * height, 2))
    for (std::int32_t y = 0; y <= centre; ++y) {
        if (y >= height) continue;
        const double dy = (static_cast<double>(y) - centre_y) * aspect_y;
        T* row = result + std::int64_t{y} * width;
        warp_row(profile, length, aspect_x, dy * dy, row, width);
        const std::int32_t mirror = 2 * centre - y;
        if (mirror != y && mirror < height) {
            std::memcpy(result + std::int64_t{mirror} * width, row, sizeof(T) * static_cast<std::size_t>(width));
        }
    }
}

}  // namespace zorvan::kernels
