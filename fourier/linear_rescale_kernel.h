#pragma once
// Separable linear rescale of a width x height block by the factors fx and
// fy: a row pass into out_width x height, then a column pass into the
// destination. Output position x' samples the input at s = x' / fx; past
// the last sample the value is extrapolated from the last two samples.
// Interpolation and extrapolation are evaluated in double precision and
// rounded to T at the store; samples are widened to double before they are
// weighted, while the difference of the last two samples is formed in T
// before it is widened.

#include <math.h>
#include <omp.h>

#include <cstdint>
#include <vector>

#include "simd/cpu_features.h"

namespace zorvan::kernels {

// Where output column x samples its row, the same for every row: s = x / fx
// splits into the index i = floor(s) and the fraction f = s - i.
struct column_samples {
    std::vector<std::int32_t> index;
    std::vector<double> fraction;
    std::int32_t inside;  // columns 0 .. inside-1 interpolate (i < width - 1); the rest extrapolate
};

// s grows with x (a correctly rounded quotient, then floor, are monotonic),
// so the interpolated columns come first.
inline column_samples sample_columns(std::int32_t width, double fx, std::int32_t out_width) {
    column_samples samples{std::vector<std::int32_t>(static_cast<std::size_t>(out_width)),
                           std::vector<double>(static_cast<std::size_t>(out_width)), 0};
    for (std::int32_t x = 0; x < out_width; ++x) {
        const double s = static_cast<double>(x) / fx;
        const auto i = static_cast<std::int32_t>(::floor(s));
        samples.index[x] = i;
        samples.fraction[x] = s - static_cast<double>(i);
        if (i < width - 1) samples.inside = x + 1;
    }
    return samples;
}

// The interpolating loops of both passes, plain and on AVX2
// (linear_rescale_avx2.cpp, the same bits):
//   out[x] = T(double(in[index[x]]) * (1 - fraction[x]) + double(in[index[x] + 1]) * fraction[x])
template <class T>
void interpolate_row(const T* in, const std::int32_t* index, const double* fraction, T* out, std::int32_t n) {
    for (std::int32_t x = 0; x < n; ++x) {
        const std::int32_t i = index[x];
        const double f = fraction[x];
        out[x] = static_cast<T>(static_cast<double>(in[i]) * (1.0 - f) + static_cast<double>(in[i + 1]) * f);
    }
}
//   out[x] = T(double(upper[x]) * (1 - f) + double(lower[x]) * f)
template <class T>
void blend(const T* upper, const T* lower, double f, T* out, std::int32_t n) {
    for (std::int32_t x = 0; x < n; ++x) {
        out[x] = static_cast<T>(static_cast<double>(upper[x]) * (1.0 - f) + static_cast<double>(lower[x]) * f);
    }
}
void interpolate_row_avx2(const float* in, const std::int32_t* index, const double* fraction, float* out,
                          std::int32_t n);
void interpolate_row_avx2(const double* in, const std::int32_t* index, const double* fraction, double* out,
                          std::int32_t n);
void blend_avx2(const float* upper, const float* lower, double f, float* out, std::int32_t n);
void blend_avx2(const double* upper, const double* lower, double f, double* out, std::int32_t n);

// One row of the row pass: `out_width` values from the `width` samples of `in`.
template <class T>
void rescale_row(const T* in, std::int32_t width, double fx, const column_samples& samples, T* out,
                 std::int32_t out_width) {
    const T last = in[width - 1];
    const T prev = in[width - 2];
    const T rise = last - prev;
    if (simd::avx2()) {
        interpolate_row_avx2(in, samples.index.data(), samples.fraction.data(), out, samples.inside);
    } else {
        interpolate_row(in, samples.index.data(), samples.fraction.data(), out, samples.inside);
    }
    for (std::int32_t x = samples.inside; x < out_width; ++x) {
        const double s = static_cast<double>(x) / fx;
        out[x] = static_cast<T>((s - static_cast<double>(width - 1)) * static_cast<double>(rise) +
                                static_cast<double>(last));
    }
}

// Output elements from which the passes start threads. Measured on this
// 2-core machine, a float image rescaled 2x up, best of 11 (load 6): to
// 2048 x 2048 2.24-2.97 ms on one thread and 2.23-3.24 on two, to 4096 x
// 4096 25.0-26.8 against 32.0, to 8192 x 8192 62-110 against 96-107; the
// bench on an idle machine had two threads at 4096 x 4096 at 1.42 of
// cv2.resize and one thread, busy, at 0.92. So only beyond 4096 x 4096.
inline constexpr std::int64_t rescale_parallel_from = std::int64_t{1} << 25;

// Requires width >= 2 and fx > 0 finite (then 0 <= s and the floor fits).
// Parallel over the source rows; `rows` is out_width x height, packed. The
// sample positions are found once for all rows; each value is the same
// expression as when they were found per pixel.
template <class T>
void rescale_rows(const T* source, std::int32_t width, std::int32_t height, double fx, T* rows,
                  std::int32_t out_width) {
    const column_samples samples = sample_columns(width, fx, out_width);
#pragma omp parallel for schedule(static) if (std::int64_t{height} * out_width >= rescale_parallel_from)
    for (std::int32_t y = 0; y < height; ++y) {
        rescale_row(source + std::int64_t{y} * width, width, fx, samples, rows + std::int64_t{y} * out_width,
                    out_width);
    }
}

// Output row y of the column pass: t = y / fy splits into j = floor(t) and
// f = t - j; rows j and j + 1 of the row pass are blended, or from
// j = height - 1 on the last two extrapolated.
struct row_sample {
    double t;
    std::int32_t j;
    double f;
    std::int32_t first;  // the first of the two row-pass rows it reads
};

inline row_sample sample_row(std::int32_t y, double fy, std::int32_t height) {
    const double t = static_cast<double>(y) / fy;
    const auto j = static_cast<std::int32_t>(::floor(t));
    return {t, j, t - static_cast<double>(j), j < height - 1 ? j : height - 2};
}

// One output row from the row-pass rows `upper` (sample.first) and `lower`
// (the next).
template <class T>
void blend_rows(const T* upper, const T* lower, const row_sample& sample, std::int32_t height, T* out,
                std::int32_t out_width) {
    if (sample.j < height - 1) {
        if (simd::avx2()) {
            blend_avx2(upper, lower, sample.f, out, out_width);
        } else {
            blend(upper, lower, sample.f, out, out_width);
        }
    } else {
        const double beyond = sample.t - static_cast<double>(height - 1);
        for (std::int32_t x = 0; x < out_width; ++x) {
            const T rise = lower[x] - upper[x];
            out[x] = static_cast<T>(beyond * static_cast<double>(rise) + static_cast<double>(lower[x]));
        }
    }
}

// Requires height >= 2 and fy > 0 finite. Parallel over the output rows;
// output row y' starts at destination + y' * destination_pitch.
template <class T>
void rescale_columns(const T* rows, std::int32_t out_width, std::int32_t height, double fy, T* destination,
                     std::int32_t out_height, std::int64_t destination_pitch) {
#pragma omp parallel for schedule(static) if (std::int64_t{out_height} * out_width >= rescale_parallel_from)
    for (std::int32_t y = 0; y < out_height; ++y) {
        const row_sample sample = sample_row(y, fy, height);
        const T* upper = rows + std::int64_t{sample.first} * out_width;
        blend_rows(upper, upper + out_width, sample, height, destination + y * destination_pitch, out_width);
    }
}

// Both passes row by row: each thread keeps the two row-pass rows its
// current output row blends and computes a row when first needed, so no
// intermediate block is written. The values are those of the two passes.
template <class T>
void rescale_by_output_rows(const T* source, std::int32_t width, std::int32_t height, double fx, double fy,
                            T* destination, std::int32_t out_width, std::int32_t out_height,
                            std::int64_t destination_pitch) {
    const column_samples samples = sample_columns(width, fx, out_width);
    const int teams = omp_get_max_threads();
    std::vector<T> cache(static_cast<std::size_t>(teams) * 2 * static_cast<std::size_t>(out_width));
    // Both passes, about 1.1 ns per output element on one thread.
#pragma omp parallel num_threads(teams) if (std::int64_t{out_height} * out_width >= rescale_parallel_from)
    {
        // Rows j and j + 1 go to different slots (j mod 2).
        T* const slots = cache.data() + static_cast<std::size_t>(omp_get_thread_num()) * 2 * out_width;
        std::int32_t held[2] = {-1, -1};
        const auto row_pass_row = [&](std::int32_t j) {
            T* row = slots + (j % 2) * std::int64_t{out_width};
            if (held[j % 2] != j) {
                rescale_row(source + std::int64_t{j} * width, width, fx, samples, row, out_width);
                held[j % 2] = j;
            }
            return row;
        };
#pragma omp for schedule(static)
        for (std::int32_t y = 0; y < out_height; ++y) {
            const row_sample sample = sample_row(y, fy, height);
            const T* upper = row_pass_row(sample.first);
            const T* lower = row_pass_row(sample.first + 1);
            blend_rows(upper, lower, sample, height, destination + y * destination_pitch, out_width);
        }
    }
}

// Both passes. A destination apart from the source is written row by row;
// one that overlaps it (the source itself) gets the row pass into `rows`,
// scratch of out_width x height elements, first, and the column pass only
// after that has joined, reading only `rows`.
template <class T>
void linear_rescale(const T* source, std::int32_t width, std::int32_t height, double fx, double fy, T* rows,
                    T* destination, std::int32_t out_width, std::int32_t out_height, std::int64_t destination_pitch) {
    if (out_width <= 0 || out_height <= 0) return;
    const auto source_at = reinterpret_cast<std::uintptr_t>(source);
    const auto destination_at = reinterpret_cast<std::uintptr_t>(destination);
    const std::uintptr_t source_end = source_at + std::uint64_t(std::int64_t{width} * height) * sizeof(T);
    const std::uintptr_t destination_end =
        destination_at + std::uint64_t((out_height - 1) * destination_pitch + out_width) * sizeof(T);
    if (destination_at >= source_end || source_at >= destination_end) {
        rescale_by_output_rows(source, width, height, fx, fy, destination, out_width, out_height, destination_pitch);
        return;
    }
    rescale_rows(source, width, height, fx, rows, out_width);
    rescale_columns(rows, out_width, height, fy, destination, out_height, destination_pitch);
}

}  // namespace zorvan::kernels
