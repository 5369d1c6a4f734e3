#pragma once
// The Wiener filter of a real image, built from the plug-in's functions
// called through the host: the job of `zorvan wiener`, and of the demo on
// its synthetic lattice.

#include "files/image_io.h"
#include "host/host.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace zorvan::wiener {

// The FFTWindow mode.
enum class Window : std::int32_t { hann = 0, sine = 1 };

// What the mask is made of.
//  wiener:  the classical Wiener filter S / (S + N) of each ring, N the white
//           noise power of the spectrum's outermost rings and S the ring's
//           smoothed mean power less N, together with the lattice mask
//           (whichever passes more at each frequency): for any image.
//  lattice: only the reflections standing `noise_margin` times above the
//           mean power of their ring: average background subtraction, for
//           crystal lattices; it removes what is the same in every
//           direction, a specimen's non-periodic detail included.
enum class Mode : std::int32_t { wiener = 0, lattice = 1 };

struct WienerOptions {
    double noise_margin = NAN;  // the lattice mask passes power above this many times the ring's mean; NaN: the mode's
    double lambda = 1000.0;     // Whittaker smoothing weight
    Window window = Window::hann;
    Mode mode = Mode::wiener;

    // The margin given, else the mode's: 8 in wiener mode, where the Wiener
    // term keeps what a lower margin would add (chosen by measurement over
    // the four synthetic kinds), and 4 in lattice mode, as it always was.
    double margin() const { return std::isnan(noise_margin) ? (mode == Mode::wiener ? 8.0 : 4.0) : noise_margin; }
};

// In wiener mode each plane is extended by this many pixels on every side,
// mirrored, before the transform, which treats a plane as periodic: without
// it, opposite edges meet, and a filter that keeps edges smears one into the
// other (0.2 to 0.5 dB lost on sharp-edged particles, measured).
// At least that many on each side, more to make a side FFTW transforms fast,
// split evenly (the extra pixel after).
inline constexpr std::uint64_t kMirrorPadding = 16;
std::uint64_t mirrored_side(std::uint64_t side);

// The outermost rings the noise power is taken from: between these
// fractions of the Nyquist frequency along the shorter axis' scale.
inline constexpr double kNoiseRingsFrom = 0.75;
inline constexpr double kNoiseRingsTo = 1.0;

// The smallest plane the filter works on, per side: below it the radial
// profile has too few rings to tell the background from the signal.
inline constexpr std::uint64_t kMinimumSide = 16;

struct Stage {
    std::string name;
    double milliseconds;
};

// Times named steps of a run, printing a line for each to `progress` (may
// be null) as it ends: the one clock of the filter, the command and the demo.
class StageTimer {
public:
    explicit StageTimer(std::FILE* progress) : progress_(progress) {}

    template <class Work>
    decltype(auto) run(const std::string& name, Work&& work) {
        const auto start = std::chrono::steady_clock::now();
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            finish(name, start);
        } else {
            auto result = work();
            finish(name, start);
            return result;
        }
    }

    // A step timed otherwise, whose name depends on what it did.
    void record(const std::string& name, double milliseconds);

    std::vector<Stage> stages;

private:
    void finish(const std::string& name, std::chrono::steady_clock::time_point start);
    std::FILE* progress_;
};

// One plane through the filter, with what the report shows of it (input,
// filtered and power only when a report is asked: in wiener mode the ln
// power spectrum is made for the report alone).
struct WienerPlane {
    std::vector<float> input;         // the plane as filtered: 4-byte real, non-finite pixels replaced
    std::vector<float> filtered;      // width x height
    host::Image power;                // ln power of the apodised plane, zero frequency at (w/2, h/2)
    host::Image mask;                 // zero frequency at (w/2, h/2)
    std::uint64_t spectrum_width = 0, spectrum_height = 0;  // the plane's, with its mirrored edges
    std::vector<double> profile;      // mean ln power per ring
    std::vector<double> background;   // its smoothed background, the same quantity
    double threshold_offset = 0;      // the lattice mask passes ln power above background + this
    double rings_per_cycle = 0;       // rings per cycle per pixel: the larger side
    double noise_power = 0;           // N, in the power of the apodised plane's transform
    double noise_variance = 0;        // N as the variance per pixel of a white noise (counts for shot noise)
    double noise_ln_mean = 0;         // the mean ln power of noise alone: on the profile's scale
    double kept_fraction = 0;         // of the power above N, outside the zero frequency, what the mask keeps
    std::uint64_t mask_passed = 0;    // pixels of the mask at 0.5 or more
    std::vector<Stage> stages;
};

// An image the filter cannot work on. Nothing is written.
class WienerRefusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct WienerResult {
    files::ImageData filtered;          // 4-byte real, the input's sizes
    WienerPlane first;                  // the first plane in full, for the report
    std::vector<Stage> stages;          // summed over the planes
    std::uint64_t planes = 0;
    std::uint64_t replaced_pixels = 0;  // NaN or infinite, replaced by the mean of their plane's finite pixels
    std::string type_name;              // the input's pixel type
    bool converted = false;             // whether its pixels were converted to 4-byte real
};

// Below this kept fraction the lattice mode warns that it removes the
// specimen: the text is kLittlePeriodicContent.
inline constexpr double kLatticeWarningFraction = 0.5;
inline constexpr const char* kLittlePeriodicContent =
    "this image shows little periodic content: the default mode keeps non-periodic detail";

// The input as 4-byte real planes (integer and 8-byte real pixels are
// converted, 4-byte reals read in place unless a pixel is replaced),
// non-finite pixels replaced by the mean of their plane's finite ones.
// Throws WienerRefusal for complex or packed pixels, planes smaller than
// kMinimumSide a side or of 2^31 pixels or more, and a plane with no
// finite pixel or that is constant.
struct PreparedImage {
    std::uint64_t width = 0, height = 0, planes = 0;
    std::string type_name;   // the input's pixel type, as `zorvan info` names it
    bool converted = false;  // its pixels were not 4-byte real
    std::vector<float> pixels;        // the planes converted, or empty: they are the input's own 4-byte reals
    const float* borrowed = nullptr;  // then those, valid while the input is
    std::uint64_t replaced_pixels = 0;

    const float* data() const { return pixels.empty() ? borrowed : pixels.data(); }
};
// Pixels the caller holds, packed, of `data_type` and `sizes` (x first).
struct PixelView {
    std::int32_t data_type = 0;
    std::vector<std::uint64_t> sizes;
    const std::byte* bytes = nullptr;
};
PreparedImage prepare(const PixelView& input);

// Filters every plane of the input: stage lines for a single plane, a line
// per plane with the time left for a stack. Refuses before any work.
// `for_report`: `first` keeps what the report shows. The transforms' plans
// and the buffers of the last size filtered are kept for the next run in
// the process (about three planes of the size with its mirrored edges).
WienerResult wiener_filter(host::Host& host, const files::ImageData& input, const WienerOptions& options,
                           std::FILE* progress, bool for_report = false);
// The same on pixels the caller holds (no copy of them first); the result
// has no pixel size.
WienerResult wiener_filter(host::Host& host, const PixelView& input, const WienerOptions& options,
                           std::FILE* progress, bool for_report = false);

}  // namespace zorvan::wiener
