#pragma once
// The survey as first written: one loop in visiting order, every value
// converted to double, plain running sums. The reference for the exact
// integer sums of 8- and 16-bit pixels.

#include <cstdint>

#include "measure/survey_kernel.h"

namespace zorvan::testing::reference {

template <class T>
kernels::survey_totals survey_in_visiting_order(const T* data, std::int64_t nx, std::int64_t ny, std::int64_t nz,
                                                std::int64_t row_step, std::int64_t plane_step) {
    kernels::survey_totals totals;
    for (std::int64_t z = 0; z < nz; ++z) {
        for (std::int64_t y = 0; y < ny; ++y) {
            for (std::int64_t x = 0; x < nx; ++x) {
                const double v = static_cast<double>(data[x + row_step * y + plane_step * z]);
                if (v < totals.min) totals.min = v;
                if (v > totals.max) totals.max = v;
                totals.sum += v;
                totals.sqsum += v * v;
            }
        }
    }
    return totals;
}

}  // namespace zorvan::testing::reference
