#include "cli/output.h"

#include "cli/arguments.h"
#include "contract/data_types.h"
#include "files/image_io.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace zorvan::cli {

namespace {

std::string type_name(std::int32_t code) {
    const dm::pixel_type* type = dm::find_pixel_type(code);
    return type ? std::string(type->name) : "data type " + std::to_string(code);
}

struct Statistics {
    double minimum = INFINITY;
    double maximum = -INFINITY;
    double sum_re = 0;
    double sum_im = 0;
    std::size_t nans = 0;

    // The real part and, for complex pixels, the imaginary part; the
    // extremes are of the modulus.
    void add(double re, double im, bool complex) {
        const double magnitude = complex ? std::hypot(re, im) : re;
        if (std::isnan(magnitude)) {
            ++nans;
            return;
        }
        minimum = std::fmin(minimum, magnitude);
        maximum = std::fmax(maximum, magnitude);
        sum_re += re;
        sum_im += im;
    }
};

template <class T>
Statistics statistics_of(const std::byte* bytes, std::size_t count) {
    Statistics statistics;
    for (std::size_t i = 0; i < count; ++i) {
        T v;
        std::memcpy(&v, bytes + i * sizeof v, sizeof v);
        if constexpr (dm::is_complex_v<T>) {
            statistics.add(static_cast<double>(v.re), static_cast<double>(v.im), true);
        } else {
            statistics.add(static_cast<double>(v), 0.0, false);
        }
    }
    return statistics;
}

// The extension of the file name in `path`, in lower case; "" when none.
std::string extension_of(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

constexpr const char* kWritable = "write .tif/.tiff, .mrc (.mrcs, .map, .st, .ali, .rec), .npy or .png";

}  // namespace

bool is_writable_extension(const std::string& path) {
    const std::string extension = extension_of(path);
    for (const char* known : {".tif", ".tiff", ".png", ".npy", ".mrc", ".mrcs", ".map", ".st", ".ali", ".rec"}) {
        if (extension == known) return true;
    }
    return false;
}

bool is_image_extension(const std::string& path) {
    const std::string extension = extension_of(path);
    return is_writable_extension(path) || extension == ".dm3" || extension == ".dm4";
}

std::string output_problem(const std::string& path) {
    const std::string extension = extension_of(path);
    if (extension.empty()) return path + ": has no file extension; " + kWritable;
    if (extension == ".dm3" || extension == ".dm4") return path + ": " + extension + " files are read only; " + kWritable;
    if (!is_writable_extension(path)) return path + ": unknown image file extension '" + extension + "'; " + kWritable;
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        return folder + ": no such folder to write " + path.substr(slash + 1) + " in";
    }
    return "";
}

std::string folder_problem(const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path existing = fs::absolute(dir, error).lexically_normal();
    while (!existing.empty() && !fs::exists(existing, error)) existing = existing.parent_path();
    if (!fs::is_directory(existing, error)) return dir + ": cannot be made: " + existing.string() + " is not a folder";
    if (access(existing.c_str(), W_OK | X_OK) != 0) {
        return dir + ": cannot be written in: " + existing.string() + ": " + std::strerror(errno);
    }
    return "";
}

std::string calibration_note(const std::string& path, const files::PixelSize& pixel_size) {
    if (files::keeps_calibration(path, pixel_size)) return "";
    return "written without " + files::describe(pixel_size) + " (the format cannot hold it)";
}

void write_file(const std::string& path, files::ImageData image) {
    if (!files::keeps_calibration(path, image.pixel_size)) image.pixel_size = {};
    try {
        files::write_image(path, image);
    } catch (const files::FileError& error) {
        throw FileFailure{error.what()};
    }
}

void write_file(const std::string& path, const host::Image& image, const files::PixelSize& pixel_size) {
    files::ImageData data;
    data.data_type = image.data_type();
    data.sizes = image.sizes();
    data.bytes = image.bytes();
    data.pixel_size = pixel_size;
    write_file(path, std::move(data));
}

void summarise(const char* label, const host::Image& image) {
    const auto sizes = image.sizes();
    std::string shape;
    for (std::size_t k = 0; k < sizes.size(); ++k) shape += (k ? " x " : "") + std::to_string(sizes[k]);
    const std::int32_t code = image.data_type();
    std::printf("%s: %s, %s\n", label, type_name(code).c_str(), shape.c_str());

    const auto bytes = image.bytes();
    const std::size_t count = static_cast<std::size_t>(image.element_count());
    const dm::pixel_type* type = dm::find_pixel_type(code);
    const bool complex = type && type->kind == dm::pixel_kind::complex;
    const Statistics statistics = dm::dispatch(
        files::file_codes{}, code, [&]<class T>() { return statistics_of<T>(bytes.data(), count); },
        [&] {
            // Packed types have no element to read: every pixel counts as NaN.
            Statistics unreadable;
            unreadable.nans = count;
            return unreadable;
        });
    const double valid = static_cast<double>(count - statistics.nans);
    if (complex) {
        std::printf("  modulus min %.9g, max %.9g; mean (%.9g, %.9g)", statistics.minimum, statistics.maximum,
                    statistics.sum_re / valid, statistics.sum_im / valid);
    } else {
        std::printf("  min %.9g, max %.9g, mean %.9g", statistics.minimum, statistics.maximum,
                    statistics.sum_re / valid);
    }
    if (statistics.nans > 0) std::printf(" (%zu NaN pixels left out)", statistics.nans);
    std::printf("\n");
}

void print_trace() {
    const auto counters = host::Host::counters();
    int name_width = 28;  // wider when a name is longer, so the numbers stay in line
    for (const auto& counter : counters) name_width = std::max(name_width, static_cast<int>(counter.name.size()));
    std::printf("%-*s %10s %14s\n", name_width, "counter", "additions", "total ms");
    for (const auto& counter : counters) {
        std::printf("%-*s %10llu %14.3f\n", name_width, counter.name.c_str(),
                    static_cast<unsigned long long>(counter.additions), counter.total_ms());
    }
}

}  // namespace zorvan::cli
