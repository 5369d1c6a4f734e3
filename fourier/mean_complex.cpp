// FMeanComplexDLL: the means of the real and of the imaginary parts of a
// complex image, written to the caller's variables only on success.

#include "image/frame.h"
#include "fourier/fourier.h"
#include "fourier/mean_complex_kernel.h"

namespace zorvan::ops {

namespace {

template <class C>
std::int16_t mean_complex(DM_Handle source_handle, std::int32_t count, double* mean_real, double* mean_imag) {
    const dm::image<C> source(source_handle, dm::lock::packed);
    if (source.data() == nullptr) return 0;
    const kernels::complex_sums sums = kernels::sum_complex(source.data(), count);
    // An empty image gives 0/0, a NaN, as its mean.
    *mean_real = sums.re / static_cast<double>(count);
    *mean_imag = sums.im / static_cast<double>(count);
    return 1;
}

}  // namespace

std::int16_t MeanComplexDLL(DM_Handle imgSrc, double* meanReal, double* meanImag) {
    return frame::run_family<std::int16_t>(script_function_named("FMeanComplexDLL"), [&]() -> std::int16_t {
        const frame::Header header = frame::header_of(imgSrc);
        return frame::dispatch_or_refuse<std::int16_t>(dm::complex_codes{}, header.type, [&]<class C>() -> std::int16_t {
            const auto extent = frame::extent_of(header);
            if (!extent || meanReal == nullptr || meanImag == nullptr) return 0;
            return mean_complex<C>(imgSrc, extent->count, meanReal, meanImag);
        });
    });
}

}  // namespace zorvan::ops
