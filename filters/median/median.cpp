// FMedianFilter: the median over the square window of radius nRad, cut to
// the image at its edges, of a 4- or 8-byte real image.

#include "filters/filters.h"
#include "filters/median/median_kernel.h"
#include "image/frame.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;
using frame::check;

// Only the first nx x ny elements, as packed rows, are filtered. In place the
// pixels are visited in median_filter_2d's order, each window read as it
// stands then; apart from the source the faster routes give the same result
// (median_kernel.h picks).
template <class T>
DM_Handle median_worker(DM_Handle source_handle, std::int64_t radius, DM_Handle destination_handle) {
    frame::filter_views<T> views(source_handle, destination_handle, dm::lock::packed);
    auto& [source, destination] = views;
    const auto nx = static_cast<std::int64_t>(source.width());
    const auto ny = static_cast<std::int64_t>(source.height());
    kernels::median_filter(source.data(), nx, ny, radius, destination.data());
    return destination.release();
}

}  // namespace

// Refusals, in the order checked:
//  "All data type should be Real."   not both 4-byte real nor both 8-byte real
//  "Images of different size cannot appear in this function."  width or height of the destination
//  "nRad should not be negative."
//  "Parameters are invalid."         a null data address
DM_Handle MedianFilter(DM_Handle source, std::int32_t radius, DM_Handle destination_given) {
    return frame::run_operation<DM_Handle>(script_function_named("FMedianFilter"), [&]() -> DM_Handle {
        const ImageRef destination = frame::destination_or_clone(source, destination_given);
        const bool single = IsRealDataType(source, 4) && IsRealDataType(destination.get(), 4);
        const bool twice = !single && IsRealDataType(source, 8) && IsRealDataType(destination.get(), 8);
        check(single || twice, frame::message::all_real);
        // A destination of another width or height would be indexed past its
        // end, a negative radius before the window: both are refused before
        // any pixel is touched.
        const frame::Header target = frame::read_header(destination.get(), frame::plane_fields);
        check(frame::same_plane(target, frame::read_header(source, frame::plane_fields)),
              frame::message::different_size);
        frame::check_radius(radius);
        return single ? median_worker<float>(source, radius, destination.get())
                      : median_worker<double>(source, radius, destination.get());
    });
}

}  // namespace zorvan::ops
