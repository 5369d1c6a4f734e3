// FRadialWarpDLL: a radial profile spread over a new image of the size of
// another, at the elliptically scaled distance from the centre.

#include "fourier/family.h"
#include "fourier/fourier.h"
#include "fourier/radial_warp_kernel.h"

#include <cmath>

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;

template <class T>
DM_Handle radial_warp(DM_Handle profile_handle, std::int32_t length, double aspect_x, double aspect_y,
                      const fourier::Extent& extent) {
    const ImageRef created = RealImage("", sizeof(T), static_cast<std::uint32_t>(extent.width),
                                       static_cast<std::uint32_t>(extent.height));
    dm::image<T> result(created, 1);
    const dm::image<T> profile(profile_handle, 1);
    if (result.data() == nullptr || profile.data() == nullptr) return nullptr;
    kernels::radial_warp(profile.data(), length, aspect_x, aspect_y, result.data(), extent.width, extent.height);
    return result.release();
}

}  // namespace

DM_Handle RadialWarpDLL(DM_Handle imgSizeSrc, DM_Handle imgRadialSrc, double aspectX, double aspectY) {
    return fourier::run_family<DM_Handle>("RadialWarpDM", [&]() -> DM_Handle {
        const std::uint32_t width = fourier::dimension_size_of(imgSizeSrc, 0);
        const std::uint32_t height = fourier::dimension_size_of(imgSizeSrc, 1);
        const std::uint32_t profile_type = fourier::data_type_of(imgRadialSrc);
        const std::uint32_t length = fourier::dimension_size_of(imgRadialSrc, 0);
        return fourier::dispatch_real<DM_Handle>(profile_type, [&]<class T>() -> DM_Handle {
            // Non-finite aspects would make radii that are NaN; a profile
            // longer than the 32-bit range could not be indexed.
            if (!std::isfinite(aspectX) || !std::isfinite(aspectY)) return nullptr;
            const auto extent = fourier::extent_of(width, height);
            const auto profile = fourier::extent_of(length, 1);
            if (!extent || !profile) return nullptr;
            return radial_warp<T>(imgRadialSrc, profile->count, aspectX, aspectY, *extent);
        });
    });
}

}  // namespace zorvan::ops
