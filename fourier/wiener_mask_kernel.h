#pragma once
// Wiener-type mask: max(0, (a^2 - b^2) / a^2) of an amplitude a and a base
// b, evaluated in double precision and rounded to T at the store. A NaN
// quotient gives 0. A zero amplitude is taken as 1 and written back as 1
// into the amplitude data, which is why `amplitude` is not const.
//
// wiener_mask_plain is the portable kernel; wiener_mask_avx2
// (wiener_mask_avx2.cpp) the same on AVX2 (the same operations lane by
// lane, no fused multiply-add: the same bits); wiener_mask runs one of them
// over each thread's block of the static schedule.

#include <omp.h>

#include <cstdint>

#include "fourier/parallel.h"
#include "simd/cpu_features.h"

namespace zorvan::kernels {

// Each index touches only its own elements, so `amplitude` and `base` may
// be the same block.
template <class T>
void wiener_mask_plain(T* amplitude, const T* base, T* mask, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
        double a = static_cast<double>(amplitude[i]);
        if (a == 0.0) {
            a = 1.0;
            amplitude[i] = T(1);
        }
        const double b = static_cast<double>(base[i]);
        const double power = a * a;
        const double share = (power - b * b) / power;
        mask[i] = static_cast<T>(share > 0.0 ? share : 0.0);
    }
}

// wiener_mask_plain over the first n - n mod 8 (float) or n - n mod 4
// (double) elements; `base` is read after the amplitude's zeros are
// replaced, so it too may be the amplitude's block, but no block may
// overlap another otherwise.
void wiener_mask_avx2(float* amplitude, const float* base, float* mask, std::int64_t n);
void wiener_mask_avx2(double* amplitude, const double* base, double* mask, std::int64_t n);

namespace detail {

// Whether [a, a + n) and [b, b + n) share an element.
template <class T>
bool overlap(const T* a, const T* b, std::int64_t n) {
    const auto x = reinterpret_cast<std::uintptr_t>(a);
    const auto y = reinterpret_cast<std::uintptr_t>(b);
    const auto bytes = static_cast<std::uintptr_t>(n) * sizeof(T);
    return x < y + bytes && y < x + bytes;
}

}  // namespace detail

// The AVX2 body when the CPU has it and the blocks are apart (or the
// amplitude is the base), the portable kernel otherwise. A division and
// two products per element: worth threads from a quarter of the plain
// threshold.
template <class T>
void wiener_mask(T* amplitude, const T* base, T* mask, std::int32_t n) {
    if (n <= 0) return;
    const bool vector = simd::avx2() && (amplitude == base || !detail::overlap<T>(amplitude, base, n)) &&
                        !detail::overlap<T>(mask, amplitude, n) && !detail::overlap<T>(mask, base, n);
    constexpr std::int64_t lanes = 32 / sizeof(T);
#pragma omp parallel if (worth_threads(n, 4))
    {
        const detail::block b = detail::static_block(n, omp_get_num_threads(), omp_get_thread_num());
        std::int64_t done = b.begin;
        if (vector) {
            const std::int64_t whole = (b.end - b.begin) / lanes * lanes;
            wiener_mask_avx2(amplitude + done, base + done, mask + done, whole);
            done += whole;
        }
        wiener_mask_plain(amplitude + done, base + done, mask + done, b.end - done);
    }
}

}  // namespace zorvan::kernels
