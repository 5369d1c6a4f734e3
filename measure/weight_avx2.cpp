// The radial weighting's table lookups on AVX2: eight pixels at a time in
// float. The square root is correctly rounded, the products and sums are
// the plain loop's (no fused multiply-add), so the bits are the same.

#include <immintrin.h>

#include <math.h>

#include <cstdint>

// Declared in measure/weight_kernel.h, which is not included here: its
// inline functions belong to the plain sources.
namespace zorvan::kernels {

namespace {

// As table_weight in the kernel header (written out here, with the C
// library's functions: no inline function of the plain kernels or of
// <cmath> is compiled for AVX2).
float weight_at(const float* table, std::int64_t last, float last_squared, float d2) {
    if (d2 >= last_squared || d2 != d2) return table[last];
    const float r = ::sqrtf(d2);
    const auto i0 = static_cast<std::int64_t>(r);
    if (i0 >= last) return table[last];
    const float f = r - ::floorf(r);
    return table[i0] * (1.0f - f) + table[i0 + 1] * f;
}

// The vector body takes offsets x - cx that int32 lanes hold (converted to
// float as the int64 would be: the same integer, rounded once) and tables
// of 2 to 2^24 entries (every index below the last fits the lanes).
constexpr std::int64_t lane_limit = std::int64_t{1} << 30;
constexpr std::int64_t table_limit = std::int64_t{1} << 24;

}  // namespace

void weight_span_avx2(const float* table, std::int64_t last, float last_squared, std::int64_t cx, float scale_x,
                      float v_squared, float* weights, std::int64_t first, std::int64_t end) {
    std::int64_t x = first;
    const bool lanes_fit = last >= 1 && last < table_limit && first - cx > -lane_limit && end - cx < lane_limit;
    if (lanes_fit) {
        const __m256i steps = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        const __m256 scale = _mm256_set1_ps(scale_x);
        const __m256 v2 = _mm256_set1_ps(v_squared);
        const __m256 limit = _mm256_set1_ps(last_squared);
        const __m256 one = _mm256_set1_ps(1.0f);
        const __m256 at_last = _mm256_set1_ps(table[last]);
        const __m256i below_last = _mm256_set1_epi32(static_cast<std::int32_t>(last - 1));
        for (; x + 8 <= end; x += 8) {
            const __m256i offsets = _mm256_add_epi32(_mm256_set1_epi32(static_cast<std::int32_t>(x - cx)), steps);
            const __m256 u = _mm256_mul_ps(_mm256_cvtepi32_ps(offsets), scale);
            const __m256 d2 = _mm256_add_ps(_mm256_mul_ps(u, u), v2);
            // d2 >= last^2, or NaN: the last entry.
            const __m256 far = _mm256_or_ps(_mm256_cmp_ps(d2, limit, _CMP_GE_OQ), _mm256_cmp_ps(d2, d2, _CMP_UNORD_Q));
            const __m256 r = _mm256_sqrt_ps(_mm256_andnot_ps(far, d2));
            const __m256 whole = _mm256_floor_ps(r);
            const __m256i index = _mm256_cvttps_epi32(r);
            // The square root rounded up to the last index: the last entry.
            const __m256 past = _mm256_or_ps(far, _mm256_castsi256_ps(_mm256_cmpgt_epi32(index, below_last)));
            const __m256i safe = _mm256_min_epi32(index, below_last);
            const __m256 lower = _mm256_i32gather_ps(table, safe, 4);
            const __m256 upper = _mm256_i32gather_ps(table + 1, safe, 4);
            const __m256 f = _mm256_sub_ps(r, whole);
            const __m256 w = _mm256_add_ps(_mm256_mul_ps(lower, _mm256_sub_ps(one, f)), _mm256_mul_ps(upper, f));
            _mm256_storeu_ps(weights + x, _mm256_blendv_ps(w, at_last, past));
        }
    }
    for (; x < end; ++x) {
        const float u = static_cast<float>(x - cx) * scale_x;
        weights[x] = weight_at(table, last, last_squared, u * u + v_squared);
    }
}

}  // namespace zorvan::kernels
