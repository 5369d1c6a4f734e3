#pragma once
// Separable linear rescale of a width x height block by the factors fx and
// fy: a row pass into an intermediate block of out_width x height, then a
// column pass into the destination. Output position x' samples the input
// at s = x' / fx; past the last sample the value is extrapolated from the
// last two samples. Interpolation and extrapolation are evaluated in double
// precision and rounded to T at the store; samples are widened to double
// before they are weighted, while the difference of the last two samples
// is formed in T before it is widened.

#include <math.h>

#include <cstdint>
#include <vector>

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

// Requires width >= 2 and fx > 0 finite (then 0 <= s and the floor fits).
// Parallel over the source rows; `rows` is out_width x height, packed. The
// sample positions are found once for all rows; each value is the same
// expression as when they were found per pixel.
template <class T>
void rescale_rows(const T* source, std::int32_t width, std::int32_t height, double fx, T* rows,
                  std::int32_t out_width) {
    const column_samples samples = sample_columns(width, fx, out_width);
    const std::int32_t* const index = samples.index.data();
    const double* const fraction = samples.fraction.data();
    const std::int32_t inside = samples.inside;
#pragma omp parallel for schedule(static)
    for (std::int32_t y = 0; y < height; ++y) {
        const T* in = source + std::int64_t{y} * width;
        T* out = rows + std::int64_t{y} * out_width;
        const T last = in[width - 1];
        const T prev = in[width - 2];
        const T rise = last - prev;
        for (std::int32_t x = 0; x < inside; ++x) {
            const std::int32_t i = index[x];
            const double f = fraction[x];
            out[x] = static_cast<T>(static_cast<double>(in[i]) * (1.0 - f) + static_cast<double>(in[i + 1]) * f);
        }
        for (std::int32_t x = inside; x < out_width; ++x) {
            const double s = static_cast<double>(x) / fx;
            out[x] = static_cast<T>((s - static_cast<double>(width - 1)) * static_cast<double>(rise) +
                                    static_cast<double>(last));
        }
    }
}

// Requires height >= 2 and fy > 0 finite. Parallel over the output rows;
// output row y' starts at destination + y' * destination_pitch.
template <class T>
void rescale_columns(const T* rows, std::int32_t out_width, std::int32_t height, double fy, T* destination,
                     std::int32_t out_height, std::int64_t destination_pitch) {
#pragma omp parallel for schedule(static)
    for (std::int32_t y = 0; y < out_height; ++y) {
        const double t = static_cast<double>(y) / fy;
        const auto j = static_cast<std::int32_t>(::floor(t));
        const double f = t - static_cast<double>(j);
        T* out = destination + y * destination_pitch;
        if (j < height - 1) {
            const T* upper = rows + std::int64_t{j} * out_width;
            const T* lower = upper + out_width;
            for (std::int32_t x = 0; x < out_width; ++x) {
                out[x] = static_cast<T>(static_cast<double>(upper[x]) * (1.0 - f) +
                                        static_cast<double>(lower[x]) * f);
            }
        } else {
            const T* last = rows + std::int64_t{height - 1} * out_width;
            const T* prev = last - out_width;
            const double beyond = t - static_cast<double>(height - 1);
            for (std::int32_t x = 0; x < out_width; ++x) {
                const T rise = last[x] - prev[x];
                out[x] = static_cast<T>(beyond * static_cast<double>(rise) + static_cast<double>(last[x]));
            }
        }
    }
}

// Both passes; `rows` is scratch of out_width x height elements. The column
// pass starts after the row pass has joined and reads only `rows`, so the
// destination may be the source itself.
template <class T>
void linear_rescale(const T* source, std::int32_t width, std::int32_t height, double fx, double fy, T* rows,
                    T* destination, std::int32_t out_width, std::int32_t out_height, std::int64_t destination_pitch) {
    rescale_rows(source, width, height, fx, rows, out_width);
    rescale_columns(rows, out_width, height, fy, destination, out_height, destination_pitch);
}

}  // namespace zorvan::kernels
