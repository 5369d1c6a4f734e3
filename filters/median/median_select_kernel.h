#pragma once
// The median filter: every pixel of a 2-D real image becomes the median of
// the pixels in the square window of radius r around it, the window cut to
// the part inside the image.
//
// Pixels are visited in a fixed order (edge rows, then edge columns, then the
// interior) and each window is read from the source as it stands when its
// pixel is visited. Filtering in place (src == dst) therefore reads values
// already written, and the result depends on that order.
//
// NaN samples are left out of a window's median; a window of NaN alone
// gives its first sample (so radius 0 copies NaN pixels bit for bit).

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace zorvan::kernels {

namespace detail {

// Rearranges values[0..count) so that values[k] is the k-th smallest
// (from 0), nothing before it is larger and nothing after it smaller.
// Quickselect with Hoare's partition around the median of the first, middle
// and last elements. The scans are bounded by the range as well as by the
// comparisons, so no index leaves [0, count) whatever they answer.
template <class T>
void select_kth(T* values, std::int64_t count, std::int64_t k) {
    assert(0 <= k && k < count);
    std::int64_t lo = 0;
    std::int64_t hi = count - 1;
    while (lo < hi) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        if (values[mid] < values[lo]) std::swap(values[mid], values[lo]);
        if (values[hi] < values[lo]) std::swap(values[hi], values[lo]);
        if (values[hi] < values[mid]) std::swap(values[hi], values[mid]);
        const T pivot = values[mid];
        std::int64_t i = lo;
        std::int64_t j = hi;
        while (i <= j) {
            while (i < hi && values[i] < pivot) ++i;
            while (j > lo && pivot < values[j]) --j;
            if (i <= j) {
                std::swap(values[i], values[j]);
                ++i;
                --j;
            }
        }
        if (k <= j) {
            hi = j;
        } else if (k >= i) {
            lo = i;
        } else {
            return;  // between j and i every element equals the pivot
        }
    }
}

}  // namespace detail

// Median of values[0..count), reordering them; count >= 1. NaN values are
// dropped first; when nothing else is left the result is values[0]. For an even count
// the median is (k-th + (k-1)-th smallest) * 0.5 in T, with k = count / 2.
template <class T>
T median_of(T* values, std::int64_t count) {
    assert(count >= 1);
    std::int64_t n = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        if (values[i] == values[i]) values[n++] = values[i];
    }
    if (n == 0) return values[0];  // untouched: nothing was moved
    const std::int64_t k = n / 2;
    detail::select_kth(values, n, k);
    if (n % 2 == 1) return values[k];
    // After the selection nothing before k is larger than values[k], so the
    // (k-1)-th smallest is the largest of values[0..k).
    T below = values[0];
    for (std::int64_t i = 1; i < k; ++i) {
        if (below < values[i]) below = values[i];
    }
    return (values[k] + below) * T(0.5);
}

// Median over the (2*radius+1)^2 window of every pixel of an nx x ny image of
// packed rows, cut to the image. dst is either src (filtered in place, see
// above) or does not overlap it.
//
// A radius beyond the image's larger side selects the same pixels in the same
// order as that side, so it is taken as that side: no window size overflows
// and no buffer exceeds nx * ny samples.
template <class T>
void median_filter_2d(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, T* dst) {
    assert(src != nullptr && dst != nullptr);
    assert(nx >= 0 && ny >= 0 && radius >= 0);
    const std::int64_t r = std::min(radius, std::max(nx, ny));
    const std::int64_t side = 2 * r + 1;

    // Edge limits: rows below y_lo or from y_hi on, and in the other rows
    // columns below x_lo or from x_hi on, have windows that the image cuts.
    const std::int64_t y_lo = std::min(ny, r);
    const std::int64_t y_hi = std::max(y_lo, ny - r);
    const std::int64_t x_lo = std::min(nx, r);
    const std::int64_t x_hi = std::max(x_lo, nx - r);

    std::vector<T> samples;
    samples.reserve(static_cast<std::size_t>(std::min(side, nx) * std::min(side, ny)));
    const auto edge_pixel = [&](std::int64_t x, std::int64_t y) {
        samples.clear();
        for (std::int64_t yy = std::max<std::int64_t>(0, y - r); yy <= std::min(ny - 1, y + r); ++yy) {
            for (std::int64_t xx = std::max<std::int64_t>(0, x - r); xx <= std::min(nx - 1, x + r); ++xx) {
                samples.push_back(src[nx * yy + xx]);
            }
        }
        dst[nx * y + x] = median_of(samples.data(), static_cast<std::int64_t>(samples.size()));
    };

    for (std::int64_t y = 0; y < y_lo; ++y) {
        for (std::int64_t x = 0; x < nx; ++x) edge_pixel(x, y);
    }
    for (std::int64_t y = y_hi; y < ny; ++y) {
        for (std::int64_t x = 0; x < nx; ++x) edge_pixel(x, y);
    }
    for (std::int64_t y = y_lo; y < y_hi; ++y) {
        for (std::int64_t x = 0; x < x_lo; ++x) edge_pixel(x, y);
        for (std::int64_t x = x_hi; x < nx; ++x) edge_pixel(x, y);
    }

    // Interior pixels exist only when the whole window fits, so this array
    // of side^2 samples is never larger than the image.
    if (y_lo >= y_hi || x_lo >= x_hi) return;
    std::vector<T> window(static_cast<std::size_t>(side * side));
    for (std::int64_t y = y_lo; y < y_hi; ++y) {
        for (std::int64_t x = x_lo; x < x_hi; ++x) {
            T* next = window.data();
            for (std::int64_t yy = y - r; yy <= y + r; ++yy) {
                next = std::copy(src + nx * yy + (x - r), src + nx * yy + (x + r + 1), next);
            }
            dst[nx * y + x] = median_of(window.data(), side * side);
        }
    }
}

}  // namespace zorvan::kernels
