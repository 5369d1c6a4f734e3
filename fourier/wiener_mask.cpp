// FCreateWienerMaskDLL: the mask max(0, (A^2 - B^2) / A^2) of an amplitude
// image A and a base image B, as a new real image. Zeros of A are replaced
// by 1 in A itself, which the host is not told about.

#include "fourier/family.h"
#include "fourier/fourier.h"
#include "fourier/wiener_mask_kernel.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;

template <class T>
DM_Handle wiener_mask(DM_Handle amplitude_handle, DM_Handle base_handle, const fourier::Extent& extent) {
    const dm::image<T> amplitude(amplitude_handle, 1);
    const dm::image<T> base(base_handle, 1);
    const ImageRef created = RealImage("", sizeof(T), static_cast<std::uint32_t>(extent.width),
                                       static_cast<std::uint32_t>(extent.height));
    dm::image<T> mask(created, 1);
    if (amplitude.data() == nullptr || base.data() == nullptr || mask.data() == nullptr) return nullptr;
    kernels::wiener_mask(amplitude.data(), base.data(), mask.data(), extent.count);
    return mask.release();
}

}  // namespace

DM_Handle CreateWienerMaskDLL(DM_Handle imgAmp, DM_Handle imgBase) {
    return fourier::run_family<DM_Handle>("CreateWienerMaskDM", [&]() -> DM_Handle {
        const fourier::Header amplitude = fourier::header_of(imgAmp);
        const fourier::Header base = fourier::header_of(imgBase);
        if (amplitude.type != base.type) return nullptr;
        if (amplitude.width != base.width || amplitude.height != base.height) return nullptr;
        return fourier::dispatch_real<DM_Handle>(amplitude.type, [&]<class T>() -> DM_Handle {
            const auto extent = fourier::extent_of(amplitude);
            if (!extent) return nullptr;
            return wiener_mask<T>(imgAmp, imgBase, *extent);
        });
    });
}

}  // namespace zorvan::ops
