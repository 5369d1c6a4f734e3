// zorvan: every script function of the plug-in, from the shell, on image
// files, through the embedded host.

#include "cli/arguments.h"
#include "cli/help.h"
#include "cli/info.h"
#include "cli/output.h"
#include "cli/wiener_batch.h"
#include "contract/script_functions.h"
#include "demo/demo.h"
#include "wiener/report.h"
#include "files/image_io.h"
#include "host/host.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
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

void print_note(const std::string& path, const zorvan::files::PixelSize& pixel_size) {
    const std::string note = calibration_note(path, pixel_size);
    if (!note.empty()) std::printf("%s: %s\n", path.c_str(), note.c_str());
}

int call(Host& host, const Options& options) {
    const std::string& name = options.words[0];
    const auto prototype = host.prototype_of(name);
    if (!prototype) throw UsageError{"unknown function " + name + " (zorvan list shows them)"};
    if (!options.output.empty() && prototype->result != ScriptType::image) {
        throw UsageError{name + " returns no image: -o does not apply (see --save)"};
    }
    std::vector<std::string> outputs;
    if (!options.output.empty()) outputs.push_back(options.output);
    for (const auto& save : options.saves) outputs.push_back(save.second);
    for (const std::string& output : outputs) {
        if (const std::string problem = output_problem(output); !problem.empty()) throw FileFailure{problem};
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
            const auto pixel_size = files.pixel_size_for(result.image.sizes());
            write_file(options.output, result.image, pixel_size);
            std::printf("result written to %s\n", options.output.c_str());
            print_note(options.output, pixel_size);
        }
    }
    for (std::size_t s = 0; s < options.saves.size(); ++s) {
        const Image& image = args[save_index[s]].image();
        if (!image) throw FileFailure{options.saves[s].first + " holds no image after the call: nothing to save"};
        const auto pixel_size = files.pixel_size_for(image.sizes());
        write_file(options.saves[s].second, image, pixel_size);
        std::printf("%s written to %s\n", options.saves[s].first.c_str(), options.saves[s].second.c_str());
        print_note(options.saves[s].second, pixel_size);
    }
    if (options.trace) print_trace();
    return 0;
}

double milliseconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int demo(const zorvan::demo::DemoOptions& options) {
    if (const std::string problem = folder_problem(options.out_dir); !problem.empty()) throw UsageError{problem};
    std::filesystem::create_directories(options.out_dir);
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

std::string shape_of(const std::vector<std::uint64_t>& sizes) {
    std::string shape;
    for (std::size_t k = 0; k < sizes.size(); ++k) shape += (k ? " x " : "") + std::to_string(sizes[k]);
    return shape;
}

// Filters one file: read, filter, write, report. With `verbose` every stage
// prints a line, as for a single file; else the caller prints one line, and
// `facts` gets what it says of the file. Throws FileFailure when a file
// cannot be read or written, WienerRefusal or std::runtime_error when the
// filter refuses or fails: then nothing is written.
void wiener_file(Host& host, const WienerRun& run, const zorvan::wiener::WienerOptions& options, bool verbose,
                 std::string& facts) {
    using zorvan::wiener::Mode;
    const auto start = std::chrono::steady_clock::now();
    zorvan::wiener::StageTimer steps(verbose ? stdout : nullptr);
    zorvan::files::ImageData input;
    try {
        steps.run("read " + run.input, [&] { input = zorvan::files::read_image(run.input); });
    } catch (const zorvan::files::FileError& error) {
        throw FileFailure{error.what()};
    }
    Host::reset_counters();
    if (verbose) std::printf("%s mode\n", options.mode == Mode::wiener ? "wiener" : "lattice");
    const zorvan::wiener::WienerResult result =
        zorvan::wiener::wiener_filter(host, input, options, verbose ? stdout : nullptr, !run.report_dir.empty());
    facts = result.type_name + ", " + shape_of(input.sizes) + ", " + zorvan::files::describe(input.pixel_size);
    if (verbose) {
        std::printf("%s: %s\n", run.input.c_str(), facts.c_str());
        if (result.converted) std::printf("  converted to 4-byte real for the filter\n");
    }
    double filter_ms = 0;
    for (const auto& filter_step : result.stages) filter_ms += filter_step.milliseconds;
    if (verbose && result.planes > 1) std::printf("  %-58s %9.1f ms\n", "all planes' stages", filter_ms);
    if (result.replaced_pixels > 0) {
        char replaced[120];
        std::snprintf(replaced, sizeof replaced,
                      "%llu NaN or infinite pixels replaced by the mean of their plane's finite pixels",
                      static_cast<unsigned long long>(result.replaced_pixels));
        if (verbose) std::printf("  %s\n", replaced);
        facts += std::string("; ") + replaced;
    }
    const auto& plane = result.first;
    const std::uint64_t frequencies = plane.spectrum_width * plane.spectrum_height;
    const bool little_periodic =
        options.mode == Mode::lattice && plane.kept_fraction < zorvan::wiener::kLatticeWarningFraction;
    if (verbose) {
        std::printf("%snoise: a white noise of variance %.4g per pixel (power %.4g in the transform), from the "
                    "spectrum's outermost rings\n",
                    result.planes > 1 ? "first plane's " : "", plane.noise_variance, plane.noise_power);
        std::printf("mask: passes %llu of %llu frequencies (%.2f %%) at 0.5 or more; keeps %.1f %% of the power "
                    "above the noise\n",
                    static_cast<unsigned long long>(plane.mask_passed), static_cast<unsigned long long>(frequencies),
                    100.0 * static_cast<double>(plane.mask_passed) / static_cast<double>(frequencies),
                    100.0 * plane.kept_fraction);
    }
    if (little_periodic) {
        std::fprintf(stderr, "zorvan: warning: %s%s\n", verbose ? "" : (run.input + ": ").c_str(),
                     zorvan::wiener::kLittlePeriodicContent);
    }
    const auto slash = run.output.rfind('/');
    if (slash != std::string::npos && slash > 0) std::filesystem::create_directories(run.output.substr(0, slash));
    try {
        steps.run("write " + run.output, [&] { write_file(run.output, result.filtered); });
    } catch (const zorvan::files::FileError& error) {
        throw FileFailure{error.what()};
    }
    const std::string note = calibration_note(run.output, result.filtered.pixel_size);
    if (verbose) {
        std::printf("filtered image (4-byte real) written to %s\n", run.output.c_str());
        if (!note.empty()) std::printf("%s: %s\n", run.output.c_str(), note.c_str());
    } else if (!note.empty()) {
        facts += "; " + note;
    }
    if (!run.report_dir.empty()) {
        std::string written;
        try {
            steps.run("report in " + run.report_dir, [&] {
                std::filesystem::create_directories(run.report_dir);
                const auto input_slash = run.input.rfind('/');
                const std::string name = input_slash == std::string::npos ? run.input : run.input.substr(input_slash + 1);
                const auto page = zorvan::wiener::wiener_report_page(name, input, result, options);
                written = zorvan::wiener::write_report(run.report_dir, page).back();
            });
        } catch (const std::exception& error) {
            std::error_code ignored;
            std::filesystem::remove(run.output, ignored);  // a file's results come whole or not at all
            throw FileFailure{run.report_dir + ": the report could not be written: " + error.what()};
        }
        if (verbose) std::printf("report written to %s\n", written.c_str());
    }
    if (verbose) {
        double stages_ms = filter_ms;
        for (const auto& done : steps.stages) stages_ms += done.milliseconds;
        std::printf("whole run %.1f ms, of which the stages above %.1f ms\n\n", milliseconds_since(start), stages_ms);
        print_trace();
    }
}

// One file: every stage printed, exit 0, 1 when the filter refuses, 2 when
// a file cannot be read or written (FileFailure). Several: a line per file,
// the reports' index and a summary; a file that fails is reported and the
// others go on; exit 0 when all were filtered (and the index written), 1
// otherwise.
int wiener(const WienerCommand& command) {
    const WienerPlan plan = plan_wiener(command);
    Host host;
    if (!plan.several) {
        const WienerRun& run = plan.runs.front();
        zorvan::wiener::StageTimer(stdout).run("load the plug-in", [&] { host.load_plugin(ZORVAN_PLUGIN_PATH); });
        std::string facts;
        try {
            wiener_file(host, run, command.options, true, facts);
        } catch (const zorvan::wiener::WienerRefusal& refusal) {
            std::fprintf(stderr, "zorvan: %s: %s; nothing written\n", run.input.c_str(), refusal.what());
            return 1;
        }
        return 0;
    }
    host.load_plugin(ZORVAN_PLUGIN_PATH);
    const std::size_t count = plan.runs.size();
    std::printf("Wiener filter of %zu files%s\n", count,
                plan.output_dir.empty() ? ", each written beside its input" : (" into " + plan.output_dir).c_str());
    std::vector<std::string> failed;
    std::vector<WienerOutcome> outcomes;
    for (std::size_t i = 0; i < count; ++i) {
        const WienerRun& run = plan.runs[i];
        const auto start = std::chrono::steady_clock::now();
        std::string facts, why;
        try {
            wiener_file(host, run, command.options, false, facts);
        } catch (const FileFailure& failure) {
            why = failure.message;
        } catch (const std::exception& error) {
            why = run.input + ": " + error.what();
        }
        if (why.empty()) {
            std::printf("[%zu/%zu] %s: %s -> %s (%.1f s)\n", i + 1, count, run.input.c_str(), facts.c_str(),
                        run.output.c_str(), milliseconds_since(start) / 1000);
        } else {
            if (why.rfind(run.input + ": ", 0) == 0) why.erase(0, run.input.size() + 2);  // named once on the line
            std::printf("[%zu/%zu] %s: failed: %s; nothing written\n", i + 1, count, run.input.c_str(), why.c_str());
            failed.push_back(run.input);
        }
        outcomes.push_back({&run, why.empty(), why.empty() ? facts : why});
        std::fflush(stdout);
    }
    bool index_written = true;
    if (!plan.report_dir.empty()) {
        try {
            write_report_index(plan.report_dir, outcomes);
            std::printf("reports: %s/index.html\n", plan.report_dir.c_str());
        } catch (const FileFailure& failure) {
            std::fprintf(stderr, "zorvan: %s\n", failure.message.c_str());
            index_written = false;
        }
    }
    std::printf("%zu files: %zu filtered, %zu failed", count, count - failed.size(), failed.size());
    for (std::size_t i = 0; i < failed.size(); ++i) std::printf("%s%s", i ? ", " : " (", failed[i].c_str());
    std::printf("%s\n", failed.empty() ? "" : ")");
    if (!failed.empty()) std::fprintf(stderr, "zorvan: %zu of %zu files failed\n", failed.size(), count);
    return failed.empty() && index_written ? 0 : 1;
}


// The command `--help` or `-h` asks about: the first word that is neither an
// option nor an option's value; "" for none. nullptr when help is not asked.
std::optional<std::string> help_asked(int argc, char** argv) {
    bool asked = false;
    std::string command;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            asked = true;
        } else if (word == "-o" || word == "--save" || word == "--report") {
            ++i;
        } else if (command.empty() && !word.empty() && word[0] != '-') {
            command = word;
        }
    }
    return asked ? std::optional<std::string>(command) : std::nullopt;
}

}  // namespace

#ifndef ZORVAN_VERSION
#error "ZORVAN_VERSION is defined by the build, from the project's version"
#endif

int main(int argc, char** argv) {
    try {
        if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
            std::printf("zorvan %s\n", ZORVAN_VERSION);
            return 0;
        }
        if (const auto command = help_asked(argc, argv)) {
            print_command_help(*command);
            return 0;
        }
        if (argc >= 2 && std::strcmp(argv[1], "info") == 0) {
            if (argc == 2) throw UsageError{"info needs at least one file"};
            return print_info(std::vector<std::string>(argv + 2, argv + argc));
        }
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
