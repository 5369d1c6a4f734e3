#pragma once
// The command line: options, the words given for a function's parameters,
// and their conversion to host arguments, each image file loaded once.

#include "demo/demo.h"
#include "files/calibration.h"
#include "host/host.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zorvan::cli {

// Bad usage: exit 2 with the message and the usage.
struct UsageError {
    std::string message;
};

// A file that cannot be read or written: exit 2.
struct FileFailure {
    std::string message;
};

struct Options {
    bool trace = false;
    std::string output;
    std::vector<std::pair<std::string, std::string>> saves;  // parameter, file
    std::vector<std::string> words;                          // command and arguments
};

Options parse_options(int argc, char** argv);

// `zorvan demo [--out DIR] [--size N|WxH] [--seed S] [FILTER OPTIONS]`: the
// options after "demo".
demo::DemoOptions parse_demo_options(int argc, char** argv);

// `zorvan wiener IN... [-o OUT] [--report DIR] [FILTER OPTIONS]`, the filter
// options being [--mode wiener|lattice] [--margin K] [--smoothing L] [--window hann|sine]. IN is a
// file, a folder or a pattern (see plan_wiener).
struct WienerCommand {
    std::vector<std::string> inputs;
    std::string output;  // a file or a folder; "" when not given
    std::string report_dir;
    wiener::WienerOptions options;
};
WienerCommand parse_wiener_command(int argc, char** argv);

// A decimal number (nan and inf included) filling the whole text.
std::optional<double> parse_number(const std::string& text);

// Images named on the command line, loaded once per file: the same file
// named twice is the same image. Each file's calibration is printed as it
// is read ("in.mrc: pixel size 0.25 nm").
class ImageFiles {
public:
    explicit ImageFiles(host::Host& host) : host_(host) {}
    host::Image load(const std::string& path);

    // The pixel size an output of these sizes keeps: that of the first
    // file read with the same width and height that gives one, else 0. The
    // filters keep the pixel grid, so their outputs keep its calibration.
    files::PixelSize pixel_size_for(const std::vector<std::uint64_t>& sizes) const;

private:
    struct Calibrated {
        std::uint64_t width, height;
        files::PixelSize pixel_size;
    };
    host::Host& host_;
    std::map<std::string, host::Image> loaded_;
    std::vector<Calibrated> calibrations_;
};

// The text given for each parameter, in prototype order: positional words
// fill the parameters not named as PARAM=VALUE.
std::vector<std::optional<std::string>> assign(const host::Prototype& prototype,
                                               const std::vector<std::string>& given);

// Host arguments from those texts: numbers, `double *` slots (0 when left
// out), images from files (null when left out or "null").
std::vector<host::Arg> convert(const host::Prototype& prototype,
                               const std::vector<std::optional<std::string>>& values, ImageFiles& files);

}  // namespace zorvan::cli
