// FFTW plans made once per size and process. Creating a plan is not
// thread-safe in FFTW (executing one is): every planning, and the wisdom's
// import and export, is under one mutex, whatever thread the Python package
// calls from. Plans live until the process ends.

#include "wiener/transforms.h"

#include <fftw3.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

namespace zorvan::wiener {

namespace {

struct Plans {
    fftwf_plan forward = nullptr, inverse = nullptr;
};

std::mutex planning_lock;

// By width, height and threads.
using PlanKey = std::tuple<std::size_t, std::size_t, int>;

std::map<PlanKey, Plans>& plans_by_size() {
    static auto* plans = new std::map<PlanKey, Plans>;
    return *plans;
}

// Aligned beyond any SIMD width FFTW uses, so that a plan made on one buffer
// runs on any other (fftwf_alignment_of is 0 for both).
constexpr std::align_val_t kAlignment{64};

}  // namespace

// The workspace's buffers, kept for the next run of the same size: from
// 32 MiB on a block straight from the kernel, with transparent huge pages
// asked for, costs few page faults (at 4096 x 4096, faulting in the filter's
// buffers page by page took longer than the transforms themselves). The
// host's images come from its own pool of recent blocks instead.
std::shared_ptr<float[]> plane_buffer(std::size_t count) {
    constexpr std::size_t mapped_from = std::size_t{32} << 20;
    const std::size_t bytes = std::max<std::size_t>(count, 1) * sizeof(float);
    if (bytes >= mapped_from) {
        void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) throw std::bad_alloc();
        ::madvise(memory, bytes, MADV_HUGEPAGE);  // advice only: its failure changes nothing
        return std::shared_ptr<float[]>(static_cast<float*>(memory), [bytes](float* p) { ::munmap(p, bytes); });
    }
    auto* data = static_cast<float*>(::operator new(bytes, kAlignment));
    return std::shared_ptr<float[]>(data, [](float* p) { ::operator delete(p, kAlignment); });
}

namespace {

// The wisdom file's lock, held while a process plans: processes starting
// together (Dask workers) then plan a size once between them, and all run
// the same plans. Without a writable cache there is no lock (-1).
class CacheLock {
public:
    explicit CacheLock(const std::string& path) {
        if (path.empty()) return;
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
        if (error) return;
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    CacheLock(const CacheLock&) = delete;
    CacheLock& operator=(const CacheLock&) = delete;
    ~CacheLock() {
        if (fd_ >= 0) ::close(fd_);  // releases the lock
    }
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Writes the wisdom beside its final place and renames it, so that a run
// reading the file meanwhile never sees half of it.
void save_wisdom(const std::string& path) {
    std::error_code error;
    const std::string temporary = path + "." + std::to_string(::getpid()) + ".tmp";
    if (fftwf_export_wisdom_to_filename(temporary.c_str()) == 0) {
        std::filesystem::remove(temporary, error);
        return;
    }
    std::filesystem::rename(temporary, path, error);
    if (error) std::filesystem::remove(temporary, error);
}

}  // namespace

std::string wisdom_path() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/zorvan/fftw-wisdom";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/zorvan/fftw-wisdom";
    return "";
}

RealTransforms::RealTransforms(std::size_t w, std::size_t h)
    : w_(w), h_(h), threads_(std::max(1, omp_get_max_threads())), half_(plane_buffer(2 * (w / 2 + 1) * h)) {
    std::lock_guard lock(planning_lock);
    static const bool threads_ready = fftwf_init_threads() != 0;
    if (!threads_ready) threads_ = 1;
    Plans& plans = plans_by_size()[{w, h, threads_}];
    if (plans.forward == nullptr || plans.inverse == nullptr) {
        const auto start = std::chrono::steady_clock::now();
        // FFTW_MEASURE chooses among algorithms by timing them, and two
        // choices may round differently (in the last place of a 4-byte real):
        // a choice is made once per machine, under the lock, and kept in the
        // wisdom file, which every process reads before it plans a size, so
        // that an image gives the same bits in every run. Where the cache
        // cannot be written, FFTW_ESTIMATE's choice, the same in every run
        // without timing (and slower: 403 against 71 ms at 4096 x 4096, measured on
        // a 2-core machine).
        const std::string path = wisdom_path();
        const CacheLock lock(path);
        fftwf_plan_with_nthreads(threads_);
        if (lock.held()) fftwf_import_wisdom_from_filename(path.c_str());
        // FFTW_MEASURE overwrites the buffers it plans on: a real plane made
        // for the planning only, and the (empty) half.
        const std::shared_ptr<float[]> real = plane_buffer(w * h);
        const int rows = static_cast<int>(h), columns = static_cast<int>(w);
        auto* complex = reinterpret_cast<fftwf_complex*>(half_.get());
        const auto plan = [&](unsigned flags) {
            if (plans.forward != nullptr) fftwf_destroy_plan(plans.forward);
            if (plans.inverse != nullptr) fftwf_destroy_plan(plans.inverse);
            plans.forward = fftwf_plan_dft_r2c_2d(rows, columns, real.get(), complex, flags);
            plans.inverse = fftwf_plan_dft_c2r_2d(rows, columns, complex, real.get(), flags);
            return plans.forward != nullptr && plans.inverse != nullptr;
        };
        bool made = false;
        if (lock.held() && plan(FFTW_MEASURE | FFTW_WISDOM_ONLY)) {
            planning_ = Planning::wisdom;
            made = true;
        } else {
            planning_ = lock.held() ? Planning::measured : Planning::estimated;
            made = plan(lock.held() ? FFTW_MEASURE : FFTW_ESTIMATE);
        }
        if (!made) {
            throw std::runtime_error("FFTW could not plan the transforms of " + std::to_string(w) + " x " +
                                     std::to_string(h));
        }
        if (planning_ == Planning::measured) save_wisdom(path);
        planning_ms_ = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    plans_ = &plans;  // map nodes do not move
}

RealTransforms::~RealTransforms() = default;

void RealTransforms::forward(const float* in) {
    std::shared_ptr<float[]> aligned;
    if (fftwf_alignment_of(const_cast<float*>(in)) != 0) {
        aligned = plane_buffer(w_ * h_);
        std::copy_n(in, w_ * h_, aligned.get());
        in = aligned.get();
    }
    // r2c leaves its input as it was (FFTW's default for all but c2r).
    fftwf_execute_dft_r2c(static_cast<const Plans*>(plans_)->forward, const_cast<float*>(in),
                          reinterpret_cast<fftwf_complex*>(half_.get()));
}

void RealTransforms::inverse(float* in, float* out) {
    std::shared_ptr<float[]> aligned_in, aligned_out;
    if (fftwf_alignment_of(in) != 0) {
        aligned_in = plane_buffer(2 * half_width() * h_);
        std::copy_n(in, 2 * half_width() * h_, aligned_in.get());
        in = aligned_in.get();
    }
    float* to = out;
    if (fftwf_alignment_of(out) != 0) {
        aligned_out = plane_buffer(w_ * h_);
        to = aligned_out.get();
    }
    fftwf_execute_dft_c2r(static_cast<const Plans*>(plans_)->inverse, reinterpret_cast<fftwf_complex*>(in), to);
    if (to != out) std::copy_n(to, w_ * h_, out);
}

// FFTWindow's Hann window is periodic and separable: 0.5 - 0.5 cos(2 pi x / N)
// per axis, (e^{i t} + e^{-i t}) / 2 for the cosine, so each axis' window is
// 0.5 - 0.25 e^{2 pi i x / N} - 0.25 e^{-2 pi i x / N}. Multiplying a plane
// by e^{2 pi i x / N} shifts its transform by one bin, so the windowed
// plane's transform is the plane's, convolved circularly with the taps
// [-0.25, 0.5, -0.25] along each axis: Fw[k, l] = sum over a, b in {-1, 0, 1}
// of c_a c_b F[k + a, l + b], c_0 = 0.5, c_1 = c_-1 = -0.25. The half
// spectrum lacks the neighbours of its first column (k = -1) and of its
// last (k = w/2 + 1; for an odd w, k = (w + 1)/2): a real plane's transform
// is Hermitian, F[-k, -l] = conj F[k, l], so they are the conjugates of
// columns 1 and w - (w/2 + 1) of row -l. The windowed transform is Hermitian
// too: its half gives the full amplitude, element (k, l) at the centred
// (k + w/2, l + h/2) and (-k + w/2, -l + h/2), modulo the sides. In float:
// the error is a few units of the last place of the largest terms, as the
// transform of the windowed plane's own is.
void hann_windowed_spectrum(const float* half, std::size_t w, std::size_t h, float* centred, float* amplitude,
                            float* half_power) {
    const std::size_t hw = w / 2 + 1, shift = w / 2, past = w - hw;
    // The rows filtered along x, three at a time (l - 1, l, l + 1), and row 0
    // kept for the last row's wrap.
    std::vector<float> rows(4 * 2 * hw);
    float* first = rows.data() + 3 * 2 * hw;
    const auto along_x = [&](std::size_t l, float* out) {
        const float* f = half + 2 * l * hw;
        const float* m = half + 2 * ((h - l) % h) * hw;  // row -l
        for (std::size_t i = 2; i < 2 * hw - 2; ++i) out[i] = 0.5f * f[i] - 0.25f * (f[i - 2] + f[i + 2]);
        // Column 0: its left neighbour is conj F[1, -l].
        out[0] = 0.5f * f[0] - 0.25f * (m[2] + f[2]);
        out[1] = 0.5f * f[1] - 0.25f * (-m[3] + f[3]);
        // The last column: its right neighbour is conj F[w - hw, -l].
        const std::size_t k = 2 * (hw - 1);
        out[k] = 0.5f * f[k] - 0.25f * (f[k - 2] + m[2 * past]);
        out[k + 1] = 0.5f * f[k + 1] - 0.25f * (f[k - 1] - m[2 * past + 1]);
    };
    float* before = rows.data();
    float* at = rows.data() + 2 * hw;
    float* spare = rows.data() + 4 * hw;
    along_x(h - 1, before);
    along_x(0, first);
    std::copy_n(first, 2 * hw, at);
    std::vector<float> g(2 * hw), a(hw);
    for (std::size_t l = 0; l < h; ++l) {
        float* after = spare;
        if (l + 1 < h) {
            along_x(l + 1, after);
        } else {
            after = first;
        }
        for (std::size_t i = 0; i < 2 * hw; ++i) g[i] = 0.5f * at[i] - 0.25f * (before[i] + after[i]);
        // In double, so that no square overflows: as close as hypotf.
        for (std::size_t k = 0; k < hw; ++k) {
            const double re = g[2 * k], im = g[2 * k + 1];
            a[k] = static_cast<float>(std::sqrt(re * re + im * im));
        }
        const std::size_t row = (l + h / 2) % h, mirror_row = ((h - l) % h + h / 2) % h;
        float* p = half_power + row * hw;
        for (std::size_t k = 0; k < hw; ++k) p[k] = a[k] * a[k];
        float* direct = amplitude + row * w;
        float* mirrored = amplitude + mirror_row * w;
        for (std::size_t k = 0; k < w - shift; ++k) direct[shift + k] = a[k];
        if (w % 2 == 0) direct[0] = a[shift];
        for (std::size_t k = 0; k < hw; ++k) mirrored[shift - k] = a[k];
        if (centred != nullptr) {
            float* out = centred + 2 * row * w;
            float* out_mirrored = centred + 2 * mirror_row * w;
            std::copy_n(g.data(), 2 * (w - shift), out + 2 * shift);
            if (w % 2 == 0) {
                out[0] = g[2 * shift];
                out[1] = g[2 * shift + 1];
            }
            for (std::size_t k = 0; k < hw; ++k) {
                out_mirrored[2 * (shift - k)] = g[2 * k];
                out_mirrored[2 * (shift - k) + 1] = -g[2 * k + 1];
            }
        }
        if (l + 1 < h) {
            spare = before;
            before = at;
            at = after;
        }
    }
}

}  // namespace zorvan::wiener
