#include "cli/arguments.h"

#include "files/image_io.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace zorvan::cli {

using host::Arg;
using host::Image;
using host::Prototype;
using host::ScriptType;

namespace {

bool is_identifier(const std::string& text) {
    if (text.empty() || !(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_')) return false;
    for (char c : text) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    }
    return true;
}

std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

}  // namespace

std::optional<double> parse_number(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return value;
}

Options parse_options(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--trace") {
            options.trace = true;
        } else if (word == "-o" || word == "--save") {
            if (i + 1 >= argc) throw UsageError{word + " needs a value"};
            const std::string value = argv[++i];
            if (word == "-o") {
                if (!options.output.empty()) throw UsageError{"-o is given twice"};
                options.output = value;
            } else {
                const auto equals = value.find('=');
                if (equals == std::string::npos || equals == 0 || equals + 1 == value.size()) {
                    throw UsageError{"--save takes PARAM=FILE, not \"" + value + "\""};
                }
                options.saves.emplace_back(value.substr(0, equals), value.substr(equals + 1));
            }
        } else if (word.size() > 1 && word[0] == '-' && !parse_number(word)) {
            throw UsageError{"unknown option " + word};
        } else {
            options.words.push_back(word);
        }
    }
    return options;
}

namespace {

// One of the filter's options and its value into `options`; false for any
// other option.
bool filter_option(const std::string& command, const std::string& word, const std::string& value,
                   wiener::WienerOptions& options) {
    const auto number = parse_number(value);
    if (word == "--margin" || word == "--smoothing") {
        if (!number || !(*number > 0) || !std::isfinite(*number)) {
            throw UsageError{command + ": " + word + " takes a positive number, not \"" + value + "\""};
        }
        (word == "--margin" ? options.noise_margin : options.lambda) = *number;
        return true;
    }
    if (word == "--mode") {
        if (value != "wiener" && value != "lattice") throw UsageError{command + ": --mode takes wiener or lattice"};
        options.mode = value == "wiener" ? wiener::Mode::wiener : wiener::Mode::lattice;
        return true;
    }
    if (word == "--window") {
        if (value != "hann" && value != "sine") throw UsageError{command + ": --window takes hann or sine"};
        options.window = value == "hann" ? wiener::Window::hann : wiener::Window::sine;
        return true;
    }
    return false;
}

std::optional<std::uint32_t> demo_side(const std::string& text) {
    const auto number = parse_number(text);
    if (!number || *number < 16 || *number > 8192 || *number != std::floor(*number)) return std::nullopt;
    return static_cast<std::uint32_t>(*number);
}

}  // namespace

demo::DemoOptions parse_demo_options(int argc, char** argv) {
    demo::DemoOptions options;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (i + 1 >= argc) throw UsageError{"demo: " + word + " needs a value"};
        const std::string value = argv[++i];
        const auto number = parse_number(value);
        const auto times = value.find('x');
        const auto width = demo_side(value.substr(0, times));
        const auto height = times == std::string::npos ? width : demo_side(value.substr(times + 1));
        if (word == "--out") {
            options.out_dir = value;
        } else if (word == "--size" && width && height) {
            options.width = *width;
            options.height = *height;
        } else if (word == "--seed" && number && *number >= 0 && *number == std::floor(*number)) {
            options.seed = static_cast<std::uint64_t>(*number);
        } else if (!filter_option("demo", word, value, options.wiener)) {
            throw UsageError{"demo: bad option " + word + " " + value +
                             " (--size takes N or WxH, sides of 16 to 8192, --seed a whole number)"};
        }
    }
    return options;
}

WienerCommand parse_wiener_command(int argc, char** argv) {
    WienerCommand command;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.empty() || word[0] != '-') {
            command.inputs.push_back(word);
            continue;
        }
        if (i + 1 >= argc) throw UsageError{"wiener: " + word + " needs a value"};
        const std::string value = argv[++i];
        if (word == "-o") {
            if (!command.output.empty()) throw UsageError{"wiener: -o is given twice"};
            command.output = value;
        } else if (word == "--report") {
            if (!command.report_dir.empty()) throw UsageError{"wiener: --report is given twice"};
            command.report_dir = value;
        } else if (!filter_option("wiener", word, value, command.options)) {
            throw UsageError{"wiener: unknown option " + word};
        }
    }
    if (command.inputs.empty()) throw UsageError{"wiener needs an input image"};
    return command;
}

Image ImageFiles::load(const std::string& path) {
    const std::string key = canonical(path);
    auto found = loaded_.find(key);
    if (found != loaded_.end()) return found->second;
    files::ImageData data;
    try {
        data = files::read_image(path);
    } catch (const files::FileError& error) {
        throw FileFailure{error.what()};
    }
    Image image;
    try {
        image = host_.make_image(data.data_type, data.sizes, data.bytes.data(), data.bytes.size(), path);
    } catch (const std::exception& error) {
        throw FileFailure{path + ": " + error.what()};
    }
    loaded_.emplace(key, image);
    std::printf("%s: %s\n", path.c_str(), files::describe(data.pixel_size).c_str());
    if (data.pixel_size.known()) {
        calibrations_.push_back({data.sizes.empty() ? 1 : data.sizes[0], data.sizes.size() < 2 ? 1 : data.sizes[1],
                                 data.pixel_size});
    }
    return image;
}

files::PixelSize ImageFiles::pixel_size_for(const std::vector<std::uint64_t>& sizes) const {
    const std::uint64_t width = sizes.empty() ? 1 : sizes[0], height = sizes.size() < 2 ? 1 : sizes[1];
    for (const Calibrated& known : calibrations_) {
        if (known.width == width && known.height == height) return known.pixel_size;
    }
    return {};
}

std::vector<std::optional<std::string>> assign(const Prototype& prototype, const std::vector<std::string>& given) {
    std::vector<std::optional<std::string>> values(prototype.parameters.size());
    std::size_t next = 0;
    for (const std::string& word : given) {
        const auto equals = word.find('=');
        if (equals != std::string::npos && is_identifier(word.substr(0, equals))) {
            const std::string name = word.substr(0, equals);
            std::size_t index = 0;
            while (index < prototype.parameters.size() && prototype.parameters[index].name != name) ++index;
            if (index == prototype.parameters.size()) {
                throw UsageError{prototype.name + " has no parameter named " + name};
            }
            if (values[index]) throw UsageError{name + " is given twice"};
            values[index] = word.substr(equals + 1);
            continue;
        }
        while (next < values.size() && values[next]) ++next;
        if (next == values.size()) throw UsageError{"too many arguments for " + prototype.name};
        values[next++] = word;
    }
    return values;
}

std::vector<Arg> convert(const Prototype& prototype, const std::vector<std::optional<std::string>>& values,
                         ImageFiles& files) {
    std::vector<Arg> args;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto& parameter = prototype.parameters[i];
        const auto& text = values[i];
        switch (parameter.script_type) {
            case ScriptType::long_:
            case ScriptType::double_:
            case ScriptType::float_: {
                if (!text) throw UsageError{"missing argument " + parameter.name + " (" + parameter.type + ")"};
                const auto number = parse_number(*text);
                if (!number) throw UsageError{parameter.name + " must be a number, not \"" + *text + "\""};
                args.emplace_back(*number);
                break;
            }
            case ScriptType::double_ref: {
                std::optional<double> number = 0.0;
                if (text) number = parse_number(*text);
                if (!number) throw UsageError{parameter.name + " must be a number, not \"" + *text + "\""};
                args.push_back(Arg::out(*number));
                break;
            }
            case ScriptType::image:
            case ScriptType::image_ref: {
                Image image;
                if (text && *text != "null") image = files.load(*text);
                if (parameter.script_type == ScriptType::image) {
                    args.emplace_back(image);
                } else {
                    args.push_back(Arg::slot(image));
                }
                break;
            }
            default:
                throw UsageError{"parameter " + parameter.name + " of type " + parameter.type + " cannot be given"};
        }
    }
    return args;
}

}  // namespace zorvan::cli
