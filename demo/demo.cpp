// The demo pipeline. The filtering is the plug-in's; the host side adds only
// what a host provides: the Fourier transforms (FFTW), a banded linear solve
// (LAPACK) and element-wise conversions.

#include "demo/demo.h"

#include "demo/report.h"
#include "files/image_io.h"

#include <fftw3.h>
#include <lapacke.h>

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>

namespace zorvan::demo {

namespace {

using host::Arg;
using host::CallResult;
using host::Host;
using host::Image;

constexpr double kPi = 3.14159265358979323846;
// The mean of ln P over a ring of exponentially distributed powers lies
// below ln of their mean by Euler's constant.
constexpr double kEulerGamma = 0.57721566490153286;

// A hexagonal lattice (three first-order and three second-order beams) under
// a smooth envelope, in mean counts per pixel.
std::vector<float> synthesise_lattice(std::uint32_t n, double dose) {
    const double f = std::round(n / 16.0);  // first-order spatial frequency, in cycles per image
    const double g[3][2] = {{f, 0}, {std::round(f / 2), std::round(f * std::sqrt(3.0) / 2)},
                            {-std::round(f / 2), std::round(f * std::sqrt(3.0) / 2)}};
    std::vector<float> clean(std::size_t{n} * n);
    const double centre = n / 2.0, width = 0.35 * n;
    for (std::uint32_t y = 0; y < n; ++y) {
        for (std::uint32_t x = 0; x < n; ++x) {
            double lattice = 0;
            for (const auto& beam : g) lattice += std::cos(2 * kPi * (beam[0] * x + beam[1] * y) / n);
            for (int a = 0; a < 3; ++a) {
                const int b = (a + 1) % 3;
                lattice += 0.35 * std::cos(2 * kPi * ((g[a][0] + g[b][0]) * x + (g[a][1] + g[b][1]) * y) / n);
            }
            const double r2 = (x - centre) * (x - centre) + (y - centre) * (y - centre);
            const double envelope = 0.5 + 0.5 * std::exp(-r2 / (2 * width * width));
            clean[std::size_t{y} * n + x] = static_cast<float>(dose * (1.0 + 0.18 * envelope * lattice));
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

// 2-D transform with the origin at (n/2, n/2): the image is multiplied by
// (-1)^(x+y) before the forward transform and after the inverse one, which
// is also scaled by 1/n². Interleaved re, im floats in and out.
std::vector<float> centred_fft(std::vector<float> data, std::uint32_t n, int direction) {
    auto alternate_signs = [&data, n](float scale) {
        for (std::uint32_t y = 0; y < n; ++y) {
            for (std::uint32_t x = 0; x < n; ++x) {
                const float factor = (x + y) % 2 == 1 ? -scale : scale;
                data[2 * (std::size_t{y} * n + x)] *= factor;
                data[2 * (std::size_t{y} * n + x) + 1] *= factor;
            }
        }
    };
    if (direction == FFTW_FORWARD) alternate_signs(1.0f);
    auto* buffer = reinterpret_cast<fftwf_complex*>(data.data());
    const fftwf_plan plan =
        fftwf_plan_dft_2d(static_cast<int>(n), static_cast<int>(n), buffer, buffer, direction, FFTW_ESTIMATE);
    if (plan == nullptr) throw std::runtime_error("FFTW could not plan the transform");
    fftwf_execute(plan);
    fftwf_destroy_plan(plan);
    if (direction == FFTW_BACKWARD) alternate_signs(1.0f / (static_cast<float>(n) * static_cast<float>(n)));
    return data;
}

std::vector<float> as_complex(const std::vector<float>& real) {
    std::vector<float> out(2 * real.size(), 0.0f);
    for (std::size_t i = 0; i < real.size(); ++i) out[2 * i] = real[i];
    return out;
}

// Solves (I + M) z = y for the penta-diagonal symmetric M by LAPACK's
// banded Cholesky solver.
std::vector<double> whittaker_solve(const std::vector<double>& penalty, std::vector<double> y) {
    const auto m = static_cast<lapack_int>(y.size());
    constexpr lapack_int bands = 2;
    std::vector<double> band(static_cast<std::size_t>((bands + 1) * m), 0.0);
    for (lapack_int j = 0; j < m; ++j) {
        for (lapack_int i = std::max<lapack_int>(0, j - bands); i <= j; ++i) {
            band[static_cast<std::size_t>(bands + i - j + j * (bands + 1))] =
                (i == j ? 1.0 : 0.0) + penalty[static_cast<std::size_t>(i) * static_cast<std::size_t>(m) + j];
        }
    }
    const lapack_int info = LAPACKE_dpbsv(LAPACK_COL_MAJOR, 'U', m, bands, 1, band.data(), bands + 1, y.data(), m);
    if (info != 0) throw std::runtime_error("the Whittaker system could not be solved (LAPACK info " + std::to_string(info) + ")");
    return y;
}

class Pipeline {
public:
    Pipeline(Host& host, std::FILE* progress) : host_(host), progress_(progress) {}

    template <class Work>
    auto stage(const std::string& name, Work&& work) {
        const auto start = std::chrono::steady_clock::now();
        auto result = work();
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        stages.push_back({name, ms});
        if (progress_ != nullptr) std::fprintf(progress_, "  %-58s %9.1f ms\n", name.c_str(), ms);
        return result;
    }

    Image image_call(const char* function, std::vector<Arg> args) {
        const CallResult result = host_.call(function, args);
        if (!result.ok()) throw std::runtime_error(std::string(function) + ": " + result.error->message);
        if (!result.image) throw std::runtime_error(std::string(function) + " refused its input");
        return result.image;
    }

    Image make(std::int32_t type, std::vector<std::uint64_t> sizes, const void* data, std::size_t bytes) {
        return host_.make_image(type, std::move(sizes), data, bytes);
    }

    std::vector<DemoStage> stages;

private:
    Host& host_;
    std::FILE* progress_;
};

void save(const std::string& dir, const std::string& name, const Image& image, DemoResult& result,
          std::vector<ReportImage>& pictures, const std::string& caption) {
    files::ImageData data{image.data_type(), image.sizes(), image.bytes()};
    for (const char* extension : {".tif", ".png"}) {
        const std::string path = dir + "/" + name + extension;
        files::write_image(path, data);
        result.files.push_back(path);
    }
    pictures.push_back({name, caption, dir + "/" + name + ".png"});
}

}  // namespace

DemoResult run_demo(Host& host, const DemoOptions& options, std::FILE* progress) {
    const std::uint32_t n = options.size;
    if (n < 16 || n > 8192) throw std::runtime_error("the demo's size must be between 16 and 8192");
    if (mkdir(options.out_dir.c_str(), 0777) != 0 && errno != EEXIST) {
        throw std::runtime_error(options.out_dir + ": " + std::strerror(errno));
    }
    Pipeline pipeline(host, progress);
    const std::uint64_t pixels = std::uint64_t{n} * n;
    const std::size_t real_bytes = pixels * sizeof(float);

    const auto clean = pipeline.stage("synthesise the lattice and its shot noise (host)", [&] {
        return synthesise_lattice(n, options.dose);
    });
    const auto noisy = add_shot_noise(clean, options.seed);
    const Image noisy_image = pipeline.make(host::data_type::real4, {n, n}, noisy.data(), real_bytes);

    const Image windowed = pipeline.stage("apodisation (FFTWindow, Hann)", [&] {
        return pipeline.image_call("FFTWindow", {noisy_image, 0, nullptr});
    });
    // (Named images rather than a structured binding: clang 14 cannot
    // capture those in the lambdas below.)
    const auto spectra = pipeline.stage("forward transforms (FFTW)", [&] {
        auto transformed = centred_fft(as_complex(windowed.pixels<float>()), n, FFTW_FORWARD);
        Image spectrum = pipeline.make(host::data_type::complex8, {n, n}, transformed.data(), 2 * real_bytes);
        auto raw = centred_fft(as_complex(noisy), n, FFTW_FORWARD);
        Image raw_image = pipeline.make(host::data_type::complex8, {n, n}, raw.data(), 2 * real_bytes);
        return std::pair{spectrum, raw_image};
    });
    const Image& window_spectrum = spectra.first;
    const Image& raw_spectrum = spectra.second;
    const Image power = pipeline.stage("power spectrum (FCalculatePowerSpectrumDLL)", [&] {
        return pipeline.image_call("FCalculatePowerSpectrumDLL", {window_spectrum});
    });
    const Image survey = pipeline.stage("radial survey about the centre (FRadialSurvey)", [&] {
        return pipeline.image_call("FRadialSurvey", {power, static_cast<std::int32_t>(n / 2),
                                                     static_cast<std::int32_t>(n / 2), 1.0, 1.0});
    });

    // Row 3 of the survey holds each ring's mean log power. Rings 0 to 2
    // hold the zero frequency and what the window spreads around it: they
    // are kept out of the background (their mask is 1: they are signal).
    const auto rings = static_cast<std::size_t>(survey.size(0));
    const auto survey_rows = survey.pixels<float>();
    std::vector<double> profile(rings);
    for (std::size_t k = 0; k < rings; ++k) profile[k] = survey_rows[3 * rings + k];
    const std::size_t first_background_ring = std::min<std::size_t>(3, rings - 1);
    for (std::size_t k = 0; k < first_background_ring; ++k) profile[k] = profile[first_background_ring];
    for (std::size_t k = 1; k < rings; ++k) {
        if (!std::isfinite(profile[k])) profile[k] = profile[k - 1];
    }

    const auto background = pipeline.stage("Whittaker smoothing (FCreateFwhitsmMatrixDLL, LAPACK)", [&] {
        const Image penalty = pipeline.image_call("FCreateFwhitsmMatrixDLL",
                                                  {static_cast<std::int32_t>(rings), options.lambda});
        return whittaker_solve(penalty.pixels<double>(), profile);
    });
    const Image base = pipeline.stage("background into 2-D (FRadialWarpDLL)", [&] {
        std::vector<float> amplitude(rings);
        for (std::size_t k = 0; k < rings; ++k) {
            amplitude[k] =
                static_cast<float>(std::exp(0.5 * (background[k] + kEulerGamma + std::log(options.noise_margin))));
        }
        const Image profile_image =
            pipeline.make(host::data_type::real4, {rings}, amplitude.data(), amplitude.size() * sizeof(float));
        return pipeline.image_call("FRadialWarpDLL", {power, profile_image, 1.0, 1.0});
    });
    const Image mask = pipeline.stage("Wiener mask (FCreateWienerMaskDLL)", [&] {
        const auto spectrum = window_spectrum.pixels<float>();
        std::vector<float> amplitude(pixels);
        for (std::size_t i = 0; i < pixels; ++i) amplitude[i] = std::hypot(spectrum[2 * i], spectrum[2 * i + 1]);
        const Image amplitude_image = pipeline.make(host::data_type::real4, {n, n}, amplitude.data(), real_bytes);
        return pipeline.image_call("FCreateWienerMaskDLL", {amplitude_image, base});
    });
    const Image product = pipeline.stage("mask applied (FElementWiseProductComplexByRealDLL)", [&] {
        return pipeline.image_call("FElementWiseProductComplexByRealDLL", {raw_spectrum, mask});
    });
    const auto filtered = pipeline.stage("inverse transform (FFTW)", [&] {
        const auto back = centred_fft(product.pixels<float>(), n, FFTW_BACKWARD);
        std::vector<float> real(pixels);
        for (std::size_t i = 0; i < pixels; ++i) real[i] = back[2 * i];
        return real;
    });

    DemoResult result;
    result.snr_noisy_db = snr_db(clean, noisy);
    result.snr_filtered_db = snr_db(clean, filtered);
    result.stages = pipeline.stages;

    std::vector<float> difference(pixels);
    for (std::size_t i = 0; i < pixels; ++i) difference[i] = noisy[i] - filtered[i];
    std::vector<ReportImage> pictures;
    auto real_image = [&](const std::vector<float>& values) {
        return pipeline.make(host::data_type::real4, {n, n}, values.data(), real_bytes);
    };
    save(options.out_dir, "clean", real_image(clean), result, pictures, "clean lattice");
    save(options.out_dir, "noisy", noisy_image, result, pictures, "with shot noise");
    save(options.out_dir, "filtered", real_image(filtered), result, pictures, "Wiener-filtered");
    save(options.out_dir, "difference", real_image(difference), result, pictures, "noisy − filtered: what was removed");
    save(options.out_dir, "power_spectrum", power, result, pictures, "log power spectrum (apodised)");
    save(options.out_dir, "mask", mask, result, pictures, "Wiener mask");

    ReportData report;
    report.size = n;
    report.dose = options.dose;
    report.seed = options.seed;
    report.lambda = options.lambda;
    report.noise_margin = options.noise_margin;
    report.snr_noisy_db = result.snr_noisy_db;
    report.snr_filtered_db = result.snr_filtered_db;
    report.images = pictures;
    report.profile = profile;
    report.background.resize(rings);
    for (std::size_t k = 0; k < rings; ++k) report.background[k] = background[k] + kEulerGamma;
    for (const auto& stage : result.stages) report.stages.push_back({stage.name, stage.milliseconds});
    for (const auto& counter : Host::counters()) report.counters.push_back({counter.name, counter.additions, counter.total_ms()});
    result.report = options.out_dir + "/report.html";
    write_report(result.report, report);
    result.files.push_back(result.report);
    return result;
}

}  // namespace zorvan::demo
