#include "cli/help.h"

#include "cli/arguments.h"
#include "contract/script_functions.h"

#include <cstdio>
#include <utility>

namespace zorvan::cli {

const char* const usage =
    "usage: zorvan wiener IN... [-o OUT] [--report DIR] [--mode wiener|lattice] [--margin K] [--smoothing L]\n"
    "                        [--window hann|sine]\n"
    "       zorvan info FILE...\n"
    "       zorvan [--trace] [-o FILE] [--save PARAM=FILE]... NAME [ARG | PARAM=ARG]...\n"
    "       zorvan list\n"
    "       zorvan help [NAME | --markdown]\n"
    "       zorvan demo [--out DIR] [--size N|WxH] [--seed S] [--mode M] [--margin K] [--smoothing L] [--window W]\n"
    "       zorvan --version\n"
    "--help (or -h) after a command tells more of it: zorvan wiener --help, zorvan FMedianFilter --help.\n";

namespace {

const char* const wiener_help =
    "zorvan wiener IN... [-o OUT] [--report DIR] [--mode wiener|lattice] [--margin K] [--smoothing L]\n"
    "              [--window hann|sine]\n"
    "\n"
    "Wiener-filters each IN (any size, integer or real pixels, converted to 4-byte real; a stack plane by\n"
    "plane) into a 4-byte real image. IN is an image file (.tif/.tiff, .mrc, .npy, .png, .dm3, .dm4; FILE:N\n"
    "for image N of a file holding several, as zorvan info lists them), a folder (its image files) or a\n"
    "quoted pattern ('data/*.dm4').\n"
    "  -o OUT         one input: the output file, or a folder (ending in /) to write NAME.EXT in;\n"
    "                 several inputs: a folder (made if needed), each input written in it as NAME.EXT.\n"
    "                 Without -o: beside each input as NAME-wiener.EXT. NAME is the input's name\n"
    "                 without extension (FILE:N gives NAME-N); EXT is its extension, .tif for .png,\n"
    "                 .dm3 and .dm4.\n"
    "  --report DIR   also write DIR/report.html with its images (several inputs: DIR/NAME/report.html,\n"
    "                 and DIR/index.html with each file's outcome and a link to its report)\n"
    "  --mode M       wiener (default): for any image; the classical Wiener filter S / (S + N) of each ring of\n"
    "                 the spectrum, N the white noise power of its outermost rings, together with the lattice\n"
    "                 mask; keeps what a specimen puts into every direction. lattice: only the reflections\n"
    "                 standing K times above their ring's mean power; for crystal lattices, it removes\n"
    "                 non-periodic detail\n"
    "  --margin K     the lattice mask passes power above K times its ring's mean (default 8 in wiener mode,\n"
    "                 4 in lattice mode)\n"
    "  --smoothing L  the Whittaker smoothing weight of the ring means (default 1000)\n"
    "  --window W     the apodisation window, hann (default) or sine\n"
    "The pixel size read is printed, and kept in the output where its format holds it (TIFF; MRC in nm\n"
    "only). NaN and infinite pixels are replaced by the mean of their plane's finite pixels, and counted.\n"
    "Complex images, planes under 16 x 16 and constant planes are refused, writing nothing for that file;\n"
    "so is, in wiener mode, an image whose outermost rings hold no noise power to measure.\n"
    "Outputs and report folders are checked before any work; report folders are made with their parents.\n"
    "One input prints every stage; several print a line per file and a summary, and a file that fails\n"
    "is reported with its reason while the others go on.\n"
    "Exit status: 0 every file filtered; 1 one input refused, or any of several inputs failed;\n"
    "2 bad usage, or one input that cannot be read or written; nothing is done on bad usage.\n";

const char* const info_help =
    "zorvan info FILE...\n"
    "\n"
    "Lists every image in each file: its index (FILE:N names it), name, pixel type and sizes, each axis's\n"
    "calibration (size, scale, offset, unit), the pixel size, the microscope's voltage and the exposure\n"
    "where the file gives them, and why the image would be refused. Exit status: 0, or 2 when a file\n"
    "cannot be read (the others are still listed).\n";

const char* const call_help =
    "zorvan [--trace] [-o FILE] [--save PARAM=FILE]... NAME [ARG | PARAM=ARG]...\n"
    "\n"
    "Calls the script function NAME with its arguments in prototype order, or named as PARAM=ARG.\n"
    "Images are files (.tif/.tiff, .png, .npy, .mrc, .dm3, .dm4; FILE:N for image N of a file holding\n"
    "several) or null; the same file named twice is the same image. Each file's pixel size is printed.\n"
    "Numbers are decimal (nan and inf included). A `double *` argument may be given its starting value.\n"
    "  -o FILE             write the image the function returns to FILE (.png: an 8-bit preview)\n"
    "  --save PARAM=FILE   after the call, write the image argument PARAM to FILE\n"
    "  --trace             print the timing counters after the call, whatever its outcome\n"
    "An output on an input's pixel grid keeps its pixel size where the format holds it (the command says\n"
    "when it cannot). Output files are checked before the call.\n"
    "Exit status: 0; 1 a script error or refusal; 2 bad usage or a file that cannot be read or written.\n";

const char* const demo_help =
    "zorvan demo [--out DIR] [--size N|WxH] [--seed S] [--margin K] [--smoothing L] [--window hann|sine]\n"
    "\n"
    "The filter of zorvan wiener on a synthetic lattice with shot noise (default 512 x 512, seed 1), with\n"
    "its signal-to-noise ratios against the clean lattice; the report and images in DIR (default\n"
    "zorvan-demo).\n";

const char* const list_help =
    "zorvan list\n\nEvery script function's prototype, one a line, as the host receives them.\n";

const char* const help_help =
    "zorvan help [NAME | --markdown]\n\nThis help; a function's prototype, purpose, pixel types and an example;\n"
    "or the README's table of functions.\n";


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
        std::printf("%s\n%s\n%s\n%s\n%s\nFunctions (zorvan help NAME tells more):\n", usage, wiener_help, info_help,
                    call_help, demo_help);
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

void print_command_help(const std::string& command) {
    const std::pair<const char*, const char*> commands[] = {
        {"wiener", wiener_help}, {"info", info_help}, {"demo", demo_help}, {"list", list_help}, {"help", help_help}};
    for (const auto& [name, text] : commands) {
        if (command == name) {
            std::printf("%s", text);
            return;
        }
    }
    if (find_script_function(command) == nullptr) {
        print_help({"help"});
        return;
    }
    print_help({"help", command});
    std::printf("\n%s", call_help);
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
