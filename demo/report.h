#pragma once
// The demo's report: one self-contained HTML page.

#include <cstdint>
#include <string>
#include <vector>

namespace zorvan::demo {

struct ReportImage {
    std::string name;
    std::string caption;
    std::string png_path;  // embedded in the page
};

struct ReportData {
    std::uint32_t size = 0;
    double dose = 0;
    std::uint64_t seed = 0;
    double lambda = 0;
    double noise_margin = 0;
    double snr_noisy_db = 0;
    double snr_filtered_db = 0;
    std::vector<ReportImage> images;
    std::vector<double> profile;     // mean log power per ring
    std::vector<double> background;  // its smoothed background
    struct Stage {
        std::string name;
        double milliseconds;
    };
    std::vector<Stage> stages;
    struct Counter {
        std::string name;
        std::uint64_t additions;
        double milliseconds;
    };
    std::vector<Counter> counters;
};

std::string base64(const std::string& bytes);
// An SVG line plot of the profile (points) and its background (line).
std::string profile_svg(const std::vector<double>& profile, const std::vector<double>& background);
// Writes the page (to a temporary file renamed into place).
void write_report(const std::string& path, const ReportData& data);

}  // namespace zorvan::demo
