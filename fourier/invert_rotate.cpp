// FInvertRotateDLL: a copy of a real image reflected through its centre
// pixel, made from a clone so that the elements no pass writes keep their
// values.

#include "image/frame.h"
#include "fourier/fourier.h"
#include "fourier/invert_rotate_kernel.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;

template <class T>
DM_Handle invert_rotate(DM_Handle source_handle, const frame::Extent& extent) {
    const dm::image<T> source(source_handle, dm::lock::packed);
    const ImageRef clone = ImageClone(source_handle);
    dm::image<T> result(clone, dm::lock::packed);
    if (source.data() == nullptr || result.data() == nullptr) return nullptr;
    kernels::invert_rotate(source.data(), result.data(), extent.width, extent.height);
    return result.release();
}

}  // namespace

DM_Handle InvertRotateDLL(DM_Handle imgSrc) {
    return frame::run_family<DM_Handle>(script_function_named("FInvertRotateDLL"), [&]() -> DM_Handle {
        const frame::Header header = frame::header_of(imgSrc);
        return frame::dispatch_or_refuse<DM_Handle>(dm::real_codes{}, header.type, [&]<class T>() -> DM_Handle {
            const auto extent = frame::extent_of(header);
            if (!extent) return nullptr;
            return invert_rotate<T>(imgSrc, *extent);
        });
    });
}

}  // namespace zorvan::ops
