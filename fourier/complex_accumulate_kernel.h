#pragma once
// target += plus, element by element and part by part, in the element's
// own precision.

#include <cstdint>

#include "contract/data_types.h"
#include "fourier/parallel.h"

namespace zorvan::kernels {

// Each index reads and writes only its own element, so `target` and `plus`
// may be the same block (which doubles it).
template <class F>
void accumulate_complex(dm::complex_pair<F>* target, const dm::complex_pair<F>* plus, std::int32_t n) {
#pragma omp parallel for schedule(static) if (worth_threads_bound_by_memory(n))
    for (std::int32_t i = 0; i < n; ++i) {
        target[i].re = target[i].re + plus[i].re;
        target[i].im = target[i].im + plus[i].im;
    }
}

}  // namespace zorvan::kernels
