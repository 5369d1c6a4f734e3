// Units of length as image files write them, in nanometres.

#include "files/calibration.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace zorvan::files {
namespace {

struct NamedUnit {
    std::string_view name;
    double nanometres;
};

// Spelled as TIFF descriptions, MRC headers and the host application write
// them; compared after lower-casing ASCII letters, so "NM" and "Nm" are nm.
constexpr NamedUnit length_units[] = {
    {"nm", 1},          {"nanometer", 1},      {"nanometre", 1},     {"nanometers", 1}, {"nanometres", 1},
    {"\xc2\xb5m", 1e3}, {"\xce\xbcm", 1e3},    {"um", 1e3},          {"micron", 1e3},   {"microns", 1e3},
    {"micrometer", 1e3}, {"micrometre", 1e3},  {"\xc3\x85", 0.1},    {"\xe2\x84\xab", 0.1}, {"a", 0.1},
    {"angstrom", 0.1},  {"angstroms", 0.1},    {"pm", 1e-3},         {"mm", 1e6},       {"cm", 1e7},
    {"m", 1e9},
};

std::string lower_ascii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

std::optional<double> direct_unit(std::string_view unit) {
    // "Å" is matched before lower-casing ("a" also names it: ImageJ writes "A").
    for (const NamedUnit& known : length_units) {
        if (unit == known.name) return known.nanometres;
    }
    const std::string lower = lower_ascii(unit);
    for (const NamedUnit& known : length_units) {
        if (lower == known.name) return known.nanometres;
    }
    return std::nullopt;
}

}  // namespace

std::optional<LengthUnit> parse_length_unit(std::string_view unit) {
    unit = trimmed(unit);
    if (auto nanometres = direct_unit(unit)) return LengthUnit{*nanometres, false};
    // Reciprocal: "1/nm", "1 / nm", "nm^-1", "nm-1".
    std::string_view inner;
    if (unit.substr(0, 2) == "1/") {
        inner = trimmed(unit.substr(2));
    } else if (unit.size() > 3 && unit.substr(unit.size() - 3) == "^-1") {
        inner = trimmed(unit.substr(0, unit.size() - 3));
    } else if (unit.size() > 2 && unit.substr(unit.size() - 2) == "-1") {
        inner = trimmed(unit.substr(0, unit.size() - 2));
    } else {
        return std::nullopt;
    }
    if (auto nanometres = direct_unit(inner)) return LengthUnit{*nanometres, true};
    return std::nullopt;
}

PixelSize pixel_size_from(double scale, std::string_view unit) {
    const std::optional<LengthUnit> parsed = parse_length_unit(unit);
    if (!parsed || !std::isfinite(scale) || !(scale > 0)) return {};
    // scale units per pixel; a reciprocal unit 1/u is (1/nanometres) 1/nm.
    const double value = parsed->reciprocal ? scale / parsed->nanometres : scale * parsed->nanometres;
    if (!std::isfinite(value) || !(value > 0)) return {};
    return {value, parsed->reciprocal};
}

std::string describe(const PixelSize& size) {
    if (!size.known()) return "no pixel size in the file";
    char number[32];
    std::snprintf(number, sizeof number, "%.4g", size.value);
    return std::string("pixel size ") + number + " " + size.unit();
}

}  // namespace zorvan::files
