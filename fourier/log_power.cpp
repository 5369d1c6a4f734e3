// FCalculatePowerSpectrumDLL: ln(re² + im²) of every element of a complex
// image, into a new real image "PowerSpectrum". Like the rest of the
// Fourier-space family it refuses unsuitable input silently (null).

#include "fourier/log_power_kernel.h"
#include "image/frame.h"
#include "fourier/fourier.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;
using frame::Header;

template <class Complex>
DM_Handle power_spectrum(DM_Handle target, const Header& header, std::int32_t count) {
    using Real = dm::real_of_t<Complex>;
    const dm::image<Complex> input(target, dm::lock::packed);
    const ImageRef created = RealImage("PowerSpectrum", sizeof(Real), header.width, header.height);
    dm::image<Real> output(created, dm::lock::packed);
    if (input.data() == nullptr || output.data() == nullptr) return nullptr;
    kernels::log_power_spectrum(input.data(), output.data(), count);
    return output.release();
}

}  // namespace

DM_Handle CalculatePowerSpectrumDLL(DM_Handle imgTarget) {
    return frame::run_family<DM_Handle>(script_function_named("FCalculatePowerSpectrumDLL"), [&]() -> DM_Handle {
        const Header header = frame::header_of(imgTarget);
        const std::int32_t count = frame::element_count(header);
        if (count < 0) return nullptr;
        return frame::dispatch_or_refuse<DM_Handle>(dm::complex_codes{}, header.type, [&]<class C>() {
            return power_spectrum<C>(imgTarget, header, count);
        });
    });
}

}  // namespace zorvan::ops
