#pragma once
// Survey: smallest and largest pixel value, sum and sum of squares of a
// volume, all in double precision whatever the pixel type.

#include <algorithm>
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

namespace detail {

// The survey in visiting order, as the totals are defined: each value
// converted to double exactly, plain running sums. Order-dependent for real
// pixels (each addition rounds).
template <class T>
survey_totals survey_in_order(const T* data, std::int64_t nx, std::int64_t ny, std::int64_t nz,
                              std::int64_t row_step, std::int64_t plane_step) {
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

// Pixels of 8 and 16 bits summed exactly in integers. While the sum of
// squares stays at most 2^53, every running sum of the loop above is an
// integer of at most 2^53 in magnitude (|v| <= v*v for integers), so each of
// its double additions is exact and its totals are the exact integer sums:
// the same bits, whatever the order. Beyond 2^53 (8-bit images of over 10^11
// pixels, 16-bit ones of over 2^21) this gives up (false) and the loop above
// runs. Chunks of 2^16 pixels keep the narrow sums from overflowing, and
// let the compiler vectorise them.
template <class T>
inline constexpr bool exact_integer_survey = std::is_integral_v<T> && sizeof(T) <= 2;

template <class T>
bool survey_exactly(const T* data, std::int64_t nx, std::int64_t ny, std::int64_t nz, std::int64_t row_step,
                    std::int64_t plane_step, survey_totals& totals) {
    static_assert(exact_integer_survey<T>);
    using Sum = std::conditional_t<sizeof(T) == 1, std::int32_t, std::int64_t>;
    using Square = std::conditional_t<sizeof(T) == 1, std::uint32_t, std::uint64_t>;
    constexpr std::int64_t chunk = std::int64_t{1} << 16;
    constexpr std::uint64_t exact_limit = std::uint64_t{1} << 53;
    if (nx <= 0 || ny <= 0 || nz <= 0) return true;  // no pixel: the starting totals
    T low = std::numeric_limits<T>::max();
    T high = std::numeric_limits<T>::min();
    std::int64_t sum = 0;
    std::uint64_t sqsum = 0;
    for (std::int64_t z = 0; z < nz; ++z) {
        for (std::int64_t y = 0; y < ny; ++y) {
            const T* row = data + row_step * y + plane_step * z;
            for (std::int64_t x0 = 0; x0 < nx; x0 += chunk) {
                const std::int64_t count = std::min(chunk, nx - x0);
                const T* p = row + x0;
                Sum s = 0;
                Square q = 0;
                T l = low;
                T h = high;
                for (std::int64_t x = 0; x < count; ++x) {
                    const Sum v = p[x];
                    s += v;
                    q += static_cast<Square>(v * v);
                    l = p[x] < l ? p[x] : l;
                    h = p[x] > h ? p[x] : h;
                }
                low = l;
                high = h;
                sum += s;
                sqsum += q;
                if (sqsum > exact_limit) return false;
            }
        }
    }
    totals.min = static_cast<double>(low);
    totals.max = static_cast<double>(high);
    totals.sum = static_cast<double>(sum);
    totals.sqsum = static_cast<double>(sqsum);
    return true;
}

}  // namespace detail

// Visits planes, then rows, then columns; the pixel (x, y, z) is
// data[x + row_step*y + plane_step*z]. Each value is converted to double
// exactly and the sums are plain running sums in visiting order. NaN never
// passes the comparisons, so it cannot become an extreme, but it poisons
// both sums. 8- and 16-bit pixels take the exact integer sums, which give
// the same totals.
template <class T>
survey_totals survey_pixels(const T* data, std::int64_t nx, std::int64_t ny, std::int64_t nz,
                            std::int64_t row_step, std::int64_t plane_step) {
    static_assert(std::is_arithmetic_v<T>, "the survey reads real or integer pixels");
    if constexpr (detail::exact_integer_survey<T>) {
        survey_totals totals;
        if (detail::survey_exactly(data, nx, ny, nz, row_step, plane_step, totals)) return totals;
    }
    return detail::survey_in_order(data, nx, ny, nz, row_step, plane_step);
}

}  // namespace zorvan::kernels
