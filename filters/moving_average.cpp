// FMovingAverage: the mean over the square (in 3-D, cubic) window of radius
// nRad, cut to the image at its edges.

#include "filters/moving_average_kernel.h"
#include "image/frame.h"
#include "filters/filters.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;
using frame::check;

template <class T>
DM_Handle moving_average_worker(DM_Handle source_handle, std::int64_t radius, DM_Handle destination_handle) {
    frame::filter_views<T> views(source_handle, destination_handle, dm::lock::strided);
    auto& [source, destination] = views;
    const auto nx = static_cast<std::int64_t>(source.width());
    const auto ny = static_cast<std::int64_t>(source.height());
    const auto nz = static_cast<std::int64_t>(source.depth());
    const T* in = source.data();
    T* out = destination.data();
    const auto s = frame::pitches_of(source);
    const auto d = frame::pitches_of(destination);

    // The routes differ only in memory use: planes that do not overlap get
    // the 2-D box per plane (then z), the image itself gets 1-D passes.
    const auto plane_bytes = [](const frame::pitches& p) { return static_cast<std::uint64_t>(p.plane_extent) * sizeof(T); };
    if (!frame::bytes_overlap(in, plane_bytes(s), out, plane_bytes(d))) {
        for (std::int64_t z = 0; z < nz; ++z) {
            kernels::box_mean_plane(in + z * s.plane_extent, s.row, nx, ny, radius, out + z * d.plane_extent, d.row);
        }
        if (nz > 1) {
            kernels::mean_pass_1d(kernels::axis::z, nx, ny, nz, out, d.row, d.plane_extent, radius, out, d.row,
                                  d.plane_extent);
        }
    } else {
        const T* pass_source = in;
        std::int64_t source_row = s.row, source_extent = s.plane_extent;
        const kernels::axis axes[] = {kernels::axis::x, kernels::axis::y, kernels::axis::z};
        const std::int64_t lengths[] = {nx, ny, nz};
        for (int a = 0; a < 3; ++a) {
            if (lengths[a] <= 1) continue;
            kernels::mean_pass_1d(axes[a], nx, ny, nz, pass_source, source_row, source_extent, radius, out, d.row,
                                  d.plane_extent);
            pass_source = out;
            source_row = d.row;
            source_extent = d.plane_extent;
        }
    }
    return destination.release();
}

}  // namespace

// Refusals, in the order checked:
//  "Images of different size cannot appear in this function."  width or height of imgDst
//  "Invalid data type."                       imgSrc not 4- or 8-byte real or complex
//  "nRad should not be negative."
//  "imgDst should have the data type and depth of imgSrc."
//  "Parameters are invalid."                  a null data address
DM_Handle MovingAverage(DM_Handle imgSrc, std::int32_t nRad, DM_Handle imgDst) {
    return frame::run_operation<DM_Handle>(script_function_named("FMovingAverage"), [&]() -> DM_Handle {
        // Dimension 2 is asked of every image, a 2-D one included.
        constexpr unsigned fields = frame::type_field | frame::plane_fields | frame::depth_asked;
        const frame::Header source = frame::read_header(imgSrc, fields);
        const ImageRef destination = frame::destination_or_clone(imgSrc, imgDst);
        const frame::Header target = frame::read_header(destination.get(), fields);
        check(frame::same_plane(target, source), frame::message::different_size);
        return frame::dispatch_or_fail(dm::real_or_complex_codes{}, source.type, frame::message::invalid_data_type,
                                       [&]<class T>() -> DM_Handle {
            // A destination of another type or depth would be written past
            // its end: refused, like a negative radius, before any pixel is
            // touched.
            frame::check_radius(nRad);
            check(target.type == source.type && target.depth == source.depth, frame::message::destination_mismatch);
            return moving_average_worker<T>(imgSrc, nRad, destination.get());
        });
    });
}

}  // namespace zorvan::ops
