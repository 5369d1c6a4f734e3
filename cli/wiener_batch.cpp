#include "cli/wiener_batch.h"

#include "cli/output.h"
#include "wiener/report.h"

#include <glob.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

namespace zorvan::cli {

namespace {

namespace fs = std::filesystem;

bool is_pattern(const std::string& word) { return word.find_first_of("*?[") != std::string::npos; }

// The image files a word names: itself, a folder's image files (not its
// sub-folders, not hidden files) or a pattern's matches, in name order.
std::vector<std::string> expand(const std::string& word, bool& found) {
    std::error_code error;
    std::vector<std::string> names;
    if (fs::is_directory(word, error)) {
        for (const auto& entry : fs::directory_iterator(word, error)) {
            const std::string name = entry.path().filename().string();
            if (name[0] != '.' && entry.is_regular_file(error) && is_image_extension(name)) {
                names.push_back(entry.path().string());
            }
        }
        if (names.empty()) throw UsageError{word + ": holds no image files (.tif, .mrc, .npy, .png, .dm3, .dm4)"};
    } else if (!fs::exists(word, error) && is_pattern(word)) {
        glob_t matches{};
        if (glob(word.c_str(), 0, nullptr, &matches) == 0) {
            for (std::size_t i = 0; i < matches.gl_pathc; ++i) {
                const std::string name = matches.gl_pathv[i];
                if (fs::is_regular_file(name, error) && is_image_extension(name)) names.push_back(name);
            }
        }
        globfree(&matches);
        if (names.empty()) throw UsageError{"no image file matches " + word};
    } else {
        return {word};
    }
    found = true;
    std::sort(names.begin(), names.end());
    return names;
}

// "a/x.dm3:2" is the file a/x.dm3, image 2: the index when the word is not a
// file itself and ends in ":" and digits after an extension.
std::pair<std::string, std::string> file_and_index(const std::string& input) {
    const auto colon = input.rfind(':');
    std::error_code error;
    if (colon == std::string::npos || colon + 1 == input.size() || fs::exists(input, error)) return {input, ""};
    const std::string index = input.substr(colon + 1);
    if (!std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; })) return {input, ""};
    return {input.substr(0, colon), index};
}

std::string without_trailing_slashes(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

std::string key_of(const std::string& path) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    return error ? fs::absolute(path).lexically_normal().string() : canonical.string();
}

}  // namespace

WienerPlan plan_wiener(const WienerCommand& command) {
    WienerPlan plan;
    std::vector<std::string> inputs;
    std::set<std::string> seen;
    for (const std::string& word : command.inputs) {
        for (std::string& input : expand(word, plan.several)) {
            if (seen.insert(key_of(input)).second) inputs.push_back(std::move(input));
        }
    }
    plan.several = plan.several || inputs.size() > 1;

    const std::string& output = command.output;
    std::error_code error;
    const bool output_exists = !output.empty() && fs::exists(output, error);
    const bool to_folder = !output.empty() && (output.back() == '/' || fs::is_directory(output, error) ||
                                               (plan.several && !output_exists && fs::path(output).extension().empty()));
    if (plan.several && !output.empty() && !to_folder) {
        throw UsageError{"with several inputs -o names a folder, not " + output +
                         (output_exists ? " (a file)" : " (end a folder's name with /)")};
    }
    if (to_folder) {
        plan.output_dir = output;
        if (const std::string problem = folder_problem(output); !problem.empty()) throw UsageError{problem};
    } else if (!output.empty()) {
        if (const std::string problem = output_problem(output); !problem.empty()) {
            const bool folder_meant = fs::path(output).extension().empty();
            throw UsageError{problem + (folder_meant ? " (a folder's name ends with /)" : "")};
        }
    }
    if (!command.report_dir.empty()) {
        if (const std::string problem = folder_problem(command.report_dir); !problem.empty()) throw UsageError{problem};
        plan.report_dir = without_trailing_slashes(command.report_dir);
    }

    std::map<std::string, std::string> written;  // output or report, key_of -> the input writing it
    for (const std::string& input : inputs) {
        const auto [file, index] = file_and_index(input);
        const fs::path path(file);
        std::string extension = path.extension().string();
        std::string lower = extension;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        // PNG holds no real pixels; .dm3 and .dm4 are read only.
        if (!is_writable_extension(file) || lower == ".png") extension = ".tif";
        const std::string name = path.stem().string() + (index.empty() ? "" : "-" + index);
        WienerRun run{input, output, without_trailing_slashes(command.report_dir)};
        if (to_folder) {
            run.output = (fs::path(output) / (name + extension)).string();
        } else if (output.empty()) {
            run.output = (path.parent_path() / (name + "-wiener" + extension)).string();
        }
        if (plan.several && !run.report_dir.empty()) run.report_dir = (fs::path(run.report_dir) / name).string();
        if (key_of(run.output) == key_of(file)) throw UsageError{input + ": its output would be written over it"};
        for (const std::string& target : {run.output, run.report_dir}) {
            if (target.empty()) continue;
            const auto [at, added] = written.emplace(key_of(target), input);
            if (!added) throw UsageError{at->second + " and " + input + " would both be written to " + target};
        }
        plan.runs.push_back(std::move(run));
    }
    return plan;
}


void write_report_index(const std::string& report_dir, const std::vector<WienerOutcome>& outcomes) {
    std::size_t filtered = 0;
    std::string rows;
    for (const WienerOutcome& outcome : outcomes) {
        filtered += outcome.filtered;
        const std::string input = zorvan::wiener::html_escape(outcome.run->input);
        const std::string link = zorvan::wiener::html_escape(fs::path(outcome.run->report_dir).filename().string()) + "/report.html";
        rows += "<tr><td>" + (outcome.filtered ? "<a href=\"" + link + "\">" + input + "</a>" : input) + "</td><td>" +
                (outcome.filtered ? "filtered: " : "failed: ") + zorvan::wiener::html_escape(outcome.text) + "</td><td>" +
                (outcome.filtered ? zorvan::wiener::html_escape(outcome.run->output) : "") + "</td></tr>\n";
    }
    const std::string page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Wiener filter of " +
        std::to_string(outcomes.size()) + " files</title>\n<style>body{font-family:sans-serif} "
        "td{padding:2px 8px;border-bottom:1px solid #ddd}</style></head><body>\n<h1>Wiener filter of " +
        std::to_string(outcomes.size()) + " files: " + std::to_string(filtered) + " filtered, " +
        std::to_string(outcomes.size() - filtered) + " failed</h1>\n<table>\n<tr><th>input</th><th>outcome</th>"
        "<th>output</th></tr>\n" + rows + "</table>\n</body></html>\n";
    const std::string target = (fs::path(report_dir) / "index.html").string(), temporary = target + ".tmp";
    std::error_code error;
    fs::create_directories(report_dir, error);
    {
        std::ofstream out(temporary, std::ios::binary);
        out << page;
        if (!out.flush()) {
            fs::remove(temporary, error);
            throw FileFailure{target + ": cannot be written"};
        }
    }
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove(temporary, error);
        throw FileFailure{target + ": cannot be written"};
    }
}

}  // namespace zorvan::cli
