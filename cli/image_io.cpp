#include "cli/image_io.h"

namespace zorvan::cli {

ImageData read_image(const std::string& path) { throw FileError(path + ": image files are not supported yet"); }

void write_image(const std::string& path, const ImageData&) {
    throw FileError(path + ": image files are not supported yet");
}

}  // namespace zorvan::cli
