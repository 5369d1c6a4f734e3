// zorvan: every script function of the plug-in, from the shell, on image
// files, through the embedded host.

#include "cli/arguments.h"
#include "cli/help.h"
#include "cli/output.h"
#include "contract/script_functions.h"
#include "demo/demo.h"
#include "wiener/report.h"
#include "files/image_io.h"
#include "host/host.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#ifndef ZORVAN_PLUGIN_PATH
#define ZORVAN_PLUGIN_PATH "libZorvanFilters64.so"
#endif

namespace {

using namespace zorvan::cli;
using zorvan::host::Arg;
using zorvan::host::Host;
using zorvan::host::Image;
using zorvan::host::ScriptType;

bool is_image_parameter(ScriptType type) { return type == ScriptType::image || type == ScriptType::image_ref; }

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
        if (options.trace) print_trace();
        return 1;
    }
    const bool returns_number = prototype->result == ScriptType::short_ || prototype->result == ScriptType::long_;
    const bool refused = (prototype->result == ScriptType::image && !result.image) ||
                         (returns_number && result.number == 0);
    const zorvan::script_function* row = zorvan::find_script_function(name);
    if (refused && row != nullptr && row->refuses == zorvan::refusal::silent) {
        std::fprintf(stderr, "zorvan: %s refused its input (it returned %s); it accepts: %.*s\n", name.c_str(),
                     returns_number ? "0" : "null", static_cast<int>(row->pixel_types.size()),
                     row->pixel_types.data());
        if (options.trace) print_trace();
        return 1;
    }

    if (returns_number) std::printf("result = %lld\n", static_cast<long long>(result.number));
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i].kind() == Arg::Kind::double_ref) {
            std::printf("%s = %.17g\n", prototype->parameters[i].name.c_str(), args[i].number());
        }
    }
    if (result.image) {
        if (options.output.empty()) {
            summarise("result", result.image);
        } else {
            write_file(options.output, result.image, files.pixel_size_for(result.image.sizes()));
            std::printf("result written to %s\n", options.output.c_str());
        }
    }
    for (std::size_t s = 0; s < options.saves.size(); ++s) {
        const Image& image = args[save_index[s]].image();
        if (!image) throw FileFailure{options.saves[s].first + " holds no image after the call: nothing to save"};
        write_file(options.saves[s].second, image, files.pixel_size_for(image.sizes()));
        std::printf("%s written to %s\n", options.saves[s].first.c_str(), options.saves[s].second.c_str());
    }
    if (options.trace) print_trace();
    return 0;
}

double milliseconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int demo(const zorvan::demo::DemoOptions& options) {
    Host host;
    host.load_plugin(ZORVAN_PLUGIN_PATH);
    Host::reset_counters();
    std::printf("Wiener filter of a %u x %u lattice image with shot noise, through the plug-in:\n", options.width,
                options.height);
    const auto result = zorvan::demo::run_demo(host, options, stdout);
    std::printf("\nSignal-to-noise ratio against the clean image: noisy %.1f dB, filtered %.1f dB (gain %.1f dB)\n\n",
                result.snr_noisy_db, result.snr_filtered_db, result.snr_filtered_db - result.snr_noisy_db);
    print_trace();
    std::printf("\nImages (TIFF and PNG) in %s/; open the report: %s\n", options.out_dir.c_str(), result.report.c_str());
    return 0;
}

int wiener(const WienerCommand& command) {
    using zorvan::wiener::Mode;
    const auto start = std::chrono::steady_clock::now();
    zorvan::wiener::StageTimer steps(stdout);
    zorvan::files::ImageData input;
    try {
        steps.run("read " + command.input, [&] { input = zorvan::files::read_image(command.input); });
    } catch (const zorvan::files::FileError& error) {
        throw FileFailure{error.what()};
    }
    Host host;
    steps.run("load the plug-in", [&] { host.load_plugin(ZORVAN_PLUGIN_PATH); });
    Host::reset_counters();
    std::printf("%s mode\n", command.options.mode == Mode::wiener ? "wiener" : "lattice");
    zorvan::wiener::WienerResult result;
    try {
        result = zorvan::wiener::wiener_filter(host, input, command.options, stdout);
    } catch (const zorvan::wiener::WienerRefusal& refusal) {
        std::fprintf(stderr, "zorvan: %s: %s; nothing written\n", command.input.c_str(), refusal.what());
        return 1;
    }
    std::string shape;
    for (std::size_t k = 0; k < input.sizes.size(); ++k) shape += (k ? " x " : "") + std::to_string(input.sizes[k]);
    std::printf("%s: %s, %s%s\n", command.input.c_str(), result.type_name.c_str(), shape.c_str(),
                result.converted ? ", converted to 4-byte real for the filter" : "");
    double filter_ms = 0;
    for (const auto& step : result.stages) filter_ms += step.milliseconds;
    if (result.planes > 1) std::printf("  %-58s %9.1f ms\n", "all planes' stages", filter_ms);
    if (result.replaced_pixels > 0) {
        std::printf("  %llu NaN or infinite pixels replaced by the mean of their plane's finite pixels\n",
                    static_cast<unsigned long long>(result.replaced_pixels));
    }
    const auto& plane = result.first;
    const std::uint64_t frequencies = plane.spectrum_width * plane.spectrum_height;
    std::printf("%snoise: a white noise of variance %.4g per pixel (power %.4g in the transform), from the "
                "spectrum's outermost rings\n",
                result.planes > 1 ? "first plane's " : "", plane.noise_variance, plane.noise_power);
    std::printf("mask: passes %llu of %llu frequencies (%.2f %%) at 0.5 or more; keeps %.1f %% of the power above "
                "the noise\n",
                static_cast<unsigned long long>(plane.mask_passed), static_cast<unsigned long long>(frequencies),
                100.0 * static_cast<double>(plane.mask_passed) / static_cast<double>(frequencies),
                100.0 * plane.kept_fraction);
    if (command.options.mode == Mode::lattice && plane.kept_fraction < zorvan::wiener::kLatticeWarningFraction) {
        std::fprintf(stderr, "zorvan: warning: %s\n", zorvan::wiener::kLittlePeriodicContent);
    }
    try {
        steps.run("write " + command.output, [&] { zorvan::files::write_image(command.output, result.filtered); });
    } catch (const zorvan::files::FileError& error) {
        throw FileFailure{error.what()};
    }
    std::printf("filtered image (4-byte real) written to %s\n", command.output.c_str());
    if (!command.report_dir.empty()) {
        std::string written;
        steps.run("report in " + command.report_dir, [&] {
            const auto slash = command.input.rfind('/');
            const std::string name = slash == std::string::npos ? command.input : command.input.substr(slash + 1);
            const auto page = zorvan::wiener::wiener_report_page(name, input, result, command.options);
            written = zorvan::wiener::write_report(command.report_dir, page).back();
        });
        std::printf("report written to %s\n", written.c_str());
    }
    double stages_ms = filter_ms;
    for (const auto& step : steps.stages) stages_ms += step.milliseconds;
    std::printf("whole run %.1f ms, of which the stages above %.1f ms\n\n", milliseconds_since(start), stages_ms);
    print_trace();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc >= 2 && std::strcmp(argv[1], "demo") == 0) return demo(parse_demo_options(argc, argv));
        if (argc >= 2 && std::strcmp(argv[1], "wiener") == 0) return wiener(parse_wiener_command(argc, argv));
        if (argc == 3 && std::strcmp(argv[1], "help") == 0 && std::strcmp(argv[2], "--markdown") == 0) {
            std::printf("%s", function_table_markdown().c_str());
            return 0;
        }
        const Options options = parse_options(argc, argv);
        if (options.words.empty()) throw UsageError{"no command given"};
        const std::string& command = options.words[0];
        if (command == "list") {
            if (options.words.size() != 1) throw UsageError{"list takes no arguments"};
            print_list();
            return 0;
        }
        if (command == "help") {
            print_help(options.words);
            return 0;
        }
        Host host;
        host.load_plugin(ZORVAN_PLUGIN_PATH);
        return call(host, options);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "zorvan: %s\n\n%s", error.message.c_str(), usage);
        return 2;
    } catch (const FileFailure& failure) {
        std::fprintf(stderr, "zorvan: %s\n", failure.message.c_str());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zorvan: %s\n", error.what());
        return 2;
    }
}
