#pragma once
// Image files: TIFF, grey PNG, NumPy .npy and MRC, read into and written
// from the host's pixel layout. Plain C++ over libtiff and libpng: no host
// needed.

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

// The format follows the extension, in any case: .tif/.tiff, .png, .npy,
// and .mrc/.mrcs/.map/.st/.ali/.rec.
//
// TIFF: one sample per pixel, 8/16/32-bit signed or unsigned integers,
// 32/64-bit reals, complex of 32/64-bit reals; strips or tiles, any
// compression libtiff decodes. One page reads as W x H, several as a
// W x H x pages stack (all pages alike). Writing is uncompressed: 1-D as one
// row (reads back W x 1), 2-D as one page, 3-D a page per plane, 4-D a page
// per (z, t) plane with z fastest (reads back as a 3-D stack); binary is
// written as unsigned 8-bit (reads back as code 6). The pixel size comes
// from XResolution in centimetres, or with no unit from ImageJ's "unit="
// (nm, micron, um, mm); it is written in centimetres.
//
// PNG: reads 8-bit grey (code 6) and 16-bit grey (code 10). Writing makes an
// 8-bit grey preview of the first plane, scaled from its minimum to its
// maximum; it does not read back as the image.
//
// NumPy .npy: reads versions 1.0 and 2.0, little- or big-endian, C or
// Fortran order; writes version 1.0, little-endian, C order. The shape is the
// sizes reversed: (h, w) is W x H. Binary is '|b1' (written as 0 and 1).
//
// MRC (MRC2014): modes 0 (signed 8-bit), 1 (int16), 2 (real4), 4
// (complex8) and 6 (uint16) read and written; 3 (complex of 16-bit integers)
// and 12 (16-bit reals) read, exactly, as complex8 and real4. Either byte
// order by MACHST; the extended header skipped; sections in file order
// (MAPC/MAPR/MAPS not applied); NZ > 1 as W x H x NZ. The pixel size is
// CELLA.x / MX in Angstrom. Written little-endian, NVERSION 20140, with the
// statistics of real pixels, 1-D as one row, 3-D as a volume (ISPG 1), 4-D
// as its z x t sections; other pixel types are refused.
//
// Every message starts with the path. Images above 8 GiB are refused.
// A write goes to a temporary file beside the target, renamed over it only
// when complete.
ImageData read_image(const std::string& path);
void write_image(const std::string& path, const ImageData& image);

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
// Every image in the file, in order; one for a TIFF, PNG, .npy or MRC file.
std::vector<ImageSummary> list_images(const std::string& path);

// read_image over bytes in memory, `name` giving the format and the messages'
// prefix. For fuzzing and for callers that hold a file's contents already.
ImageData decode_image(const std::string& name, const void* data, std::size_t size);

}  // namespace zorvan::files
