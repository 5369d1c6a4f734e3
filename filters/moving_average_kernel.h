#pragma once
// Moving-average pixel kernels: the 2-D box of running column sums, which
// filters one plane out of place, and the 1-D running-sum pass, which filters
// one dimension of a volume and may write into its own source. Windows are cut
// at the image edges and the mean is taken over the part inside.
//
// Sums are held in the element type itself (float sums for float pixels,
// complex-of-float sums for complex-of-float pixels, and so on), and the order
// of every addition, subtraction and scaling below is fixed: results must be
// reproducible bit for bit, so none of it may be reassociated or widened.

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "contract/data_types.h"
#include "simd/cpu_features.h"

namespace zorvan::kernels {

// The radius arrives as a 32-bit script argument; all index arithmetic is
// 64-bit, so nothing overflows up to this bound whatever the image size.
inline constexpr std::int64_t max_moving_average_radius = std::numeric_limits<std::int32_t>::max();

namespace detail {

// Element arithmetic, written out on the parts for complex pixels so that one
// loop serves real and complex images.
template <class T>
inline void add_into(T& sum, const T& value) {
    if constexpr (dm::is_complex_v<T>) {
        sum.re += value.re;
        sum.im += value.im;
    } else {
        sum += value;
    }
}

template <class T>
inline void subtract_from(T& sum, const T& value) {
    if constexpr (dm::is_complex_v<T>) {
        sum.re -= value.re;
        sum.im -= value.im;
    } else {
        sum -= value;
    }
}

// sum += (entering - leaving): the difference is rounded first.
template <class T>
inline void add_difference(T& sum, const T& entering, const T& leaving) {
    if constexpr (dm::is_complex_v<T>) {
        sum.re += (entering.re - leaving.re);
        sum.im += (entering.im - leaving.im);
    } else {
        sum += (entering - leaving);
    }
}

template <class T>
inline T divided(const T& sum, dm::real_of_t<T> divisor) {
    if constexpr (dm::is_complex_v<T>) {
        return T{sum.re / divisor, sum.im / divisor};
    } else {
        return sum / divisor;
    }
}

// (sum * first) * second, in that association.
template <class T>
inline T scaled(const T& sum, dm::real_of_t<T> first, dm::real_of_t<T> second) {
    if constexpr (dm::is_complex_v<T>) {
        return T{(sum.re * first) * second, (sum.im * first) * second};
    } else {
        return (sum * first) * second;
    }
}

template <class T>
inline T scaled(const T& sum, dm::real_of_t<T> factor) {
    if constexpr (dm::is_complex_v<T>) {
        return T{sum.re * factor, sum.im * factor};
    } else {
        return sum * factor;
    }
}

// Number of positions of 0..n-1 within distance r of i.
inline std::int64_t window_count(std::int64_t i, std::int64_t n, std::int64_t r) {
    return std::min(n, i + r + 1) - std::max<std::int64_t>(0, i - r);
}

// The running-sum sweep of a 2-D box over one plane, shared by the box
// statistics: column sums are updated row by row, then a row sum slides along
// the row over the column sums, and each pixel gets one output. In both
// directions the leaving line is subtracted before the entering one is added.
// `Sums` holds the sums and does the arithmetic:
//   add_row(y), subtract_row(y)          column sums +/- source row y
//   clear_row_sum()                      row sum = 0
//   add_column(x), subtract_column(x)    row sum +/- column sum x
//   write(x, y, count)                   output pixel (x, y); `count` is the
//                                        number of pixels of its clipped window
template <class Sums>
void box_sweep_2d(std::int64_t nx, std::int64_t ny, std::int64_t radius, Sums& sums) {
    const std::int64_t r = radius;
    for (std::int64_t y = 0; y < std::min(ny, r); ++y) {
        sums.add_row(y);
    }
    for (std::int64_t y = 0; y < ny; ++y) {
        if (y > r) {
            sums.subtract_row(y - r - 1);
        }
        if (y + r < ny) {
            sums.add_row(y + r);
        }
        const std::int64_t row_count = window_count(y, ny, r);
        sums.clear_row_sum();
        for (std::int64_t x = 0; x < std::min(nx, r); ++x) {
            sums.add_column(x);
        }
        for (std::int64_t x = 0; x < nx; ++x) {
            if (x > r) {
                sums.subtract_column(x - r - 1);
            }
            if (x + r < nx) {
                sums.add_column(x + r);
            }
            sums.write(x, y, row_count * window_count(x, nx, r));
        }
    }
}

// Sums of the plain box mean: one column-sum array of the plane's width and
// one row sum, both of the element type.
template <class T>
class box_mean_sums {
public:
    using sum_type = T;
    using real = dm::real_of_t<T>;

    box_mean_sums(const T* src, std::int64_t src_row_pitch, std::int64_t nx, T* dst,
                  std::int64_t dst_row_pitch)
        : src_(src),
          src_row_pitch_(src_row_pitch),
          dst_(dst),
          dst_row_pitch_(dst_row_pitch),
          column_sums_(static_cast<std::size_t>(nx), sum_type{}) {}

    void add_row(std::int64_t y) {
        const T* row = src_ + src_row_pitch_ * y;
        sum_type* sums = column_sums_.data();
        for (std::size_t x = 0; x < column_sums_.size(); ++x) {
            add_into(sums[x], row[x]);
        }
    }
    void subtract_row(std::int64_t y) {
        const T* row = src_ + src_row_pitch_ * y;
        sum_type* sums = column_sums_.data();
        for (std::size_t x = 0; x < column_sums_.size(); ++x) {
            subtract_from(sums[x], row[x]);
        }
    }
    void clear_row_sum() { row_sum_ = sum_type{}; }
    void add_column(std::int64_t x) { add_into(row_sum_, column_sums_[static_cast<std::size_t>(x)]); }
    void subtract_column(std::int64_t x) {
        subtract_from(row_sum_, column_sums_[static_cast<std::size_t>(x)]);
    }
    void write(std::int64_t x, std::int64_t y, std::int64_t count) {
        dst_[dst_row_pitch_ * y + x] = divided(row_sum_, static_cast<real>(count));
    }

private:
    const T* src_;
    std::int64_t src_row_pitch_;
    T* dst_;
    std::int64_t dst_row_pitch_;
    std::vector<sum_type> column_sums_;
    sum_type row_sum_{};
};

// One line of the 1-D pass. `line` holds at least n elements and keeps every
// value that has entered the window, so values leaving it are taken from there
// and never from `out`: that is what makes the pass safe when out == in.
// In the full window the mean is s * iW; near the ends, where fewer than W
// pixels lie in the line, it is rescaled as (s * iW) * (W / c).
template <class T>
void mean_line(const T* in, std::int64_t in_step, T* out, std::int64_t out_step, std::int64_t n,
               std::int64_t r, dm::real_of_t<T> window, dm::real_of_t<T> inverse_window, T* line) {
    using real = dm::real_of_t<T>;
    T sum{};
    for (std::int64_t i = 0; i < std::min(r, n); ++i) {
        const T value = in[in_step * i];
        add_into(sum, value);
        line[i] = value;
    }
    const std::int64_t leading_end = std::min(n - r, r + 1);
    for (std::int64_t i = 0; i < leading_end; ++i) {
        const T value = in[in_step * (i + r)];
        add_into(sum, value);
        line[i + r] = value;
        out[out_step * i] = scaled(sum, inverse_window, window / static_cast<real>(i + r + 1));
    }
    for (std::int64_t i = r + 1; i < n - r; ++i) {
        const T value = in[in_step * (i + r)];
        add_difference(sum, value, line[i - r - 1]);
        line[i + r] = value;
        out[out_step * i] = scaled(sum, inverse_window);
    }
    for (std::int64_t i = std::max<std::int64_t>(0, n - r); i < n; ++i) {
        if (i > r) {
            subtract_from(sum, line[i - r - 1]);
        }
        const std::int64_t count = n - std::max<std::int64_t>(0, i - r);
        out[out_step * i] = scaled(sum, inverse_window, window / static_cast<real>(count));
    }
}

}  // namespace detail

// Mean over the (2*radius+1)^2 box of one plane, clipped at the edges.
// Pitches are in elements. src and dst must not overlap; dst's row padding is
// not touched. Uses one array of nx sums whatever the radius.
template <class T>
void box_mean_2d(const T* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                 std::int64_t radius, T* dst, std::int64_t dst_row_pitch) {
    assert(src != nullptr && dst != nullptr);
    assert(nx >= 0 && ny >= 0);
    assert(radius >= 0 && radius <= max_moving_average_radius);
    detail::box_mean_sums<T> sums(src, src_row_pitch, nx, dst, dst_row_pitch);
    detail::box_sweep_2d(nx, ny, radius, sums);
}

enum class axis { x, y, z };

// Mean over the 2*radius+1 window along one axis, for every line of an
// nx x ny x nz volume, clipped at the ends of each line. Pixel (x, y, z) lies
// at x + row_pitch*y + plane_extent*z (in elements). dst either is src with the
// same pitches (filtering in place) or does not overlap it. Uses one buffer of
// the line's length whatever the radius.
template <class T>
void mean_pass_1d(axis along, std::int64_t nx, std::int64_t ny, std::int64_t nz, const T* src,
                  std::int64_t src_row_pitch, std::int64_t src_plane_extent, std::int64_t radius, T* dst,
                  std::int64_t dst_row_pitch, std::int64_t dst_plane_extent) {
    using real = dm::real_of_t<T>;
    assert(src != nullptr && dst != nullptr);
    assert(nx >= 0 && ny >= 0 && nz >= 0);
    assert(radius >= 0 && radius <= max_moving_average_radius);
    assert(src != dst || (src_row_pitch == dst_row_pitch && src_plane_extent == dst_plane_extent));

    // A line runs along `along` with the given steps; the other two dimensions
    // (inner, then outer) enumerate the lines.
    struct dimension {
        std::int64_t size;
        std::int64_t src_pitch;
        std::int64_t dst_pitch;
    };
    const dimension dims[3] = {
        {nx, 1, 1},
        {ny, src_row_pitch, dst_row_pitch},
        {nz, src_plane_extent, dst_plane_extent},
    };
    const int line_dim = static_cast<int>(along);
    const dimension& line = dims[line_dim];
    const dimension& inner = dims[line_dim == 0 ? 1 : 0];
    const dimension& outer = dims[line_dim == 2 ? 1 : 2];

    const real window = static_cast<real>(2 * radius + 1);
    const real inverse_window = real(1) / window;
    std::vector<T> line_values(static_cast<std::size_t>(line.size));

    for (std::int64_t j = 0; j < outer.size; ++j) {
        for (std::int64_t i = 0; i < inner.size; ++i) {
            detail::mean_line(src + outer.src_pitch * j + inner.src_pitch * i, line.src_pitch,
                              dst + outer.dst_pitch * j + inner.dst_pitch * i, line.dst_pitch, line.size,
                              radius, window, inverse_window, line_values.data());
        }
    }
}

// box_mean_2d on AVX2 (moving_average_avx2.cpp), for real and complex
// planes: the same sweep and the same bits, several rows at a time (the two
// parts of a complex pixel side by side).
void box_mean_2d_avx2(const float* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                      std::int64_t radius, float* dst, std::int64_t dst_row_pitch);
void box_mean_2d_avx2(const double* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                      std::int64_t radius, double* dst, std::int64_t dst_row_pitch);
void box_mean_2d_avx2(const dm::complex8* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                      std::int64_t radius, dm::complex8* dst, std::int64_t dst_row_pitch);
void box_mean_2d_avx2(const dm::complex16* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                      std::int64_t radius, dm::complex16* dst, std::int64_t dst_row_pitch);

template <class T>
inline constexpr bool has_avx2_box_mean = std::is_same_v<T, float> || std::is_same_v<T, double> ||
                                          std::is_same_v<T, dm::complex8> || std::is_same_v<T, dm::complex16>;

// The one choice: the AVX2 body when the CPU has it, the plain kernel
// otherwise and for the other pixel types.
template <class T>
void box_mean_plane(const T* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny, std::int64_t radius,
                    T* dst, std::int64_t dst_row_pitch) {
    if constexpr (has_avx2_box_mean<T>) {
        if (simd::avx2()) return box_mean_2d_avx2(src, src_row_pitch, nx, ny, radius, dst, dst_row_pitch);
    }
    box_mean_2d(src, src_row_pitch, nx, ny, radius, dst, dst_row_pitch);
}

}  // namespace zorvan::kernels
