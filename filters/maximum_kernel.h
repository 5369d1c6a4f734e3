#pragma once
// The maximum filter: every pixel of a 2-D image becomes the largest pixel of
// the square window of radius r around it, the window cut to the image.
//
// A value v replaces the running maximum m only when v > m, starting from the
// type's lowest value: NaN never wins, a window of NaN alone gives the lowest
// value, and of equal values (+0 and -0) the first met is kept. "First" is
// fixed by the scheme below, so results are reproducible bit for bit.
//
// Per row, the maximum of each column over the row band [y-r, y+r] is kept
// in a ring of W = 2r+1 slots, column c in slot c mod W, columns outside the
// image as the lowest value; the output is the first largest slot, scanning
// slots 0 to W-1. When W is at least the width, every column of the image
// sits in the slot of its own index and all other slots hold the lowest
// value, so the scan reduces to the window's columns in ascending order;
// then an array of the row's nx column maxima serves instead of the ring.

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace zorvan::kernels {

// The neutral element of the maximum: the most negative finite value of
// the type, 0 for unsigned types.
template <class T>
inline constexpr T lowest_value = std::numeric_limits<T>::lowest();

// Maximum over the (2*radius+1)^2 window of every pixel of an nx x ny image
// of packed rows, cut to the image. src and dst must not overlap.
//
// A radius beyond the image's larger side gives every output the same first
// largest column as that side, so it is taken as that side. Memory beyond
// the images: min(2r+1, nx) elements.
template <class T>
void maximum_filter_2d(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, T* dst) {
    assert(src != nullptr && dst != nullptr);
    assert(nx >= 0 && ny >= 0 && radius >= 0);
    const std::int64_t r = std::min(radius, std::max(nx, ny));
    const std::int64_t window = 2 * r + 1;
    const T lowest = lowest_value<T>;

    const auto column_maximum = [&](std::int64_t column, std::int64_t top, std::int64_t bottom) {
        T m = lowest;
        for (std::int64_t row = top; row <= bottom; ++row) {
            const T v = src[nx * row + column];
            if (v > m) m = v;
        }
        return m;
    };

    if (window < nx) {
        std::vector<T> ring(static_cast<std::size_t>(window));
        for (std::int64_t y = 0; y < ny; ++y) {
            const std::int64_t top = std::max<std::int64_t>(0, y - r);
            const std::int64_t bottom = std::min(ny - 1, y + r);
            std::fill(ring.begin(), ring.end(), lowest);
            for (std::int64_t j = 0; j < r; ++j) ring[static_cast<std::size_t>(j)] = column_maximum(j, top, bottom);
            for (std::int64_t x = 0; x < nx; ++x) {
                // Column x+r enters into the slot of column x-r-1, which leaves.
                const std::int64_t entering = x + r;
                ring[static_cast<std::size_t>(entering % window)] =
                    entering < nx ? column_maximum(entering, top, bottom) : lowest;
                T m = ring[0];
                for (std::size_t i = 1; i < ring.size(); ++i) {
                    if (ring[i] > m) m = ring[i];
                }
                dst[nx * y + x] = m;
            }
        }
        return;
    }

    std::vector<T> column_maxima(static_cast<std::size_t>(nx));
    std::int64_t band_top = -1;
    std::int64_t band_bottom = -1;
    for (std::int64_t y = 0; y < ny; ++y) {
        const std::int64_t top = std::max<std::int64_t>(0, y - r);
        const std::int64_t bottom = std::min(ny - 1, y + r);
        // The same band gives the same column maxima (every band, once the
        // radius reaches the height).
        if (top != band_top || bottom != band_bottom) {
            for (std::int64_t c = 0; c < nx; ++c) {
                column_maxima[static_cast<std::size_t>(c)] = column_maximum(c, top, bottom);
            }
            band_top = top;
            band_bottom = bottom;
        }
        const auto first_largest = [&](std::int64_t first, std::int64_t last) {
            T m = lowest;
            for (std::int64_t c = first; c <= last; ++c) {
                const T v = column_maxima[static_cast<std::size_t>(c)];
                if (v > m) m = v;
            }
            return m;
        };
        // Windows that span the whole row share one result, found once.
        bool have_whole_row = false;
        T whole_row = lowest;
        for (std::int64_t x = 0; x < nx; ++x) {
            const std::int64_t first = std::max<std::int64_t>(0, x - r);
            const std::int64_t last = std::min(nx - 1, x + r);
            if (first == 0 && last == nx - 1) {
                if (!have_whole_row) {
                    whole_row = first_largest(first, last);
                    have_whole_row = true;
                }
                dst[nx * y + x] = whole_row;
            } else {
                dst[nx * y + x] = first_largest(first, last);
            }
        }
    }
}

}  // namespace zorvan::kernels
