#pragma once
// Sums of the real and of the imaginary parts of n complex elements, in
// double precision (float parts are widened before they are added).

#include <cstdint>

#include "contract/data_types.h"

namespace zorvan::kernels {

struct complex_sums {
    double re;
    double im;
};

// A parallel sum reduction: each thread adds its own contiguous block and
// the runtime adds the partial sums, so the last bits depend on the number
// of threads. With one thread the sum runs in index order from 0.
template <class F>
complex_sums sum_complex(const dm::complex_pair<F>* source, std::int32_t n) {
    double re = 0.0;
    double im = 0.0;
#pragma omp parallel for schedule(static) reduction(+ : re, im)
    for (std::int32_t i = 0; i < n; ++i) {
        re += static_cast<double>(source[i].re);
        im += static_cast<double>(source[i].im);
    }
    return {re, im};
}

}  // namespace zorvan::kernels
