#pragma once
// The frame every operation runs in. Two policies sit side by side:
//  - the filters and measurements raise a script error with one fixed
//    message, and their timer counts on every exit (run_operation);
//  - the Fourier-space family refuses unsuitable input silently with a null
//    image or 0, and times itself inline, so that nothing is counted when an
//    exception ends the call (run_family).
// Both use the header queries, the overlap and depth tests and the type
// dispatch below.
//
// A filter or measurement reads each image's header once (read_header: the
// fields its checks use, in one order; type tests by IsRealDataType,
// IsComplexDataType or the 16-bit GetDataType are asked where its checks
// need them), and opens with a comment listing its refusals in the order
// they are checked. Views still ask their sizes under their own lock. Before any of them, an image
// argument that is null or not an image is refused with the host's own
// message by the first host function given it.

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

// What a frame's checks read of one image: its data-type code and the sizes
// of dimensions 0, 1 and 2. Each field is asked of the host at most once per
// call; a field not asked keeps its value here (depth 1, the others 0).
struct Header {
    std::uint32_t type = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t depth = 1;
};

inline std::uint32_t data_type_of(DM_Handle image) {
    return Gatan::PlugIn::ImageGetDataType(Gatan::PlugIn::ImageRef(image).get());
}

inline std::uint32_t dimension_size_of(DM_Handle image, std::uint32_t dimension) {
    return Gatan::PlugIn::ImageGetDimensionSize(Gatan::PlugIn::ImageRef(image).get(), dimension);
}

// Data type, width and height, each asked through a temporary copy of the
// handle, as the Fourier-space family does.
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

// The fields of a Header a filter or measurement asks, always in the order
// type, width, height, depth, each directly of the handle (no reference is
// taken). The depth is asked in one of two ways: `depth_asked` asks
// dimension 2 of every image (the host answers 1 for a 2-D one);
// `depth_counted` asks the number of dimensions first and takes 1 for fewer
// than three, so nothing is asked beyond an image's dimensions.
enum header_field : unsigned {
    type_field = 1,
    width_field = 2,
    height_field = 4,
    plane_fields = width_field | height_field,
    depth_asked = 8,
    depth_counted = 16,
};

inline Header read_header(DM_Handle image, unsigned fields) {
    Header header{};
    if (fields & type_field) header.type = Gatan::PlugIn::ImageGetDataType(image);
    if (fields & width_field) header.width = Gatan::PlugIn::ImageGetDimensionSize(image, 0);
    if (fields & height_field) header.height = Gatan::PlugIn::ImageGetDimensionSize(image, 1);
    if (fields & depth_asked) header.depth = Gatan::PlugIn::ImageGetDimensionSize(image, 2);
    if (fields & depth_counted) header.depth = depth_of(image);
    return header;
}

inline bool same_plane(const Header& a, const Header& b) { return a.width == b.width && a.height == b.height; }

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

// The source and destination views of a filter's worker, both locked with
// `flags`, source first; "Parameters are invalid." for a null data address.
// Destroyed destination first, then source.
template <class T>
struct filter_views {
    filter_views(DM_Handle source_handle, DM_Handle destination_handle, std::uint32_t flags)
        : source(source_handle, flags), destination(destination_handle, flags) {
        check(source.data() != nullptr && destination.data() != nullptr, message::invalid_parameters);
    }
    const dm::image<T> source;
    dm::image<T> destination;
};

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
