#pragma once
// The rescale's two passes as they were first written: the sample position
// of every output pixel worked out where it is used, and the whole row pass
// before the column pass.

#include <math.h>

#include <cstdint>

namespace zorvan::testing::reference {

template <class T>
void rescale_rows(const T* source, std::int32_t width, std::int32_t height, double fx, T* rows,
                  std::int32_t out_width) {
    for (std::int32_t y = 0; y < height; ++y) {
        const T* in = source + std::int64_t{y} * width;
        T* out = rows + std::int64_t{y} * out_width;
        const T last = in[width - 1];
        const T prev = in[width - 2];
        const T rise = last - prev;
        for (std::int32_t x = 0; x < out_width; ++x) {
            const double s = static_cast<double>(x) / fx;
            const auto i = static_cast<std::int32_t>(::floor(s));
            const double f = s - static_cast<double>(i);
            if (i < width - 1) {
                out[x] = static_cast<T>(static_cast<double>(in[i]) * (1.0 - f) + static_cast<double>(in[i + 1]) * f);
            } else {
                out[x] = static_cast<T>((s - static_cast<double>(width - 1)) * static_cast<double>(rise) +
                                        static_cast<double>(last));
            }
        }
    }
}

template <class T>
void rescale_columns(const T* rows, std::int32_t out_width, std::int32_t height, double fy, T* destination,
                     std::int32_t out_height, std::int64_t destination_pitch) {
    for (std::int32_t y = 0; y < out_height; ++y) {
        const double t = static_cast<double>(y) / fy;
        const auto j = static_cast<std::int32_t>(::floor(t));
        const double f = t - static_cast<double>(j);
        T* out = destination + y * destination_pitch;
        if (j < height - 1) {
            const T* upper = rows + std::int64_t{j} * out_width;
            const T* lower = upper + out_width;
            for (std::int32_t x = 0; x < out_width; ++x) {
                out[x] = static_cast<T>(static_cast<double>(upper[x]) * (1.0 - f) +
                                        static_cast<double>(lower[x]) * f);
            }
        } else {
            const T* last = rows + std::int64_t{height - 1} * out_width;
            const T* prev = last - out_width;
            const double beyond = t - static_cast<double>(height - 1);
            for (std::int32_t x = 0; x < out_width; ++x) {
                const T rise = last[x] - prev[x];
                out[x] = static_cast<T>(beyond * static_cast<double>(rise) + static_cast<double>(last[x]));
            }
        }
    }
}

}  // namespace zorvan::testing::reference
