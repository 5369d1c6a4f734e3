#pragma once
// The Wiener filter's Fourier transforms: FFTW's real-to-complex and
// complex-to-real transforms of one size, planned once per size and process
// (FFTW_MEASURE, the wisdom kept in a cache file so that later runs skip the
// planning and every run uses the same plans, hence the same bits; FFTW_ESTIMATE
// where the cache cannot be written), on buffers reused between the planes of
// a stack.

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

class RealTransforms {
public:
    // Gets the plans of w x h (row-major, w the fast axis), planning them if
    // this process has not yet: planned() then says so.
    RealTransforms(std::size_t w, std::size_t h);
    ~RealTransforms();
    RealTransforms(const RealTransforms&) = delete;
    RealTransforms& operator=(const RealTransforms&) = delete;

    bool planned() const { return planned_; }
    std::size_t half_width() const { return w_ / 2 + 1; }

    // FFTW-aligned buffers: w x h reals, and (w/2 + 1) x h interleaved
    // complex values, the non-redundant half of a real plane's transform.
    float* real() { return real_.get(); }
    float* half() { return half_.get(); }
    // The half buffer as shared memory, for an image that lends it.
    std::shared_ptr<float[]> shared_half() { return half_; }
    std::shared_ptr<float[]> shared_real() { return real_; }

    // `in` (w x h) into half(), unscaled; `in` is left as it was.
    void forward(const float* in);
    // The half spectrum `in` ((w/2 + 1) x h) into real(), unscaled; `in` is
    // overwritten.
    void inverse(float* in);

private:
    std::size_t w_, h_;
    bool planned_ = false;
    const void* plans_;
    std::shared_ptr<float[]> real_, half_;
};

}  // namespace zorvan::wiener
