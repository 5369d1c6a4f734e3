// FPlusComplexImageDLL: adds one complex image into another in place, so
// that many can be summed without a new image per call. The target is not
// announced to the host as changed.

#include "fourier/complex_accumulate_kernel.h"
#include "fourier/family.h"
#include "fourier/fourier.h"

namespace zorvan::ops {

namespace {

template <class C>
std::int16_t accumulate(DM_Handle target_handle, DM_Handle plus_handle, std::int32_t count) {
    const dm::image<C> target(target_handle, 1);
    const dm::image<C> plus(plus_handle, 1);
    if (target.data() == nullptr || plus.data() == nullptr) return 0;
    kernels::accumulate_complex(target.data(), plus.data(), count);
    return 1;
}

}  // namespace

std::int16_t PlusComplexImageDLL(DM_Handle imgTarget, DM_Handle imgPlus) {
    return fourier::run_family<std::int16_t>("PlusComplexImageDM", [&]() -> std::int16_t {
        const fourier::Header target = fourier::header_of(imgTarget);
        const fourier::Header plus = fourier::header_of(imgPlus);
        if (target.type != plus.type) return 0;
        return fourier::dispatch_complex<std::int16_t>(target.type, [&]<class C>() -> std::int16_t {
            if (target.width != plus.width || target.height != plus.height) return 0;
            const auto extent = fourier::extent_of(target);
            if (!extent) return 0;
            return accumulate<C>(imgTarget, imgPlus, extent->count);
        });
    });
}

}  // namespace zorvan::ops
