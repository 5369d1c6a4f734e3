// PNG files through libpng: 8- and 16-bit grey read as unsigned 8- and 16-bit
// images; anything written is an 8-bit grey preview.
//
// libpng reports errors by longjmp. Each stretch of libpng calls therefore
// sits in a small function that holds no object with a destructor and
// returns false when libpng jumped back; the callbacks never throw. The
// objects that own memory live in the callers, outside the jumps.

#include "files/image_formats.h"

#include "contract/data_types.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstring>

namespace zorvan::files::detail {
namespace {

namespace code = dm::data_type;

// What libpng's callbacks share with the code around them.
struct PngState {
    Source* source = nullptr;  // reading
    std::uint64_t position = 0;
    int descriptor = -1;  // writing
    int error_number = 0;
    bool truncated = false;
    char message[256] = {};
};

[[noreturn]] void on_png_error(png_structp png, png_const_charp text) {
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    if (state->message[0] == '\0') std::snprintf(state->message, sizeof state->message, "%s", text);
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

void read_from_source(png_structp png, png_bytep out, std::size_t count) {
    auto* state = static_cast<PngState*>(png_get_io_ptr(png));
    const std::size_t got = state->source->read_at(state->position, out, count);
    state->position += got;
    if (got != count) {
        state->error_number = state->source->error;
        state->truncated = state->error_number == 0;
        png_error(png, "the file ends early");
    }
}

void write_to_descriptor(png_structp png, png_bytep data, std::size_t count) {
    auto* state = static_cast<PngState*>(png_get_io_ptr(png));
    if (!write_all(state->descriptor, data, count)) {
        state->error_number = errno;
        png_error(png, "write failed");
    }
}

void flush_nothing(png_structp) {}

struct PngHeader {
    png_uint_32 width = 0, height = 0;
    int bit_depth = 0, colour_type = 0;
};

bool read_header(png_structp png, png_infop info, PngHeader* header) {
    if (setjmp(png_jmpbuf(png))) return false;
    // The reader's own limit of a million pixels a side is lifted; ours is
    // the byte count, checked by the caller.
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_read_info(png, info);
    header->width = png_get_image_width(png, info);
    header->height = png_get_image_height(png, info);
    header->bit_depth = png_get_bit_depth(png, info);
    header->colour_type = png_get_color_type(png, info);
    return true;
}

bool read_rows(png_structp png, png_infop info, png_bytepp rows, bool sixteen_bits) {
    if (setjmp(png_jmpbuf(png))) return false;
    if (sixteen_bits) png_set_swap(png);  // the file is big-endian, the host little-endian
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

bool write_rows(png_structp png, png_infop info, png_uint_32 width, png_uint_32 height, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

class PngReader {
public:
    explicit PngReader(PngState& state) {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, on_png_error, on_png_warning);
        if (png_) info_ = png_create_info_struct(png_);
        if (!png_ || !info_) {
            png_destroy_read_struct(png_ ? &png_ : nullptr, nullptr, nullptr);
            throw std::bad_alloc();
        }
    }
    ~PngReader() { png_destroy_read_struct(&png_, &info_, nullptr); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

class PngWriter {
public:
    explicit PngWriter(PngState& state) {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, on_png_error, on_png_warning);
        if (png_) info_ = png_create_info_struct(png_);
        if (!png_ || !info_) {
            png_destroy_write_struct(png_ ? &png_ : nullptr, nullptr);
            throw std::bad_alloc();
        }
    }
    ~PngWriter() { png_destroy_write_struct(&png_, &info_); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

[[noreturn]] void fail_reading(const std::string& path, const PngState& state) {
    if (state.error_number != 0) fail(path, error_text(state.error_number));
    if (state.truncated) fail(path, "is truncated: the PNG data ends early");
    fail(path, std::string("is corrupt (libpng: ") + state.message + ")");
}

std::string colour_type_name(int colour_type) {
    switch (colour_type) {
        case PNG_COLOR_TYPE_RGB: return "RGB colour";
        case PNG_COLOR_TYPE_PALETTE: return "palette colour";
        case PNG_COLOR_TYPE_GRAY_ALPHA: return "grey with alpha";
        case PNG_COLOR_TYPE_RGB_ALPHA: return "RGB colour with alpha";
        default: return "colour type " + std::to_string(colour_type);
    }
}

// The preview's value of one pixel: the number, or a complex pixel's modulus.
template <class T>
double preview_value(const std::byte* pixel) {
    T value;
    std::memcpy(&value, pixel, sizeof value);
    if constexpr (dm::is_complex_v<T>) {
        return std::hypot(static_cast<double>(value.re), static_cast<double>(value.im));
    } else {
        return static_cast<double>(value);
    }
}

template <class T>
std::vector<std::uint8_t> preview_of(const std::byte* pixels, std::size_t count) {
    double low = INFINITY, high = -INFINITY;
    for (std::size_t i = 0; i < count; ++i) {
        const double v = preview_value<T>(pixels + i * sizeof(T));
        if (!std::isfinite(v)) continue;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    // The span of reals near the largest double overflows; halving both ends
    // keeps it finite.
    double scale = 1.0;
    double span = high - low;
    if (!std::isfinite(span) && low < high) {
        scale = 0.5;
        span = high * 0.5 - low * 0.5;
    }
    std::vector<std::uint8_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double v = preview_value<T>(pixels + i * sizeof(T));
        if (std::isnan(v) || v == -INFINITY) {
            out[i] = 0;
        } else if (v == INFINITY) {
            out[i] = 255;
        } else if (low < high) {
            const double level = std::floor((v * scale - low * scale) / span * 255.0 + 0.5);
            out[i] = static_cast<std::uint8_t>(std::clamp(level, 0.0, 255.0));
        } else {
            out[i] = 0;
        }
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> preview_plane(const ImageData& image) {
    const std::uint64_t width = image.sizes[0];
    const std::uint64_t height = image.sizes.size() > 1 ? image.sizes[1] : 1;
    const auto count = static_cast<std::size_t>(width * height);
    return dm::dispatch(
        file_codes{}, image.data_type, [&]<class T>() { return preview_of<T>(image.bytes.data(), count); },
        [] { return std::vector<std::uint8_t>{}; });
}

ImageData read_png(const std::string& path, Source& source) {
    png_byte signature[8] = {};
    if (source.read_at(0, signature, sizeof signature) != sizeof signature || png_sig_cmp(signature, 0, 8) != 0) {
        if (source.error != 0) fail(path, error_text(source.error));
        fail(path, "is not a PNG file: it lacks the PNG signature");
    }
    PngState state;
    state.source = &source;
    state.position = sizeof signature;
    PngReader reader(state);
    png_set_read_fn(reader.png(), &state, read_from_source);
    png_set_sig_bytes(reader.png(), sizeof signature);

    PngHeader header;
    if (!read_header(reader.png(), reader.info(), &header)) fail_reading(path, state);
    static constexpr const char* readable = "only 8- and 16-bit grey PNG files can be read";
    if (header.colour_type != PNG_COLOR_TYPE_GRAY) {
        fail(path, "holds " + colour_type_name(header.colour_type) + " pixels; " + readable);
    }
    if (header.bit_depth != 8 && header.bit_depth != 16) {
        fail(path, "holds " + std::to_string(header.bit_depth) + "-bit grey pixels; " + readable);
    }

    ImageData image;
    image.data_type = header.bit_depth == 8 ? code::uint8 : code::uint16;
    image.sizes = {header.width, header.height};
    const std::uint64_t bytes = checked_byte_count(path, image.data_type, image.sizes);
    // Deflate expands at most 1032 times, so a file cannot hold more pixel
    // bytes than that; checking it first keeps a forged header from making
    // us allocate gigabytes for a few bytes of data.
    if (bytes / 1032 > source.size()) {
        fail(path, "is truncated or corrupt: " + sizes_text(image.sizes) + " pixels cannot come from " +
                       std::to_string(source.size()) + " bytes of PNG data");
    }
    image.bytes.resize(static_cast<std::size_t>(bytes));
    const std::size_t row_bytes = static_cast<std::size_t>(bytes / header.height);
    std::vector<png_bytep> rows(header.height);
    for (png_uint_32 y = 0; y < header.height; ++y) {
        rows[y] = reinterpret_cast<png_bytep>(image.bytes.data() + y * row_bytes);
    }
    if (!read_rows(reader.png(), reader.info(), rows.data(), header.bit_depth == 16)) fail_reading(path, state);
    return image;
}

void write_png_preview(const std::string& path, const ImageData& image, OutputFile& out) {
    const std::uint64_t width = image.sizes[0];
    const std::uint64_t height = image.sizes.size() > 1 ? image.sizes[1] : 1;
    if (width > 0x7fffffff || height > 0x7fffffff) {
        fail(path, "a PNG holds at most 2147483647 x 2147483647 pixels, not " + sizes_text(image.sizes));
    }
    std::vector<std::uint8_t> preview = preview_plane(image);
    std::vector<png_bytep> rows(static_cast<std::size_t>(height));
    for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = preview.data() + y * width;

    PngState state;
    state.descriptor = out.descriptor();
    PngWriter writer(state);
    png_set_write_fn(writer.png(), &state, write_to_descriptor, flush_nothing);
    if (!write_rows(writer.png(), writer.info(), static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                    rows.data())) {
        if (state.error_number != 0) fail(path, error_text(state.error_number));
        fail(path, std::string("cannot be written as PNG (libpng: ") + state.message + ")");
    }
}

}  // namespace zorvan::files::detail
