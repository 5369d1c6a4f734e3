// The image-file library: choosing the format, the checks every
// format shares, reading from files or memory and writing through a
// temporary file.

#include "files/image_formats.h"

#include "contract/data_types.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvan::files {
namespace detail {

namespace code = dm::data_type;

// Packed complex and RGB pixels have no file form.
std::uint32_t element_bytes(std::int32_t data_type) {
    const dm::pixel_type* type = dm::find_pixel_type(data_type);
    return type && type->kind != dm::pixel_kind::packed ? type->bytes : 0;
}

std::string type_name(std::int32_t data_type) {
    const dm::pixel_type* type = dm::find_pixel_type(data_type);
    return type ? std::string(type->name) : "type " + std::to_string(data_type);
}

void fail(const std::string& path, std::string_view what) {
    std::string message = path;
    message += ": ";
    message += what;
    throw FileError(message);
}

std::string error_text(int error_number) { return std::generic_category().message(error_number); }

std::string sizes_text(const std::vector<std::uint64_t>& sizes) {
    std::string text;
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        if (k > 0) text += " x ";
        text += std::to_string(sizes[k]);
    }
    return text;
}

std::uint64_t checked_byte_count(const std::string& path, std::int32_t data_type,
                                 const std::vector<std::uint64_t>& sizes) {
    if (sizes.empty() || sizes.size() > 4) {
        fail(path, "an image has 1 to 4 dimensions, not " + std::to_string(sizes.size()));
    }
    for (std::size_t k = 0; k < sizes.size(); ++k) {
        if (sizes[k] == 0) {
            fail(path, "the image is " + sizes_text(sizes) + ", empty in dimension " + std::to_string(k) +
                           "; the host holds no empty image");
        }
    }
    std::uint64_t bytes = element_bytes(data_type);
    for (const std::uint64_t size : sizes) {
        if (bytes > max_image_bytes / size) {
            fail(path, "an image of " + sizes_text(sizes) + " " + type_name(data_type) +
                           " pixels is larger than the 8 GiB limit");
        }
        bytes *= size;
    }
    return bytes;
}

template <std::size_t N>
void reverse_each(std::byte* data, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) std::reverse(data + k * N, data + k * N + N);
}

void reverse_each_number(std::byte* data, std::size_t bytes, std::size_t width) {
    switch (width) {
        case 2: return reverse_each<2>(data, bytes / 2);
        case 4: return reverse_each<4>(data, bytes / 4);
        case 8: return reverse_each<8>(data, bytes / 8);
        default: return;
    }
}

void read_exact(Source& source, const std::string& path, std::uint64_t offset, void* out, std::size_t count) {
    if (source.read_at(offset, out, count) == count) return;
    if (source.error != 0) fail(path, error_text(source.error));
    fail(path, "is truncated: the file ends before its data does");
}

bool write_all(int descriptor, const void* data, std::size_t count) noexcept {
    const auto* next = static_cast<const char*>(data);
    while (count > 0) {
        const std::size_t chunk = std::min<std::size_t>(count, std::size_t{1} << 30);
        const ssize_t written = ::write(descriptor, next, chunk);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        next += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

OutputFile::OutputFile(const std::string& target) : target_(target) {
    // O_EXCL with mode 0666 rather than mkstemp, so the file gets the
    // permissions the umask gives any new file and keeps them after rename.
    // Read and write: libtiff reads back what it wrote when linking pages.
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::mt19937_64 random(std::random_device{}() ^
                           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<std::size_t> pick(0, sizeof letters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = target + ".tmp-";
        for (int k = 0; k < 6; ++k) name += letters[pick(random)];
        const int descriptor = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0) {
            temporary_ = std::move(name);
            descriptor_ = descriptor;
            return;
        }
        if (errno != EEXIST) fail(target, error_text(errno));
    }
    fail(target, "cannot create a temporary file beside it");
}

OutputFile::~OutputFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!committed_) ::unlink(temporary_.c_str());
}

void OutputFile::write(const void* data, std::size_t count) {
    if (!write_all(descriptor_, data, count)) fail(target_, error_text(errno));
}

void OutputFile::commit() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    if (::close(descriptor) != 0) fail(target_, error_text(errno));
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) fail(target_, error_text(errno));
    committed_ = true;
}

namespace {

enum class Format { tiff, png, npy, mrc };

Format format_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.find_last_of('.');
    static constexpr const char* supported = "supported: .tif, .tiff, .png, .npy, .mrc, .mrcs, .map, .st, .ali, .rec";
    if (dot == std::string::npos || dot < name_start) fail(path, std::string("has no file extension; ") + supported);
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    if (extension == ".tif" || extension == ".tiff") return Format::tiff;
    if (extension == ".png") return Format::png;
    if (extension == ".npy") return Format::npy;
    // MRC under the names tomography and single-particle programs give it.
    for (const char* mrc : {".mrc", ".mrcs", ".map", ".st", ".ali", ".rec"}) {
        if (extension == mrc) return Format::mrc;
    }
    fail(path, "unknown image file extension '" + path.substr(dot) + "'; " + supported);
}

class FileSource final : public Source {
public:
    explicit FileSource(const std::string& path) {
        // Non-blocking, so that opening a FIFO does not wait for a writer.
        descriptor_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (descriptor_ < 0) fail(path, error_text(errno));
        struct stat status {};
        if (::fstat(descriptor_, &status) != 0) {
            const int error_number = errno;
            ::close(descriptor_);
            fail(path, error_text(error_number));
        }
        if (!S_ISREG(status.st_mode)) {
            ::close(descriptor_);
            fail(path, S_ISDIR(status.st_mode) ? error_text(EISDIR) : "is not a regular file");
        }
        size_ = static_cast<std::uint64_t>(status.st_size);
    }
    ~FileSource() override { ::close(descriptor_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t size() const override { return size_; }

    std::size_t read_at(std::uint64_t offset, void* out, std::size_t count) noexcept override {
        std::size_t done = 0;
        while (done < count && offset + done < size_) {
            const std::size_t chunk = std::min<std::size_t>(count - done, std::size_t{1} << 30);
            const ssize_t got =
                ::pread(descriptor_, static_cast<char*>(out) + done, chunk, static_cast<off_t>(offset + done));
            if (got < 0) {
                if (errno == EINTR) continue;
                error = errno;
                break;
            }
            if (got == 0) break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

private:
    int descriptor_ = -1;
    std::uint64_t size_ = 0;
};

class MemorySource final : public Source {
public:
    MemorySource(const void* data, std::size_t size) : data_(static_cast<const std::byte*>(data)), size_(size) {}

    std::uint64_t size() const override { return size_; }

    std::size_t read_at(std::uint64_t offset, void* out, std::size_t count) noexcept override {
        if (offset >= size_) return 0;
        const std::size_t available = static_cast<std::size_t>(size_ - offset);
        const std::size_t n = std::min(count, available);
        if (n > 0) std::memcpy(out, data_ + offset, n);
        return n;
    }

private:
    const std::byte* data_;
    std::size_t size_;
};

ImageData read_format(Format format, const std::string& path, Source& source) {
    switch (format) {
        case Format::tiff: return read_tiff(path, source);
        case Format::png: return read_png(path, source);
        case Format::npy: return read_npy(path, source);
        case Format::mrc: return read_mrc(path, source);
    }
    fail(path, "unknown image format");
}

// Turns running out of memory into the module's own error.
template <class F>
auto guarded(const std::string& path, F&& work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        fail(path, "not enough memory for the image");
    }
}

}  // namespace
}  // namespace detail

ImageData read_image(const std::string& path) {
    using namespace detail;
    const Format format = format_of(path);
    return guarded(path, [&] {
        FileSource source(path);
        return read_format(format, path, source);
    });
}

ImageData decode_image(const std::string& name, const void* data, std::size_t size) {
    using namespace detail;
    const Format format = format_of(name);
    return guarded(name, [&] {
        MemorySource source(data, size);
        return read_format(format, name, source);
    });
}

std::vector<ImageSummary> list_images(const std::string& path) {
    ImageData image = read_image(path);
    ImageSummary summary;
    summary.name = image.name;
    summary.data_type = image.data_type;
    summary.type_text = detail::type_name(image.data_type);
    summary.sizes = image.sizes;
    summary.axes = image.axes;
    summary.pixel_size = image.pixel_size;
    summary.voltage_v = image.voltage_v;
    summary.exposure_s = image.exposure_s;
    return {summary};
}

void write_image(const std::string& path, const ImageData& image) {
    using namespace detail;
    const Format format = format_of(path);
    if (element_bytes(image.data_type) == 0) {
        const bool known = image.data_type == code::packed_complex || image.data_type == code::rgb;
        fail(path, "images of " + (known ? type_name(image.data_type) : std::string("unknown")) + " type (code " +
                       std::to_string(image.data_type) + ") have no file form");
    }
    const std::uint64_t bytes = checked_byte_count(path, image.data_type, image.sizes);
    if (image.bytes.size() != bytes) {
        fail(path, "the image data holds " + std::to_string(image.bytes.size()) + " bytes, but " +
                       sizes_text(image.sizes) + " " + type_name(image.data_type) + " pixels take " +
                       std::to_string(bytes));
    }
    guarded(path, [&] {
        OutputFile out(path);
        switch (format) {
            case Format::tiff: write_tiff(path, image, out); break;
            case Format::png: write_png_preview(path, image, out); break;
            case Format::npy: write_npy(path, image, out); break;
            case Format::mrc: write_mrc(path, image, out); break;
        }
        out.commit();
    });
}

}  // namespace zorvan::files
