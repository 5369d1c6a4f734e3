// The Wiener mask on AVX2: four elements at a time in double precision,
// each the plain kernel's expression (products, difference and quotient
// rounded one by one, no fused multiply-add; NaN and negative shares to
// +0; one rounding to float at the store), so the bits are the same.

#include <immintrin.h>

#include <cstdint>

// Declared in fourier/wiener_mask_kernel.h, which is not included here: its
// parallel region belongs to the plain sources.
namespace zorvan::kernels {

namespace {

// max(0, (a^2 - b^2) / a^2) of four amplitudes already without zeros.
inline __m256d share(__m256d a, __m256d b) {
    const __m256d power = _mm256_mul_pd(a, a);
    const __m256d q = _mm256_div_pd(_mm256_sub_pd(power, _mm256_mul_pd(b, b)), power);
    return _mm256_and_pd(q, _mm256_cmp_pd(q, _mm256_setzero_pd(), _CMP_GT_OQ));
}

}  // namespace

void wiener_mask_avx2(float* amplitude, const float* base, float* mask, std::int64_t n) {
    const __m256 one = _mm256_set1_ps(1.0f);
    for (std::int64_t i = 0; i + 8 <= n; i += 8) {
        __m256 a = _mm256_loadu_ps(amplitude + i);
        const __m256 zero = _mm256_cmp_ps(a, _mm256_setzero_ps(), _CMP_EQ_OQ);  // -0 too, never NaN
        if (_mm256_movemask_ps(zero) != 0) {
            _mm256_maskstore_ps(amplitude + i, _mm256_castps_si256(zero), one);
            a = _mm256_blendv_ps(a, one, zero);
        }
        const __m256 b = _mm256_loadu_ps(base + i);  // after the store: the base may be the amplitude
        const __m256d low = share(_mm256_cvtps_pd(_mm256_castps256_ps128(a)), _mm256_cvtps_pd(_mm256_castps256_ps128(b)));
        const __m256d high =
            share(_mm256_cvtps_pd(_mm256_extractf128_ps(a, 1)), _mm256_cvtps_pd(_mm256_extractf128_ps(b, 1)));
        _mm256_storeu_ps(mask + i, _mm256_set_m128(_mm256_cvtpd_ps(high), _mm256_cvtpd_ps(low)));
    }
}

void wiener_mask_avx2(double* amplitude, const double* base, double* mask, std::int64_t n) {
    const __m256d one = _mm256_set1_pd(1.0);
    for (std::int64_t i = 0; i + 4 <= n; i += 4) {
        __m256d a = _mm256_loadu_pd(amplitude + i);
        const __m256d zero = _mm256_cmp_pd(a, _mm256_setzero_pd(), _CMP_EQ_OQ);
        if (_mm256_movemask_pd(zero) != 0) {
            _mm256_maskstore_pd(amplitude + i, _mm256_castpd_si256(zero), one);
            a = _mm256_blendv_pd(a, one, zero);
        }
        const __m256d b = _mm256_loadu_pd(base + i);
        _mm256_storeu_pd(mask + i, share(a, b));
    }
}

}  // namespace zorvan::kernels
