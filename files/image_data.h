#pragma once
// What the image-file module hands out: an image's pixels with the
// calibration its file gives, the summary of one image in a file, and the
// error every reader and writer throws. Types only, shared by the codecs
// and the public functions of image_io.h.

#include "contract/data_types.h"
#include "files/calibration.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zorvan::files {

// The codes of the pixel types that have a file form: every one with an
// element type. Packed complex and RGB have none.
using file_codes = dm::codes<dm::data_type::int16, dm::data_type::real4, dm::data_type::complex8,
                             dm::data_type::uint8, dm::data_type::int32, dm::data_type::int8, dm::data_type::uint16,
                             dm::data_type::uint32, dm::data_type::real8, dm::data_type::complex16,
                             dm::data_type::binary>;

// Pixels as the host holds them: a data-type code, 1 to 4 sizes (dimension
// 0 fastest) and the packed bytes.
struct ImageData {
    ImageData() = default;
    ImageData(std::int32_t type, std::vector<std::uint64_t> dimension_sizes, std::vector<std::byte> pixels,
              PixelSize size = {})
        : data_type(type), sizes(std::move(dimension_sizes)), bytes(std::move(pixels)), pixel_size(size) {}

    std::int32_t data_type = 0;
    std::vector<std::uint64_t> sizes;
    std::vector<std::byte> bytes;
    PixelSize pixel_size;  // along x and y; unknown when the file does not say
    // Each axis's calibration as the file gives it, x first, one per size;
    // empty when the file gives none.
    std::vector<AxisCalibration> axes;
    std::string name;         // the image's own name, where the file has one
    double voltage_v = 0;     // the microscope's accelerating voltage; 0 when not given
    double exposure_s = 0;    // the exposure time; 0 when not given
};

// A file that is missing, truncated, or of a kind or pixel type we cannot
// read or write; the message says which and why.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What one image in a file is, for listing a file's contents (`zorvan info`):
// files of the host application can hold several images; the others hold one.
struct ImageSummary {
    std::size_t index = 0;    // what "path:index" names; the thumbnail is not listed
    std::string name;         // the image's own name, or ""
    std::int32_t data_type = 0;
    std::string type_text;    // "4-byte real", or what the file holds where it cannot be read ("RGB")
    std::vector<std::uint64_t> sizes;
    std::vector<AxisCalibration> axes;
    PixelSize pixel_size;
    double voltage_v = 0, exposure_s = 0;
    std::string refusal;      // why read_image would refuse it; "" when it reads
    // Where the pixels lie when the file stores them raw (uncompressed, x
    // fastest, little-endian, no padding), so that they can be mapped in
    // place; 0 when they cannot.
    std::uint64_t raw_data_offset = 0;
};
}  // namespace zorvan::files
