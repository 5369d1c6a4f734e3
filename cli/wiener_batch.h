#pragma once
// The files of a `zorvan wiener` run: the inputs named, found in folders or
// matched by patterns, each one's output and report folder, all checked
// before any work.

#include "cli/arguments.h"

#include <string>
#include <vector>

namespace zorvan::cli {

// One input and where its results go.
struct WienerRun {
    std::string input;       // a file, or FILE:N for an image of a file holding several
    std::string output;
    std::string report_dir;  // "" for none
};

struct WienerPlan {
    std::vector<WienerRun> runs;
    bool several = false;  // several inputs, or a folder or pattern: one line per file
    std::string output_dir;  // the folder -o names, made before writing; "" when -o names a file or is not given
    std::string report_dir;  // --report's folder; with several inputs it gets index.html, linking each report
};

// What became of one file of a batch, for the reports' index.
struct WienerOutcome {
    const WienerRun* run;
    bool filtered;
    std::string text;  // the file's facts, or why it failed
};

// DIR/index.html: a row per input, its outcome and a link to its report.
// Written to a temporary file renamed into place; FileFailure when it cannot be.
void write_report_index(const std::string& report_dir, const std::vector<WienerOutcome>& outcomes);

// The inputs expanded, outputs named and checked; UsageError (nothing done)
// for an output that cannot be written, a folder that cannot be made, a
// pattern or folder without images, two inputs with the same output, or an
// output over its input.
//
// Outputs: with -o FILE the one input goes there; with -o DIR/ (or an
// existing folder, or always with several inputs) each goes to DIR/NAME.EXT;
// without -o beside its input as NAME-wiener.EXT. NAME is the input's name
// without extension (FILE:N gives NAME-N); EXT is the input's where it can
// be written, else .tif (.png, .dm3, .dm4). Reports: DIR/report.html for one
// input, DIR/NAME/report.html for several.
WienerPlan plan_wiener(const WienerCommand& command);

}  // namespace zorvan::cli
