#pragma once
// The Wiener filter's Fourier transforms: FFTW's real-to-complex and
// complex-to-real transforms of one size, planned once per size, thread
// count and process (FFTW_MEASURE, the wisdom kept in a cache file so that
// later runs skip the planning and every run uses the same plans, hence the
// same bits; FFTW_ESTIMATE where the cache cannot be written), on buffers
// reused between the planes of a stack. Plans for two threads may split the
// work otherwise than one thread's and round differently in the last place:
// the same bits for the same thread count.

#include <cstddef>
#include <memory>
#include <string>

namespace zorvan::wiener {

// The cache file of FFTW's wisdom: $XDG_CACHE_HOME/zorvan/fftw-wisdom, else
// $HOME/.cache/zorvan/fftw-wisdom; empty when neither is set.
std::string wisdom_path();

// A buffer of `count` floats, aligned for FFTW's plans, uninitialised (fresh
// zero pages, huge pages asked for, from 32 MiB on).
std::shared_ptr<float[]> plane_buffer(std::size_t count);

// How a RealTransforms got its plans.
enum class Planning {
    reused,     // made earlier in this process
    wisdom,     // from the wisdom file, without timing anything
    measured,   // by FFTW_MEASURE now, and kept in the wisdom file
    estimated,  // by FFTW_ESTIMATE: no wisdom file can be written
};

class RealTransforms {
public:
    // Gets the plans of w x h (row-major, w the fast axis) for as many
    // threads as OpenMP would use here (omp_get_max_threads: OMP_NUM_THREADS
    // or the Python package's setting), planning them if this process has
    // not yet: planning() says how, and planning_milliseconds() how long
    // it took.
    RealTransforms(std::size_t w, std::size_t h);
    ~RealTransforms();
    RealTransforms(const RealTransforms&) = delete;
    RealTransforms& operator=(const RealTransforms&) = delete;

    Planning planning() const { return planning_; }
    double planning_milliseconds() const { return planning_ms_; }
    int threads() const { return threads_; }
    std::size_t width() const { return w_; }
    std::size_t height() const { return h_; }
    std::size_t half_width() const { return w_ / 2 + 1; }

    // The FFTW-aligned buffer of (w/2 + 1) x h interleaved complex values,
    // the non-redundant half of a real plane's transform, where forward()
    // writes.
    float* half() { return half_.get(); }
    // The same, as shared memory, for an image that lends it.
    std::shared_ptr<float[]> shared_half() { return half_; }

    // `in` (w x h) into half(), unscaled; `in` is left as it was.
    void forward(const float* in);
    // The half spectrum `in` ((w/2 + 1) x h) into `out` (w x h), unscaled;
    // `in` is overwritten. Buffers from plane_buffer() (or any aligned as
    // they are) are taken as they are, others through a copy.
    void inverse(float* in, float* out);

private:
    std::size_t w_, h_;
    int threads_ = 1;
    Planning planning_ = Planning::reused;
    double planning_ms_ = 0;
    const void* plans_;
    std::shared_ptr<float[]> half_;
};

// The spectrum of a plane times FFTWindow's Hann window, from the plane's
// own half transform `half` ((w/2 + 1) x h, as forward() writes it),
// without transforming the windowed plane. Writes the amplitude of the full
// windowed transform, zero frequency at (w/2, h/2), into `amplitude`
// (w x h); its power on the half plane into `half_power` ((w/2 + 1) x h,
// column kx, row ky + h/2: zero frequency at (0, h/2)); and, when `centred`
// is not null, the full windowed transform itself (w x h complex, centred).
void hann_windowed_spectrum(const float* half, std::size_t w, std::size_t h, float* centred, float* amplitude,
                            float* half_power);

}  // namespace zorvan::wiener
