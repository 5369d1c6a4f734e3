#pragma once
// Wiener-type mask: max(0, (a^2 - b^2) / a^2) of an amplitude a and a base
// b, evaluated in double precision and rounded to T at the store. A NaN
// quotient gives 0. A zero amplitude is taken as 1 and written back as 1
// into the amplitude data, which is why `amplitude` is not const.

#include <cstdint>

#include "fourier/parallel.h"

namespace zorvan::kernels {

// Each index touches only its own elements, so `amplitude` and `base` may
// be the same block.
template <class T>
void wiener_mask(T* amplitude, const T* base, T* mask, std::int32_t n) {
// A division and two products per element: worth threads from a quarter of
// the plain threshold.
#pragma omp parallel for schedule(static) if (worth_threads(n, 4))
    for (std::int32_t i = 0; i < n; ++i) {
        double a = static_cast<double>(amplitude[i]);
        if (a == 0.0) {
            a = 1.0;
            amplitude[i] = T(1);
        }
        const double b = static_cast<double>(base[i]);
        const double power = a * a;
        const double share = (power - b * b) / power;
        mask[i] = static_cast<T>(share > 0.0 ? share : 0.0);
    }
}

}  // namespace zorvan::kernels
