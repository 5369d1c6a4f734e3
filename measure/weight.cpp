// FWeight: combines every pixel of a plane with a radial profile (a 1-D table
// of weights indexed by the scaled distance from a centre): multiply, add,
// subtract or replace.

#include "image/frame.h"
#include "measure/measure.h"
#include "measure/weight_kernel.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;
using frame::check;

template <class T>
DM_Handle weight_as(DM_Handle source_handle, const ImageRef& destination_handle, const dm::image<float>& table,
                    std::int64_t table_size, std::int64_t cx, std::int64_t cy, float scale_x, float scale_y,
                    kernels::weight_mode mode) {
    frame::filter_views<T> views(source_handle, destination_handle.get(), dm::lock::packed);
    auto& [source, destination] = views;
    check(table.data() != nullptr, frame::message::invalid_parameters);
    kernels::weight_pixels(source.data(), destination.data(), static_cast<std::int64_t>(source.width()),
                           static_cast<std::int64_t>(source.height()), table.data(), table_size, cx, cy, scale_x,
                           scale_y, mode);
    return destination.release();
}

}  // namespace

// Refusals, in the order checked:
//  "imgSrc should be Real 4 or Complex 8."
//  "Data type of imgSrc and imgDst are should be same."
//  "imgW should be Real 4."
//  "Images of different size cannot appear in this function."  width or height of imgDst
//  "Invalid mode."              eMode not one of the four
//  "Parameters are invalid."    a null data address
DM_Handle Weight(DM_Handle source, DM_Handle weights, std::int32_t nCX, std::int32_t nCY, float fScaleX, float fScaleY,
                 std::int32_t eMode, DM_Handle imgDst) {
    return frame::run_operation<DM_Handle>(script_function_named("FWeight"), [&]() -> DM_Handle {
        const ImageRef destination = frame::destination_or_clone(source, imgDst);
        const bool real = IsRealDataType(source, 4);
        check(real || IsComplexDataType(source, 8), frame::message::src_real4_or_complex8);
        check(real ? IsRealDataType(destination.get(), 4) : IsComplexDataType(destination.get(), 8),
              frame::message::same_src_dst_type);
        check(IsRealDataType(weights, 4), frame::message::weight_real4);
        const frame::Header source_header = frame::read_header(source, frame::plane_fields);
        const frame::Header target = frame::read_header(destination.get(), frame::plane_fields);
        const dm::image<float> table(weights, dm::lock::packed);
        // The table is every float of the image, whatever its shape.
        const auto table_size =
            static_cast<std::int64_t>(table.size(0) * table.size(1) * table.size(2) * table.size(3));
        check(frame::same_plane(target, source_header), frame::message::different_size);
        // A mode outside the four would otherwise return the destination
        // untouched without a word.
        check(kernels::is_weight_mode(eMode), frame::message::invalid_mode);

        const auto mode = static_cast<kernels::weight_mode>(eMode);
        if (real) return weight_as<float>(source, destination, table, table_size, nCX, nCY, fScaleX, fScaleY, mode);
        return weight_as<dm::complex8>(source, destination, table, table_size, nCX, nCY, fScaleX, fScaleY, mode);
    });
}

}  // namespace zorvan::ops
