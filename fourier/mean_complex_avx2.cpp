// The complex mean's two interleaved blocks on AVX2: one vector holds the
// four sums (real and imaginary part of each block), so each lane is the
// plain kernel's chain of additions in index order and the sums have the
// same bits.

#include <immintrin.h>

#include <cstdint>

#include "contract/data_types.h"

// Declared in fourier/mean_complex_kernel.h, which is not included here: its
// parallel reduction belongs to the plain sources.
namespace zorvan::kernels::detail {

void sum_pairs_avx2(const dm::complex8* pa, const dm::complex8* pb, std::int32_t count, double sums[4]) {
    __m256d s = _mm256_loadu_pd(sums);
    for (std::int32_t i = 0; i < count; ++i) {
        // (re, im) of pa[i] in the low half, of pb[i] in the high half, widened exactly.
        const __m128 parts = _mm_loadh_pi(_mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(pa + i))),
                                          reinterpret_cast<const __m64*>(pb + i));
        s = _mm256_add_pd(s, _mm256_cvtps_pd(parts));
    }
    _mm256_storeu_pd(sums, s);
}

void sum_pairs_avx2(const dm::complex16* pa, const dm::complex16* pb, std::int32_t count, double sums[4]) {
    __m256d s = _mm256_loadu_pd(sums);
    for (std::int32_t i = 0; i < count; ++i) {
        const __m256d parts = _mm256_set_m128d(_mm_loadu_pd(&pb[i].re), _mm_loadu_pd(&pa[i].re));
        s = _mm256_add_pd(s, parts);
    }
    _mm256_storeu_pd(sums, s);
}

}  // namespace zorvan::kernels::detail
