#pragma once
// Fourier windows: a plane multiplied by a separable apodisation window that
// is 0 (Hann) or nearly 0 (sine) at the first row and column and 1 at the
// centre. All arithmetic is in float with single-precision cosines, the step
// factors formed once and the products in the order written here.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace zorvan::kernels {

enum class window_mode : std::int32_t { hann = 0, sine = 1 };

inline bool is_window_mode(std::int32_t mode) { return mode == 0 || mode == 1; }

inline constexpr float window_pi = 3.1415927f;

// Pixel indices are signed 32-bit: a plane holds fewer than 2^31 pixels.
inline bool window_plane_fits(std::uint64_t nx, std::uint64_t ny) {
    constexpr std::uint64_t limit = std::uint64_t{1} << 31;
    return nx < limit && ny < limit && nx * ny < limit;
}

namespace detail {

// The per-axis factor of index i with the axis's step (2 pi / n for Hann,
// 1 / n for sine). Hann's factor is 1 - cos(i * step); the pixel takes
// ((p * 0.25) * factor_x) * factor_y. Sine's is cos((i * step - 0.5) * pi);
// the pixel takes (p * factor_x) * factor_y.
inline float axis_factor(window_mode mode, std::int32_t i, float step) {
    if (mode == window_mode::hann) return 1.0f - std::cos(static_cast<float>(i) * step);
    return std::cos((static_cast<float>(i) * step - 0.5f) * window_pi);
}

inline float axis_step(window_mode mode, std::int32_t n) {
    if (mode == window_mode::hann) return (window_pi + window_pi) / static_cast<float>(n);
    return 1.0f / static_cast<float>(n);
}

// Columns are taken in blocks so that their factors are computed once per
// block rather than per pixel; the values are the same either way.
inline constexpr std::int32_t window_block = 4096;

}  // namespace detail

// Windows the nx x ny pixels of `source` (packed rows) into `destination`,
// which may be `source` itself. Only for a plane that window_plane_fits.
inline void fourier_window(const float* source, float* destination, std::int32_t nx, std::int32_t ny,
                           window_mode mode) {
    const float step_x = detail::axis_step(mode, nx);
    const float step_y = detail::axis_step(mode, ny);
    std::vector<float> column_factors(static_cast<std::size_t>(std::min(nx, detail::window_block)));
    for (std::int32_t first = 0, width = 0; first < nx; first += width) {
        width = std::min(detail::window_block, nx - first);
        for (std::int32_t i = 0; i < width; ++i) column_factors[i] = detail::axis_factor(mode, first + i, step_x);
        for (std::int32_t y = 0; y < ny; ++y) {
            const float row_factor = detail::axis_factor(mode, y, step_y);
            const std::int32_t start = y * nx + first;
            if (mode == window_mode::hann) {
                for (std::int32_t i = 0; i < width; ++i) {
                    destination[start + i] = ((source[start + i] * 0.25f) * column_factors[i]) * row_factor;
                }
            } else {
                for (std::int32_t i = 0; i < width; ++i) {
                    destination[start + i] = (source[start + i] * column_factors[i]) * row_factor;
                }
            }
        }
    }
}

}  // namespace zorvan::kernels
