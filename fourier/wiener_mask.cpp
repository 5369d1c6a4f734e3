// FCreateWienerMaskDLL: the mask max(0, (A^2 - B^2) / A^2) of an amplitude
// image A and a base image B, as a new real image. Zeros of A are replaced
// by 1 in A itself, which the host is not told about.

#include "image/frame.h"
#include "fourier/fourier.h"
#include "fourier/wiener_mask_kernel.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;

template <class T>
DM_Handle wiener_mask(DM_Handle amplitude_handle, DM_Handle base_handle, const frame::Extent& extent) {
    const dm::image<T> amplitude(amplitude_handle, dm::lock::packed);
    const dm::image<T> base(base_handle, dm::lock::packed);
    const ImageRef created = RealImage("", sizeof(T), static_cast<std::uint32_t>(extent.width),
                                       static_cast<std::uint32_t>(extent.height));
    dm::image<T> mask(created, dm::lock::packed);
    if (amplitude.data() == nullptr || base.data() == nullptr || mask.data() == nullptr) return nullptr;
    kernels::wiener_mask(amplitude.data(), base.data(), mask.data(), extent.count);
    return mask.release();
}

}  // namespace

DM_Handle CreateWienerMaskDLL(DM_Handle imgAmp, DM_Handle imgBase) {
    return frame::run_family<DM_Handle>(script_function_named("FCreateWienerMaskDLL"), [&]() -> DM_Handle {
        const frame::Header amplitude = frame::header_of(imgAmp);
        const frame::Header base = frame::header_of(imgBase);
        if (amplitude.type != base.type) return nullptr;
        if (amplitude.width != base.width || amplitude.height != base.height) return nullptr;
        return frame::dispatch_or_refuse<DM_Handle>(dm::real_codes{}, amplitude.type, [&]<class T>() -> DM_Handle {
            const auto extent = frame::extent_of(amplitude);
            if (!extent) return nullptr;
            return wiener_mask<T>(imgAmp, imgBase, *extent);
        });
    });
}

}  // namespace zorvan::ops
