// FMeanComplexDLL: the means of the real and of the imaginary parts of a
// complex image, written to the caller's variables only on success.

#include "fourier/family.h"
#include "fourier/fourier.h"
#include "fourier/mean_complex_kernel.h"

namespace zorvan::ops {

namespace {

template <class C>
std::int16_t mean_complex(DM_Handle source_handle, std::int32_t count, double* mean_real, double* mean_imag) {
    const dm::image<C> source(source_handle, 1);
    if (source.data() == nullptr) return 0;
    const kernels::complex_sums sums = kernels::sum_complex(source.data(), count);
    // An empty image gives 0/0, a NaN, as its mean.
    *mean_real = sums.re / static_cast<double>(count);
    *mean_imag = sums.im / static_cast<double>(count);
    return 1;
}

}  // namespace

std::int16_t MeanComplexDLL(DM_Handle imgSrc, double* meanReal, double* meanImag) {
    return fourier::run_family<std::int16_t>("MeanComplexDM", [&]() -> std::int16_t {
        const fourier::Header header = fourier::header_of(imgSrc);
        return fourier::dispatch_complex<std::int16_t>(header.type, [&]<class C>() -> std::int16_t {
            const auto extent = fourier::extent_of(header);
            if (!extent || meanReal == nullptr || meanImag == nullptr) return 0;
            return mean_complex<C>(imgSrc, extent->count, meanReal, meanImag);
        });
    });
}

}  // namespace zorvan::ops
