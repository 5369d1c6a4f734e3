#include "cli/info.h"

#include "files/image_io.h"

#include <cstdio>

namespace zorvan::cli {

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// "x: 512 pixels of 0.0178 nm, offset -4.56 nm (origin 256)"
std::string axis_text(const char* name, std::uint64_t size, const files::AxisCalibration& axis) {
    const std::string unit = axis.unit.empty() ? "" : " " + axis.unit;
    const double offset = axis.origin == 0 ? 0.0 : -axis.origin * axis.scale;  // never "-0"
    std::string text = std::string(name) + ": " + std::to_string(size) + " pixels of " + number(axis.scale) + unit +
                       ", offset " + number(offset) + unit;
    if (axis.origin != 0) text += " (origin at pixel " + number(axis.origin) + ")";
    if (axis.unit.empty()) text += " (no unit)";
    return text;
}

void print_image(const files::ImageSummary& image) {
    std::string shape;
    for (std::size_t k = 0; k < image.sizes.size(); ++k) shape += (k ? " x " : "") + std::to_string(image.sizes[k]);
    const std::string name = image.name.empty() ? "" : "\"" + image.name + "\" ";
    std::printf("  %zu: %s%s, %s\n", image.index, name.c_str(), image.type_text.c_str(), shape.c_str());
    static const char* const names[] = {"x", "y", "z", "t"};
    if (image.axes.empty()) {
        std::printf("     no axis calibration in the file\n");
    } else {
        for (std::size_t k = 0; k < image.axes.size(); ++k) {
            const std::uint64_t size = k < image.sizes.size() ? image.sizes[k] : 1;
            std::printf("     %s\n", axis_text(k < 4 ? names[k] : "axis", size, image.axes[k]).c_str());
        }
    }
    std::string facts = files::describe(image.pixel_size);
    if (image.voltage_v > 0) facts += "; " + number(image.voltage_v / 1000) + " kV";
    if (image.exposure_s > 0) facts += "; exposure " + number(image.exposure_s) + " s";
    std::printf("     %s\n", facts.c_str());
    if (!image.refusal.empty()) std::printf("     refused: %s\n", image.refusal.c_str());
}

}  // namespace

int print_info(const std::vector<std::string>& paths) {
    int status = 0;
    for (const std::string& path : paths) {
        std::vector<files::ImageSummary> images;
        try {
            images = files::list_images(path);
        } catch (const files::FileError& error) {
            std::fflush(stdout);
            std::fprintf(stderr, "zorvan: %s\n", error.what());
            status = 2;
            continue;
        }
        std::printf("%s: %zu image%s\n", path.c_str(), images.size(), images.size() == 1 ? "" : "s");
        for (const auto& image : images) print_image(image);
    }
    return status;
}

}  // namespace zorvan::cli
