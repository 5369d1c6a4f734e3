// FRadialWarpDLL: a radial profile spread over a new image of the size of
// another, at the elliptically scaled distance from the centre.

#include "image/frame.h"
#include "fourier/fourier.h"
#include "fourier/radial_warp_kernel.h"

#include <cmath>

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;

template <class T>
DM_Handle radial_warp(DM_Handle profile_handle, std::int32_t length, double aspect_x, double aspect_y,
                      const frame::Extent& extent) {
    const ImageRef created = RealImage("", sizeof(T), static_cast<std::uint32_t>(extent.width),
                                       static_cast<std::uint32_t>(extent.height));
    dm::image<T> result(created, dm::lock::packed);
    const dm::image<T> profile(profile_handle, dm::lock::packed);
    if (result.data() == nullptr || profile.data() == nullptr) return nullptr;
    kernels::radial_warp(profile.data(), length, aspect_x, aspect_y, result.data(), extent.width, extent.height);
    return result.release();
}

}  // namespace

DM_Handle RadialWarpDLL(DM_Handle imgSizeSrc, DM_Handle imgRadialSrc, double aspectX, double aspectY) {
    return frame::run_family<DM_Handle>(script_function_named("FRadialWarpDLL"), [&]() -> DM_Handle {
        const std::uint32_t width = frame::dimension_size_of(imgSizeSrc, 0);
        const std::uint32_t height = frame::dimension_size_of(imgSizeSrc, 1);
        const std::uint32_t profile_type = frame::data_type_of(imgRadialSrc);
        const std::uint32_t length = frame::dimension_size_of(imgRadialSrc, 0);
        return frame::dispatch_or_refuse<DM_Handle>(dm::real_codes{}, profile_type, [&]<class T>() -> DM_Handle {
            // Non-finite aspects would make radii that are NaN; a profile
            // longer than the 32-bit range could not be indexed.
            if (!std::isfinite(aspectX) || !std::isfinite(aspectY)) return nullptr;
            const auto extent = frame::extent_of(width, height);
            const auto profile = frame::extent_of(length, 1);
            if (!extent || !profile) return nullptr;
            return radial_warp<T>(imgRadialSrc, profile->count, aspectX, aspectY, *extent);
        });
    });
}

}  // namespace zorvan::ops
