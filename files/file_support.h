#pragma once
// The bottom of the image-file module, what every codec uses: pixel types'
// sizes and names, the size limit, messages, byte sources (a file or memory)
// to read from and the temporary file every write goes through.

#include "files/image_data.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zorvan::files::detail {

// The largest image read or written, as the host's own default limit.
inline constexpr std::uint64_t max_image_bytes = std::uint64_t{8} << 30;

// Bytes per pixel of a code that has a file form; 0 for packed complex,
// RGB and unknown codes.
std::uint32_t element_bytes(std::int32_t data_type);
// "4-byte real", "signed 16-bit integer", ... or "type <code>".
std::string type_name(std::int32_t data_type);

[[noreturn]] void fail(const std::string& path, std::string_view what);
// errno as text, "No such file or directory".
std::string error_text(int error_number);

// Bytes of an image of `data_type` and `sizes`: 1 to 4 sizes, none zero, the
// product neither overflowing nor above max_image_bytes. FileError otherwise.
std::uint64_t checked_byte_count(const std::string& path, std::int32_t data_type,
                                 const std::vector<std::uint64_t>& sizes);
// "640 x 480" for messages.
std::string sizes_text(const std::vector<std::uint64_t>& sizes);

// Reverses the bytes of each `width`-byte number in `data`: big-endian to
// the host's order and back. Widths 2, 4 and 8; others leave it as it is.
void reverse_each_number(std::byte* data, std::size_t bytes, std::size_t width);

// Random access to the bytes of a file or of a buffer. read_at never throws:
// the readers call it from inside libtiff and libpng callbacks.
class Source {
public:
    virtual ~Source() = default;
    virtual std::uint64_t size() const = 0;
    // Copies up to `count` bytes at `offset`; fewer only at the end of the
    // data or on a read error (then `error` holds errno).
    virtual std::size_t read_at(std::uint64_t offset, void* out, std::size_t count) noexcept = 0;
    int error = 0;
};

// Reads exactly `count` bytes at `offset`: "<path>: is truncated" when the
// data ends first, the system's message on a read error.
void read_exact(Source& source, const std::string& path, std::uint64_t offset, void* out, std::size_t count);

// A file being written: "<target>.tmp-XXXXXX" in the target's directory,
// created with the usual permissions, renamed over the target by commit()
// and removed if the object dies uncommitted. The target is never seen half
// written.
class OutputFile {
public:
    explicit OutputFile(const std::string& target);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int descriptor() const { return descriptor_; }
    void write(const void* data, std::size_t count);
    void commit();

private:
    std::string target_;
    std::string temporary_;
    int descriptor_ = -1;
    bool committed_ = false;
};

// Writes all of `count` bytes to `descriptor`; false with errno set otherwise.
bool write_all(int descriptor, const void* data, std::size_t count) noexcept;

// A regular file opened for reading: FileError for a missing file, a
// directory or anything not a regular file (a FIFO is not waited on).
class FileSource final : public Source {
public:
    explicit FileSource(const std::string& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t size() const override { return size_; }
    std::size_t read_at(std::uint64_t offset, void* out, std::size_t count) noexcept override;

private:
    int descriptor_ = -1;
    std::uint64_t size_ = 0;
};

// Bytes in memory, not copied: they must outlive the source.
class MemorySource final : public Source {
public:
    MemorySource(const void* data, std::size_t size) : data_(static_cast<const std::byte*>(data)), size_(size) {}

    std::uint64_t size() const override { return size_; }
    std::size_t read_at(std::uint64_t offset, void* out, std::size_t count) noexcept override;

private:
    const std::byte* data_;
    std::size_t size_;
};

}  // namespace zorvan::files::detail
