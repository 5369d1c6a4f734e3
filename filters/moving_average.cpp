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
    const dm::image<T> source(source_handle, dm::lock::strided);
    dm::image<T> destination(destination_handle, dm::lock::strided);
    const auto nx = static_cast<std::int64_t>(source.width());
    const auto ny = static_cast<std::int64_t>(source.height());
    const auto nz = static_cast<std::int64_t>(source.depth());
    const T* in = source.data();
    T* out = destination.data();
    check(in != nullptr && out != nullptr, frame::message::invalid_parameters);
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

DM_Handle MovingAverage(DM_Handle imgSrc, std::int32_t nRad, DM_Handle imgDst) {
    return frame::run_operation<DM_Handle>(script_function_named("FMovingAverage"), [&]() -> DM_Handle {
        const std::uint32_t code = ImageGetDataType(imgSrc);
        const std::uint32_t nx = ImageGetDimensionSize(imgSrc, 0);
        const std::uint32_t ny = ImageGetDimensionSize(imgSrc, 1);
        const std::uint32_t nz = ImageGetDimensionSize(imgSrc, 2);
        const ImageRef destination = frame::destination_or_clone(imgSrc, imgDst);
        check(ImageGetDimensionSize(destination.get(), 0) == nx && ImageGetDimensionSize(destination.get(), 1) == ny,
              frame::message::different_size);
        return frame::dispatch_or_fail(dm::real_or_complex_codes{}, code, frame::message::invalid_data_type,
                                       [&destination, imgSrc, nRad, code, nz]<class T>() -> DM_Handle {
            // A destination of another type or depth would be written past
            // its end: refused, like a negative radius, before any pixel is
            // touched.
            frame::check_radius(nRad);
            check(ImageGetDataType(destination.get()) == code && ImageGetDimensionSize(destination.get(), 2) == nz,
                  frame::message::destination_mismatch);
            return moving_average_worker<T>(imgSrc, nRad, destination.get());
        });
    });
}

}  // namespace zorvan::ops
