#pragma once
// What an image file says of its pixels' physical size: the pixel size along
// x and y in nanometres (or reciprocal nanometres, for diffraction patterns
// and spectra), each axis's calibration as the file gives it, and the few
// acquisition facts a microscopist asks for. Nothing here is ever invented:
// a file that does not say leaves it unknown.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvan::files {

// The size of one pixel along x and y.
struct PixelSize {
    double value = 0;         // nm (or 1/nm) per pixel; 0 when the file does not say
    bool reciprocal = false;  // 1/nm: a diffraction pattern or a spectrum
    bool known() const { return value > 0; }
    std::string unit() const { return reciprocal ? "1/nm" : "nm"; }
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

// One axis as the file calibrates it: pixel i stands at (i - origin) * scale,
// in `unit` ("nm", "1/nm", "µm", "s", "eV"... or "" for none).
struct AxisCalibration {
    double scale = 1;
    double origin = 0;
    std::string unit;
    friend bool operator==(const AxisCalibration&, const AxisCalibration&) = default;
};

// A length unit's size in nanometres ("nm" 1, "µm"/"um"/"micron" 1000,
// "Å"/"A"/"angstrom" 0.1, "pm" 0.001, "mm", "cm", "m"), or a reciprocal one
// ("1/nm", "nm^-1", "1/Å", ...) as the size of its "1/" unit in 1/nm.
struct LengthUnit {
    double nanometres = 0;
    bool reciprocal = false;
};
std::optional<LengthUnit> parse_length_unit(std::string_view unit);

// The pixel size `scale` units per pixel give: nm or 1/nm. Unknown when the
// unit is not a length, or the scale is not a finite positive number.
PixelSize pixel_size_from(double scale, std::string_view unit);

// "pixel size 0.0178 nm", "pixel size 0.174 1/nm" or "no pixel size in the file".
std::string describe(const PixelSize& size);

}  // namespace zorvan::files
