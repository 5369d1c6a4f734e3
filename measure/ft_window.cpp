// FFTWindow: multiplies the first plane of a real image by a 2-D Hann or sine
// window, so that it can be Fourier-transformed without edge artefacts.

#include "image/frame.h"
#include "measure/ft_window_kernel.h"
#include "measure/measure.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;
using frame::check;

constexpr const char* kPlaneTooLarge = "imgSrc should have fewer than 2147483648 pixels in a plane.";

}  // namespace

// Refusals, in the order checked:
//  "All data type should be Real 4."
//  "Images of different size cannot appear in this function."  width or height of imgDst
//  "Invalid mode."
//  "imgSrc should have fewer than 2147483648 pixels in a plane."
//  "Parameters are invalid."   a null data address
DM_Handle FTWindow(DM_Handle source_handle, std::int32_t eMode, DM_Handle imgDst) {
    return frame::run_operation<DM_Handle>(script_function_named("FFTWindow"), [&]() -> DM_Handle {
        const ImageRef destination_handle = frame::destination_or_clone(source_handle, imgDst);
        check(IsRealDataType(source_handle, 4) && IsRealDataType(destination_handle.get(), 4),
              frame::message::all_real4);
        const dm::image<float> source(source_handle, dm::lock::packed);
        dm::image<float> destination(destination_handle, dm::lock::packed);
        check(destination.width() == source.width() && destination.height() == source.height(),
              frame::message::different_size);
        check(kernels::is_window_mode(eMode), frame::message::invalid_mode);
        // Pixel indices are signed 32-bit numbers.
        check(kernels::window_plane_fits(source.width(), source.height()), kPlaneTooLarge);
        check(source.data() != nullptr && destination.data() != nullptr, frame::message::invalid_parameters);
        kernels::fourier_window(source.data(), destination.data(), static_cast<std::int32_t>(source.width()),
                                static_cast<std::int32_t>(source.height()), static_cast<kernels::window_mode>(eMode));
        return destination.release();
    });
}

}  // namespace zorvan::ops
