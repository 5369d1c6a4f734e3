#pragma once
// Logarithmic power spectrum: ln(re*re + im*im) of every complex element,
// computed wholly in the element's own precision. No offset is added, so a
// zero element gives -inf; in single precision the squares overflow to +inf
// beyond a modulus of about 1.8e19 and underflow to 0 below about 1e-23.

#include <math.h>

#include <cstdint>

#include "contract/data_types.h"

namespace zorvan::kernels {

inline void log_power_spectrum(const dm::complex8* src, float* dst, std::int32_t n) {
    for (std::int32_t i = 0; i < n; ++i) {
        const float re = src[i].re;
        const float im = src[i].im;
        dst[i] = ::logf(re * re + im * im);
    }
}

inline void log_power_spectrum(const dm::complex16* src, double* dst, std::int32_t n) {
    for (std::int32_t i = 0; i < n; ++i) {
        const double re = src[i].re;
        const double im = src[i].im;
        dst[i] = ::log(re * re + im * im);
    }
}

}  // namespace zorvan::kernels
