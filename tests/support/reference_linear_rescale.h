#pragma once
// The rescale's row pass as it was first written: the sample position of
// every output pixel worked out where it is used.

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

}  // namespace zorvan::testing::reference
