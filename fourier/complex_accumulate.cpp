// FPlusComplexImageDLL: adds one complex image into another in place, so
// that many can be summed without a new image per call. The target is not
// announced to the host as changed.

#include "fourier/complex_accumulate_kernel.h"
#include "image/frame.h"
#include "fourier/fourier.h"

namespace zorvan::ops {

namespace {

template <class C>
std::int16_t accumulate(DM_Handle target_handle, DM_Handle plus_handle, std::int32_t count) {
    const dm::image<C> target(target_handle, dm::lock::packed);
    const dm::image<C> plus(plus_handle, dm::lock::packed);
    if (target.data() == nullptr || plus.data() == nullptr) return 0;
    kernels::accumulate_complex(target.data(), plus.data(), count);
    return 1;
}

}  // namespace

std::int16_t PlusComplexImageDLL(DM_Handle imgTarget, DM_Handle imgPlus) {
    return frame::run_family<std::int16_t>(script_function_named("FPlusComplexImageDLL"), [&]() -> std::int16_t {
        const frame::Header target = frame::header_of(imgTarget);
        const frame::Header plus = frame::header_of(imgPlus);
        if (target.type != plus.type) return 0;
        return frame::dispatch_or_refuse<std::int16_t>(dm::complex_codes{}, target.type, [&]<class C>() -> std::int16_t {
            if (target.width != plus.width || target.height != plus.height) return 0;
            const auto extent = frame::extent_of(target);
            if (!extent) return 0;
            return accumulate<C>(imgTarget, imgPlus, extent->count);
        });
    });
}

}  // namespace zorvan::ops
