// FCalculatePowerSpectrumDLL: ln(re² + im²) of every element of a complex
// image, into a new real image "PowerSpectrum". Like the rest of the
// Fourier-space family it refuses unsuitable input silently (null).

#include "fourier/power_spectrum_kernel.h"
#include "image/dm_image.h"
#include "plugin/script_function.h"
#include "plugin/script_functions.h"
#include "plugin/timing.h"

#include <limits>

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;

// Header queries, each through a temporary copy of the handle.
struct Header {
    std::uint32_t type;
    std::uint32_t width;
    std::uint32_t height;
};

Header header_of(DM_Handle image) {
    Header header{};
    header.type = ImageGetDataType(ImageRef(image).get());
    header.width = ImageGetDimensionSize(ImageRef(image).get(), 0);
    header.height = ImageGetDimensionSize(ImageRef(image).get(), 1);
    return header;
}

// w·h as the family's signed 32-bit element count; -1 when it does not fit.
std::int32_t element_count(const Header& header) {
    const std::uint64_t count = std::uint64_t{header.width} * header.height;
    return count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) ? -1
                                                                                         : static_cast<std::int32_t>(count);
}

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
    return script_guard<DM_Handle>([&]() -> DM_Handle {
        const InlineTiming timing("CalculatePowerSpectrumDM");
        const Header header = header_of(imgTarget);
        const std::int32_t count = element_count(header);
        DM_Handle result = nullptr;
        if (header.type == 3 && count >= 0) {
            result = power_spectrum<dm::complex8, float>(imgTarget, header, count);
        } else if (header.type == 13 && count >= 0) {
            result = power_spectrum<dm::complex16, double>(imgTarget, header, count);
        }
        timing.stop();
        return result;
    });
}

}  // namespace zorvan::ops
