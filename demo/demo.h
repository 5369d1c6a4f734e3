#pragma once
// `zorvan demo`: a Wiener filter of a noisy lattice image, built from the
// plug-in's functions called through the host, with a report.

#include "host/host.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zorvan::demo {

struct DemoOptions {
    std::string out_dir = "zorvan-demo";
    std::uint32_t size = 512;  // the image is size x size
    std::uint64_t seed = 1;
    double dose = 10.0;        // mean counts per pixel of the shot noise
    double lambda = 1000.0;    // Whittaker smoothing weight
    double noise_margin = 4.0; // the mask passes power above this many times the background
};

struct DemoStage {
    std::string name;
    double milliseconds;
};

struct DemoResult {
    double snr_noisy_db = 0;
    double snr_filtered_db = 0;
    std::vector<DemoStage> stages;
    std::vector<std::string> files;  // everything written, report last
    std::string report;
};

// Runs the demo in `host` (the plug-in loaded), printing a line per stage
// to `progress` (may be null). Throws std::runtime_error when a stage fails.
DemoResult run_demo(host::Host& host, const DemoOptions& options, std::FILE* progress);

}  // namespace zorvan::demo
