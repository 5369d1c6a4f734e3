#pragma once
// Image files for the zorvan command: TIFF, grey PNG and NumPy .npy.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorvan::cli {

// Pixels as the host holds them: a data-type code, 1 to 4 sizes (dimension
// 0 fastest) and the packed bytes.
struct ImageData {
    std::int32_t data_type = 0;
    std::vector<std::uint64_t> sizes;
    std::vector<std::byte> bytes;
};

// A file that is missing, truncated, or of a kind or pixel type we cannot
// read or write; the message says which and why.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

ImageData read_image(const std::string& path);
void write_image(const std::string& path, const ImageData& image);

}  // namespace zorvan::cli
