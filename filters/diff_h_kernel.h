#pragma once
// One order of the forward difference along x: out(x, y) = in(x+1, y) - in(x, y)
// for x from 0 to width-2, a single-precision subtraction rounded to float.
// The output is one column narrower; both images have packed rows.

#include <cassert>
#include <cstdint>

namespace zorvan::kernels {

// in: width x height, out: (width-1) x height; width >= 2. Every output is
// one subtraction of its own, so the order of the loops does not matter.
inline void difference_along_x(const float* in, std::int64_t width, std::int64_t height, float* out) {
    assert(in != nullptr && out != nullptr);
    assert(width >= 2 && height >= 0);
    const std::int64_t out_width = width - 1;
    for (std::int64_t y = 0; y < height; ++y) {
        const float* row = in + width * y;
        float* out_row = out + out_width * y;
        for (std::int64_t x = 0; x < out_width; ++x) {
            out_row[x] = row[x + 1] - row[x];
        }
    }
}

}  // namespace zorvan::kernels
