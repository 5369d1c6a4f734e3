#pragma once
// The moving-average pair: the local mean of the pixel values and the local
// mean of their squares over the (2*radius+1)^2 box of one plane, cut to the
// image at its edges, in one running-sum sweep.
//
// The sweep is the box mean's (detail::box_sweep_2d) with two sets of sums
// side by side, values first. Sums are held in the element type and their
// order is fixed, so results are reproducible bit for bit. The square of a
// complex pixel is the complex square v*v, written out on the parts.

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "filters/moving_average_kernel.h"

namespace zorvan::kernels {

namespace detail {

// v*v in the element type: (re*re - im*im, re*im + im*re) for complex v.
template <class T>
inline T squared(const T& v) {
    if constexpr (dm::is_complex_v<T>) {
        return T{v.re * v.re - v.im * v.im, v.re * v.im + v.im * v.re};
    } else {
        return v * v;
    }
}

// Sums of the pair: column sums and a row sum of the values and, beside
// them, of the squares. A square is computed afresh from the pixel each
// time its row enters or leaves the column sums.
template <class T>
class box_pair_sums {
public:
    using real = dm::real_of_t<T>;

    box_pair_sums(const T* src, std::int64_t src_row_pitch, std::int64_t nx, T* mean, std::int64_t mean_row_pitch,
                  T* square_mean, std::int64_t square_mean_row_pitch)
        : src_(src),
          src_row_pitch_(src_row_pitch),
          mean_(mean),
          mean_row_pitch_(mean_row_pitch),
          square_mean_(square_mean),
          square_mean_row_pitch_(square_mean_row_pitch),
          value_column_sums_(static_cast<std::size_t>(nx), T{}),
          square_column_sums_(static_cast<std::size_t>(nx), T{}) {}

    void add_row(std::int64_t y) {
        const T* row = src_ + src_row_pitch_ * y;
        for (std::size_t x = 0; x < value_column_sums_.size(); ++x) {
            add_into(value_column_sums_[x], row[x]);
            add_into(square_column_sums_[x], squared(row[x]));
        }
    }
    void subtract_row(std::int64_t y) {
        const T* row = src_ + src_row_pitch_ * y;
        for (std::size_t x = 0; x < value_column_sums_.size(); ++x) {
            subtract_from(value_column_sums_[x], row[x]);
            subtract_from(square_column_sums_[x], squared(row[x]));
        }
    }
    void clear_row_sum() {
        value_row_sum_ = T{};
        square_row_sum_ = T{};
    }
    void add_column(std::int64_t x) {
        add_into(value_row_sum_, value_column_sums_[static_cast<std::size_t>(x)]);
        add_into(square_row_sum_, square_column_sums_[static_cast<std::size_t>(x)]);
    }
    void subtract_column(std::int64_t x) {
        subtract_from(value_row_sum_, value_column_sums_[static_cast<std::size_t>(x)]);
        subtract_from(square_row_sum_, square_column_sums_[static_cast<std::size_t>(x)]);
    }
    void write(std::int64_t x, std::int64_t y, std::int64_t count) {
        const real divisor = static_cast<real>(count);
        mean_[mean_row_pitch_ * y + x] = divided(value_row_sum_, divisor);
        square_mean_[square_mean_row_pitch_ * y + x] = divided(square_row_sum_, divisor);
    }

private:
    const T* src_;
    std::int64_t src_row_pitch_;
    T* mean_;
    std::int64_t mean_row_pitch_;
    T* square_mean_;
    std::int64_t square_mean_row_pitch_;
    std::vector<T> value_column_sums_;
    std::vector<T> square_column_sums_;
    T value_row_sum_{};
    T square_row_sum_{};
};

}  // namespace detail

// Local mean of the values into `mean` and of their squares into
// `square_mean`, over one plane. Pitches are in elements. Neither output may
// overlap the source (they may be one and the same image, which then holds
// the squares' means). Uses two arrays of nx sums whatever the radius.
template <class T>
void box_mean_pair_2d(const T* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                      std::int64_t radius, T* mean, std::int64_t mean_row_pitch, T* square_mean,
                      std::int64_t square_mean_row_pitch) {
    assert(src != nullptr && mean != nullptr && square_mean != nullptr);
    assert(nx >= 0 && ny >= 0);
    assert(radius >= 0 && radius <= max_moving_average_radius);
    detail::box_pair_sums<T> sums(src, src_row_pitch, nx, mean, mean_row_pitch, square_mean, square_mean_row_pitch);
    detail::box_sweep_2d(nx, ny, radius, sums);
}

// box_mean_pair_2d on AVX2 (moving_average_avx2.cpp, beside the box mean
// whose sweep it shares), for float and double planes, with the same bits.
void box_mean_pair_2d_avx2(const float* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                           std::int64_t radius, float* mean, std::int64_t mean_row_pitch, float* square_mean,
                           std::int64_t square_mean_row_pitch);
void box_mean_pair_2d_avx2(const double* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                           std::int64_t radius, double* mean, std::int64_t mean_row_pitch, double* square_mean,
                           std::int64_t square_mean_row_pitch);

// The one choice, as box_mean_plane makes it (real pixels only: the
// squares of complex ones mix their parts).
template <class T>
inline constexpr bool has_avx2_box_mean_pair = std::is_same_v<T, float> || std::is_same_v<T, double>;

template <class T>
void box_mean_pair_plane(const T* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                         std::int64_t radius, T* mean, std::int64_t mean_row_pitch, T* square_mean,
                         std::int64_t square_mean_row_pitch) {
    if constexpr (has_avx2_box_mean_pair<T>) {
        if (simd::avx2()) {
            return box_mean_pair_2d_avx2(src, src_row_pitch, nx, ny, radius, mean, mean_row_pitch, square_mean,
                                         square_mean_row_pitch);
        }
    }
    box_mean_pair_2d(src, src_row_pitch, nx, ny, radius, mean, mean_row_pitch, square_mean, square_mean_row_pitch);
}

}  // namespace zorvan::kernels
