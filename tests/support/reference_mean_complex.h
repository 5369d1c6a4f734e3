#pragma once
// The complex sums as first written: one OpenMP sum reduction over all
// threads, whatever the size. The reference for sum_complex, which keeps
// small images on the calling thread in the same blocks.

#include <cstdint>

#include "contract/data_types.h"
#include "fourier/mean_complex_kernel.h"

namespace zorvan::testing::reference {

template <class F>
kernels::complex_sums reduction_sum_complex(const dm::complex_pair<F>* source, std::int32_t n) {
    double re = 0.0;
    double im = 0.0;
#pragma omp parallel for schedule(static) reduction(+ : re, im)
    for (std::int32_t i = 0; i < n; ++i) {
        re += static_cast<double>(source[i].re);
        im += static_cast<double>(source[i].im);
    }
    return {re, im};
}

}  // namespace zorvan::testing::reference
