#pragma once
// Survey: smallest and largest pixel value, sum and sum of squares of a
// volume, all in double precision whatever the pixel type.

#include <cstdint>
#include <limits>
#include <type_traits>

namespace zorvan::kernels {

// The extremes start at the largest finite doubles, so an image with no
// comparable pixel (all NaN) reports them unchanged.
struct survey_totals {
    double min = std::numeric_limits<double>::max();
    double max = -std::numeric_limits<double>::max();
    double sum = 0.0;
    double sqsum = 0.0;
};

// Visits planes, then rows, then columns; the pixel (x, y, z) is
// data[x + row_step*y + plane_step*z]. Each value is converted to double
// exactly and the sums are plain running sums in visiting order. NaN never
// passes the comparisons, so it cannot become an extreme, but it poisons
// both sums.
template <class T>
survey_totals survey_pixels(const T* data, std::int64_t nx, std::int64_t ny, std::int64_t nz,
                            std::int64_t row_step, std::int64_t plane_step) {
    static_assert(std::is_arithmetic_v<T>, "the survey reads real or integer pixels");
    survey_totals totals;
    double min = totals.min;
    double max = totals.max;
    double sum = totals.sum;
    double sqsum = totals.sqsum;
    for (std::int64_t z = 0; z < nz; ++z) {
        for (std::int64_t y = 0; y < ny; ++y) {
            const T* row = data + row_step * y + plane_step * z;
            for (std::int64_t x = 0; x < nx; ++x) {
                const double v = static_cast<double>(row[x]);
                if (v < min) {
                    min = v;
                }
                if (v > max) {
                    max = v;
                }
                sum += v;
                sqsum += v * v;
            }
        }
    }
    totals.min = min;
    totals.max = max;
    totals.sum = sum;
    totals.sqsum = sqsum;
    return totals;
}

}  // namespace zorvan::kernels
