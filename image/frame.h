#pragma once
// The frame every operation runs in. Two policies sit side by side:
//  - the filters and measurements raise a script error with one fixed
//    message, and their timer counts on every exit (run_operation);
//  - the Fourier-space family refuses unsuitable input silently with a null
//    image or 0, and times itself inline, so that nothing is counted when an
//    exception ends the call (run_family).
// Both use the header queries, the overlap and depth tests and the type
// dispatch below.

#include "contract/data_types.h"
#include "contract/script_functions.h"
#include "image/dm_image.h"
#include "plugin/errors.h"
#include "plugin/host_functions.h"
#include "plugin/timing.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>

namespace zorvan::frame {

// ---- shared ---------------------------------------------------------------

// Data type, width and height of an image, each asked through a temporary
// copy of the handle.
struct Header {
    std::uint32_t type;
    std::uint32_t width;
    std::uint32_t height;
};

inline std::uint32_t data_type_of(DM_Handle image) {
    return Gatan::PlugIn::ImageGetDataType(Gatan::PlugIn::ImageRef(image).get());
}

inline std::uint32_t dimension_size_of(DM_Handle image, std::uint32_t dimension) {
    return Gatan::PlugIn::ImageGetDimensionSize(Gatan::PlugIn::ImageRef(image).get(), dimension);
}

inline Header header_of(DM_Handle image) {
    Header header{};
    header.type = data_type_of(image);
    header.width = dimension_size_of(image, 0);
    header.height = dimension_size_of(image, 1);
    return header;
}

// Size of dimension 2; 1 for an image of fewer dimensions.
inline std::uint32_t depth_of(DM_Handle image) {
    return Gatan::PlugIn::ImageGetNumDimensions(image) > 2 ? Gatan::PlugIn::ImageGetDimensionSize(image, 2) : 1;
}

// Whether [a, a + a_bytes) and [b, b + b_bytes) share a byte.
inline bool bytes_overlap(const void* a, std::uint64_t a_bytes, const void* b, std::uint64_t b_bytes) {
    const auto a_begin = reinterpret_cast<std::uintptr_t>(a);
    const auto b_begin = reinterpret_cast<std::uintptr_t>(b);
    return a_begin < b_begin + b_bytes && b_begin < a_begin + a_bytes;
}

// w·h as a signed 32-bit element count; -1 when it does not fit (such an
// image is refused rather than overflowed).
inline std::int32_t element_count(std::uint64_t width, std::uint64_t height) {
    const std::uint64_t count = width * height;
    if (width != 0 && count / width != height) return -1;
    return count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) ? -1
                                                                                         : static_cast<std::int32_t>(count);
}

inline std::int32_t element_count(const Header& header) { return element_count(header.width, header.height); }

// Width, height and their product, all as signed 32-bit integers, which is
// how the Fourier-space loops index them.
struct Extent {
    std::int32_t width;
    std::int32_t height;
    std::int32_t count;
};

// The extent of a width x height block, or nothing when the width, the
// height or the element count does not fit a signed 32-bit integer.
inline std::optional<Extent> extent_of(std::uint64_t width, std::uint64_t height) {
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    const std::int32_t count = element_count(width, height);
    if (count < 0 || width > largest || height > largest) return std::nullopt;
    return Extent{static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), count};
}

inline std::optional<Extent> extent_of(const Header& header) { return extent_of(header.width, header.height); }

// ---- filters and measurements: one message per refusal -------------------

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

// A negative radius would index before the window.
inline void check_radius(std::int64_t radius) { check(radius >= 0, message::negative_radius); }

// Runs a filter or measurement: its timer counts on every exit, and any
// exception becomes a script error with the result Result{}.
template <class Result, class Body>
Result run_operation(const script_function& function, Body&& body) noexcept {
    return Gatan::PlugIn::script_guard<Result>([&]() -> Result {
        const Gatan::PlugIn::OperationTimer timer(function.counter);
        return body();
    });
}

// The caller's destination, or a clone of the source when none was passed.
inline Gatan::PlugIn::ImageRef destination_or_clone(DM_Handle source, DM_Handle destination) {
    if (destination != nullptr) return Gatan::PlugIn::ImageRef(destination);
    return Gatan::PlugIn::ImageClone(source);
}

// Element pitches from a view's byte strides (0 where a dimension is missing).
struct pitches {
    std::int64_t row;
    std::int64_t plane;
    std::int64_t plane_extent;  // max(plane, height * row)
};

template <class T>
pitches pitches_of(const dm::image<T>& view) {
    const std::int64_t element = view.stride(0);
    check(element > 0, message::invalid_parameters);
    const std::int64_t row = view.stride(1) / element;
    const std::int64_t plane = view.stride(2) / element;
    const std::int64_t spanned = static_cast<std::int64_t>(view.height()) * row;
    return {row, plane, plane > spanned ? plane : spanned};
}

// The work for the element type of `code`, or `text` raised for a code the
// list lacks.
template <class Codes, class Work>
dm::dispatch_result_t<Codes, Work> dispatch_or_fail(Codes codes, std::int32_t code, const char* text, Work&& work) {
    return dm::dispatch(codes, code, work, [text]() -> dm::dispatch_result_t<Codes, Work> { fail(text); });
}

// ---- the Fourier-space family: silent refusals ----------------------------

// Runs a Fourier-space function: timed inline, any exception raised as a
// script error with the result Result{} and no counter added.
template <class Result, class Body>
Result run_family(const script_function& function, Body&& body) noexcept {
    return Gatan::PlugIn::script_guard<Result>([&]() -> Result {
        const Gatan::PlugIn::InlineTiming timing(function.counter);
        Result result = body();
        timing.stop();
        return result;
    });
}

// The work for the element type of `code`, or Result{} (a refusal) for a
// code the list lacks.
template <class Result, class Codes, class Work>
Result dispatch_or_refuse(Codes codes, std::int32_t code, Work&& work) {
    return dm::dispatch(codes, code, work, [] { return Result{}; });
}

}  // namespace zorvan::frame
