#pragma once
// `zorvan demo`: the Wiener filter of `zorvan wiener` on a noisy synthetic
// lattice, with the signal-to-noise ratios it can measure against the clean
// image, and the report.

#include "wiener/wiener.h"
#include "host/host.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zorvan::demo {

using wiener::Stage;
using wiener::WienerOptions;

struct DemoOptions {
    std::string out_dir = "zorvan-demo";
    std::uint32_t width = 512;
    std::uint32_t height = 512;
    std::uint64_t seed = 1;
    double dose = 10.0;  // mean counts per pixel of the shot noise
    WienerOptions wiener;
};

struct DemoResult {
    double snr_noisy_db = 0;
    double snr_filtered_db = 0;
    std::vector<Stage> stages;
    std::vector<std::string> files;  // everything written, report last
    std::string report;
};

// Runs the demo in `host` (the plug-in loaded), printing a line per stage
// to `progress` (may be null). Throws std::runtime_error when a stage fails.
DemoResult run_demo(host::Host& host, const DemoOptions& options, std::FILE* progress);

}  // namespace zorvan::demo
