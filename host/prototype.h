#pragma once
// Script function prototypes: "ImageRef FMovingAverage(ImageRef imgSrc, long nRad, ImageRef imgDst)".

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvan::host {

// The script types a native call can carry.
enum class ScriptType {
    void_,      // results only
    long_,      // signed 32-bit
    short_,     // signed 16-bit (results)
    double_,
    float_,
    double_ref,  // double *
    image,       // ImageRef or Image *
    image_ref,   // ImageRef*
    other,       // any type a native call cannot carry
};

struct Parameter {
    std::string type;  // as written, blanks folded: "double *", "ImageRef*"
    std::string name;  // may be empty
    ScriptType script_type;
};

struct Prototype {
    std::string result_type;
    ScriptType result;
    std::string name;
    std::vector<Parameter> parameters;
    bool variadic = false;
};

// Parses a prototype; nullopt when the text is not one.
std::optional<Prototype> parse_prototype(std::string_view text);

// The script type of a written type ("long", "double *", "ImageRef*", ...).
ScriptType classify_type(std::string_view type);

}  // namespace zorvan::host
