#pragma once
// The Wiener filter's report: one self-contained HTML page, its pictures
// embedded as PNG.

#include "wiener/wiener.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zorvan::wiener {

// An image of the report, width x height 4-byte reals.
struct ReportPlane {
    std::string name;     // also the file name, without extension
    std::string caption;
    std::vector<float> pixels;
    bool cropped = false;  // also shown 1:1, a crop from the centre beside the other cropped ones
};

struct ReportPage {
    std::string title;
    std::vector<std::string> paragraphs;                      // plain text
    std::vector<std::pair<std::string, std::string>> facts;  // the input and the parameters
    std::uint64_t width = 0, height = 0;
    double pixel_size_nm = 0;  // 0: unknown, the axes are in pixels
    bool reciprocal = false;   // pixel_size_nm is then in 1/nm per pixel: a diffraction pattern
    std::uint64_t spectrum_width = 0, spectrum_height = 0;  // power and mask: the plane with its mirrored edges
    std::vector<ReportPlane> planes;
    std::vector<float> power;  // ln power, zero frequency at (w/2, h/2)
    std::vector<float> mask;
    std::vector<double> profile;     // mean ln power per ring
    std::vector<double> background;  // its smoothed background
    double threshold_offset = 0;     // the lattice mask's threshold: background + this
    double noise_ln = NAN;           // the noise alone, on the profile's scale (NaN: not shown)
    double rings_per_cycle = 1;      // ring k is at k / rings_per_cycle cycles per pixel
    std::vector<Stage> stages;
    struct Counter {
        std::string name;
        std::uint64_t additions;
        double milliseconds;
    };
    std::vector<Counter> counters;
};

// The page for a filtered image: the first plane's input, filtered image,
// difference, spectrum, mask and profile, the input's facts, the
// parameters, the stage times and the plug-in's counters now. `result` comes
// from wiener_filter with for_report (std::logic_error otherwise).
ReportPage wiener_report_page(const std::string& input_name, const files::ImageData& input,
                              const WienerResult& result, const WienerOptions& options);

std::string base64(const std::string& bytes);
// Text made safe inside HTML elements and attribute values.
std::string html_escape(const std::string& text);
// Round tick values (1, 2 or 5 times a power of ten apart) covering low..high.
std::vector<double> round_ticks(double low, double high, int at_most = 6);
// The values at the given fractions (0..1) of the sorted finite values.
std::vector<float> percentiles(std::vector<float> values, const std::vector<double>& fractions);
// An SVG plot of the ring means (points), the background (line) and the
// mask's threshold (dashed) against spatial frequency.
std::string profile_svg(const ReportPage& page);
// Writes each picture as DIR/NAME.tif (its values) and .png (for display;
// the ln power spectrum's PNG is clipped, its TIFF is not), then DIR/report.html (to a
// temporary file renamed into place). Returns the files written, the page last.
std::vector<std::string> write_report(const std::string& dir, const ReportPage& page);

}  // namespace zorvan::wiener
