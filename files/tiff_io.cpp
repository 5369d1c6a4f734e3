// TIFF files through libtiff: single-sample pages of the host's pixel types,
// read from strips or tiles under any compression libtiff decodes, written
// uncompressed in strips. libtiff's messages are caught per file and become
// the FileError's text; nothing is printed.

#include "files/image_formats.h"

#include "contract/data_types.h"

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvan::files::detail {
namespace {

namespace code = dm::data_type;

// The first error libtiff reported for one file.
struct TiffMessages {
    std::string path;
    std::string first_error;
};

int on_tiff_error(TIFF*, void* user_data, const char*, const char* format, va_list arguments) {
    auto* messages = static_cast<TiffMessages*>(user_data);
    if (!messages->first_error.empty()) return 1;
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    std::string_view said = text;
    // libtiff often starts with the file name, which our message has already.
    if (said.substr(0, messages->path.size()) == messages->path && said.substr(messages->path.size(), 2) == ": ") {
        said.remove_prefix(messages->path.size() + 2);
    }
    try {
        messages->first_error = said.empty() ? "unspecified error" : said;
    } catch (...) {
        // Out of memory: the caller still sees the failed call.
    }
    return 1;  // handled: the process-wide handler is not called
}

int on_tiff_warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The private tags hyperspy writes and reads for the calibration of x and
// y: units as text, scales as doubles (it reads no other unit we write).
enum : ttag_t { hyperspy_x_unit = 65003, hyperspy_y_unit = 65004, hyperspy_x_scale = 65009, hyperspy_y_scale = 65010 };
char x_unit_name[] = "hyperspy x unit", y_unit_name[] = "hyperspy y unit";
char x_scale_name[] = "hyperspy x scale", y_scale_name[] = "hyperspy y scale";
const TIFFFieldInfo hyperspy_fields[] = {
    {hyperspy_x_unit, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1, 0, x_unit_name},
    {hyperspy_y_unit, TIFF_VARIABLE, TIFF_VARIABLE, TIFF_ASCII, FIELD_CUSTOM, 1, 0, y_unit_name},
    {hyperspy_x_scale, 1, 1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 0, x_scale_name},
    {hyperspy_y_scale, 1, 1, TIFF_DOUBLE, FIELD_CUSTOM, 1, 0, y_scale_name},
};
TIFFExtendProc g_previous_extender = nullptr;

void add_hyperspy_fields(TIFF* tif) {
    TIFFMergeFieldInfo(tif, hyperspy_fields, sizeof hyperspy_fields / sizeof hyperspy_fields[0]);
    if (g_previous_extender != nullptr) g_previous_extender(tif);
}

// libtiff's process-wide handlers print to stderr; a few codecs still report
// through them rather than through the per-file handlers. Silence them once,
// and teach libtiff hyperspy's tags.
void silence_global_handlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        g_previous_extender = TIFFSetTagExtender(add_hyperspy_fields);
    });
}

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
struct TiffDeleter {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffOptions = std::unique_ptr<TIFFOpenOptions, OptionsDeleter>;
using TiffFile = std::unique_ptr<TIFF, TiffDeleter>;

TiffOptions options_reporting_to(TiffMessages& messages) {
    TiffOptions options(TIFFOpenOptionsAlloc());
    if (!options) throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), on_tiff_error, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), on_tiff_warning, nullptr);
    return options;
}

std::string libtiff_says(const TiffMessages& messages) {
    return messages.first_error.empty() ? std::string() : " (libtiff: " + messages.first_error + ")";
}

// libtiff reads through these from a Source, and writes through them to a
// descriptor, keeping the system's error; the file position is ours.
struct TiffClient {
    Source* source = nullptr;
    int descriptor = -1;
    std::uint64_t position = 0;
    int error_number = 0;
};

tmsize_t client_read(thandle_t handle, void* out, tmsize_t count) {
    auto* client = static_cast<TiffClient*>(handle);
    if (count <= 0) return 0;
    const std::size_t got = client->source->read_at(client->position, out, static_cast<std::size_t>(count));
    client->position += got;
    return static_cast<tmsize_t>(got);
}

tmsize_t client_write(thandle_t, void*, tmsize_t) { return -1; }

toff_t client_seek(thandle_t handle, toff_t offset, int whence) {
    auto* client = static_cast<TiffClient*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = client->position;
    if (whence == SEEK_END) base = client->source->size();
    // libtiff passes negative relative offsets as wrapped unsigned numbers.
    client->position = base + offset;
    return client->position;
}

int client_close(thandle_t) { return 0; }

toff_t client_size(thandle_t handle) { return static_cast<TiffClient*>(handle)->source->size(); }

tmsize_t descriptor_read(thandle_t handle, void* out, tmsize_t count) {
    auto* client = static_cast<TiffClient*>(handle);
    const ssize_t got =
        ::pread(client->descriptor, out, static_cast<std::size_t>(count), static_cast<off_t>(client->position));
    if (got < 0) {
        client->error_number = errno;
        return -1;
    }
    client->position += static_cast<std::uint64_t>(got);
    return got;
}

tmsize_t descriptor_write(thandle_t handle, void* data, tmsize_t count) {
    auto* client = static_cast<TiffClient*>(handle);
    if (::lseek(client->descriptor, static_cast<off_t>(client->position), SEEK_SET) < 0 ||
        !write_all(client->descriptor, data, static_cast<std::size_t>(count))) {
        if (client->error_number == 0) client->error_number = errno;
        return -1;
    }
    client->position += static_cast<std::uint64_t>(count);
    return count;
}

toff_t descriptor_seek(thandle_t handle, toff_t offset, int whence) {
    auto* client = static_cast<TiffClient*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = client->position;
    if (whence == SEEK_END) {
        struct stat status {};
        if (::fstat(client->descriptor, &status) == 0) base = static_cast<std::uint64_t>(status.st_size);
    }
    client->position = base + offset;
    return client->position;
}

toff_t descriptor_size(thandle_t handle) {
    struct stat status {};
    const int descriptor = static_cast<TiffClient*>(handle)->descriptor;
    return ::fstat(descriptor, &status) == 0 ? static_cast<toff_t>(status.st_size) : 0;
}

int client_map(thandle_t, void**, toff_t*) { return 0; }

void client_unmap(thandle_t, void*, toff_t) {}

std::int32_t code_of(std::uint16_t sample_format, std::uint16_t bits) {
    switch (sample_format) {
        case SAMPLEFORMAT_UINT:
            return bits == 8 ? code::uint8 : bits == 16 ? code::uint16 : bits == 32 ? code::uint32 : 0;
        case SAMPLEFORMAT_INT: return bits == 8 ? code::int8 : bits == 16 ? code::int16 : bits == 32 ? code::int32 : 0;
        case SAMPLEFORMAT_IEEEFP: return bits == 32 ? code::real4 : bits == 64 ? code::real8 : 0;
        case SAMPLEFORMAT_COMPLEXIEEEFP: return bits == 64 ? code::complex8 : bits == 128 ? code::complex16 : 0;
        default: return 0;
    }
}

std::string format_name(std::uint16_t sample_format) {
    switch (sample_format) {
        case SAMPLEFORMAT_UINT: return "unsigned integer";
        case SAMPLEFORMAT_INT: return "signed integer";
        case SAMPLEFORMAT_IEEEFP: return "floating-point";
        case SAMPLEFORMAT_COMPLEXINT: return "complex integer";
        case SAMPLEFORMAT_COMPLEXIEEEFP: return "complex floating-point";
        default: return "untyped";
    }
}

struct Page {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::int32_t data_type = 0;
};

// What the current directory holds, or FileError if it is not one sample of
// a host pixel type per pixel.
Page page_of(TIFF* tif, const std::string& path, std::uint64_t index) {
    const std::string page = "page " + std::to_string(index + 1);
    Page layout;
    std::uint16_t samples = 1, bits = 1, sample_format = SAMPLEFORMAT_UINT, photometric = PHOTOMETRIC_MINISBLACK;
    std::uint32_t depth = 1;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sample_format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_IMAGEDEPTH, &depth);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);

    if (samples != 1) {
        fail(path, page + " has " + std::to_string(samples) +
                       " samples per pixel; only single-sample (grey) TIFF images can be read");
    }
    // Min-is-white pages are read as stored, without inverting the values.
    if (photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_MINISWHITE) {
        fail(path, page + " has photometric interpretation " + std::to_string(photometric) +
                       (photometric == PHOTOMETRIC_PALETTE ? " (palette)" : "") +
                       "; only grey TIFF images can be read");
    }
    layout.data_type = code_of(sample_format, bits);
    if (layout.data_type == 0) {
        fail(path, page + " holds " + std::to_string(bits) + "-bit " + format_name(sample_format) +
                       " samples, which are no host pixel type");
    }
    if (depth != 1) fail(path, page + " is a volume of depth " + std::to_string(depth) + "; only planes can be read");
    if (layout.width == 0 || layout.height == 0) fail(path, page + " is empty");
    return layout;
}

// Reads the pixels of the current page onto the end of `bytes`. The output
// grows strip by strip (or by rows of tiles), so a forged header over a few
// bytes of compressed data costs no more memory than the data decodes to:
// compressed strips and tiles decode into scratch memory left uninitialised,
// whose pages only the decoder touches, and join the output once decoded.
class PageReader {
public:
    PageReader(TIFF* tif, const std::string& path, const Page& page, std::uint64_t file_size,
               const TiffMessages& messages, std::vector<std::byte>& bytes)
        : tif_(tif),
          path_(path),
          page_(page),
          element_(element_bytes(page.data_type)),
          row_bytes_(std::uint64_t{page.width} * element_),
          file_size_(file_size),
          messages_(messages),
          bytes_(bytes),
          page_start_(bytes.size()) {
        std::uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        uncompressed_ = compression == COMPRESSION_NONE;
    }

    void read() {
        if (TIFFIsTiled(tif_)) {
            read_tiles();
        } else {
            read_strips();
        }
    }

private:
    static std::unique_ptr<std::byte[]> scratch(std::uint64_t bytes) {
        return std::make_unique_for_overwrite<std::byte[]>(static_cast<std::size_t>(bytes));
    }

    void append(const std::byte* data, std::uint64_t bytes) {
        bytes_.insert(bytes_.end(), data, data + static_cast<std::ptrdiff_t>(bytes));
    }

    // The output grown to the end of row `end_row`; where row `first_row` starts.
    std::byte* rows(std::uint32_t first_row, std::uint32_t end_row) {
        bytes_.resize(static_cast<std::size_t>(page_start_ + end_row * row_bytes_));
        return bytes_.data() + page_start_ + first_row * row_bytes_;
    }

    // A strip or tile whose bytes lie past the end of the file, or whose
    // uncompressed bytes are fewer than its pixels, means the file was cut short.
    void check_strile(std::uint32_t strile, std::uint64_t pixel_bytes) const {
        const std::uint64_t offset = TIFFGetStrileOffset(tif_, strile);
        const std::uint64_t count = TIFFGetStrileByteCount(tif_, strile);
        const std::uint64_t needed = uncompressed_ ? pixel_bytes : count;
        if (count == 0 || offset > file_size_ || needed > file_size_ - offset || count < needed) {
            fail(path_, "is truncated: its pixel data ends before the end of " +
                            std::string(TIFFIsTiled(tif_) ? "tile " : "strip ") + std::to_string(strile));
        }
    }

    [[noreturn]] void undecodable(const char* what, std::uint32_t strile) const {
        fail(path_, std::string("is truncated or corrupt: ") + what + std::to_string(strile) + " cannot be decoded" +
                        libtiff_says(messages_));
    }

    void read_strips() {
        std::uint32_t rows_per_strip = 0;
        TIFFGetFieldDefaulted(tif_, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
        if (rows_per_strip == 0 || rows_per_strip > page_.height) rows_per_strip = page_.height;
        const std::uint32_t strips = (page_.height - 1) / rows_per_strip + 1;
        if (TIFFNumberOfStrips(tif_) < strips) fail(path_, "is corrupt: it lists fewer strips than its rows need");

        // Uncompressed strips, whose bytes the file was seen to hold, are read in place.
        const auto decoded = uncompressed_ ? nullptr : scratch(rows_per_strip * row_bytes_);
        for (std::uint32_t strip = 0; strip < strips; ++strip) {
            const std::uint32_t first_row = strip * rows_per_strip;
            const std::uint32_t end_row = first_row + std::min(rows_per_strip, page_.height - first_row);
            const std::uint64_t bytes = (end_row - first_row) * row_bytes_;
            check_strile(strip, bytes);
            std::byte* out = decoded ? decoded.get() : rows(first_row, end_row);
            const tmsize_t got = TIFFReadEncodedStrip(tif_, strip, out, static_cast<tmsize_t>(bytes));
            if (got < 0 || static_cast<std::uint64_t>(got) != bytes) undecodable("strip ", strip);
            if (decoded) append(out, bytes);
        }
    }

    void read_tiles() {
        std::uint32_t tile_width = 0, tile_height = 0, tile_depth = 1;
        TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &tile_width);
        TIFFGetField(tif_, TIFFTAG_TILELENGTH, &tile_height);
        TIFFGetFieldDefaulted(tif_, TIFFTAG_TILEDEPTH, &tile_depth);
        if (tile_width == 0 || tile_height == 0 || tile_depth != 1) {
            fail(path_, "is corrupt: its tiles have no usable size");
        }
        const std::uint64_t tile_row_bytes = std::uint64_t{tile_width} * element_;
        const std::uint64_t tile_bytes = tile_row_bytes * tile_height;
        if (tile_bytes > max_image_bytes) fail(path_, "has tiles larger than the 8 GiB limit");
        if (TIFFTileSize64(tif_) != tile_bytes) fail(path_, "is corrupt: its tile size does not match its pixel type");

        const auto tile = scratch(tile_bytes);
        const auto band = scratch(std::min(tile_height, page_.height) * row_bytes_);
        for (std::uint32_t y0 = 0; y0 < page_.height; y0 += std::min(tile_height, page_.height - y0)) {
            const std::uint32_t end_row = y0 + std::min(tile_height, page_.height - y0);
            for (std::uint32_t x0 = 0; x0 < page_.width; x0 += std::min(tile_width, page_.width - x0)) {
                const std::uint32_t index = TIFFComputeTile(tif_, x0, y0, 0, 0);
                if (index >= TIFFNumberOfTiles(tif_)) {
                    fail(path_, "is corrupt: it lists fewer tiles than its pixels need");
                }
                check_strile(index, tile_bytes);
                const tmsize_t got = TIFFReadEncodedTile(tif_, index, tile.get(), static_cast<tmsize_t>(tile_bytes));
                if (got < 0 || static_cast<std::uint64_t>(got) != tile_bytes) undecodable("tile ", index);
                // Tiles on the right and bottom edges reach past the image.
                const std::uint64_t span = std::uint64_t{std::min(tile_width, page_.width - x0)} * element_;
                for (std::uint32_t r = 0; r < end_row - y0; ++r) {
                    std::memcpy(band.get() + r * row_bytes_ + std::uint64_t{x0} * element_,
                                tile.get() + r * tile_row_bytes, span);
                }
            }
            append(band.get(), (end_row - y0) * row_bytes_);
        }
    }

    TIFF* tif_;
    const std::string& path_;
    const Page& page_;
    std::uint32_t element_;
    std::uint64_t row_bytes_;
    std::uint64_t file_size_;
    const TiffMessages& messages_;
    std::vector<std::byte>& bytes_;
    std::uint64_t page_start_;
    bool uncompressed_ = false;
};

// libtiff takes a directory whose link to the next one is cut off for the
// last one, so a file cut right after a page's entries would silently lose
// its remaining pages: the link must lie inside the file.
void check_directory_complete(TIFF* tif, Source& source, const std::string& path, std::uint64_t index) {
    const std::uint64_t offset = TIFFCurrentDirOffset(tif);
    const bool big = TIFFIsBigTIFF(tif) != 0;
    const std::size_t count_bytes = big ? 8 : 2;
    unsigned char count[8] = {};
    if (source.read_at(offset, count, count_bytes) != count_bytes) {
        fail(path, "is truncated: the directory of page " + std::to_string(index + 1) + " is cut off");
    }
    // The file's byte order is the host's unless libtiff swaps.
    const bool big_endian_file = TIFFIsByteSwapped(tif) != 0;
    std::uint64_t entries = 0;
    for (std::size_t k = 0; k < count_bytes; ++k) {
        const std::size_t at = big_endian_file ? k : count_bytes - 1 - k;
        entries = entries << 8 | count[at];
    }
    const std::uint64_t end = offset + count_bytes + entries * (big ? 20 : 12) + (big ? 8 : 4);
    if (entries > 65535 || end > source.size()) {
        fail(path, "is truncated: the directory of page " + std::to_string(index + 1) + " is cut off");
    }
}

// The value of `key=` in an ImageJ description ("ImageJ=1.54f\nunit=nm\n..."),
// or "" when the description is not ImageJ's or lacks the key.
std::string imagej_value(std::string_view description, std::string_view key) {
    if (description.substr(0, 7) != "ImageJ=") return {};
    // Built by appends: GCC 12 at -O3 warns (-Wrestrict, a false positive)
    // on "\n" + std::string(...).
    std::string wanted = "\n";
    wanted.append(key).append("=");
    const std::size_t at = description.find(wanted);
    if (at == std::string_view::npos) return {};
    const std::size_t start = at + wanted.size();
    std::string value(description.substr(start, description.find('\n', start) - start));
    // ImageJ writes µ escaped, as Java source would.
    for (const char* escaped : {"\\u00B5", "\\u00b5"}) {
        for (std::size_t at; (at = value.find(escaped)) != std::string::npos;) value.replace(at, 6, "\xc2\xb5");
    }
    return value;
}

// The pixel size from hyperspy's tags, or from XResolution (pixels per unit): in ImageJ's files the
// unit its description names ("unit=nm", "unit=micron", "unit=1/nm"),
// whatever ResolutionUnit says (hyperspy writes inches with "unit=nm");
// otherwise centimetres. Inches without ImageJ's unit are taken for a
// display setting, and x and y must agree: unknown otherwise.
PixelSize pixel_size_of(TIFF* tif) {
    // hyperspy's own tags, where x and y agree, in double precision.
    const char *x_unit = nullptr, *y_unit = nullptr;
    double x_scale = 0, y_scale = 0;
    if (TIFFGetField(tif, hyperspy_x_unit, &x_unit) && TIFFGetField(tif, hyperspy_y_unit, &y_unit) &&
        TIFFGetField(tif, hyperspy_x_scale, &x_scale) && TIFFGetField(tif, hyperspy_y_scale, &y_scale) && x_unit &&
        y_unit && std::string_view(x_unit) == y_unit && x_scale == y_scale) {
        if (const PixelSize size = pixel_size_from(x_scale, x_unit); size.known()) return size;
    }
    float x_per_unit = 0, y_per_unit = 0;
    std::uint16_t resolution_unit = RESUNIT_INCH;
    if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x_per_unit) || !(x_per_unit > 0) || !std::isfinite(x_per_unit)) {
        return {};
    }
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y_per_unit) && std::abs(y_per_unit - x_per_unit) > 1e-6 * x_per_unit) {
        return {};
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &resolution_unit);
    const char* description = nullptr;
    const std::string unit =
        TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &description) && description ? imagej_value(description, "unit") : "";
    const double per_pixel = 1.0 / x_per_unit;
    if (!unit.empty()) return pixel_size_from(per_pixel, unit);
    if (resolution_unit == RESUNIT_CENTIMETER) return pixel_size_from(per_pixel, "cm");
    return {};
}

// Why a file did not open: libtiff's text, unless the header points to a
// first directory beyond the end, which is plainly a file cut short.
[[noreturn]] void fail_opening(Source& source, const std::string& path, const TiffMessages& messages) {
    unsigned char header[16] = {};
    const std::size_t got = source.read_at(0, header, sizeof header);
    const bool little = header[0] == 'I' && header[1] == 'I';
    const bool big = header[0] == 'M' && header[1] == 'M';
    const unsigned version = little ? header[2] | header[3] << 8 : header[2] << 8 | header[3];
    auto number = [&](std::size_t at, std::size_t count) {
        std::uint64_t value = 0;
        for (std::size_t k = 0; k < count; ++k) value = value << 8 | header[little ? at + count - 1 - k : at + k];
        return value;
    };
    if ((little || big) && (version == 42 || version == 43)) {
        const bool classic = version == 42;
        if (got < (classic ? 8u : 16u)) fail(path, "is truncated: the file ends inside the TIFF header");
        const std::uint64_t first_directory = classic ? number(4, 4) : number(8, 8);
        if (first_directory >= source.size()) {
            fail(path, "is truncated: its first directory lies past the end of the file");
        }
    }
    fail(path, "cannot be read as TIFF" + libtiff_says(messages));
}

}  // namespace

ImageData read_tiff(const std::string& path, Source& source) {
    silence_global_handlers();
    TiffMessages messages{path, {}};
    const TiffOptions options = options_reporting_to(messages);
    TiffClient client;
    client.source = &source;
    // "m": no memory mapping; everything goes through the Source.
    const TiffFile tif(TIFFClientOpenExt(path.c_str(), "rm", &client, client_read, client_write, client_seek,
                                         client_close, client_size, client_map, client_unmap, options.get()));
    if (!tif) fail_opening(source, path, messages);

    ImageData image;
    Page first;
    std::uint64_t pages = 0;
    for (;;) {
        const Page page = page_of(tif.get(), path, pages);
        check_directory_complete(tif.get(), source, path, pages);
        if (pages == 0) {
            first = page;
        } else if (page.width != first.width || page.height != first.height || page.data_type != first.data_type) {
            fail(path, "page " + std::to_string(pages + 1) + " is " + std::to_string(page.width) + " x " +
                           std::to_string(page.height) + " " + type_name(page.data_type) + ", but page 1 is " +
                           std::to_string(first.width) + " x " + std::to_string(first.height) + " " +
                           type_name(first.data_type) + "; the pages of a stack must match");
        }
        const std::uint32_t element = element_bytes(page.data_type);
        if (TIFFScanlineSize64(tif.get()) != std::uint64_t{page.width} * element) {
            fail(path, "is corrupt: its row size does not match its pixel type");
        }
        const std::uint64_t page_bytes = checked_byte_count(path, page.data_type, {page.width, page.height});
        checked_byte_count(path, page.data_type, {page.width, page.height, pages + 1});
        if (pages == 0) {
            image.pixel_size = pixel_size_of(tif.get());  // the first page's speaks for a stack
            // Room for the pages the file lists, but no more than 64 MiB up
            // front: a forged header must not buy a huge allocation; the
            // buffer grows as pixels are actually decoded.
            const std::uint64_t listed = std::max<std::uint64_t>(TIFFNumberOfDirectories(tif.get()), 1);
            const std::uint64_t wanted = std::min(listed, max_image_bytes / page_bytes) * page_bytes;
            image.bytes.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(wanted, std::uint64_t{64} << 20)));
        }
        PageReader(tif.get(), path, page, source.size(), messages, image.bytes).read();
        ++pages;
        if (TIFFLastDirectory(tif.get())) break;
        if (!TIFFReadDirectory(tif.get())) {
            fail(path, "is corrupt: page " + std::to_string(pages + 1) + " cannot be read" + libtiff_says(messages));
        }
    }
    image.data_type = first.data_type;
    image.sizes = {first.width, first.height};
    if (pages > 1) image.sizes.push_back(pages);
    return image;
}

void write_tiff(const std::string& path, const ImageData& image, OutputFile& out) {
    silence_global_handlers();
    std::uint16_t sample_format = SAMPLEFORMAT_UINT;
    switch (image.data_type) {
        case code::int8:
        case code::int16:
        case code::int32: sample_format = SAMPLEFORMAT_INT; break;
        case code::real4:
        case code::real8: sample_format = SAMPLEFORMAT_IEEEFP; break;
        case code::complex8:
        case code::complex16: sample_format = SAMPLEFORMAT_COMPLEXIEEEFP; break;
        default: break;  // unsigned integers, and binary written as unsigned 8-bit
    }
    const std::uint32_t element = element_bytes(image.data_type);
    const std::uint64_t width = image.sizes[0];
    const std::uint64_t height = image.sizes.size() > 1 ? image.sizes[1] : 1;
    // Planes of dimensions 2 and 3 become pages in memory order, z fastest.
    std::uint64_t pages = 1;
    for (std::size_t k = 2; k < image.sizes.size(); ++k) pages *= image.sizes[k];
    if (width > UINT32_MAX || height > UINT32_MAX) {
        fail(path, "a TIFF page holds at most 4294967295 x 4294967295 pixels, not " + sizes_text(image.sizes));
    }

    TiffMessages messages{path, {}};
    const TiffOptions options = options_reporting_to(messages);
    TiffClient client;
    client.descriptor = out.descriptor();
    auto check = [&](bool ok) {
        if (client.error_number != 0) fail(path, error_text(client.error_number));
        if (!ok || !messages.first_error.empty()) fail(path, "cannot be written as TIFF" + libtiff_says(messages));
    };
    // Classic TIFF addresses 4 GiB; past that (with room for the
    // directories) the file is a BigTIFF. "l": little-endian, as the pixels.
    const char* mode = image.bytes.size() > 0xF0000000u ? "w8l" : "wl";
    const TiffFile tif(TIFFClientOpenExt(path.c_str(), mode, &client, descriptor_read, descriptor_write,
                                         descriptor_seek, client_close, descriptor_size, client_map, client_unmap,
                                         options.get()));
    check(tif != nullptr);

    const std::string description = "ImageJ=1.11a\nunit=" + image.pixel_size.unit() + "\n";

    const std::uint64_t row_bytes = width * element;
    // Strips of about 64 KiB.
    const auto rows_per_strip =
        static_cast<std::uint32_t>(std::clamp<std::uint64_t>((std::uint64_t{1} << 16) / row_bytes, 1, height));
    std::vector<std::byte> strip(static_cast<std::size_t>(rows_per_strip * row_bytes));
    const std::byte* next = image.bytes.data();
    for (std::uint64_t page = 0; page < pages; ++page) {
        check(TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width)) &&
              TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height)) &&
              TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, static_cast<unsigned>(element * 8)) &&
              TIFFSetField(tif.get(), TIFFTAG_SAMPLEFORMAT, static_cast<unsigned>(sample_format)) &&
              TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, 1u) &&
              TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, static_cast<unsigned>(PHOTOMETRIC_MINISBLACK)) &&
              TIFFSetField(tif.get(), TIFFTAG_PLANARCONFIG, static_cast<unsigned>(PLANARCONFIG_CONTIG)) &&
              TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, static_cast<unsigned>(COMPRESSION_NONE)) &&
              TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, rows_per_strip) &&
              (pages == 1 || TIFFSetField(tif.get(), TIFFTAG_SUBFILETYPE, static_cast<std::uint32_t>(FILETYPE_PAGE))));
        // The pixel size as hyperspy's tags and, on one page, as ImageJ
        // writes it, which Fiji and tifffile read: XResolution in pixels per
        // the description's unit. ImageJ's readers take the pages of a stack
        // to lie back to back, which libtiff does not write: a stack's
        // resolution is in centimetres (none when reciprocal).
        if (image.pixel_size.known() && page == 0) {
            const std::string unit = image.pixel_size.unit();
            check(TIFFSetField(tif.get(), hyperspy_x_unit, unit.c_str()) &&
                  TIFFSetField(tif.get(), hyperspy_y_unit, unit.c_str()) &&
                  TIFFSetField(tif.get(), hyperspy_x_scale, image.pixel_size.value) &&
                  TIFFSetField(tif.get(), hyperspy_y_scale, image.pixel_size.value));
        }
        if (image.pixel_size.known() && pages == 1) {
            const double pixels_per_unit = 1 / image.pixel_size.value;
            check(TIFFSetField(tif.get(), TIFFTAG_IMAGEDESCRIPTION, description.c_str()) &&
                  TIFFSetField(tif.get(), TIFFTAG_XRESOLUTION, pixels_per_unit) &&
                  TIFFSetField(tif.get(), TIFFTAG_YRESOLUTION, pixels_per_unit) &&
                  TIFFSetField(tif.get(), TIFFTAG_RESOLUTIONUNIT, static_cast<unsigned>(RESUNIT_NONE)));
        } else if (image.pixel_size.known() && !image.pixel_size.reciprocal) {
            const double pixels_per_cm = 1e7 / image.pixel_size.value;
            check(TIFFSetField(tif.get(), TIFFTAG_XRESOLUTION, pixels_per_cm) &&
                  TIFFSetField(tif.get(), TIFFTAG_YRESOLUTION, pixels_per_cm) &&
                  TIFFSetField(tif.get(), TIFFTAG_RESOLUTIONUNIT, static_cast<unsigned>(RESUNIT_CENTIMETER)));
        }
        for (std::uint64_t row = 0, index = 0; row < height; row += rows_per_strip, ++index) {
            const std::uint64_t bytes = std::min<std::uint64_t>(rows_per_strip, height - row) * row_bytes;
            // libtiff may byte-swap what it is given in place: hand it a copy.
            std::memcpy(strip.data(), next, static_cast<std::size_t>(bytes));
            next += bytes;
            check(TIFFWriteEncodedStrip(tif.get(), static_cast<std::uint32_t>(index), strip.data(),
                                        static_cast<tmsize_t>(bytes)) == static_cast<tmsize_t>(bytes));
        }
        check(TIFFWriteDirectory(tif.get()) != 0);
    }
    check(TIFFFlush(tif.get()) != 0);
}

}  // namespace zorvan::files::detail
