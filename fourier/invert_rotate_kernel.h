#pragma once
// Reflection of a width x height block through its centre pixel. Along a
// dimension of even size n the reflection is k -> (n - k) mod n (index 0,
// the edge without a partner, stays); along an odd one it is k -> n - 1 - k.
// Column 0 of an even width and row 0 of an even height are reflected with
// the even rule along the other dimension whatever its parity, so the
// mapping is its own inverse for every size.

#include <cstdint>

#include "fourier/parallel.h"

namespace zorvan::kernels {

// `result` must hold a copy of `source` on entry: it supplies the elements
// no pass writes (element (0, 0) for an even width or height). Three
// parallel passes in turn, each writing disjoint elements and copying
// without arithmetic. The blocks must not overlap.
template <class T>
void invert_rotate(const T* source, T* result, std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return;
    const std::int32_t even_w = width % 2 == 0 ? 1 : 0;
    const std::int32_t even_h = height % 2 == 0 ? 1 : 0;
    const std::int64_t w = width;

    // Interior: x >= even_w, y >= even_h.
#pragma omp parallel for schedule(static) if (worth_threads_bound_by_memory(w * height))
    for (std::int32_t y = even_h; y < height; ++y) {
        const T* in = source + y * w;
        T* out = result + (std::int64_t{height} + even_h - 1 - y) * w + (w + even_w - 1);
        for (std::int64_t x = even_w; x < w; ++x) out[-x] = in[x];
    }
    if (even_w == 1) {
        // Column 0: y -> h - y.
#pragma omp parallel for schedule(static) if (worth_threads(height))
        for (std::int32_t y = 1; y < height; ++y) result[(std::int64_t{height} - y) * w] = source[y * w];
    }
    if (even_h == 1) {
        // Row 0: x -> w - x.
#pragma omp parallel for schedule(static) if (worth_threads(width))
        for (std::int32_t x = 1; x < width; ++x) result[width - x] = source[x];
    }
}

}  // namespace zorvan::kernels
