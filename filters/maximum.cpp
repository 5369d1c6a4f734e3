// FMaximumFilter: the largest pixel in the square window of radius nRad, cut
// to the image at its edges, of an integer or real image, out of place.

#include "filters/filters.h"
#include "filters/maximum_kernel.h"
#include "image/frame.h"

#include <stdexcept>

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;
using frame::check;

// Only the first nx x ny elements, as packed rows, are filtered.
template <class T>
DM_Handle maximum_worker(DM_Handle source_handle, std::int64_t radius, DM_Handle destination_handle) {
    const dm::image<T> source(source_handle, dm::lock::packed);
    dm::image<T> destination(destination_handle, dm::lock::packed);
    const auto nx = static_cast<std::int64_t>(source.width());
    const auto ny = static_cast<std::int64_t>(source.height());
    check(source.data() != nullptr && destination.data() != nullptr, frame::message::invalid_parameters);
    const auto bytes = static_cast<std::uint64_t>(nx * ny) * sizeof(T);
    check(!frame::bytes_overlap(source.data(), bytes, destination.data(), bytes),
          frame::message::out_of_place);
    // A negative radius is refused with the length error of a buffer of
    // 2r+1 elements, without attempting the allocation.
    if (radius < 0) throw std::length_error("vector<T> too long");
    kernels::maximum_filter(source.data(), nx, ny, radius, destination.data());
    return destination.release();
}

}  // namespace

DM_Handle MaximumFilter(DM_Handle imgSrc, std::int32_t nRad, DM_Handle imgDst) {
    return frame::run_operation<DM_Handle>(script_function_named("FMaximumFilter"), [&]() -> DM_Handle {
        const std::uint32_t code = ImageGetDataType(imgSrc);
        const std::uint32_t nx = ImageGetDimensionSize(imgSrc, 0);
        const std::uint32_t ny = ImageGetDimensionSize(imgSrc, 1);
        const ImageRef destination = frame::destination_or_clone(imgSrc, imgDst);
        const DM_Handle out = destination.get();
        check(ImageGetDimensionSize(out, 0) == nx && ImageGetDimensionSize(out, 1) == ny,
              frame::message::different_size);
        check(ImageGetDataType(out) == code, frame::message::invalid_image_type);
        using kernel_codes = dm::codes<dm::data_type::int16, dm::data_type::real4, dm::data_type::uint8,
                                       dm::data_type::int32, dm::data_type::int8, dm::data_type::uint16,
                                       dm::data_type::uint32, dm::data_type::real8, dm::data_type::binary>;
        return frame::dispatch_or_fail(kernel_codes{}, code, frame::message::invalid_image_type,
                                       [&]<class T>() { return maximum_worker<T>(imgSrc, nRad, out); });
    });
}

}  // namespace zorvan::ops
