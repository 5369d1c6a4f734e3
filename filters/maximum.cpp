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

bool overlapping(const void* a, const void* b, std::uint64_t bytes) {
    const auto a_begin = reinterpret_cast<std::uintptr_t>(a);
    const auto b_begin = reinterpret_cast<std::uintptr_t>(b);
    return a_begin < b_begin + bytes && b_begin < a_begin + bytes;
}

// Only the first nx x ny elements, as packed rows, are filtered.
template <class T>
DM_Handle maximum_worker(DM_Handle source_handle, std::int64_t radius, DM_Handle destination_handle) {
    const dm::image<T> source(source_handle, 1);
    dm::image<T> destination(destination_handle, 1);
    const auto nx = static_cast<std::int64_t>(source.width());
    const auto ny = static_cast<std::int64_t>(source.height());
    check(source.data() != nullptr && destination.data() != nullptr, frame::message::invalid_parameters);
    check(!overlapping(source.data(), destination.data(), static_cast<std::uint64_t>(nx * ny) * sizeof(T)),
          frame::message::out_of_place);
    // A negative radius makes a ring of 2r+1 slots that no vector can hold;
    // the length error is raised without attempting the allocation.
    if (radius < 0) throw std::length_error("vector<T> too long");
    kernels::maximum_filter_2d(source.data(), nx, ny, radius, destination.data());
    return destination.release();
}

}  // namespace

DM_Handle MaximumFilter(DM_Handle imgSrc, std::int32_t nRad, DM_Handle imgDst) {
    return frame::run_operation<DM_Handle>("MaximumFilterDM", [&]() -> DM_Handle {
        const std::uint32_t code = ImageGetDataType(imgSrc);
        const std::uint32_t nx = ImageGetDimensionSize(imgSrc, 0);
        const std::uint32_t ny = ImageGetDimensionSize(imgSrc, 1);
        const ImageRef destination = frame::destination_or_clone(imgSrc, imgDst);
        const DM_Handle out = destination.get();
        check(ImageGetDimensionSize(out, 0) == nx && ImageGetDimensionSize(out, 1) == ny,
              frame::message::different_size);
        check(ImageGetDataType(out) == code, frame::message::invalid_image_type);
        switch (code) {
            case 1: return maximum_worker<std::int16_t>(imgSrc, nRad, out);
            case 2: return maximum_worker<float>(imgSrc, nRad, out);
            case 6: return maximum_worker<std::uint8_t>(imgSrc, nRad, out);
            case 7: return maximum_worker<std::int32_t>(imgSrc, nRad, out);
            case 9: return maximum_worker<std::int8_t>(imgSrc, nRad, out);
            case 10: return maximum_worker<std::uint16_t>(imgSrc, nRad, out);
            case 11: return maximum_worker<std::uint32_t>(imgSrc, nRad, out);
            case 12: return maximum_worker<double>(imgSrc, nRad, out);
            case 14: return maximum_worker<std::uint8_t>(imgSrc, nRad, out);  // one byte per pixel
            default: frame::fail(frame::message::invalid_image_type);
        }
    });
}

}  // namespace zorvan::ops
