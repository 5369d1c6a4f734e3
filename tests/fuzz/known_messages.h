#pragma once
// Every message a script error of the plug-in can carry: the filters' and
// measurements' own, and those of the host functions they call.

#include <string>
#include <string_view>

namespace zorvan::fuzz {

inline bool is_known_message(const std::string& message) {
    static constexpr std::string_view kMessages[] = {
        // the filters and measurements
        "Images of different size cannot appear in this function.",
        "Invalid data type.",
        "Invalid image type.",
        "Parameters are invalid.",
        "Output should be out-of-place.",
        "All data type should be Real.",
        "Data type should be Real 4.",
        "Data type should be Real.",
        "imgSrc should be Real.",
        "imgSrc should be Real 4 or Complex 8.",
        "Data type of imgSrc and imgDst are should be same.",
        "imgW should be Real 4.",
        "All data type should be Real 4.",
        "Invalid mode.",
        "nRad should not be negative.",
        "imgDst should have the data type and depth of imgSrc.",
        "imgDst1 and imgDst2 should be image variables.",
        "imgDst1 and imgDst2 should have the size, data type and depth of imgSrc when it has more than one plane.",
        "n should be less than the width of src.",
        "vector<T> too long",
        "fScaleX and fScaleY should be finite.",
        "The farthest radius is too large for a radial survey.",
        "imgSrc should have fewer than 2147483648 pixels in a plane.",
        // the host functions
        "The argument is not a valid image.",
        "An image dimension must be at least 1.",
        "An image dimension cannot exceed 2147483647 (a negative size?).",
        "The image is too large to allocate.",
        "A real image has 4 or 8 bytes per element.",
        "A complex image has 8 or 16 bytes per element.",
        "A locked image cannot change its data type.",
        "Images of this data type cannot be converted to real.",
        "Out of memory.",
        "std::bad_alloc",
    };
    for (std::string_view known : kMessages) {
        if (message == known) return true;
    }
    return false;
}

}  // namespace zorvan::fuzz
