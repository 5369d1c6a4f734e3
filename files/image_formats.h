#pragma once
// The codecs of the image-file module, one source each (tiff_io.cpp,
// png_io.cpp, npy_io.cpp, mrc_io.cpp, dm_io.cpp), over the helpers of
// file_support.h; image_io.cpp chooses among them.

#include "files/file_support.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorvan::files::detail {

// The formats. Readers get the path only for their messages; writers get an
// image already checked against its sizes and type (element_bytes != 0).
ImageData read_tiff(const std::string& path, Source& source);
void write_tiff(const std::string& path, const ImageData& image, OutputFile& out);

ImageData read_png(const std::string& path, Source& source);
void write_png_preview(const std::string& path, const ImageData& image, OutputFile& out);
// The 8-bit grey preview of the first plane: linear from the finite minimum
// (0) to the finite maximum (255), halves rounded up; the modulus for complex
// pixels; NaN and -inf give 0, +inf 255; a constant plane gives all 0.
std::vector<std::uint8_t> preview_plane(const ImageData& image);

// The layout a .npy header describes.
struct NpyLayout {
    std::int32_t data_type = 0;
    std::vector<std::uint64_t> sizes;  // dimension 0 fastest: the shape reversed
    bool fortran_order = false;
    bool swap_bytes = false;  // big-endian data
    std::uint64_t data_offset = 0;
    std::uint64_t data_bytes = 0;
};
// Parses the magic, version, header length and header dictionary at the
// start of a .npy file. `prefix` holds the first `prefix_size` bytes; a
// header running past them is reported as truncated. Never reads outside
// the prefix; FileError for anything malformed or unsupported.
NpyLayout parse_npy_header(const std::string& path, const std::byte* prefix, std::size_t prefix_size);
// The longest header accepted, and so the most a reader passes as prefix.
inline constexpr std::size_t npy_max_header = 65536;
inline constexpr std::size_t npy_max_prefix = 12 + npy_max_header;

ImageData read_npy(const std::string& path, Source& source);
void write_npy(const std::string& path, const ImageData& image, OutputFile& out);

ImageData read_mrc(const std::string& path, Source& source);
// Refuses the types without an MRC mode.
void write_mrc(const std::string& path, const ImageData& image, OutputFile& out);

// The host application's .dm3 and .dm4 files: every image they list, in
// order, the thumbnail left out (refused ones with their reason); the image
// at `index`, or without one the first that can be read.
std::vector<ImageSummary> list_dm(const std::string& path, Source& source);
ImageData read_dm(const std::string& path, Source& source, std::optional<std::size_t> index);

}  // namespace zorvan::files::detail
