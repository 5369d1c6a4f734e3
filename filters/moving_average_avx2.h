#pragma once
// The box mean and the moving-average pair of float and double planes on
// AVX2: the sweeps of box_mean_2d and box_mean_pair_2d with the same
// arguments and the same bits, several rows at a time. `box_mean_plane` and
// `box_mean_pair_plane` pick them when the CPU allows, and the plain kernels
// otherwise (and for the other pixel types).

#include <cstdint>
#include <type_traits>

#include "filters/moving_average_kernel.h"
#include "filters/moving_average_pair_kernel.h"
#include "simd/cpu_features.h"

namespace zorvan::kernels {

void box_mean_2d_avx2(const float* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                      std::int64_t radius, float* dst, std::int64_t dst_row_pitch);
void box_mean_2d_avx2(const double* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                      std::int64_t radius, double* dst, std::int64_t dst_row_pitch);
void box_mean_pair_2d_avx2(const float* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                           std::int64_t radius, float* mean, std::int64_t mean_row_pitch, float* square_mean,
                           std::int64_t square_mean_row_pitch);
void box_mean_pair_2d_avx2(const double* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                           std::int64_t radius, double* mean, std::int64_t mean_row_pitch, double* square_mean,
                           std::int64_t square_mean_row_pitch);

template <class T>
inline constexpr bool has_avx2_box_mean = std::is_same_v<T, float> || std::is_same_v<T, double>;

template <class T>
void box_mean_plane(const T* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny, std::int64_t radius,
                    T* dst, std::int64_t dst_row_pitch) {
    if constexpr (has_avx2_box_mean<T>) {
        if (simd::avx2()) return box_mean_2d_avx2(src, src_row_pitch, nx, ny, radius, dst, dst_row_pitch);
    }
    box_mean_2d(src, src_row_pitch, nx, ny, radius, dst, dst_row_pitch);
}

template <class T>
void box_mean_pair_plane(const T* src, std::int64_t src_row_pitch, std::int64_t nx, std::int64_t ny,
                         std::int64_t radius, T* mean, std::int64_t mean_row_pitch, T* square_mean,
                         std::int64_t square_mean_row_pitch) {
    if constexpr (has_avx2_box_mean<T>) {
        if (simd::avx2()) {
            return box_mean_pair_2d_avx2(src, src_row_pitch, nx, ny, radius, mean, mean_row_pitch, square_mean,
                                         square_mean_row_pitch);
        }
    }
    box_mean_pair_2d(src, src_row_pitch, nx, ny, radius, mean, mean_row_pitch, square_mean, square_mean_row_pitch);
}

}  // namespace zorvan::kernels
