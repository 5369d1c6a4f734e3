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
    frame::filter_views<T> views(source_handle, destination_handle, dm::lock::packed);
    auto& [source, destination] = views;
    const auto nx = static_cast<std::int64_t>(source.width());
    const auto ny = static_cast<std::int64_t>(source.height());
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

// Refusals, in the order checked:
//  "Images of different size cannot appear in this function."  width or height of imgDst
//  "Invalid image type."              imgDst of another type, or imgSrc without a kernel
//  "Parameters are invalid."          a null data address
//  "Output should be out-of-place."   imgDst overlapping imgSrc
//  "vector<T> too long"               a negative radius
DM_Handle MaximumFilter(DM_Handle imgSrc, std::int32_t nRad, DM_Handle imgDst) {
    return frame::run_operation<DM_Handle>(script_function_named("FMaximumFilter"), [&]() -> DM_Handle {
        // Only the first plane is filtered: no depth is asked.
        constexpr unsigned fields = frame::type_field | frame::plane_fields;
        const frame::Header source = frame::read_header(imgSrc, fields);
        const ImageRef destination = frame::destination_or_clone(imgSrc, imgDst);
        // The destination's code is asked only once its sizes have passed.
        frame::Header target = frame::read_header(destination.get(), frame::plane_fields);
        check(frame::same_plane(target, source), frame::message::different_size);
        target.type = frame::read_header(destination.get(), frame::type_field).type;
        check(target.type == source.type, frame::message::invalid_image_type);
        using kernel_codes = dm::codes<dm::data_type::int16, dm::data_type::real4, dm::data_type::uint8,
                                       dm::data_type::int32, dm::data_type::int8, dm::data_type::uint16,
                                       dm::data_type::uint32, dm::data_type::real8, dm::data_type::binary>;
        return frame::dispatch_or_fail(kernel_codes{}, source.type, frame::message::invalid_image_type,
                                       [&]<class T>() { return maximum_worker<T>(imgSrc, nRad, destination.get()); });
    });
}

}  // namespace zorvan::ops
