#pragma once
// Element-wise product of complex elements with real factors. The factor is
// first converted to the complex part's precision (a double factor is
// rounded to float for float pairs, a float one widened for double pairs),
// then both parts are multiplied in that precision.

#include <cstdint>

#include "contract/data_types.h"
#include "fourier/parallel.h"

namespace zorvan::kernels {

template <class F, class R>
void multiply_complex_by_real(const dm::complex_pair<F>* complex, const R* real, dm::complex_pair<F>* product,
                              std::int32_t n) {
#pragma omp parallel for schedule(static) if (worth_threads_bound_by_memory(n))
    for (std::int32_t i = 0; i < n; ++i) {
        const F factor = static_cast<F>(real[i]);
        product[i].re = complex[i].re * factor;
        product[i].im = complex[i].im * factor;
    }
}

}  // namespace zorvan::kernels
