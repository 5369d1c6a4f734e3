// The column histograms' two inner loops over AVX2 registers: 16 bins or 16
// ranks at a time.

#include <immintrin.h>

#include "filters/median/median_histogram_kernel.h"

namespace zorvan::kernels::median_histograms {

namespace {

// Which bit of mask is its j-th set one (from 0); j < the bits set.
int select_bit(std::uint32_t mask, int j) {
    for (; j > 0; --j) mask &= mask - 1;
    return __builtin_ctz(mask);
}

}  // namespace

std::int64_t slide_avx2(std::uint16_t* window, const std::uint16_t* entering, const std::uint16_t* leaving,
                        std::int64_t bins, std::int64_t split) {
    const __m256i lanes = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m256i below = _mm256_setzero_si256();
    for (std::int64_t b = 0; b < bins; b += 16) {
        const auto w = reinterpret_cast<__m256i*>(window + b);
        const __m256i change = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(entering + b)),
                                                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(leaving + b)));
        _mm256_storeu_si256(w, _mm256_add_epi16(_mm256_loadu_si256(w), change));
        const __m256i index = _mm256_add_epi16(lanes, _mm256_set1_epi16(static_cast<short>(b)));
        const __m256i lower = _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<short>(split)), index);
        below = _mm256_add_epi16(below, _mm256_and_si256(change, lower));
    }
    __m128i sum = _mm_add_epi16(_mm256_castsi256_si128(below), _mm256_extracti128_si256(below, 1));
    sum = _mm_add_epi16(sum, _mm_srli_si128(sum, 8));
    sum = _mm_add_epi16(sum, _mm_srli_si128(sum, 4));
    sum = _mm_add_epi16(sum, _mm_srli_si128(sum, 2));
    return static_cast<std::int16_t>(_mm_extract_epi16(sum, 0));
}

std::int64_t find_in_window_avx2(const std::uint16_t* xs, const std::uint16_t* ys, std::int64_t first,
                                 std::int64_t end, std::int64_t left, std::int64_t right, const window_box& box) {
    const __m256i x_lo = _mm256_set1_epi16(static_cast<short>(box.x_lo));
    const __m256i x_span = _mm256_set1_epi16(static_cast<short>(box.x_span));
    const __m256i y_lo = _mm256_set1_epi16(static_cast<short>(box.y_lo));
    const __m256i y_span = _mm256_set1_epi16(static_cast<short>(box.y_span));
    const auto inside = [&](std::int64_t at) {
        const __m256i dx = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(xs + at)), x_lo);
        const __m256i dy = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(ys + at)), y_lo);
        return _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_min_epu16(dx, x_span), dx),
                                _mm256_cmpeq_epi16(_mm256_min_epu16(dy, y_span), dy));
    };
    // Bit i of the mask: rank at + i lies in the window.
    const auto mask_at = [&](std::int64_t at) {
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packs_epi16(inside(at), inside(at + 16)), 0xD8);
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes));
    };
    if (left <= right) {
        for (std::int64_t at = first;; at += 32) {
            const std::uint32_t mask = mask_at(at);
            const int here = __builtin_popcount(mask);
            if (here > left) return at + select_bit(mask, static_cast<int>(left));
            left -= here;
        }
    }
    for (std::int64_t at = end - 32;; at -= 32) {
        const std::uint32_t mask = mask_at(at);
        const int here = __builtin_popcount(mask);
        if (here > right) return at + select_bit(mask, static_cast<int>(here - 1 - right));
        right -= here;
    }
}

}  // namespace zorvan::kernels::median_histograms
