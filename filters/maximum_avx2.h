#pragma once
// The maximum filter of float and double images on AVX2: maximum_filter_2d
// with the same arguments and results, on whole rows only. `maximum_filter`
// picks it when the CPU allows and the rows fit, and the plain kernel
// otherwise (and for the other pixel types).

#include <cstdint>
#include <type_traits>

#include "filters/maximum_kernel.h"
#include "simd/cpu_features.h"

namespace zorvan::kernels {

// Keeps the suffix maxima of min(2r+1, ny) whole rows.
void maximum_filter_2d_avx2(const float* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, float* dst);
void maximum_filter_2d_avx2(const double* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, double* dst);

template <class T>
void maximum_filter(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, T* dst) {
    if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
        if (simd::avx2() && detail::maximum_whole_rows(nx, ny, std::min(radius, ny))) {
            return maximum_filter_2d_avx2(src, nx, ny, radius, dst);
        }
    }
    maximum_filter_2d(src, nx, ny, radius, dst);
}

}  // namespace zorvan::kernels
