// FMovingAverage2: the local mean of the values and the local mean of their
// squares over the square window of radius nRad, into two images passed by
// reference. Outputs of the source's size, type and depth are overwritten;
// otherwise two new images are made and handed back through the references.

#include "filters/filters.h"
#include "filters/moving_average_pair_kernel.h"
#include "image/frame.h"

#include <utility>

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;
using frame::check;

// The host makes new outputs in 2-D only, so a stack can be filtered only
// into outputs the caller made.
constexpr const char* kStackNeedsOutputs =
    "imgDst1 and imgDst2 should have the size, data type and depth of imgSrc when it has more than one plane.";
constexpr const char* kNoImageVariables = "imgDst1 and imgDst2 should be image variables.";

// Every plane of the source into the same plane of the two outputs. Each
// output is addressed with its own pitches (the source's, for images of
// its size and depth).
template <class T>
void pair_over_planes(DM_Handle source_handle, std::int64_t radius, const dm::image<T>& mean,
                      const dm::image<T>& square_mean) {
    const dm::image<T> source(source_handle, dm::lock::strided);
    const T* in = source.data();
    check(in != nullptr && mean.data() != nullptr && square_mean.data() != nullptr,
          frame::message::invalid_parameters);
    const auto nx = static_cast<std::int64_t>(source.width());
    const auto ny = static_cast<std::int64_t>(source.height());
    const auto nz = static_cast<std::int64_t>(source.depth());
    const auto s = frame::pitches_of(source);
    const auto m = frame::pitches_of(mean);
    const auto q = frame::pitches_of(square_mean);
    const auto volume_bytes = [nz](std::int64_t plane_extent) {
        return static_cast<std::uint64_t>(nz * plane_extent) * sizeof(T);
    };
    check(!frame::bytes_overlap(in, volume_bytes(s.plane_extent), mean.data(), volume_bytes(m.plane_extent)) &&
              !frame::bytes_overlap(in, volume_bytes(s.plane_extent), square_mean.data(), volume_bytes(q.plane_extent)),
          frame::message::out_of_place);
    // Refused here, after the checks of the pixel loop, so that their
    // messages come first; no pixel has been read yet.
    frame::check_radius(radius);
    for (std::int64_t z = 0; z < nz; ++z) {
        kernels::box_mean_pair_plane(in + z * s.plane_extent, s.row, nx, ny, radius, mean.data() + z * m.plane_extent,
                                  m.row, square_mean.data() + z * q.plane_extent, q.row);
    }
}

// A new 2-D output of the pixel type, with an empty name.
template <class T>
ImageRef new_output(std::uint32_t nx, std::uint32_t ny) {
    if constexpr (dm::is_complex_v<T>) {
        return ComplexImage("", static_cast<std::int32_t>(sizeof(T)), static_cast<std::int32_t>(nx),
                            static_cast<std::int32_t>(ny));
    } else {
        return RealImage("", static_cast<std::uint32_t>(sizeof(T)), nx, ny);
    }
}

// The caller's outputs are reused when both are live images of the source's
// width, height and type, and, for a stack, of its depth. A 2-D source is
// written into the first plane of outputs of any depth. The outputs' headers
// are asked in the order of the reuse test: both types, then the plane of
// the first and of the second, then (for a stack only) both depths.
bool reusable(DM_Handle first, DM_Handle second, const frame::Header& source) {
    if (!ImageIsValid(first) || !ImageIsValid(second)) return false;
    frame::Header a{}, b{};
    a.type = ImageGetDataType(first);
    b.type = ImageGetDataType(second);
    a.width = ImageGetDimensionSize(first, 0);
    a.height = ImageGetDimensionSize(first, 1);
    b.width = ImageGetDimensionSize(second, 0);
    b.height = ImageGetDimensionSize(second, 1);
    return frame::same_plane(a, source) && frame::same_plane(b, source) && a.type == source.type &&
           b.type == source.type &&
           (source.depth == 1 || (frame::depth_of(first) == source.depth && frame::depth_of(second) == source.depth));
}

}  // namespace

// Refusals, in the order checked:
//  "imgDst1 and imgDst2 should be image variables."
//  "Invalid data type."          imgSrc not 4- or 8-byte real or complex
//  "imgDst1 and imgDst2 should have the size, data type and depth of imgSrc when it has more than one plane."
//  "Parameters are invalid."     a null data address
//  "Output should be out-of-place."  an output overlapping imgSrc
//  "nRad should not be negative."
void MovingAverage2(DM_Handle imgSrc, std::int32_t nRad, DM_Handle* imgDst1, DM_Handle* imgDst2) {
    frame::run_operation<void>(script_function_named("FMovingAverage2"), [&] {
        const frame::Header source =
            frame::read_header(imgSrc, frame::type_field | frame::plane_fields | frame::depth_counted);
        check(imgDst1 != nullptr && imgDst2 != nullptr, kNoImageVariables);

        const bool reuse = reusable(*imgDst1, *imgDst2, source);
        frame::dispatch_or_fail(dm::real_or_complex_codes{}, source.type, frame::message::invalid_data_type,
                                [&]<class T>() {
            if (reuse) {
                // Written in place; the references stay and the host is not told.
                const dm::image<T> mean(*imgDst1, dm::lock::packed);
                const dm::image<T> square_mean(*imgDst2, dm::lock::packed);
                pair_over_planes<T>(imgSrc, nRad, mean, square_mean);
                return;
            }
            check(source.depth == 1, kStackNeedsOutputs);
            const ImageRef made_mean = new_output<T>(source.width, source.height);
            dm::image<T> mean(made_mean, dm::lock::packed);
            const ImageRef made_square_mean = new_output<T>(source.width, source.height);
            dm::image<T> square_mean(made_square_mean, dm::lock::packed);
            pair_over_planes<T>(imgSrc, nRad, mean, square_mean);
            // Both are released before either reference is stored, so that a
            // failure leaves the caller's variables as they were.
            ImageRef mean_result = ImageRef::adopt(mean.release());
            ImageRef square_mean_result = ImageRef::adopt(square_mean.release());
            assign_result_slot(imgDst1, std::move(mean_result));
            assign_result_slot(imgDst2, std::move(square_mean_result));
        });
    });
}

}  // namespace zorvan::ops
