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

// The samples profile[i] (in a) and profile[i + 1] (in b) of four lanes,
// widened to double, as one pair load each.
inline void pairs(const float* profile, const std::int32_t* i, __m256d& a, __m256d& b) {
    const __m128 low = _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(profile + i[0])),
                                    reinterpret_cast<const __m64*>(profile + i[1]));
    const __m128 high = _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(profile + i[2])),
                                     reinterpret_cast<const __m64*>(profile + i[3]));
    a = _mm256_cvtps_pd(_mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
    b = _mm256_cvtps_pd(_mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1)));
}
inline void pairs(const double* profile, const std::int32_t* i, __m256d& a, __m256d& b) {
    const __m256d even = _mm256_set_m128d(_mm_loadu_pd(profile + i[2]), _mm_loadu_pd(profile + i[0]));
    const __m256d odd = _mm256_set_m128d(_mm_loadu_pd(profile + i[3]), _mm_loadu_pd(profile + i[1]));
    a = _mm256_unpacklo_pd(even, odd);
    b = _mm256_unpackhi_pd(even, odd);
}

// As warp_value in the kernel header (written out here: no template of the
// plain kernels is instantiated from this AVX2 source).
template <class T>
double value_at(const T* profile, std::int32_t length, double r) {
    if (!(r <= static_cast<double>(length))) return 0.0;
    const auto i = static_cast<std::int32_t>(::floor(r));
    const double f = r - static_cast<double>(i);
    const double lower = i < length ? static_cast<double>(profile[i]) : 0.0;
    const double upper = i < length - 1 ? static_cast<double>(profile[i + 1]) : 0.0;
    return lower * (1.0 - f) + upper * f;
}

template <class T>
void span(const T* profile, std::int32_t length, double centre_x, double aspect_x, double dy_squared, T* row,
          std::int32_t first, std::int32_t end) {
    const __m256d steps = _mm256_set_pd(3.0, 2.0, 1.0, 0.0);
    const __m256d centre = _mm256_set1_pd(centre_x);
    const __m256d aspect = _mm256_set1_pd(aspect_x);
    const __m256d dy2 = _mm256_set1_pd(dy_squared);
    const __m256d outer = _mm256_set1_pd(static_cast<double>(length));
    // Below length - 1 both samples of a pixel lie in the profile.
    const __m256d inner = _mm256_set1_pd(static_cast<double>(length) - 1.0);
    const __m256d one = _mm256_set1_pd(1.0);
    std::int32_t x = first;
    // Lanes past the profile read samples 0 and 1: only with two samples.
    for (; length >= 2 && x + 4 <= end; x += 4) {
        const __m256d xs = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x)), steps);
        const __m256d dx = _mm256_mul_pd(_mm256_sub_pd(xs, centre), aspect);
        const __m256d r = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), dy2));
        // r <= length, false for NaN: those lanes give +0 and read samples 0 and 1.
        const __m256d inside = _mm256_cmp_pd(r, outer, _CMP_LE_OQ);
        const __m256d edge = _mm256_and_pd(inside, _mm256_cmp_pd(r, inner, _CMP_GE_OQ));
        if (_mm256_movemask_pd(edge) != 0) {
            // A pixel at radius length - 1 or more but inside: a sample past
            // the profile counts as 0.
            alignas(32) double radii[4];
            _mm256_store_pd(radii, r);
            for (int lane = 0; lane < 4; ++lane) row[x + lane] = static_cast<T>(value_at(profile, length, radii[lane]));
            continue;
        }
        const __m256d whole = _mm256_and_pd(_mm256_floor_pd(r), inside);
        const __m256d f = _mm256_sub_pd(r, whole);
        alignas(16) std::int32_t index[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(index), _mm256_cvttpd_epi32(whole));
        __m256d lower, upper;
        pairs(profile, index, lower, upper);
        const __m256d value = _mm256_add_pd(_mm256_mul_pd(lower, _mm256_sub_pd(one, f)), _mm256_mul_pd(upper, f));
        store(row + x, _mm256_and_pd(value, inside));
    }
    for (; x < end; ++x) {
        const double dx = (static_cast<double>(x) - centre_x) * aspect_x;
        row[x] = static_cast<T>(value_at(profile, length, ::sqrt(dx * dx + dy_squared)));
    }
}

}  // namespace

void warp_span_avx2(const float* profile, std::int32_t length, double centre_x, double aspect_x, double dy_squared,
                    float* row, std::int32_t first, std::int32_t end) {
    span(profile, length, centre_x, aspect_x, dy_squared, row, first, end);
}
void warp_span_avx2(const double* profile, std::int32_t length, double centre_x, double aspect_x, double dy_squared,
                    double* row, std::int32_t first, std::int32_t end) {
    span(profile, length, centre_x, aspect_x, dy_squared, row, first, end);
}

}  // namespace zorvan::kernels
