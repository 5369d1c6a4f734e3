// FElementWiseProductComplexByRealDLL: a complex image times a real image
// of the same size, element by element, into a clone of the complex one.

#include "fourier/complex_by_real_kernel.h"
#include "fourier/family.h"
#include "fourier/fourier.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;

template <class C, class R>
DM_Handle multiply(DM_Handle complex_handle, DM_Handle real_handle, std::int32_t count) {
    const dm::image<C> complex(complex_handle, 1);
    const dm::image<R> real(real_handle, 1);
    const ImageRef clone = ImageClone(complex_handle);
    dm::image<C> product(clone, 1);
    if (complex.data() == nullptr || real.data() == nullptr || product.data() == nullptr) return nullptr;
    // The factors multiply the complex input's own elements, not the clone's.
    kernels::multiply_complex_by_real(complex.data(), real.data(), product.data(), count);
    return product.release();
}

}  // namespace

DM_Handle ElementWiseProductComplexByRealDLL(DM_Handle imgComplex, DM_Handle imgReal) {
    return fourier::run_family<DM_Handle>("ElementWiseProductComplexByRealDM", [&]() -> DM_Handle {
        const fourier::Header complex = fourier::header_of(imgComplex);
        const fourier::Header real = fourier::header_of(imgReal);
        if (complex.width != real.width || complex.height != real.height) return nullptr;
        return fourier::dispatch_complex<DM_Handle>(complex.type, [&]<class C>() -> DM_Handle {
            return fourier::dispatch_real<DM_Handle>(real.type, [&]<class R>() -> DM_Handle {
                const auto extent = fourier::extent_of(complex);
                if (!extent) return nullptr;
                return multiply<C, R>(imgComplex, imgReal, extent->count);
            });
        });
    });
}

}  // namespace zorvan::ops
