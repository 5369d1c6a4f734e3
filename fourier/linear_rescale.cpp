// FWarpLinear2DDLL: rescales a real image by separate factors along x and y
// with separable linear interpolation (rows first, then columns) into a
// destination the caller supplies. The destination is not announced to the
// host as changed.

#include "image/frame.h"
#include "fourier/fourier.h"
#include "fourier/linear_rescale_kernel.h"

#include <cmath>
#include <memory>

namespace zorvan::ops {

namespace {

using frame::Extent;
using frame::Header;

bool usable_factor(double factor) { return std::isfinite(factor) && factor > 0.0; }

template <class T>
std::int16_t rescale(DM_Handle source_handle, DM_Handle destination_handle, const Extent& source_extent,
                     const Extent& destination_extent, double fx, double fy, std::int32_t out_width,
                     std::int32_t out_height, std::int32_t buffer_count) {
    const dm::image<T> source(source_handle, dm::lock::packed);
    const dm::image<T> destination(destination_handle, dm::lock::packed);
    if (source.data() == nullptr || destination.data() == nullptr) return 0;
    // Scratch for a destination over the source only (otherwise never touched); left uninitialised, as the
    // row pass writes every element before the column pass reads it.
    const auto rows = std::make_unique_for_overwrite<T[]>(static_cast<std::size_t>(buffer_count));
    // Output rows go at the destination's own width, so that they line up
    // with its rows when it is wider than the output.
    kernels::linear_rescale(source.data(), source_extent.width, source_extent.height, fx, fy, rows.get(),
                            destination.data(), out_width, out_height, destination_extent.width);
    return 1;
}

}  // namespace

std::int16_t WarpLinear2DDLL(DM_Handle imgSrc, double factorX, double factorY, DM_Handle imgDst) {
    return frame::run_family<std::int16_t>(script_function_named("FWarpLinear2DDLL"), [&]() -> std::int16_t {
        const Header source = frame::header_of(imgSrc);
        const Header destination = frame::header_of(imgDst);
        if (source.type != destination.type) return 0;
        if (static_cast<double>(source.width) * factorX > static_cast<double>(destination.width)) return 0;
        if (static_cast<double>(source.height) * factorY > static_cast<double>(destination.height)) return 0;
        return frame::dispatch_or_refuse<std::int16_t>(dm::real_codes{}, source.type, [&]<class T>() -> std::int16_t {
            // Factors that are not positive and finite give no output size,
            // and the extrapolation needs two samples along each axis.
            if (!usable_factor(factorX) || !usable_factor(factorY)) return 0;
            if (source.width < 2 || source.height < 2) return 0;
            const auto source_extent = frame::extent_of(source);
            const auto destination_extent = frame::extent_of(destination);
            if (!source_extent || !destination_extent) return 0;
            // Within the destination's extent, so both fit 32 bits.
            const auto out_width = static_cast<std::int32_t>(static_cast<double>(source.width) * factorX);
            const auto out_height = static_cast<std::int32_t>(static_cast<double>(source.height) * factorY);
            const std::int32_t buffer_count = frame::element_count(source.height, std::uint64_t(out_width));
            if (buffer_count < 0) return 0;
            return rescale<T>(imgSrc, imgDst, *source_extent, *destination_extent, factorX, factorY, out_width,
                              out_height, buffer_count);
        });
    });
}

}  // namespace zorvan::ops
