#include "cli/help.h"

#include "cli/arguments.h"
#include "contract/script_functions.h"

#include <cstdio>

namespace zorvan::cli {

const char* const usage =
    "usage: zorvan wiener IN [-o OUT] [--report DIR] [--mode wiener|lattice] [--margin K] [--smoothing L]\n"
    "                     [--window hann|sine]\n"
    "       zorvan list\n"
    "       zorvan help [NAME | --markdown]\n"
    "       zorvan [--trace] [-o FILE] [--save PARAM=FILE]... NAME [ARG | PARAM=ARG]...\n"
    "       zorvan demo [--out DIR] [--size N|WxH] [--seed S] [--mode M] [--margin K] [--smoothing L] [--window W]\n"
    "\n"
    "wiener: Wiener-filters IN (any size, integer or real pixels, converted to 4-byte real; a stack plane by\n"
    "plane) into OUT, 4-byte real (default: IN with -wiener before the extension; a PNG input gives a .tif).\n"
    "  --report DIR   also write DIR/report.html with its images\n"
    "  --mode M       wiener (default): for any image; the classical Wiener filter S / (S + N) of each ring of\n"
    "                 the spectrum, N the white noise power of its outermost rings, together with the lattice\n"
    "                 mask; keeps what a specimen puts into every direction. lattice: only the reflections\n"
    "                 standing K times above their ring's mean power; for crystal lattices, it removes\n"
    "                 non-periodic detail\n"
    "  --margin K     the lattice mask passes power above K times its ring's mean (default 8 in wiener mode,\n"
    "                 4 in lattice mode)\n"
    "  --smoothing L  the Whittaker smoothing weight of the ring means (default 1000)\n"
    "  --window W     the apodisation window, hann (default) or sine\n"
    "NaN and infinite pixels are replaced by the mean of their plane's finite pixels, and counted. Complex\n"
    "images, planes under 16 x 16 and constant planes are refused with exit 1, writing nothing; so is, in\n"
    "wiener mode, an image whose outermost rings hold no noise power to measure.\n"
    "demo: the same filter on a synthetic lattice with shot noise, with its signal-to-noise ratios.\n"
    "\n"
    "Calls the script function NAME with its arguments in prototype order, or named as PARAM=ARG.\n"
    "Images are files (.tif/.tiff, .png, .npy, .mrc) or null; the same file named twice is the same image.\n"
    "Numbers are decimal (nan and inf included). A `double *` argument may be given its starting value.\n"
    "  -o FILE             write the image the function returns to FILE (.png: an 8-bit preview)\n"
    "  --save PARAM=FILE   after the call, write the image argument PARAM to FILE\n"
    "  --trace             print the timing counters after the call, whatever its outcome\n";

namespace {

// A table cell: a bar inside the text would end the cell.
std::string cell(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '|') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

void print_help(const std::vector<std::string>& words) {
    if (words.size() == 1) {
        std::printf("%s\nFunctions (zorvan help NAME tells more):\n", usage);
        for (const auto& function : script_functions) std::printf("  %s\n", prototype_of(function).c_str());
        return;
    }
    if (words.size() != 2) throw UsageError{"help takes one function name"};
    const script_function* function = find_script_function(words[1]);
    if (function == nullptr) throw UsageError{"unknown function " + words[1] + " (zorvan list shows them)"};
    std::printf("%s\n\n%.*s\n\nPixel types: %.*s\nExample:     %.*s\n", prototype_of(*function).c_str(),
                static_cast<int>(function->summary.size()), function->summary.data(),
                static_cast<int>(function->pixel_types.size()), function->pixel_types.data(),
                static_cast<int>(function->example.size()), function->example.data());
}

void print_list() {
    for (const auto& function : script_functions) std::printf("%s\n", prototype_of(function).c_str());
}

std::string function_table_markdown() {
    std::string table = "| prototype | what it does | pixel types |\n|---|---|---|\n";
    for (const auto& function : script_functions) {
        table += "| `" + prototype_of(function) + "` | " + cell(function.summary) + " | " + cell(function.pixel_types) +
                 " |\n";
    }
    return table;
}

}  // namespace zorvan::cli
