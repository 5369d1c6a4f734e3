// FElementWiseProductComplexByRealDLL: a complex image times a real image
// of the same size, element by element, into a clone of the complex one.

#include "fourier/complex_by_real_kernel.h"
#include "image/frame.h"
#include "fourier/fourier.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;

template <class C, class R>
DM_Handle multiply(DM_Handle complex_handle, DM_Handle real_handle, std::int32_t count) {
    const dm::image<C> complex(complex_handle, dm::lock::packed);
    const dm::image<R> real(real_handle, dm::lock::packed);
    const ImageRef clone = ImageClone(complex_handle);
    dm::image<C> product(clone, dm::lock::packed);
    if (complex.data() == nullptr || real.data() == nullptr || product.data() == nullptr) return nullptr;
    // The factors multiply the complex input's own elements, not the clone's.
    kernels::multiply_complex_by_real(complex.data(), real.data(), product.data(), count);
    return product.release();
}

}  // namespace

DM_Handle ElementWiseProductComplexByRealDLL(DM_Handle imgComplex, DM_Handle imgReal) {
    return frame::run_family<DM_Handle>(script_function_named("FElementWiseProductComplexByRealDLL"), [&]() -> DM_Handle {
        const frame::Header complex = frame::header_of(imgComplex);
        const frame::Header real = frame::header_of(imgReal);
        if (complex.width != real.width || complex.height != real.height) return nullptr;
        return frame::dispatch_or_refuse<DM_Handle>(dm::complex_codes{}, complex.type, [&]<class C>() -> DM_Handle {
            return frame::dispatch_or_refuse<DM_Handle>(dm::real_codes{}, real.type, [&]<class R>() -> DM_Handle {
                const auto extent = frame::extent_of(complex);
                if (!extent) return nullptr;
                return multiply<C, R>(imgComplex, imgReal, extent->count);
            });
        });
    });
}

}  // namespace zorvan::ops
