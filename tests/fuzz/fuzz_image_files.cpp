// Fuzzes the zorvan command's image readers: the input's first byte picks
// the format (.npy, .tif, .png, .mrc, .dm3, .dm4 by its value modulo 6),
// the rest is the file (decoded from memory, then once in ten through a
// real file, where .dm3 files are also listed; every other .dm3/.dm4 input
// asks for its image 1). Every input must end in an image or a FileError,
// never a crash, and an image read must be consistent.

#include "files/image_io.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string g_directory;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/zorvan-fuzz-files-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    g_directory = pattern;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) return 0;
    static constexpr const char* kExtensions[] = {".npy", ".tif", ".png", ".mrc", ".dm3", ".dm4"};
    const std::string name = std::string("input") + kExtensions[bytes[0] % 6];
    const bool through_file = bytes[0] >= 230;
    const std::string path = g_directory + "/" + name;
    const std::string image = bytes[0] % 6 >= 4 && bytes[0] / 6 % 2 == 1 ? ":1" : "";
    if (through_file) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) std::abort();
        if (size > 1 && std::fwrite(bytes + 1, 1, size - 1, file) != size - 1) std::abort();
        std::fclose(file);
    }
    try {
        if (name.ends_with(".dm3") && through_file) zorvan::files::list_images(path);
        const zorvan::files::ImageData read = through_file ? zorvan::files::read_image(path + image)
                                                         : zorvan::files::decode_image(name + image, bytes + 1, size - 1);
        std::uint64_t count = 1;
        for (auto extent : read.sizes) count *= extent;
        if (read.sizes.empty() || read.sizes.size() > 4 || count == 0) __builtin_trap();
        if (read.bytes.size() % count != 0) __builtin_trap();
    } catch (const zorvan::files::FileError&) {
    }
    if (through_file) unlink(path.c_str());
    return 0;
}
