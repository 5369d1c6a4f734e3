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

namespace zorvan::fourier {

// Data type, width and height of an image, each asked through a temporary
// copy of the handle.
struct Header {
    std::uint32_t type;
    std::uint32_t width;
    std::uint32_t height;
};

inline Header header_of(DM_Handle image) {
    using Gatan::PlugIn::ImageRef;
    Header header{};
    header.type = Gatan::PlugIn::ImageGetDataType(ImageRef(image).get());
    header.width = Gatan::PlugIn::ImageGetDimensionSize(ImageRef(image).get(), 0);
    header.height = Gatan::PlugIn::ImageGetDimensionSize(ImageRef(image).get(), 1);
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
