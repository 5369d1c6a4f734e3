#pragma once
// Conventions shared by the Fourier-space functions: header queries before
// any lock, the signed 32-bit element count, inline timing that records
// every normal return (refusals included) and nothing when an exception
// ends the call, and silent refusal by a null image or 0.

#include "image/dm_image.h"
#include "plugin/ImageUtility.h"
#include "plugin/script_function.h"
#include "plugin/timing.h"

#include <cstdint>
#include <limits>
#include <optional>

namespace zorvan::fourier {

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

// w·h as the family's signed 32-bit element count; -1 when it does not fit
// (such an image is refused rather than overflowed).
inline std::int32_t element_count(std::uint64_t width, std::uint64_t height) {
    const std::uint64_t count = width * height;
    if (width != 0 && count / width != height) return -1;
    return count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) ? -1
                                                                                         : static_cast<std::int32_t>(count);
}

inline std::int32_t element_count(const Header& header) { return element_count(header.width, header.height); }

// Width, height and their product, all as signed 32-bit integers, which is
// how the loops index them.
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

// Calls body.template operator()<T>() with T the element type of a real
// code (2: float, 12: double); any other code gives Result{}, a refusal.
template <class Result, class Body>
Result dispatch_real(std::uint32_t code, Body&& body) {
    if (code == 2) return body.template operator()<float>();
    if (code == 12) return body.template operator()<double>();
    return Result{};
}

// The same for complex codes (3: pairs of floats, 13: pairs of doubles).
template <class Result, class Body>
Result dispatch_complex(std::uint32_t code, Body&& body) {
    if (code == 3) return body.template operator()<dm::complex8>();
    if (code == 13) return body.template operator()<dm::complex16>();
    return Result{};
}

// Runs a Fourier-space function: timed inline under `label`, any exception
// raised as a script error with the result Result{} and no counter added.
template <class Result, class Body>
Result run_family(const char* label, Body&& body) noexcept {
    return Gatan::PlugIn::script_guard<Result>([&]() -> Result {
        const Gatan::PlugIn::InlineTiming timing(label);
        Result result = body();
        timing.stop();
        return result;
    });
}

}  // namespace zorvan::fourier
