// FInvertRotateDLL: a copy of a real image reflected through its centre
// pixel, made from a clone so that the elements no pass writes keep their
// values.

#include "fourier/family.h"
#include "fourier/fourier.h"
#include "fourier/invert_rotate_kernel.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;

template <class T>
DM_Handle invert_rotate(DM_Handle source_handle, const fourier::Extent& extent) {
    const dm::image<T> source(source_handle, 1);
    const ImageRef clone = ImageClone(source_handle);
    dm::image<T> result(clone, 1);
    if (source.data() == nullptr || result.data() == nullptr) return nullptr;
    kernels::invert_rotate(source.data(), result.data(), extent.width, extent.height);
    return result.release();
}

}  // namespace

DM_Handle InvertRotateDLL(DM_Handle imgSrc) {
    return fourier::run_family<DM_Handle>("InvertRotateDM", [&]() -> DM_Handle {
        const fourier::Header header = fourier::header_of(imgSrc);
        return fourier::dispatch_real<DM_Handle>(header.type, [&]<class T>() -> DM_Handle {
            const auto extent = fourier::extent_of(header);
            if (!extent) return nullptr;
            return invert_rotate<T>(imgSrc, *extent);
        });
    });
}

}  // namespace zorvan::ops
