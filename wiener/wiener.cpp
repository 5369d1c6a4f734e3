// The Wiener pipeline. The filtering is the plug-in's; the host side adds
// only what a host provides: the Fourier transforms (FFTW), a banded linear
// solve (LAPACK) and element-wise conversions.

#include "wiener/wiener.h"

#include "wiener/transforms.h"

#include <lapacke.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace zorvan::wiener {

namespace {

using host::Arg;
using host::CallResult;
using host::Host;
using host::Image;

// The mean of ln P over a ring of exponentially distributed powers lies
// below ln of their mean by Euler's constant.
constexpr double kEulerGamma = 0.57721566490153286;

// The amplitude of the full transform, zero frequency at (w/2, h/2), from
// the half that a real-to-complex transform gives ((w/2 + 1) x h): element
// (x, y) of the transform goes to ((x + w/2) mod w, (y + h/2) mod h), and for
// x > w/2 it is the conjugate of element (w - x, (h - y) mod h), a real
// plane's transform being Hermitian. In the same pass, the squares of the
// half when `half_power` is not null ((w/2 + 1) x h, element (x, y) at
// (x, (y + h/2) mod h): the survey's input), and the full transform itself
// when `centred` is not null (for the ln power spectrum).
void expand_centred(const float* half, std::size_t w, std::size_t h, float* centred, float* amplitude,
                    float* half_power) {
    const std::size_t half_width = w / 2 + 1, shift = w / 2;
    // In double, so that no square overflows: as close as hypotf.
    const auto modulus = [](float re, float im) {
        return static_cast<float>(std::sqrt(static_cast<double>(re) * re + static_cast<double>(im) * im));
    };
    for (std::size_t cy = 0; cy < h; ++cy) {
        const std::size_t y = (cy + h - h / 2) % h;
        const float* row = half + 2 * y * half_width;
        const float* mirror_row = half + 2 * ((h - y) % h) * half_width;
        float* a = amplitude + cy * w;
        // Centred columns [0, w/2) hold x = cx + w - w/2: all beyond w/2 but
        // the first of an even width, x = w/2 itself; the others, x from 0.
        const std::size_t first = w % 2 == 0 ? 1 : 0;
        if (first == 1) a[0] = modulus(row[2 * shift], row[2 * shift + 1]);
        for (std::size_t cx = first; cx < shift; ++cx) {
            a[cx] = modulus(mirror_row[2 * (shift - cx)], mirror_row[2 * (shift - cx) + 1]);
        }
        for (std::size_t x = 0; x < w - shift; ++x) a[shift + x] = modulus(row[2 * x], row[2 * x + 1]);
        if (half_power != nullptr) {
            float* p = half_power + cy * half_width;
            for (std::size_t x = 0; x < w - shift; ++x) p[x] = a[shift + x] * a[shift + x];
            if (first == 1) p[shift] = a[0] * a[0];
        }
        if (centred != nullptr) {
            float* out = centred + 2 * cy * w;
            if (first == 1) {
                out[0] = row[2 * shift];
                out[1] = row[2 * shift + 1];
            }
            for (std::size_t cx = first; cx < shift; ++cx) {
                out[2 * cx] = mirror_row[2 * (shift - cx)];
                out[2 * cx + 1] = -mirror_row[2 * (shift - cx) + 1];
            }
            std::copy_n(row, 2 * (w - shift), out + 2 * shift);
        }
    }
}

// What a filter run reuses between the planes of a stack, and a process
// between runs of one size: the transforms of its size, with their plans,
// and the buffers the host's images lend. Fresh pages cost as much as the
// work on them (the kernel clears each, and this machine's memory is backed
// lazily): a buffer serves in turn wherever its last use is over.
//  plane:     the plane with its mirrored edges; the lattice base; the half
//             mask; the inverse transform's output
//  amplitude: the windowed plane's amplitude spectrum
//  centred:   the windowed plane's full transform, only for the ln power
//             spectrum (lattice mode, or a report)
//  spare:     in wiener mode, the windowed plane's power on the half plane
//             (the survey's input), then the noise amplitude
struct Workspace {
    Workspace(std::size_t w, std::size_t h)
        : transforms(w, h), plane(plane_buffer(w * h)), amplitude(plane_buffer(w * h)) {}

    bool fits(std::size_t w, std::size_t h) const {
        return transforms.width() == w && transforms.height() == h &&
               transforms.threads() == std::max(1, omp_get_max_threads());
    }
    float* centred_buffer() {
        if (!centred) centred = plane_buffer(2 * transforms.width() * transforms.height());
        return centred.get();
    }
    float* spare_buffer() {
        if (!spare) spare = plane_buffer(transforms.width() * transforms.height());
        return spare.get();
    }

    RealTransforms transforms;
    std::shared_ptr<float[]> plane, amplitude, centred, spare;
};

// The workspace of the last run, kept for the next one of its size (a
// script or a Dask worker filtering image after image): a run takes it and
// gives it back, so two runs at once each have their own.
class KeptWorkspace {
public:
    std::unique_ptr<Workspace> take(std::size_t w, std::size_t h) {
        std::lock_guard lock(mutex_);
        if (kept_ && kept_->fits(w, h)) return std::move(kept_);
        kept_.reset();  // another size: its buffers go before the new ones come
        return nullptr;
    }
    void give_back(std::unique_ptr<Workspace> workspace) {
        std::lock_guard lock(mutex_);
        kept_ = std::move(workspace);
    }

private:
    std::mutex mutex_;
    std::unique_ptr<Workspace> kept_;
};

KeptWorkspace& kept_workspace() {
    static KeptWorkspace kept;
    return kept;
}

// The penalty matrix M of the Whittaker smoother is penta-diagonal: its
// first two and last two rows differ, every row between holds the same five
// values. FCreateFwhitsmMatrixDLL makes it dense (m^2 doubles); made for
// kPenaltySample rows, it gives every value of the m-row matrix, the same
// bits, at a small fraction of the cost.
constexpr std::size_t kPenaltySample = 8;

// Element (i, j), |i - j| <= 2, of the m-row penalty from the dense `sample`
// of n rows: the first rows as they are, the last rows from the sample's
// last, and the rows between from the sample's row 4, whose five values are
// those of every inner row (n = 8: rows 2 to 5 are inner).
double penalty_at(const std::vector<double>& sample, std::size_t n, std::size_t m, std::size_t i, std::size_t j) {
    if (m == n) return sample[i * n + j];
    if (i < n / 2) return sample[i * n + j];
    if (i >= m - n / 2) return sample[(i - (m - n)) * n + (j - (m - n))];
    return sample[4 * n + 4 + j - i];
}

// Solves (I + M) z = y for the penta-diagonal symmetric M (from `sample`,
// its dense form for n = min(m, kPenaltySample) rows) by LAPACK's banded
// Cholesky solver.
std::vector<double> whittaker_solve(const std::vector<double>& sample, std::size_t n, std::vector<double> y) {
    const auto m = static_cast<lapack_int>(y.size());
    constexpr lapack_int bands = 2;
    std::vector<double> band(static_cast<std::size_t>((bands + 1) * m), 0.0);
    for (lapack_int j = 0; j < m; ++j) {
        for (lapack_int i = std::max<lapack_int>(0, j - bands); i <= j; ++i) {
            band[static_cast<std::size_t>(bands + i - j + j * (bands + 1))] =
                (i == j ? 1.0 : 0.0) + penalty_at(sample, n, static_cast<std::size_t>(m), static_cast<std::size_t>(i),
                                                  static_cast<std::size_t>(j));
        }
    }
    const lapack_int info = LAPACKE_dpbsv(LAPACK_COL_MAJOR, 'U', m, bands, 1, band.data(), bands + 1, y.data(), m);
    if (info != 0) throw std::runtime_error("the Whittaker system could not be solved (LAPACK info " + std::to_string(info) + ")");
    return y;
}

class Pipeline {
public:
    Pipeline(Host& host, std::FILE* progress) : timer(progress), host_(host) {}

    template <class Work>
    decltype(auto) stage(const std::string& name, Work&& work) {
        return timer.run(name, std::forward<Work>(work));
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

    // An image over `pixels`, which it keeps alive: no copy.
    Image lend(std::int32_t type, std::vector<std::uint64_t> sizes, std::shared_ptr<float[]> pixels) {
        float* data = pixels.get();
        return host_.wrap_image(type, std::move(sizes), data, std::move(pixels));
    }

    StageTimer timer;

private:
    Host& host_;
};

template <class T>
void convert_to_float(const std::byte* bytes, std::size_t count, float* out) {
    for (std::size_t i = 0; i < count; ++i) {
        T v;
        std::memcpy(&v, bytes + i * sizeof v, sizeof v);
        out[i] = static_cast<float>(v);
    }
}

std::string plane_name(std::uint64_t plane, std::uint64_t planes) {
    return planes > 1 ? "plane " + std::to_string(plane + 1) + ": " : "";
}

}  // namespace

std::uint64_t mirrored_side(std::uint64_t side) {
    // The smallest number of 2, 3, 5 and 7 alone as factors, which FFTW
    // transforms fastest: 4096 + 32 would be 2^5 x 3 x 43, four times slower.
    for (std::uint64_t n = side + 2 * kMirrorPadding;; ++n) {
        std::uint64_t rest = n;
        for (std::uint64_t factor : {2, 3, 5, 7}) {
            while (rest % factor == 0) rest /= factor;
        }
        if (rest == 1) return n;
    }
}

void StageTimer::finish(const std::string& name, std::chrono::steady_clock::time_point start) {
    record(name, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
}

void StageTimer::record(const std::string& name, double ms) {
    stages.push_back({name, ms});
    if (progress_ != nullptr) {
        std::fprintf(progress_, "  %-58s %9.1f ms\n", name.c_str(), ms);
        std::fflush(progress_);
    }
}

PreparedImage prepare(const PixelView& input) {
    const dm::pixel_type* type = dm::find_pixel_type(input.data_type);
    if (type == nullptr || type->kind == dm::pixel_kind::complex || type->kind == dm::pixel_kind::packed) {
        throw WienerRefusal(std::string(type ? type->name : "unknown") +
                            " pixels: the Wiener filter takes integer or real images");
    }
    PreparedImage image;
    image.type_name = type->name;
    image.converted = input.data_type != host::data_type::real4;
    image.width = input.sizes.empty() ? 1 : input.sizes[0];
    image.height = input.sizes.size() < 2 ? 1 : input.sizes[1];
    image.planes = 1;
    for (std::size_t k = 2; k < input.sizes.size(); ++k) image.planes *= input.sizes[k];
    if (image.width < kMinimumSide || image.height < kMinimumSide) {
        throw WienerRefusal("a " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                            " plane is too small: the Wiener filter needs at least " + std::to_string(kMinimumSide) +
                            " x " + std::to_string(kMinimumSide));
    }
    // The plug-in's Fourier functions index a plane with a signed 32-bit integer.
    if (image.width * image.height >= (std::uint64_t{1} << 31)) {
        throw WienerRefusal("a plane of 2^31 pixels or more is too large for the plug-in's Fourier functions");
    }
    const std::size_t plane_pixels = image.width * image.height, total = plane_pixels * image.planes;
    // 4-byte reals are read where they are, and copied only when a pixel is
    // to be replaced (or they are not aligned for a float).
    const float* source = nullptr;
    if (input.data_type == host::data_type::real4 && reinterpret_cast<std::uintptr_t>(input.bytes) % alignof(float) == 0) {
        source = reinterpret_cast<const float*>(input.bytes);
    } else {
        image.pixels.resize(total);
        dm::dispatch(
            files::file_codes{}, input.data_type,
            [&]<class T>() {
                if constexpr (!dm::is_complex_v<T>) convert_to_float<T>(input.bytes, total, image.pixels.data());
            },
            [] {});
        source = image.pixels.data();
    }
    for (std::uint64_t plane = 0; plane < image.planes; ++plane) {
        const float* pixels = source + plane * plane_pixels;
        const std::string where = plane_name(plane, image.planes);
        std::size_t first = 0;
        while (first < plane_pixels && !std::isfinite(pixels[first])) ++first;
        if (first == plane_pixels) throw WienerRefusal(where + "no pixel is a finite number: there is nothing to filter");
        // Constant when every finite pixel equals the first (-0 equals +0).
        // Integer tallies, which vectorise (v - v is 0 for a finite v only).
        const float level = pixels[first];
        std::size_t finite = 0;
        std::uint32_t differs = 0;
        for (std::size_t i = first; i < plane_pixels; ++i) {
            const float v = pixels[i];
            const bool ok = v - v == 0.0f;
            finite += ok;
            differs |= static_cast<std::uint32_t>(ok & (v != level));
        }
        if (differs == 0) throw WienerRefusal(where + "the image is constant: there is nothing to filter");
        if (finite == plane_pixels) continue;
        if (image.pixels.empty()) {
            image.pixels.assign(source, source + total);
            source = image.pixels.data();
        }
        float* own = image.pixels.data() + plane * plane_pixels;
        double sum = 0;
        for (std::size_t i = 0; i < plane_pixels; ++i) {
            if (std::isfinite(own[i])) sum += own[i];
        }
        const auto mean = static_cast<float>(sum / static_cast<double>(finite));
        for (std::size_t i = 0; i < plane_pixels; ++i) {
            if (!std::isfinite(own[i])) own[i] = mean;
        }
        image.replaced_pixels += plane_pixels - finite;
    }
    image.borrowed = image.pixels.empty() ? source : nullptr;
    return image;
}

namespace {

// The mask's last pass, row by row: the larger of the lattice mask and the
// Wiener mask (`wiener`, may be null) into `mask`; what the run reports of
// it; and its half that multiplies a real-to-complex transform: element
// (x, y), x <= w/2, from centred element ((x + w/2) mod w, (y + h/2) mod h).
struct MaskSums {
    std::uint64_t passed = 0;  // frequencies at 0.5 or more
    double above = 0, kept = 0;
};

MaskSums finish_mask(float* mask, const float* wiener, const float* amplitude, std::size_t w, std::size_t h,
                     double scale_x, double scale_y, double leak, double noise_power, float* half) {
    const std::size_t half_width = w / 2 + 1, shift = w / 2;
    MaskSums sums;
    for (std::size_t cy = 0; cy < h; ++cy) {
        float* m = mask + cy * w;
        if (wiener != nullptr) {
            const float* from = wiener + cy * w;
            for (std::size_t x = 0; x < w; ++x) m[x] = std::max(m[x], from[x]);
        }
        // The power above the noise, leaving out the zero frequency and its
        // window leakage (the mean level, always kept): in the order of the
        // pixels, row by row (the sums depend on it).
        const float* a = amplitude + cy * w;
        const double v = (static_cast<double>(cy) - static_cast<double>(h / 2)) * scale_y;
        const bool near_zero = v * v <= leak * leak;
        for (std::size_t x = 0; x < w; ++x) {
            if (m[x] >= 0.5f) ++sums.passed;
            if (near_zero) {
                const double u = (static_cast<double>(x) - static_cast<double>(w / 2)) * scale_x;
                if (u * u + v * v <= leak * leak) continue;
            }
            // P - N estimates the signal's power at each frequency without
            // bias, noise-only frequencies adding zero on average.
            const double power = static_cast<double>(a[x]) * a[x] - noise_power;
            sums.above += power;
            sums.kept += static_cast<double>(m[x]) * m[x] * power;
        }
        float* out = half + (cy + h - h / 2) % h * half_width;
        std::copy_n(m + shift, w - shift, out);
        if (half_width > w - shift) out[w - shift] = m[0];
    }
    return sums;
}

// One plane through the filter into `out` (width x height 4-byte reals, as
// bytes); `workspace` is made by the first plane of a run (the stage that
// plans the transforms) unless a run of the size left one, and reused by
// the others. With `for_report`, `WienerPlane` keeps the ln power spectrum,
// the input and the filtered plane.
WienerPlane filter_plane(Host& host, const float* plane_pixels, std::uint64_t width, std::uint64_t height,
                         const WienerOptions& options, bool for_report, std::byte* out, std::FILE* progress,
                         std::unique_ptr<Workspace>& workspace) {
    const bool mirrored = options.mode == Mode::wiener;
    const std::size_t w = mirrored ? mirrored_side(width) : width, h = mirrored ? mirrored_side(height) : height;
    const std::size_t count = w * h, left = (w - width) / 2, top = (h - height) / 2;
    Pipeline pipeline(host, progress);
    // The first plane of a size in a process gets the plans: from the
    // wisdom file, or by FFTW_MEASURE, about a second at 2048 x 2048, once
    // per machine (transforms.h). The stage line says which.
    {
        const auto start = std::chrono::steady_clock::now();
        Planning planning = Planning::reused;
        if (!workspace) {
            workspace = std::make_unique<Workspace>(w, h);
            planning = workspace->transforms.planning();
        }
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        pipeline.timer.record(planning == Planning::reused     ? "transform plans (FFTW: reused)"
                              : planning == Planning::wisdom   ? "transform plans (FFTW: from the wisdom file)"
                              : planning == Planning::measured ? "transform plans (FFTW: measured, once per machine)"
                                                               : "transform plans (FFTW: estimated, no wisdom file)",
                              ms);
    }
    Workspace& work = *workspace;
    float* const padded = work.plane.get();
    if (mirrored) {
        pipeline.stage("mirrored edges", [&] {
            // Pixel -1 mirrors pixel 0: the plane continues as its own mirror
            // image, repeating with the period 2n however far it is extended.
            auto mirror = [](std::size_t i, std::size_t before, std::size_t n) {
                const std::size_t j = (i + 2 * n - before % (2 * n)) % (2 * n);
                return j < n ? j : 2 * n - 1 - j;
            };
            std::vector<std::size_t> edges;  // the columns of the mirrored edges, left then right
            for (std::size_t x = 0; x < left; ++x) edges.push_back(mirror(x, left, width));
            for (std::size_t x = left + width; x < w; ++x) edges.push_back(mirror(x, left, width));
            const std::size_t right = w - left - width;
            for (std::size_t y = 0; y < h; ++y) {
                const float* row = plane_pixels + mirror(y, top, height) * width;
                float* to = padded + y * w;
                for (std::size_t x = 0; x < left; ++x) to[x] = row[edges[x]];
                std::copy_n(row, width, to + left);
                for (std::size_t x = 0; x < right; ++x) to[left + width + x] = row[edges[left + x]];
            }
        });
    } else {
        std::copy_n(plane_pixels, count, padded);
    }

    // The lattice mode surveys ln P, whose ring means lie Euler's constant
    // below ln of the mean power for exponentially distributed powers (noise,
    // and a ring of it with a few reflections). The Wiener mode needs the
    // ring's mean power itself, whatever the distribution (a specimen's
    // power is spread unevenly round a ring): it surveys P, and makes the ln
    // power spectrum only for a report.
    const bool mean_power = options.mode == Mode::wiener;
    const bool power_spectrum = !mean_power || for_report;
    // With the Hann window, the wiener mode transforms the plane alone and
    // takes the windowed plane's spectrum from it by the window's 3 x 3
    // stencil (hann_windowed_spectrum): one transform instead of two. The
    // sine window has no short stencil, and the lattice mode keeps the
    // route the report's figures were made by: the plug-in's window, then
    // its transform.
    const bool stencil = mean_power && options.window == Window::hann;
    Image windowed;
    if (!stencil) {
        windowed = pipeline.stage(
            options.window == Window::hann ? "apodisation (FFTWindow, Hann)" : "apodisation (FFTWindow, sine)", [&] {
                const Image input = pipeline.lend(host::data_type::real4, {w, h}, work.plane);
                return pipeline.image_call("FFTWindow", {input, static_cast<std::int32_t>(options.window), nullptr});
            });
    }
    // The windowed plane's amplitude in full (and its power on the half
    // plane in wiener mode); the plain plane's transform only as its half,
    // which the mask multiplies and the inverse transform takes.
    const char* forward_name =
        stencil ? "forward transform (FFTW), Hann window by its stencil" : "forward transforms (FFTW)";
    Image raw_spectrum = pipeline.stage(forward_name, [&] {
        float* half_power = mean_power ? work.spare_buffer() : nullptr;
        float* centred = power_spectrum ? work.centred_buffer() : nullptr;
        if (stencil) {
            work.transforms.forward(padded);
            hann_windowed_spectrum(work.transforms.half(), w, h, centred, work.amplitude.get(), half_power);
        } else {
            work.transforms.forward(static_cast<const float*>(windowed.data()));
            windowed = Image();  // the host may give its block to the next image
            expand_centred(work.transforms.half(), w, h, centred, work.amplitude.get(), half_power);
            work.transforms.forward(padded);
        }
        return pipeline.lend(host::data_type::complex8, {work.transforms.half_width(), h}, work.transforms.shared_half());
    });
    WienerPlane plane;
    if (for_report) plane.input.assign(plane_pixels, plane_pixels + width * height);
    plane.spectrum_width = w;
    plane.spectrum_height = h;
    if (power_spectrum) {
        plane.power = pipeline.stage("power spectrum (FCalculatePowerSpectrumDLL)", [&] {
            const Image spectrum = pipeline.lend(host::data_type::complex8, {w, h}, work.centred);
            return pipeline.image_call("FCalculatePowerSpectrumDLL", {spectrum});
        });
    }
    // A ring is 1/max(w, h) cycles per pixel wide along both axes, so rings
    // are circles in frequency however the plane is shaped.
    const double longer = static_cast<double>(std::max(w, h));
    const double scale_x = longer / static_cast<double>(w), scale_y = longer / static_cast<double>(h);
    plane.rings_per_cycle = longer;
    const double to_ln_mean_power = mean_power ? 0.0 : kEulerGamma;
    // The power is centrally symmetric (P(-u, -v) = P(u, v)): in wiener
    // mode the survey takes the half plane, the zero frequency at (0, h/2).
    // Its rings are those of the full plane; their means weigh the column
    // u = 0 (and u = w/2 of an even w) half as much as the rest.
    const Image survey = pipeline.stage(mean_power ? "radial survey of the half plane (FRadialSurvey)"
                                                   : "radial survey about the centre (FRadialSurvey)", [&] {
        if (mean_power) {
            const Image half_power = pipeline.lend(host::data_type::real4, {work.transforms.half_width(), h}, work.spare);
            return pipeline.image_call("FRadialSurvey", {half_power, std::int32_t{0}, static_cast<std::int32_t>(h / 2),
                                                         scale_x, scale_y});
        }
        return pipeline.image_call("FRadialSurvey", {plane.power, static_cast<std::int32_t>(w / 2),
                                                     static_cast<std::int32_t>(h / 2), scale_x, scale_y});
    });
    // Row 3 of the survey holds each ring's mean log power. The innermost
    // rings hold the zero frequency and what the window spreads around it
    // (one bin each way, a diagonal bin reaching hypot(scale_x, scale_y)
    // rings, and one ring more by interpolation): they are kept out of the
    // background (their mask is 1: they are signal).
    const auto rings = static_cast<std::size_t>(survey.size(0));
    std::vector<double> profile(rings);
    if (mean_power) {
        const auto rows = survey.pixels<float>();
        for (std::size_t k = 0; k < rings; ++k) profile[k] = std::log(static_cast<double>(rows[3 * rings + k]));
    } else {
        const auto rows = survey.pixels<float>();
        for (std::size_t k = 0; k < rings; ++k) profile[k] = rows[3 * rings + k];
    }
    const std::vector<double> surveyed_profile = profile;
    if (std::any_of(profile.begin(), profile.end(), [](double v) { return v == INFINITY; })) {
        throw WienerRefusal("the image's power spectrum overflows 4-byte reals: its values are too large; scale them down");
    }
    const auto leaked = static_cast<std::size_t>(std::ceil(std::hypot(scale_x, scale_y))) + 1;
    const std::size_t first_background_ring = std::min(leaked, rings - 1);
    for (std::size_t k = 0; k < first_background_ring; ++k) profile[k] = profile[first_background_ring];
    for (std::size_t k = 1; k < rings; ++k) {
        if (!std::isfinite(profile[k])) profile[k] = profile[k - 1];
    }

    const auto background = pipeline.stage("Whittaker smoothing (FCreateFwhitsmMatrixDLL, LAPACK)", [&] {
        const std::size_t sample = std::min(rings, kPenaltySample);
        const Image penalty = pipeline.image_call("FCreateFwhitsmMatrixDLL",
                                                  {static_cast<std::int32_t>(sample), options.lambda});
        return whittaker_solve(penalty.pixels<double>(), sample, profile);
    });
    // The noise power N: shot noise is white, so the outermost rings, where a
    // specimen's own power has fallen away, hold noise alone; the median of
    // the rings keeps a lattice reflection among them from raising it.
    const double nyquist_ring = longer / 2;
    std::vector<double> outer;
    for (auto k = static_cast<std::size_t>(std::ceil(kNoiseRingsFrom * nyquist_ring));
         k <= static_cast<std::size_t>(kNoiseRingsTo * nyquist_ring) && k < rings; ++k) {
        if (!std::isnan(surveyed_profile[k])) outer.push_back(surveyed_profile[k]);
    }
    std::sort(outer.begin(), outer.end());
    const double outer_median =
        outer.empty() ? NAN : (outer[(outer.size() - 1) / 2] + outer[outer.size() / 2]) / 2;
    plane.noise_ln_mean = outer_median;
    plane.noise_power = std::exp(outer_median + to_ln_mean_power);
    if (options.mode == Mode::wiener && !(std::isfinite(plane.noise_power) && plane.noise_power > 0)) {
        throw WienerRefusal(
            "the noise power cannot be estimated: the outermost rings of the spectrum hold no power (an image "
            "without noise, one filtered already, or values too small for 4-byte reals); --mode lattice needs no "
            "noise estimate");
    }
    // A white noise of variance v per pixel has the power v times the sum of
    // the squared window: per axis, its mean square is 3/8 (Hann) or 1/2 (sine).
    const double window_square = options.window == Window::hann ? 9.0 / 64.0 : 1.0 / 4.0;
    plane.noise_variance = plane.noise_power / (window_square * static_cast<double>(count));
    plane.threshold_offset = to_ln_mean_power + std::log(options.margin());

    // Each term is (A^2 - B^2) / A^2 of FCreateWienerMaskDLL. The lattice
    // term: A the amplitude, B^2 the margin times the ring's mean power. The
    // Wiener term: A^2 the ring's mean power S + N, B^2 = N, giving S / (S + N).
    const auto* amplitude = work.amplitude.get();
    Image wiener_mask;
    if (mean_power) {
        // One warp serves both terms: the lattice base is the ring power
        // times sqrt(margin) (the warp interpolates linearly, so scaling
        // before or after it differs only in rounding).
        Image ring_power = pipeline.stage("ring power into 2-D (FRadialWarpDLL)", [&] {
            std::vector<float> total(rings);
            for (std::size_t k = 0; k < rings; ++k) total[k] = static_cast<float>(std::exp(0.5 * background[k]));
            const Image profile_image =
                pipeline.make(host::data_type::real4, {rings}, total.data(), total.size() * sizeof(float));
            // FRadialWarpDLL takes only the sizes of its first image.
            const Image size_source = pipeline.lend(host::data_type::real4, {w, h}, work.amplitude);
            return pipeline.image_call("FRadialWarpDLL", {size_source, profile_image, scale_x, scale_y});
        });
        wiener_mask = pipeline.stage("Wiener mask (FCreateWienerMaskDLL)", [&] {
            // The lattice base first: the mask writes 1 over a zero amplitude.
            const float* ring = static_cast<const float*>(ring_power.data());
            const double factor = std::exp(0.5 * plane.threshold_offset);
            for (std::size_t i = 0; i < count; ++i) padded[i] = static_cast<float>(ring[i] * factor);
            std::fill_n(work.spare_buffer(), count, static_cast<float>(std::sqrt(plane.noise_power)));
            const Image noise = pipeline.lend(host::data_type::real4, {w, h}, work.spare);
            Image wiener = pipeline.image_call("FCreateWienerMaskDLL", {ring_power, noise});
            ring_power = Image();
            return wiener;
        });
        plane.mask = pipeline.stage("lattice mask (FCreateWienerMaskDLL), the ring power scaled", [&] {
            const Image amplitude_image = pipeline.lend(host::data_type::real4, {w, h}, work.amplitude);
            const Image base = pipeline.lend(host::data_type::real4, {w, h}, work.plane);
            return pipeline.image_call("FCreateWienerMaskDLL", {amplitude_image, base});
        });
    } else {
        const Image lattice_base = pipeline.stage("background into 2-D (FRadialWarpDLL)", [&] {
            std::vector<float> base(rings);
            for (std::size_t k = 0; k < rings; ++k) {
                base[k] = static_cast<float>(std::exp(0.5 * (background[k] + plane.threshold_offset)));
            }
            const Image profile_image =
                pipeline.make(host::data_type::real4, {rings}, base.data(), base.size() * sizeof(float));
            return pipeline.image_call("FRadialWarpDLL", {plane.power, profile_image, scale_x, scale_y});
        });
        plane.mask = pipeline.stage("lattice mask (FCreateWienerMaskDLL)", [&] {
            const Image amplitude_image = pipeline.lend(host::data_type::real4, {w, h}, work.amplitude);
            return pipeline.image_call("FCreateWienerMaskDLL", {amplitude_image, lattice_base});
        });
    }
    // What the mask keeps of the power above the noise (in lattice mode too,
    // with the same estimate of N), how many frequencies it passes, and its
    // half for the product, in one pass.
    pipeline.stage(mean_power ? "mask: the larger of the two, its sums and half" : "mask: its sums and half", [&] {
        float* mask = static_cast<float*>(const_cast<void*>(plane.mask.data()));
        const float* wiener = mean_power ? static_cast<const float*>(wiener_mask.data()) : nullptr;
        const MaskSums sums = finish_mask(mask, wiener, amplitude, w, h, scale_x, scale_y,
                                          static_cast<double>(leaked), plane.noise_power, padded);
        wiener_mask = Image();
        plane.mask_passed = sums.passed;
        plane.kept_fraction = sums.above > 0 ? std::clamp(sums.kept / sums.above, 0.0, 1.0) : 1.0;
    });
    // The mask is centrally symmetric (of amplitudes and radii), so the
    // product stays Hermitian: its half is all the inverse transform needs.
    Image product = pipeline.stage("mask applied (FElementWiseProductComplexByRealDLL)", [&] {
        const Image half_mask = pipeline.lend(host::data_type::real4, {work.transforms.half_width(), h}, work.plane);
        Image applied = pipeline.image_call("FElementWiseProductComplexByRealDLL", {raw_spectrum, half_mask});
        raw_spectrum = Image();
        return applied;
    });
    pipeline.stage("inverse transform (FFTW), scaled and cropped", [&] {
        // The product is this pipeline's own: the transform may overwrite it.
        work.transforms.inverse(static_cast<float*>(const_cast<void*>(product.data())), padded);
        product = Image();
        const float scale = 1.0f / (static_cast<float>(w) * static_cast<float>(h));
        for (std::size_t y = 0; y < height; ++y) {
            float* row = padded + (y + top) * w + left;
            for (std::size_t x = 0; x < width; ++x) row[x] *= scale;
            std::memcpy(out + y * width * sizeof(float), row, width * sizeof(float));
        }
    });
    if (for_report) {
        plane.filtered.resize(width * height);
        std::memcpy(plane.filtered.data(), out, width * height * sizeof(float));
    }
    plane.profile = std::move(profile);
    plane.background = background;
    plane.stages = std::move(pipeline.timer.stages);
    return plane;
}

// Gives the workspace back for the next run, however this one ends.
class WorkspaceReturn {
public:
    explicit WorkspaceReturn(std::unique_ptr<Workspace>& workspace) : workspace_(workspace) {}
    WorkspaceReturn(const WorkspaceReturn&) = delete;
    WorkspaceReturn& operator=(const WorkspaceReturn&) = delete;
    ~WorkspaceReturn() {
        if (workspace_) kept_workspace().give_back(std::move(workspace_));
    }

private:
    std::unique_ptr<Workspace>& workspace_;
};

}  // namespace

WienerResult wiener_filter(Host& host, const files::ImageData& input, const WienerOptions& options,
                           std::FILE* progress, bool for_report) {
    WienerResult result =
        wiener_filter(host, PixelView{input.data_type, input.sizes, input.bytes.data()}, options, progress, for_report);
    result.filtered.pixel_size = input.pixel_size;
    return result;
}

WienerResult wiener_filter(Host& host, const PixelView& input, const WienerOptions& options, std::FILE* progress,
                           bool for_report) {
    StageTimer timer(progress);
    const PreparedImage image = timer.run("4-byte real planes, non-finite pixels replaced", [&] { return prepare(input); });
    const bool mirrored = options.mode == Mode::wiener;
    if (mirrored && mirrored_side(image.width) * mirrored_side(image.height) >= (std::uint64_t{1} << 31)) {
        throw WienerRefusal("a plane of 2^31 pixels or more with its mirrored edges is too large for the plug-in's "
                            "Fourier functions (--mode lattice mirrors none)");
    }
    WienerResult result;
    result.planes = image.planes;
    result.replaced_pixels = image.replaced_pixels;
    result.filtered.data_type = host::data_type::real4;
    result.filtered.sizes = input.sizes;
    result.filtered.bytes.resize(image.planes * image.width * image.height * sizeof(float));
    const std::size_t plane_pixels = image.width * image.height;
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<Workspace> workspace =
        kept_workspace().take(mirrored ? mirrored_side(image.width) : image.width,
                              mirrored ? mirrored_side(image.height) : image.height);
    const WorkspaceReturn give_back(workspace);
    for (std::uint64_t k = 0; k < image.planes; ++k) {
        WienerPlane plane = filter_plane(host, image.data() + k * plane_pixels, image.width, image.height,
                                         options, for_report && k == 0,
                                         result.filtered.bytes.data() + k * plane_pixels * sizeof(float),
                                         image.planes == 1 ? progress : nullptr, workspace);
        if (k == 0) {
            result.stages = plane.stages;
            result.first = std::move(plane);
        } else {
            // By name: only the first plane makes the report's ln power
            // spectrum; the plans' line is first in every plane.
            result.stages.front().milliseconds += plane.stages.front().milliseconds;
            for (std::size_t s = 1; s < plane.stages.size(); ++s) {
                for (Stage& sum : result.stages) {
                    if (sum.name == plane.stages[s].name) sum.milliseconds += plane.stages[s].milliseconds;
                }
            }
        }
        if (image.planes > 1 && progress != nullptr) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double left = elapsed / static_cast<double>(k + 1) * static_cast<double>(image.planes - k - 1);
            std::fprintf(progress, "  plane %llu of %llu filtered, %.1f s so far, about %.1f s left\n",
                         static_cast<unsigned long long>(k + 1), static_cast<unsigned long long>(image.planes),
                         elapsed, left);
            std::fflush(progress);
        }
    }
    result.stages.insert(result.stages.begin(), timer.stages.front());
    result.type_name = image.type_name;
    result.converted = image.converted;
    return result;
}

}  // namespace zorvan::wiener
