// zorvan: every script function of the plug-in, from the shell, on image
// files, through the embedded host.

#include "demo/demo.h"
#include "cli/function_help.h"
#include "files/image_io.h"
#include "host/host.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#ifndef ZORVAN_PLUGIN_PATH
#define ZORVAN_PLUGIN_PATH "libZorvanFilters64.so"
#endif

namespace {

using zorvan::files::FileError;
using zorvan::files::ImageData;
using zorvan::host::Arg;
using zorvan::host::Host;
using zorvan::host::Image;
using zorvan::host::Prototype;
using zorvan::host::ScriptType;

constexpr const char* kUsage =
    "usage: zorvan list\n"
    "       zorvan help [NAME]\n"
    "       zorvan [--trace] [-o FILE] [--save PARAM=FILE]... NAME [ARG | PARAM=ARG]...\n"
    "       zorvan demo [--out DIR] [--size N] [--seed S]\n"
    "\n"
    "Calls the script function NAME with its arguments in prototype order, or named as PARAM=ARG.\n"
    "Images are files (.tif/.tiff, .png, .npy) or null; the same file named twice is the same image.\n"
    "Numbers are decimal (nan and inf included). A `double *` argument may be given its starting value.\n"
    "  -o FILE             write the image the function returns to FILE (.png: an 8-bit preview)\n"
    "  --save PARAM=FILE   after the call, write the image argument PARAM to FILE\n"
    "  --trace             print the timing counters after the call\n";

// Bad usage: exit 2 with the message and the usage.
struct UsageError {
    std::string message;
};

// A file that cannot be read or written: exit 2.
struct FileFailure {
    std::string message;
};

std::string type_name(std::int32_t code) {
    switch (code) {
        case 1: return "signed 16-bit integer";
        case 2: return "4-byte real";
        case 3: return "complex of 4-byte reals";
        case 5: return "packed complex";
        case 6: return "unsigned 8-bit integer";
        case 7: return "signed 32-bit integer";
        case 8: return "RGB";
        case 9: return "signed 8-bit integer";
        case 10: return "unsigned 16-bit integer";
        case 11: return "unsigned 32-bit integer";
        case 12: return "8-byte real";
        case 13: return "complex of 8-byte reals";
        case 14: return "binary";
        default: return "data type " + std::to_string(code);
    }
}

std::optional<double> parse_number(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return value;
}

bool is_identifier(const std::string& text) {
    if (text.empty() || !(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_')) return false;
    for (char c : text) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    }
    return true;
}

struct Options {
    bool trace = false;
    std::string output;
    std::vector<std::pair<std::string, std::string>> saves;  // parameter, file
    std::vector<std::string> words;                          // command and arguments
};

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

// Images named on the command line, loaded once per file.
class ImageFiles {
public:
    explicit ImageFiles(Host& host) : host_(host) {}

    Image load(const std::string& path) {
        const std::string key = canonical(path);
        auto found = loaded_.find(key);
        if (found != loaded_.end()) return found->second;
        ImageData data;
        try {
            data = zorvan::files::read_image(path);
        } catch (const FileError& error) {
            throw FileFailure{error.what()};
        }
        Image image;
        try {
            image = host_.make_image(data.data_type, data.sizes, data.bytes.data(), data.bytes.size(), path);
        } catch (const std::exception& error) {
            throw FileFailure{path + ": " + error.what()};
        }
        loaded_.emplace(key, image);
        return image;
    }

private:
    static std::string canonical(const std::string& path) {
        char resolved[PATH_MAX];
        return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
    }

    Host& host_;
    std::map<std::string, Image> loaded_;
};

void write_file(const std::string& path, const Image& image) {
    ImageData data;
    data.data_type = image.data_type();
    data.sizes = image.sizes();
    data.bytes = image.bytes();
    try {
        zorvan::files::write_image(path, data);
    } catch (const FileError& error) {
        throw FileFailure{error.what()};
    }
}

// Type, size, minimum, maximum and mean of an image (complex: of the modulus,
// and the mean of each part).
void summarise(const char* label, const Image& image) {
    const auto sizes = image.sizes();
    std::string shape;
    for (std::size_t k = 0; k < sizes.size(); ++k) shape += (k ? " x " : "") + std::to_string(sizes[k]);
    std::printf("%s: %s, %s\n", label, type_name(image.data_type()).c_str(), shape.c_str());

    const auto bytes = image.bytes();
    const std::int32_t code = image.data_type();
    const std::size_t count = static_cast<std::size_t>(image.element_count());
    auto value = [&](std::size_t i, std::size_t part) -> double {
        const std::byte* at = bytes.data();
        auto read = [&](auto tag, std::size_t index) {
            decltype(tag) v;
            std::memcpy(&v, at + index * sizeof v, sizeof v);
            return static_cast<double>(v);
        };
        switch (code) {
            case 1: return read(std::int16_t{}, i);
            case 2: return read(float{}, i);
            case 3: return read(float{}, 2 * i + part);
            case 6: case 14: return read(std::uint8_t{}, i);
            case 7: return read(std::int32_t{}, i);
            case 9: return read(std::int8_t{}, i);
            case 10: return read(std::uint16_t{}, i);
            case 11: return read(std::uint32_t{}, i);
            case 12: return read(double{}, i);
            case 13: return read(double{}, 2 * i + part);
            default: return NAN;
        }
    };
    const bool complex = code == 3 || code == 13;
    double minimum = INFINITY, maximum = -INFINITY, sum_re = 0, sum_im = 0;
    std::size_t nans = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double re = value(i, 0);
        const double im = complex ? value(i, 1) : 0.0;
        const double magnitude = complex ? std::hypot(re, im) : re;
        if (std::isnan(magnitude)) {
            ++nans;
            continue;
        }
        minimum = std::fmin(minimum, magnitude);
        maximum = std::fmax(maximum, magnitude);
        sum_re += re;
        sum_im += im;
    }
    const double valid = static_cast<double>(count - nans);
    if (complex) {
        std::printf("  modulus min %.9g, max %.9g; mean (%.9g, %.9g)", minimum, maximum, sum_re / valid, sum_im / valid);
    } else {
        std::printf("  min %.9g, max %.9g, mean %.9g", minimum, maximum, sum_re / valid);
    }
    if (nans > 0) std::printf(" (%zu NaN pixels left out)", nans);
    std::printf("\n");
}

void print_trace() {
    std::printf("%-28s %10s %14s\n", "counter", "additions", "total ms");
    for (const auto& counter : Host::counters()) {
        std::printf("%-28s %10llu %14.3f\n", counter.name.c_str(), static_cast<unsigned long long>(counter.additions),
                    counter.total_ms());
    }
}

bool is_image_parameter(ScriptType type) { return type == ScriptType::image || type == ScriptType::image_ref; }

// Matches the command line's arguments to the prototype's parameters.
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

int help(Host& host, const std::vector<std::string>& words) {
    if (words.size() == 1) {
        std::printf("%s\nFunctions (zorvan help NAME tells more):\n", kUsage);
        for (const auto& prototype : host.published_prototypes()) std::printf("  %s\n", prototype.c_str());
        return 0;
    }
    if (words.size() != 2) throw UsageError{"help takes one function name"};
    const auto prototype = host.prototype_of(words[1]);
    const auto* text = zorvan::cli::find_help(words[1]);
    if (!prototype || text == nullptr) throw UsageError{"unknown function " + words[1] + " (zorvan list shows them)"};
    for (const auto& registered : host.published_prototypes()) {
        if (zorvan::host::parse_prototype(registered)->name == words[1]) std::printf("%s\n\n", registered.c_str());
    }
    std::printf("%.*s\n\nPixel types: %.*s\nExample:     %.*s\n", static_cast<int>(text->description.size()),
                text->description.data(), static_cast<int>(text->pixel_types.size()), text->pixel_types.data(),
                static_cast<int>(text->example.size()), text->example.data());
    return 0;
}

int call(Host& host, const Options& options) {
    const std::string& name = options.words[0];
    const auto prototype = host.prototype_of(name);
    if (!prototype) throw UsageError{"unknown function " + name + " (zorvan list shows them)"};
    if (!options.output.empty() && prototype->result != ScriptType::image) {
        throw UsageError{name + " returns no image: -o does not apply (see --save)"};
    }
    std::vector<std::size_t> save_index;
    for (const auto& [parameter, file] : options.saves) {
        std::size_t index = 0;
        while (index < prototype->parameters.size() && prototype->parameters[index].name != parameter) ++index;
        if (index == prototype->parameters.size() || !is_image_parameter(prototype->parameters[index].script_type)) {
            throw UsageError{"--save " + parameter + ": " + name + " has no image parameter of that name"};
        }
        save_index.push_back(index);
    }

    const std::vector<std::string> given(options.words.begin() + 1, options.words.end());
    const auto values = assign(*prototype, given);
    ImageFiles files(host);
    std::vector<Arg> args = convert(*prototype, values, files);

    Host::reset_counters();
    const auto result = host.call(name, args);
    if (!result.ok()) {
        std::fprintf(stderr, "zorvan: %s\n", result.error->message.c_str());
        return 1;
    }
    const bool refused = (prototype->result == ScriptType::image && !result.image) ||
                         ((prototype->result == ScriptType::short_ || prototype->result == ScriptType::long_) &&
                          result.number == 0);
    const bool family = name.size() > 3 && name.compare(name.size() - 3, 3, "DLL") == 0;
    if (refused && family) {
        const auto* text = zorvan::cli::find_help(name);
        std::fprintf(stderr, "zorvan: %s refused its input (it returned %s); it accepts: %.*s\n", name.c_str(),
                     prototype->result == ScriptType::image ? "null" : "0",
                     text ? static_cast<int>(text->pixel_types.size()) : 0, text ? text->pixel_types.data() : "");
        if (options.trace) print_trace();
        return 1;
    }

    if (prototype->result == ScriptType::short_ || prototype->result == ScriptType::long_) {
        std::printf("result = %lld\n", static_cast<long long>(result.number));
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i].kind() == Arg::Kind::double_ref) {
            std::printf("%s = %.17g\n", prototype->parameters[i].name.c_str(), args[i].number());
        }
    }
    if (result.image) {
        if (options.output.empty()) {
            summarise("result", result.image);
        } else {
            write_file(options.output, result.image);
            std::printf("result written to %s\n", options.output.c_str());
        }
    }
    for (std::size_t s = 0; s < options.saves.size(); ++s) {
        const Image& image = args[save_index[s]].image();
        if (!image) throw FileFailure{options.saves[s].first + " holds no image after the call: nothing to save"};
        write_file(options.saves[s].second, image);
        std::printf("%s written to %s\n", options.saves[s].first.c_str(), options.saves[s].second.c_str());
    }
    if (options.trace) print_trace();
    return 0;
}

// zorvan demo [--out DIR] [--size N] [--seed S]
int demo(int argc, char** argv) {
    zorvan::demo::DemoOptions options;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if (i + 1 >= argc) throw UsageError{"demo: " + word + " needs a value"};
        const std::string value = argv[++i];
        const auto number = parse_number(value);
        if (word == "--out") {
            options.out_dir = value;
        } else if (word == "--size" && number && *number >= 16 && *number <= 8192 && *number == std::floor(*number)) {
            options.size = static_cast<std::uint32_t>(*number);
        } else if (word == "--seed" && number && *number >= 0 && *number == std::floor(*number)) {
            options.seed = static_cast<std::uint64_t>(*number);
        } else {
            throw UsageError{"demo: bad option " + word + " " + value + " (--size takes 16 to 8192, --seed a whole number)"};
        }
    }
    Host host;
    host.load_plugin(ZORVAN_PLUGIN_PATH);
    Host::reset_counters();
    std::printf("Wiener filter of a %u x %u lattice image with shot noise, through the plug-in:\n", options.size,
                options.size);
    const auto result = zorvan::demo::run_demo(host, options, stdout);
    std::printf("\nSignal-to-noise ratio against the clean image: noisy %.1f dB, filtered %.1f dB (gain %.1f dB)\n\n",
                result.snr_noisy_db, result.snr_filtered_db, result.snr_filtered_db - result.snr_noisy_db);
    print_trace();
    std::printf("\nImages (TIFF and PNG) in %s/; open the report: %s\n", options.out_dir.c_str(), result.report.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc >= 2 && std::strcmp(argv[1], "demo") == 0) return demo(argc, argv);
        const Options options = parse_options(argc, argv);
        if (options.words.empty()) throw UsageError{"no command given"};
        const std::string& command = options.words[0];
        Host host;
        host.load_plugin(ZORVAN_PLUGIN_PATH);
        if (command == "list") {
            if (options.words.size() != 1) throw UsageError{"list takes no arguments"};
            for (const auto& prototype : host.published_prototypes()) std::printf("%s\n", prototype.c_str());
            return 0;
        }
        if (command == "help") return help(host, options.words);
        return call(host, options);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "zorvan: %s\n\n%s", error.message.c_str(), kUsage);
        return 2;
    } catch (const FileFailure& failure) {
        std::fprintf(stderr, "zorvan: %s\n", failure.message.c_str());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zorvan: %s\n", error.what());
        return 2;
    }
}
