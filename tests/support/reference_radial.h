#pragma once
// The radial survey, the radial warp and the radial weighting as first written: one hypot (or one
// square root) per pixel, in storage order, every ring sum updated in memory.
// The references for the kernels that compute each distinct radius once.

#include <math.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "measure/radial_survey_kernel.h"
#include "measure/weight_kernel.h"

namespace zorvan::testing::reference {

template <class P>
void radial_survey_per_pixel(const P* pixels, std::int64_t nx, std::int64_t ny, std::int64_t cx, std::int64_t cy,
                             P scale_x, P scale_y, kernels::ring_layout layout, P* result, std::int64_t row_pitch) {
    const std::int64_t n = layout.count;
    P* const minimum = result;
    P* const maximum = result + row_pitch;
    P* const weight = result + 2 * row_pitch;
    P* const sum = result + 3 * row_pitch;
    P* const square_sum = result + 4 * row_pitch;
    for (std::int64_t i = 0; i < n; ++i) {
        const bool reachable = i < layout.nearest;
        minimum[i] = reachable ? std::numeric_limits<P>::max() : P(0);
        maximum[i] = reachable ? -std::numeric_limits<P>::max() : P(0);
        weight[i] = sum[i] = square_sum[i] = P(0);
    }
    for (std::int64_t y = 0; y < ny; ++y) {
        for (std::int64_t x = 0; x < nx; ++x) {
            const P p = pixels[y * nx + x];
            const P along_x = scale_x * static_cast<P>(x - cx);
            const P along_y = scale_y * static_cast<P>(y - cy);
            const auto r = static_cast<P>(std::hypot(static_cast<double>(along_x), static_cast<double>(along_y)));
            const auto k = static_cast<std::int64_t>(r + P(0.5));
            const auto i0 = static_cast<std::int64_t>(r);
            const std::int64_t i1 = i0 + 1;
            const P f = r - static_cast<P>(i0);
            const P g = P(1) - f;
            if (k < n) {
                if (p < minimum[k]) minimum[k] = p;
                if (p > maximum[k]) maximum[k] = p;
            }
            if (i0 < n) {
                weight[i0] += g;
                sum[i0] += p * g;
                square_sum[i0] += p * p * g;
            }
            if (i1 < n) {
                weight[i1] += f;
                sum[i1] += p * f;
                square_sum[i1] += p * p * f;
            }
        }
    }
    for (std::int64_t i = 0; i < n; ++i) {
        const double w = weight[i];
        const double s = sum[i];
        const double q = square_sum[i];
        const double mean = w > 0.0 ? s / w : 0.0;
        double d = q - mean * mean * w;
        if (d < 0.0) d = 0.0;
        const double den = w > 1.0 ? w - 1.0 : w;
        sum[i] = static_cast<P>(mean);
        square_sum[i] = static_cast<P>(std::sqrt(d / den));
    }
}

template <class T>
void radial_warp_per_pixel(const T* profile, std::int32_t length, double aspect_x, double aspect_y, T* result,
                           std::int32_t width, std::int32_t height) {
    const double centre_x = static_cast<double>(width / 2);
    const double centre_y = static_cast<double>(height / 2);
    const double outer = static_cast<double>(length);
    for (std::int32_t y = 0; y < height; ++y) {
        const double dy = (static_cast<double>(y) - centre_y) * aspect_y;
        for (std::int32_t x = 0; x < width; ++x) {
            const double dx = (static_cast<double>(x) - centre_x) * aspect_x;
            const double r = ::sqrt(dx * dx + dy * dy);
            T& out = result[std::int64_t{y} * width + x];
            if (!(r <= outer)) {
                out = T(0);
                continue;
            }
            const auto i = static_cast<std::int32_t>(::floor(r));
            const double f = r - static_cast<double>(i);
            const double lower = i < length ? static_cast<double>(profile[i]) : 0.0;
            const double upper = i < length - 1 ? static_cast<double>(profile[i + 1]) : 0.0;
            out = static_cast<T>(lower * (1.0 - f) + upper * f);
        }
    }
}

template <kernels::weight_mode Mode, class T>
void weight_per_pixel(const T* source, T* destination, std::int64_t nx, std::int64_t ny, const float* table,
                      std::int64_t table_size, std::int64_t cx, std::int64_t cy, float scale_x, float scale_y) {
    const std::int64_t last = table_size - 1;
    const float last_as_float = static_cast<float>(last);
    const float last_squared = last_as_float * last_as_float;
    for (std::int64_t y = 0; y < ny; ++y) {
        const float v = static_cast<float>(y - cy) * scale_y;
        for (std::int64_t x = 0; x < nx; ++x) {
            const float u = static_cast<float>(x - cx) * scale_x;
            const float d2 = u * u + v * v;
            destination[y * nx + x] =
                kernels::weighted<Mode>(source[y * nx + x], kernels::table_weight(table, last, last_squared, d2));
        }
    }
}

}  // namespace zorvan::testing::reference
