#pragma once
// A radial profile spread over a width x height image: each pixel takes the
// profile at its elliptically scaled distance from the centre
// (width div 2, height div 2), linearly interpolated between samples.
// Samples at positions `length` and beyond count as 0 and are never read,
// so the value falls linearly from P[length-1] to 0 between the radii
// length-1 and length, and is 0 beyond.

#include <math.h>

#include <cstdint>

#include "fourier/parallel.h"

namespace zorvan::kernels {

// All arithmetic in double precision; the value is rounded to T only at
// the store. Parallel over rows, x in increasing order within a row.
template <class T>
void radial_warp(const T* profile, std::int32_t length, double aspect_x, double aspect_y, T* result,
                 std::int32_t width, std::int32_t height) {
    const double centre_x = static_cast<double>(width / 2);
    const double centre_y = static_cast<double>(height / 2);
    const double outer = static_cast<double>(length);
// A square root, a floor and an interpolation per pixel: about 16 copies' work.
#pragma omp parallel for schedule(static) if (worth_threads(std::int64_t{width} * height, 16))
    for (std::int32_t y = 0; y < height; ++y) {
        const double dy = (static_cast<double>(y) - centre_y) * aspect_y;
        T* row = result + std::int64_t{y} * width;
        for (std::int32_t x = 0; x < width; ++x) {
            const double dx = (static_cast<double>(x) - centre_x) * aspect_x;
            const double r = ::sqrt(dx * dx + dy * dy);
            // Written so that a NaN radius also gives 0 and never reaches
            // the conversion to an integer.
            if (!(r <= outer)) {
                row[x] = T(0);
                continue;
            }
            const auto i = static_cast<std::int32_t>(::floor(r));
            const double f = r - static_cast<double>(i);
            const double lower = i < length ? static_cast<double>(profile[i]) : 0.0;
            const double upper = i < length - 1 ? static_cast<double>(profile[i + 1]) : 0.0;
            row[x] = static_cast<T>(lower * (1.0 - f) + upper * f);
        }
    }
}

}  // namespace zorvan::kernels
