// The demo: a synthetic lattice with shot noise, through the Wiener filter.

#include "demo/demo.h"

#include "wiener/report.h"
#include "files/image_io.h"

#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>

namespace zorvan::demo {

namespace {

using host::Host;
using wiener::kMinimumSide;
using wiener::ReportPage;
using wiener::ReportPlane;
using wiener::WienerResult;

constexpr double kPi = 3.14159265358979323846;

// A hexagonal lattice (three first-order and three second-order beams) under
// a smooth envelope, in mean counts per pixel: a period of about 16 pixels
// along x, whole cycles per image on both axes.
std::vector<float> synthesise_lattice(std::uint32_t w, std::uint32_t h, double dose) {
    const double fx = std::round(w / 16.0), fy = std::round(h / 16.0);  // cycles per image
    const double g[3][2] = {{fx, 0}, {std::round(fx / 2), std::round(fy * std::sqrt(3.0) / 2)},
                            {-std::round(fx / 2), std::round(fy * std::sqrt(3.0) / 2)}};
    std::vector<float> clean(std::size_t{w} * h);
    const double cx = w / 2.0, cy = h / 2.0, width = 0.35;  // the envelope's, as a fraction of each side
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            auto phase = [&](double kx, double ky) { return 2 * kPi * (kx * x / w + ky * y / h); };
            double lattice = 0;
            for (const auto& beam : g) lattice += std::cos(phase(beam[0], beam[1]));
            for (int a = 0; a < 3; ++a) {
                const int b = (a + 1) % 3;
                lattice += 0.35 * std::cos(phase(g[a][0] + g[b][0], g[a][1] + g[b][1]));
            }
            const double u = (x - cx) / w, v = (y - cy) / h;
            const double envelope = 0.5 + 0.5 * std::exp(-(u * u + v * v) / (2 * width * width));
            clean[std::size_t{y} * w + x] = static_cast<float>(dose * (1.0 + 0.18 * envelope * lattice));
        }
    }
    return clean;
}

// Each pixel counts Poisson-distributed electrons around its clean value.
std::vector<float> add_shot_noise(const std::vector<float>& clean, std::uint64_t seed) {
    std::mt19937_64 generator(seed);
    std::vector<float> noisy(clean.size());
    for (std::size_t i = 0; i < clean.size(); ++i) {
        std::poisson_distribution<int> counts(std::max(0.0, static_cast<double>(clean[i])));
        noisy[i] = static_cast<float>(counts(generator));
    }
    return noisy;
}

// 10·log10 of the clean image's variance over the error's mean square.
double snr_db(const std::vector<float>& clean, const std::vector<float>& image) {
    double mean = 0;
    for (float v : clean) mean += v;
    mean /= static_cast<double>(clean.size());
    double signal = 0, error = 0;
    for (std::size_t i = 0; i < clean.size(); ++i) {
        signal += (clean[i] - mean) * (clean[i] - mean);
        error += (static_cast<double>(image[i]) - clean[i]) * (static_cast<double>(image[i]) - clean[i]);
    }
    return 10.0 * std::log10(signal / error);
}

}  // namespace

DemoResult run_demo(Host& host, const DemoOptions& options, std::FILE* progress) {
    const std::uint32_t w = options.width, h = options.height;
    if (w < kMinimumSide || h < kMinimumSide || w > 8192 || h > 8192) {
        throw std::runtime_error("the demo's sides must be between 16 and 8192");
    }
    wiener::StageTimer timer(progress);
    std::vector<float> clean, noisy;
    timer.run("synthesise the lattice and its shot noise (host)", [&] {
        clean = synthesise_lattice(w, h, options.dose);
        noisy = add_shot_noise(clean, options.seed);
    });

    files::ImageData input{host::data_type::real4, {w, h}, {}};
    input.bytes.resize(noisy.size() * sizeof(float));
    std::memcpy(input.bytes.data(), noisy.data(), input.bytes.size());
    const WienerResult filtered = wiener::wiener_filter(host, input, options.wiener, progress, true);

    DemoResult result;
    result.snr_noisy_db = snr_db(clean, noisy);
    result.snr_filtered_db = snr_db(clean, filtered.first.filtered);
    result.stages = filtered.stages;
    result.stages.insert(result.stages.begin(), timer.stages.front());

    ReportPage page = wiener::wiener_report_page("a synthetic lattice", input, filtered, options.wiener);
    page.title = "Wiener filter of a noisy lattice image";
    char snr[160], dose[32];
    std::snprintf(dose, sizeof dose, "%g", options.dose);
    std::snprintf(snr, sizeof snr, "Signal-to-noise ratio against the clean image: noisy %.1f dB, filtered %.1f dB (gain %.1f dB).",
                  result.snr_noisy_db, result.snr_filtered_db, result.snr_filtered_db - result.snr_noisy_db);
    page.paragraphs = {
        "A " + std::to_string(w) + " × " + std::to_string(h) +
            " hexagonal lattice under a smooth envelope, with shot noise of " + dose + " counts per pixel on average (seed " + std::to_string(options.seed) +
            "), filtered exactly as `zorvan wiener` filters an image: the plug-in's functions through the host, with "
            "FFTW for the transforms and LAPACK for the Whittaker smoothing.",
        snr};
    page.planes[0].name = "noisy";
    page.planes[0].caption = "with shot noise";
    page.planes[2].caption = "noisy − filtered: what was removed";
    page.planes.insert(page.planes.begin(), ReportPlane{"clean", "clean lattice", clean, false});
    page.stages = result.stages;
    result.files = wiener::write_report(options.out_dir, page);
    result.report = result.files.back();
    return result;
}

}  // namespace zorvan::demo
