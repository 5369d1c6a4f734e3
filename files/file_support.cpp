// What every codec of the image-file module uses: the checks and messages
// they share, reading from files or memory and writing through a temporary
// file.

#include "files/file_support.h"

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

namespace zorvan::files::detail {

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

FileSource::FileSource(const std::string& path) {
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

FileSource::~FileSource() { ::close(descriptor_); }

std::size_t FileSource::read_at(std::uint64_t offset, void* out, std::size_t count) noexcept {
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

std::size_t MemorySource::read_at(std::uint64_t offset, void* out, std::size_t count) noexcept {
    if (offset >= size_) return 0;
    const std::size_t available = static_cast<std::size_t>(size_ - offset);
    const std::size_t n = std::min(count, available);
    if (n > 0) std::memcpy(out, data_ + offset, n);
    return n;
}

}  // namespace zorvan::files::detail
