// FCalculatePowerSpectrumDLL: ln(re² + im²) of every element of a complex
// image, into a new real image "PowerSpectrum". Like the rest of the
// Fourier-space family it refuses unsuitable input silently (null).

#include "fourier/log_power_kernel.h"
#include "fourier/family.h"
#include "fourier/fourier.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;
using fourier::Header;

template <class Complex, class Real>
DM_Handle power_spectrum(DM_Handle target, const Header& header, std::int32_t count) {
    const dm::image<Complex> input(target, 1);
    const ImageRef created = RealImage("PowerSpectrum", sizeof(Real), header.width, header.height);
    dm::image<Real> output(created, 1);
    if (input.data() == nullptr || output.data() == nullptr) return nullptr;
    kernels::log_power_spectrum(input.data(), output.data(), count);
    return output.release();
}

}  // namespace

DM_Handle CalculatePowerSpectrumDLL(DM_Handle imgTarget) {
    return fourier::run_family<DM_Handle>("CalculatePowerSpectrumDM", [&]() -> DM_Handle {
        const Header header = fourier::header_of(imgTarget);
        const std::int32_t count = fourier::element_count(header);
        if (count < 0) return nullptr;
        if (header.type == 3) return power_spectrum<dm::complex8, float>(imgTarget, header, count);
        if (header.type == 13) return power_spectrum<dm::complex16, double>(imgTarget, header, count);
        return nullptr;
    });
}

}  // namespace zorvan::ops
