#pragma once
// The maximum filter as it was first written: per row, the column maxima of
// the row band in a ring of 2r+1 slots, scanned in slot order for each
// output, v replacing m only when v > m from the type's lowest value. The
// reference for the running-maxima kernel (which may pick the other zero of
// a +0/-0 tie, and nothing else).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace zorvan::testing::reference {

template <class T>
void ring_maximum(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, T* dst) {
    const std::int64_t r = std::min(radius, std::max(nx, ny));
    const std::int64_t window = 2 * r + 1;
    const T lowest = std::numeric_limits<T>::lowest();

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

}  // namespace zorvan::testing::reference
