// zorvan: every script function of the plug-in, from the shell, on image
// files, through the embedded host.

#include "cli/arguments.h"
#include "cli/help.h"
#include "cli/output.h"
#include "contract/script_functions.h"
#include "demo/demo.h"
#include "demo/report.h"
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

// Runs one step of the command as a stage: its time is printed like the
// filter's own stages and kept, so that every part of the run is accounted for.
template <class Work>
void stage(std::vector<zorvan::demo::Stage>& stages, const std::string& name, Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    stages.push_back({name, milliseconds_since(start)});
    std::printf("  %-58s %9.1f ms\n", name.c_str(), stages.back().milliseconds);
    std::fflush(stdout);
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
    const auto start = std::chrono::steady_clock::now();
    std::vector<zorvan::demo::Stage> steps;
    zorvan::files::ImageData input;
    try {
        stage(steps, "read " + command.input, [&] { input = zorvan::files::read_image(command.input); });
    } catch (const zorvan::files::FileError& error) {
        throw FileFailure{error.what()};
    }
    std::string shape;
    for (std::size_t k = 0; k < input.sizes.size(); ++k) shape += (k ? " x " : "") + std::to_string(input.sizes[k]);
    const zorvan::dm::pixel_type* type = zorvan::dm::find_pixel_type(input.data_type);
    const std::string type_name = type ? std::string(type->name) : "unknown pixel type";
    std::printf("%s: %s, %s\n", command.input.c_str(), type_name.c_str(), shape.c_str());
    Host host;
    stage(steps, "load the plug-in", [&] { host.load_plugin(ZORVAN_PLUGIN_PATH); });
    Host::reset_counters();
    zorvan::demo::WienerResult result;
    try {
        if (type != nullptr && input.data_type != zorvan::host::data_type::real4 &&
            (type->kind == zorvan::dm::pixel_kind::integer || type->kind == zorvan::dm::pixel_kind::real ||
             type->kind == zorvan::dm::pixel_kind::binary)) {
            std::printf("  converted to 4-byte real for the filter\n");
        }
        result = zorvan::demo::wiener_filter(host, input, command.options, stdout);
    } catch (const zorvan::demo::WienerRefusal& refusal) {
        std::fprintf(stderr, "zorvan: %s: %s; nothing written\n", command.input.c_str(), refusal.what());
        return 1;
    }
    double filter_ms = 0;
    for (const auto& step : result.stages) filter_ms += step.milliseconds;
    if (result.planes > 1) std::printf("  %-58s %9.1f ms\n", "all planes' stages", filter_ms);
    if (result.replaced_pixels > 0) {
        std::printf("  %llu NaN or infinite pixels replaced by the mean of their plane's finite pixels\n",
                    static_cast<unsigned long long>(result.replaced_pixels));
    }
    try {
        stage(steps, "write " + command.output, [&] { zorvan::files::write_image(command.output, result.filtered); });
    } catch (const zorvan::files::FileError& error) {
        throw FileFailure{error.what()};
    }
    std::printf("filtered image (4-byte real) written to %s\n", command.output.c_str());
    if (!command.report_dir.empty()) {
        std::string written;
        stage(steps, "report in " + command.report_dir, [&] {
            const auto slash = command.input.rfind('/');
            const std::string name = slash == std::string::npos ? command.input : command.input.substr(slash + 1);
            const auto page = zorvan::demo::wiener_report_page(name, input, result, command.options);
            written = zorvan::demo::write_report(command.report_dir, page).back();
        });
        std::printf("report written to %s\n", written.c_str());
    }
    double stages_ms = filter_ms;
    for (const auto& step : steps) stages_ms += step.milliseconds;
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
