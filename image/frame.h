#pragma once
// The frame shared by the filters and measurements: timer, boundary,
// destination, checks with their fixed messages, and type dispatch.

#include "image/dm_image.h"
#include "plugin/ImageUtility.h"
#include "plugin/script_function.h"
#include "plugin/timing.h"

#include <stdexcept>

namespace zorvan::frame {

namespace message {
inline constexpr const char* different_size = "Images of different size cannot appear in this function.";
inline constexpr const char* invalid_data_type = "Invalid data type.";
inline constexpr const char* invalid_image_type = "Invalid image type.";
inline constexpr const char* invalid_parameters = "Parameters are invalid.";
inline constexpr const char* out_of_place = "Output should be out-of-place.";
inline constexpr const char* all_real = "All data type should be Real.";
inline constexpr const char* real4 = "Data type should be Real 4.";
inline constexpr const char* real = "Data type should be Real.";
inline constexpr const char* src_real = "imgSrc should be Real.";
inline constexpr const char* src_real4_or_complex8 = "imgSrc should be Real 4 or Complex 8.";
inline constexpr const char* same_src_dst_type = "Data type of imgSrc and imgDst are should be same.";
inline constexpr const char* weight_real4 = "imgW should be Real 4.";
inline constexpr const char* all_real4 = "All data type should be Real 4.";
inline constexpr const char* invalid_mode = "Invalid mode.";
// Refusals of inputs that would otherwise reach outside an image.
inline constexpr const char* negative_radius = "nRad should not be negative.";
inline constexpr const char* destination_mismatch = "imgDst should have the data type and depth of imgSrc.";
}  // namespace message

[[noreturn]] inline void fail(const char* text) { throw std::runtime_error(text); }

inline void check(bool condition, const char* text) {
    if (!condition) fail(text);
}

// Runs an operation of the filters and measurements: its timer counts on
// every exit, and any exception becomes a script error with Result{}.
template <class Result, class Body>
Result run_operation(const char* label, Body&& body) noexcept {
    return Gatan::PlugIn::script_guard<Result>([&]() -> Result {
        const Gatan::PlugIn::OperationTimer timer(label);
        return body();
    });
}

// The caller's destination, or a clone of the source when none was passed.
inline Gatan::PlugIn::ImageRef destination_or_clone(DM_Handle source, DM_Handle destination) {
    if (destination != nullptr) return Gatan::PlugIn::ImageRef(destination);
    return Gatan::PlugIn::ImageClone(source);
}

// Element pitches from a view's byte strides (0 where a dimension is missing).
template <class T>
struct pitches {
    std::int64_t row;
    std::int64_t plane;
    std::int64_t plane_extent;  // max(plane, height * row)
};

template <class T>
pitches<T> pitches_of(const dm::image<T>& view) {
    const std::int64_t element = view.stride(0);
    check(element > 0, message::invalid_parameters);
    const std::int64_t row = view.stride(1) / element;
    const std::int64_t plane = view.stride(2) / element;
    const std::int64_t spanned = static_cast<std::int64_t>(view.height()) * row;
    return {row, plane, plane > spanned ? plane : spanned};
}

// Dispatch of the real and complex filters: codes 2, 12, 3, 13 in that order.
template <class Work>
decltype(auto) dispatch_real_or_complex(std::uint32_t code, Work&& work) {
    if (code == 2) return work.template operator()<float>();
    if (code == 12) return work.template operator()<double>();
    if (code == 3) return work.template operator()<dm::complex8>();
    if (code == 13) return work.template operator()<dm::complex16>();
    fail(message::invalid_data_type);
}

}  // namespace zorvan::frame
