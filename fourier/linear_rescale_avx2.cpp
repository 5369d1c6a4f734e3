// The interpolating loops of the linear rescale on AVX2: four samples at a
// time in double precision, each value the plain loop's expression (the two
// products added, no fused multiply-add, rounded to the pixel type at the
// store), so the bits are the same.

#include <immintrin.h>

#include <cstdint>

// Declared in fourier/linear_rescale_kernel.h, which is not included here:
// its parallel loops belong to the plain sources.
namespace zorvan::kernels {

namespace {

inline __m256d widen(__m128 v) { return _mm256_cvtps_pd(v); }
inline __m256d widen(__m256d v) { return v; }
inline void store(float* p, __m256d v) { _mm_storeu_ps(p, _mm256_cvtpd_ps(v)); }
inline void store(double* p, __m256d v) { _mm256_storeu_pd(p, v); }
inline __m128 load4(const float* p) { return _mm_loadu_ps(p); }
inline __m256d load4(const double* p) { return _mm256_loadu_pd(p); }
// The samples in[i] and in[i + 1] of four outputs, as one pair load each
// (cheaper than gathers, which microcode fixes have made slow): a holds
// the in[i], b the in[i + 1].
inline void pairs(const float* in, const std::int32_t* i, __m256d& a, __m256d& b) {
    const __m128 low = _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(in + i[0])),
                                    reinterpret_cast<const __m64*>(in + i[1]));
    const __m128 high = _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(in + i[2])),
                                     reinterpret_cast<const __m64*>(in + i[3]));
    a = _mm256_cvtps_pd(_mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
    b = _mm256_cvtps_pd(_mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1)));
}
inline void pairs(const double* in, const std::int32_t* i, __m256d& a, __m256d& b) {
    const __m256d even = _mm256_set_m128d(_mm_loadu_pd(in + i[2]), _mm_loadu_pd(in + i[0]));
    const __m256d odd = _mm256_set_m128d(_mm_loadu_pd(in + i[3]), _mm_loadu_pd(in + i[1]));
    a = _mm256_unpacklo_pd(even, odd);
    b = _mm256_unpackhi_pd(even, odd);
}

// a * (1 - f) + b * f, lane by lane in double.
inline __m256d mix(__m256d a, __m256d b, __m256d f) {
    const __m256d rest = _mm256_sub_pd(_mm256_set1_pd(1.0), f);
    return _mm256_add_pd(_mm256_mul_pd(a, rest), _mm256_mul_pd(b, f));
}

template <class T>
void interpolate(const T* in, const std::int32_t* index, const double* fraction, T* out, std::int32_t n) {
    std::int32_t x = 0;
    for (; x + 4 <= n; x += 4) {
        __m256d a, b;
        pairs(in, index + x, a, b);
        store(out + x, mix(a, b, _mm256_loadu_pd(fraction + x)));
    }
    // The rest as interpolate_row (written out here: no template of the
    // plain kernels is instantiated from this AVX2 source).
    for (; x < n; ++x) {
        const std::int32_t i = index[x];
        const double f = fraction[x];
        out[x] = static_cast<T>(static_cast<double>(in[i]) * (1.0 - f) + static_cast<double>(in[i + 1]) * f);
    }
}

template <class T>
void blend_lines(const T* upper, const T* lower, double f, T* out, std::int32_t n) {
    const __m256d weight = _mm256_set1_pd(f);
    std::int32_t x = 0;
    for (; x + 4 <= n; x += 4) store(out + x, mix(widen(load4(upper + x)), widen(load4(lower + x)), weight));
    for (; x < n; ++x) {
        out[x] = static_cast<T>(static_cast<double>(upper[x]) * (1.0 - f) + static_cast<double>(lower[x]) * f);
    }
}

}  // namespace

void interpolate_row_avx2(const float* in, const std::int32_t* index, const double* fraction, float* out,
                          std::int32_t n) {
    interpolate(in, index, fraction, out, n);
}
void interpolate_row_avx2(const double* in, const std::int32_t* index, const double* fraction, double* out,
                          std::int32_t n) {
    interpolate(in, index, fraction, out, n);
}
void blend_avx2(const float* upper, const float* lower, double f, float* out, std::int32_t n) {
    blend_lines(upper, lower, f, out, n);
}
void blend_avx2(const double* upper, const double* lower, double f, double* out, std::int32_t n) {
    blend_lines(upper, lower, f, out, n);
}

}  // namespace zorvan::kernels
