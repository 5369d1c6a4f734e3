#pragma once
// The Wiener filter of a real image, built from the plug-in's functions
// called through the host: the job of `zorvan wiener`, and of the demo on
// its synthetic lattice.

#include "files/image_io.h"
#include "host/host.h"

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorvan::demo {

// The FFTWindow mode.
enum class Window : std::int32_t { hann = 0, sine = 1 };

struct WienerOptions {
    double noise_margin = 4.0;  // the mask passes power above this many times the background
    double lambda = 1000.0;     // Whittaker smoothing weight
    Window window = Window::hann;
};

// The smallest plane the filter works on, per side: below it the radial
// profile has too few rings to tell the background from the signal.
inline constexpr std::uint64_t kMinimumSide = 16;

struct Stage {
    std::string name;
    double milliseconds;
};

// One plane through the filter, with what the report shows of it.
struct WienerPlane {
    std::vector<float> input;         // the plane as filtered: 4-byte real, non-finite pixels replaced
    std::vector<float> filtered;      // width x height
    host::Image power;                // ln power of the apodised plane, zero frequency at (w/2, h/2)
    host::Image mask;                 // on the same geometry
    std::vector<double> profile;      // mean ln power per ring
    std::vector<double> background;   // its smoothed background, the same quantity
    double threshold_offset = 0;      // the mask passes ln power above background + this
    double rings_per_cycle = 0;       // rings per cycle per pixel: the larger side
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
};

// The input as 4-byte real planes (integer and 8-byte real pixels are
// converted), non-finite pixels replaced by the mean of their plane's finite
// ones. Throws WienerRefusal for complex or packed pixels, planes smaller
// than kMinimumSide a side or of 2^31 pixels or more, and a plane with no
// finite pixel or that is constant.
struct PreparedImage {
    std::uint64_t width = 0, height = 0, planes = 0;
    std::vector<float> pixels;
    std::uint64_t replaced_pixels = 0;
};
PreparedImage prepare(const files::ImageData& input);

// Filters one plane (4-byte real, width x height), printing a line per stage
// to `progress` (may be null). Throws std::runtime_error when a stage fails.
WienerPlane wiener_plane(host::Host& host, const float* pixels, std::uint64_t width, std::uint64_t height,
                         const WienerOptions& options, std::FILE* progress);

// Filters every plane of the input: stage lines for a single plane, a line
// per plane with the time left for a stack. Refuses before any work.
WienerResult wiener_filter(host::Host& host, const files::ImageData& input, const WienerOptions& options,
                           std::FILE* progress);

}  // namespace zorvan::demo
