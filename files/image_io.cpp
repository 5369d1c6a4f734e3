// The top of the image-file module: the format a path names (its
// extension, and for the host application's files an image index after a
// colon), and the codec that reads or writes it.

#include "files/image_io.h"

#include "files/image_formats.h"

#include <algorithm>
#include <new>
#include <optional>

namespace zorvan::files {
namespace {

using namespace detail;

enum class Format { tiff, png, npy, mrc, dm };

constexpr const char* supported =
    "supported: .tif, .tiff, .png, .npy, .mrc, .mrcs, .map, .st, .ali, .rec, .dm3, .dm4";

// The extension, lower-cased, or "" when the name has none.
std::string extension_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < name_start) return {};
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return extension;
}

std::optional<Format> known_format(const std::string& extension) {
    if (extension == ".tif" || extension == ".tiff") return Format::tiff;
    if (extension == ".png") return Format::png;
    if (extension == ".npy") return Format::npy;
    // MRC under the names tomography and single-particle programs give it.
    for (const char* mrc : {".mrc", ".mrcs", ".map", ".st", ".ali", ".rec"}) {
        if (extension == mrc) return Format::mrc;
    }
    if (extension == ".dm3" || extension == ".dm4") return Format::dm;
    return std::nullopt;
}

Format format_of(const std::string& path) {
    const std::string extension = extension_of(path);
    if (extension.empty()) fail(path, std::string("has no file extension; ") + supported);
    if (const auto format = known_format(extension)) return *format;
    fail(path, "unknown image file extension '" + path.substr(path.size() - extension.size()) + "'; " + supported);
}

// A path and the image it names: "a.dm4:2" is image 2 of a.dm4. Only a
// path whose part before the colon has an image extension is split, so
// other names with colons stay as they are.
struct Named {
    std::string path;
    std::optional<std::size_t> index;
};
Named split_index(const std::string& name) {
    const std::size_t colon = name.find_last_of(':');
    if (colon == std::string::npos || colon + 1 == name.size() || name.size() - colon > 10) return {name, {}};
    if (!std::all_of(name.begin() + std::ptrdiff_t(colon) + 1, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return {name, {}};
    }
    std::string path = name.substr(0, colon);
    if (!known_format(extension_of(path))) return {name, {}};
    return {std::move(path), std::stoull(name.substr(colon + 1))};
}

// Formats other than the host application's hold one image, image 0.
void check_single(const Named& named) {
    if (named.index && *named.index != 0) {
        fail(named.path, "holds one image, 0; there is no image " + std::to_string(*named.index));
    }
}

ImageData read_format(Format format, const Named& named, Source& source) {
    if (format == Format::dm) return read_dm(named.path, source, named.index);
    check_single(named);
    switch (format) {
        case Format::tiff: return read_tiff(named.path, source);
        case Format::png: return read_png(named.path, source);
        case Format::npy: return read_npy(named.path, source);
        case Format::mrc: return read_mrc(named.path, source);
        case Format::dm: break;
    }
    fail(named.path, "unknown image format");
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

ImageData read_image(const std::string& path) {
    const Named named = split_index(path);
    const Format format = format_of(named.path);
    return guarded(named.path, [&] {
        FileSource source(named.path);
        return read_format(format, named, source);
    });
}

ImageData decode_image(const std::string& name, const void* data, std::size_t size) {
    const Named named = split_index(name);
    const Format format = format_of(named.path);
    return guarded(named.path, [&] {
        MemorySource source(data, size);
        return read_format(format, named, source);
    });
}

std::vector<ImageSummary> list_images(const std::string& path) {
    const Named named = split_index(path);
    const Format format = format_of(named.path);
    if (format == Format::dm) {
        return guarded(named.path, [&] {
            FileSource source(named.path);
            return list_dm(named.path, source);
        });
    }
    const ImageData image = read_image(named.path);
    ImageSummary summary;
    summary.name = image.name;
    summary.data_type = image.data_type;
    summary.type_text = type_name(image.data_type);
    summary.sizes = image.sizes;
    summary.axes = image.axes;
    summary.pixel_size = image.pixel_size;
    summary.voltage_v = image.voltage_v;
    summary.exposure_s = image.exposure_s;
    return {summary};
}

bool keeps_calibration(const std::string& path, const PixelSize& size) {
    if (!size.known()) return true;
    switch (format_of(split_index(path).path)) {
        case Format::tiff: return true;
        case Format::mrc: return !size.reciprocal;
        default: return false;
    }
}

void write_image(const std::string& path, const ImageData& image) {
    const Format format = format_of(path);
    if (format == Format::dm) fail(path, "files of the host application (.dm3, .dm4) are read, not written");
    if (element_bytes(image.data_type) == 0) {
        const bool known = image.data_type == dm::data_type::packed_complex || image.data_type == dm::data_type::rgb;
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
            case Format::dm: break;
        }
        out.commit();
    });
}

}  // namespace zorvan::files
