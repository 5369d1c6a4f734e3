// The radial warp's computed spans on AVX2: four pixels at a time in double
// precision. Square root and floor are exact operations (correctly rounded
// square root, floor exact), the products and the sum are those of the
// plain loop (no fused multiply-add), so the bits are the same.

#include <immintrin.h>

#include <math.h>

#include <cstdint>

// Declared in fourier/radial_warp_kernel.h, which is not included here: its
// parallel loop and templates belong to the plain sources.
namespace zorvan::kernels {

namespace {

inline void store(float* p, __m256d v) { _mm_storeu_ps(p, _mm256_cvtpd_ps(v)); }
inline void store(double* p, __m256d v) { _mm256_storeu_pd(p, v); }

template <class T>
void span(const double* samples, double outer, double centre_x, double aspect_x, double dy_squared, T* row,
          std::int32_t first, std::int32_t end) {
    const __m256d steps = _mm256_set_pd(3.0, 2.0, 1.0, 0.0);
    const __m256d centre = _mm256_set1_pd(centre_x);
    const __m256d aspect = _mm256_set1_pd(aspect_x);
    const __m256d dy2 = _mm256_set1_pd(dy_squared);
    const __m256d limit = _mm256_set1_pd(outer);
    const __m256d one = _mm256_set1_pd(1.0);
    std::int32_t x = first;
    for (; x + 4 <= end; x += 4) {
        const __m256d xs = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x)), steps);
        const __m256d dx = _mm256_mul_pd(_mm256_sub_pd(xs, centre), aspect);
        const __m256d r = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), dy2));
        // r <= outer, false for NaN: those lanes give +0 and read sample 0.
        const __m256d inside = _mm256_cmp_pd(r, limit, _CMP_LE_OQ);
        const __m256d whole = _mm256_and_pd(_mm256_floor_pd(r), inside);
        const __m256d f = _mm256_sub_pd(r, whole);
        alignas(16) std::int32_t index[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm256_cvttpd_epi32(whole));
        // The pairs samples[i], samples[i + 1] of the four lanes.
        const __m256d even = _mm256_set_m128d(_mm_loadu_pd(samples + index[2]), _mm_loadu_pd(samples + index[0]));
        const __m256d odd = _mm256_set_m128d(_mm_loadu_pd(samples + index[3]), _mm_loadu_pd(samples + index[1]));
        const __m256d lower = _mm256_unpacklo_pd(even, odd);
        const __m256d upper = _mm256_unpackhi_pd(even, odd);
        const __m256d value = _mm256_add_pd(_mm256_mul_pd(lower, _mm256_sub_pd(one, f)), _mm256_mul_pd(upper, f));
        store(row + x, _mm256_and_pd(value, inside));
    }
    // The rest as warp_span (written out here: no template of the plain
    // kernels is instantiated from this AVX2 source).
    for (; x < end; ++x) {
        const double dx = (static_cast<double>(x) - centre_x) * aspect_x;
        const double r = ::sqrt(dx * dx + dy_squared);
        if (!(r <= outer)) {
            row[x] = T(0);
            continue;
        }
        const auto i = static_cast<std::int32_t>(::floor(r));
        const double f = r - static_cast<double>(i);
        row[x] = static_cast<T>(samples[i] * (1.0 - f) + samples[i + 1] * f);
    }
}

}  // namespace

void warp_span_avx2(const double* samples, double outer, double centre_x, double aspect_x, double dy_squared,
                    float* row, std::int32_t first, std::int32_t end) {
    span(samples, outer, centre_x, aspect_x, dy_squared, row, first, end);
}
void warp_span_avx2(const double* samples, double outer, double centre_x, double aspect_x, double dy_squared,
                    double* row, std::int32_t first, std::int32_t end) {
    span(samples, outer, centre_x, aspect_x, dy_squared, row, first, end);
}

}  // namespace zorvan::kernels
