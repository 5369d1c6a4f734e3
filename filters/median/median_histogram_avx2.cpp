// The column histograms' two inner loops over AVX2 registers: 16 bins or 16
// ranks at a time.

#include <immintrin.h>

#include "filters/median/median_histogram_kernel.h"

namespace zorvan::kernels::median_histograms {

namespace {

// Which bit of mask is its j-th set one (from 0); j < the bits set. Without
// a loop, as median_rank_kernel.h's select_bit (which stays out of this
// object: an inline function compiled here could serve CPUs without AVX2):
// the bits set in each byte, their running sums, the byte, the bit from the
// table.
int select_bit(std::uint32_t mask, int j) {
    std::uint32_t x = mask - ((mask >> 1) & 0x55555555u);
    x = (x & 0x33333333u) + ((x >> 2) & 0x33333333u);
    const std::uint32_t sums = ((x + (x >> 4)) & 0x0F0F0F0Fu) * 0x01010101u;  // byte i: bits in bytes 0..i
    int byte = 0;
    while (static_cast<int>((sums >> (8 * byte)) & 0xFF) <= j) ++byte;
    const int before = byte == 0 ? 0 : static_cast<int>((sums >> (8 * byte - 8)) & 0xFF);
    return 8 * byte + median_ranks::bit_select.at[(mask >> (8 * byte)) & 0xFF][j - before];
}

}  // namespace

std::int64_t slide_avx2(std::uint16_t* window, const std::uint16_t* entering, const std::uint16_t* leaving,
                        std::int64_t bins, std::int64_t split) {
    __m256i below = _mm256_setzero_si256();
    const auto change_at = [&](std::int64_t b) {
        const auto w = reinterpret_cast<__m256i*>(window + b);
        const __m256i change = _mm256_sub_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(entering + b)),
                                                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(leaving + b)));
        _mm256_storeu_si256(w, _mm256_add_epi16(_mm256_loadu_si256(w), change));
        return change;
    };
    // Blocks wholly below the split count whole, the one it cuts by lanes,
    // the rest not at all.
    std::int64_t b = 0;
    for (; b + 16 <= split; b += 16) below = _mm256_add_epi16(below, change_at(b));
    if (b < bins) {
        const __m256i lanes = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        const __m256i lower = _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<short>(split - b)), lanes);
        below = _mm256_add_epi16(below, _mm256_and_si256(change_at(b), lower));
        b += 16;
    }
    for (; b < bins; b += 16) change_at(b);
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
