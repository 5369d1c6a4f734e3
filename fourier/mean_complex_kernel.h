#pragma once
// Sums of the real and of the imaginary parts of n complex elements, in
// double precision (float parts are widened before they are added).

#include <omp.h>

#include <algorithm>
#include <cstdint>

#include "contract/data_types.h"
#include "fourier/parallel.h"
#include "simd/cpu_features.h"

namespace zorvan::kernels {

struct complex_sums {
    double re;
    double im;
};

namespace detail {

// sums[0..3] += the real and imaginary parts of pa[i], then of pb[i], for
// i = 0 .. count - 1 in turn: four chains of additions, one per lane
// (mean_complex_avx2.cpp), the same additions in the same order.
void sum_pairs_avx2(const dm::complex8* pa, const dm::complex8* pb, std::int32_t count, double sums[4]);
void sum_pairs_avx2(const dm::complex16* pa, const dm::complex16* pb, std::int32_t count, double sums[4]);

// The sums of blocks a and b, each in index order from 0, interleaved so
// that the two chains of additions overlap on one thread. Their common
// length goes through sum_pairs_plain or, on AVX2, sum_pairs_avx2.
template <class F>
void sum_pairs_plain(const dm::complex_pair<F>* pa, const dm::complex_pair<F>* pb, std::int32_t count,
                     double sums[4]) {
    for (std::int32_t i = 0; i < count; ++i) {
        sums[0] += static_cast<double>(pa[i].re);
        sums[1] += static_cast<double>(pa[i].im);
        sums[2] += static_cast<double>(pb[i].re);
        sums[3] += static_cast<double>(pb[i].im);
    }
}
template <class F>
void sum_two_blocks(const dm::complex_pair<F>* source, block a, block b, complex_sums& sa, complex_sums& sb) {
    const std::int32_t common = std::min(a.end - a.begin, b.end - b.begin);
    double sums[4] = {sa.re, sa.im, sb.re, sb.im};
    if (simd::avx2()) {
        sum_pairs_avx2(source + a.begin, source + b.begin, common, sums);
    } else {
        sum_pairs_plain(source + a.begin, source + b.begin, common, sums);
    }
    sa = {sums[0], sums[1]};
    sb = {sums[2], sums[3]};
    for (std::int32_t i = a.begin + common; i < a.end; ++i) {
        sa.re += static_cast<double>(source[i].re);
        sa.im += static_cast<double>(source[i].im);
    }
    for (std::int32_t i = b.begin + common; i < b.end; ++i) {
        sb.re += static_cast<double>(source[i].re);
        sb.im += static_cast<double>(source[i].im);
    }
}

}  // namespace detail

// Order-dependent: a parallel sum reduction in which each of the runtime's
// threads adds its own contiguous block of the static schedule in index
// order, and the runtime adds the partial sums into 0, so the last bits
// depend on the number of threads. Images up to the memory-bound threshold
// are summed on the calling thread in the very same blocks, each in index
// order (two blocks interleaved, so that their chains of additions
// overlap), and the partial sums are added into 0 in thread order: the same bits as the
// threads give (with two threads either order of the two additions gives
// the same sum; with more, the runtime's order was never fixed).
template <class F>
complex_sums sum_complex(const dm::complex_pair<F>* source, std::int32_t n) {
    if (worth_threads_bound_by_memory(n)) {
        double re = 0.0;
        double im = 0.0;
#pragma omp parallel for schedule(static) reduction(+ : re, im)
        for (std::int32_t i = 0; i < n; ++i) {
            re += static_cast<double>(source[i].re);
            im += static_cast<double>(source[i].im);
        }
        return {re, im};
    }
    complex_sums total{0.0, 0.0};
    if (n <= 0) return total;
    const int teams = std::max(1, omp_get_max_threads());
    for (int t = 0; t < teams; t += 2) {
        complex_sums first{0.0, 0.0};
        complex_sums second{0.0, 0.0};
        const detail::block a = detail::static_block(n, teams, t);
        const detail::block b = t + 1 < teams ? detail::static_block(n, teams, t + 1) : detail::block{a.end, a.end};
        detail::sum_two_blocks(source, a, b, first, second);
        total.re += first.re;
        total.im += first.im;
        if (t + 1 < teams) {
            total.re += second.re;
            total.im += second.im;
        }
    }
    return total;
}

}  // namespace zorvan::kernels
