// Fuzzes the zorvan command's image readers: the input's first byte picks
// the format, the rest is the file (decoded from memory, then once in ten
// through a real file). Every input must end in an image or a FileError,
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
    static constexpr const char* kExtensions[] = {".npy", ".tif", ".png", ".mrc"};
    const std::string name = std::string("input") + kExtensions[bytes[0] % 4];
    const bool through_file = bytes[0] >= 230;
    const std::string path = g_directory + "/" + name;
    if (through_file) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) std::abort();
        if (size > 1 && std::fwrite(bytes + 1, 1, size - 1, file) != size - 1) std::abort();
        std::fclose(file);
    }
    try {
        const zorvan::files::ImageData image = through_file ? zorvan::files::read_image(path)
                                                          : zorvan::files::decode_image(name, bytes + 1, size - 1);
        std::uint64_t count = 1;
        for (auto extent : image.sizes) count *= extent;
        if (image.sizes.empty() || image.sizes.size() > 4 || count == 0) __builtin_trap();
        if (image.bytes.size() % count != 0) __builtin_trap();
    } catch (const zorvan::files::FileError&) {
    }
    if (through_file) unlink(path.c_str());
    return 0;
}
