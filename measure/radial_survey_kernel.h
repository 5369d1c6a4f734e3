#pragma once
// Radial survey: minimum, maximum, weight, mean and standard deviation of the
// pixels of one plane sorted into rings one distance unit wide around a
// centre.
//
// The working precision P is the pixel type (float or double). Every radius,
// interpolation weight and ring accumulator is held in P; only the radius
// itself is evaluated by the C library's double hypot before rounding to P,
// and the finish of each ring is in double. Ring sums are running sums in
// storage order, so the results depend on that order and must not be
// reassociated.

#include <cassert>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

namespace zorvan::kernels {

// Rows of the survey result, one column per ring.
enum radial_row : std::int64_t { ring_min = 0, ring_max = 1, ring_weight = 2, ring_mean = 3, ring_deviation = 4 };
inline constexpr std::int64_t radial_row_count = 5;

// Radius of the offset (u, v): each product is formed in P (the integer
// converted to P first), their hypot in double, and that rounded to P.
template <class P>
P ring_radius(std::int64_t u, std::int64_t v, P scale_x, P scale_y) {
    static_assert(std::is_floating_point_v<P>);
    const P along_x = scale_x * static_cast<P>(u);
    const P along_y = scale_y * static_cast<P>(v);
    return static_cast<P>(std::hypot(static_cast<double>(along_x), static_cast<double>(along_y)));
}

// The largest farthest radius whose rings are counted exactly in P. In float,
// from 2^23 on, r + 0.5 no longer resolves the half that picks the nearest
// ring (it can round to a ring past the last one); in double the limit is the
// 32-bit width of a host image: ceil(R) + 1 <= 2^31 - 1.
template <class P>
inline constexpr P farthest_radius_limit = std::is_same_v<P, float> ? P(8388608.0f) : P(2147483646.0);

// How many rings a survey has and from which ring on nothing can be nearest.
struct ring_layout {
    std::int64_t count;    // n: ceil(R) + 1, computed in P
    std::int64_t nearest;  // m: trunc(R + 0.5) + 1, one past the last nearest ring
};

// The farthest radius R of a plane nx x ny around (cx, cy): the radius of the
// offset to the farthest corner.
template <class P>
P farthest_radius(std::int64_t nx, std::int64_t ny, std::int64_t cx, std::int64_t cy, P scale_x, P scale_y) {
    const std::int64_t dx = (nx - 1 - cx) > cx ? (nx - 1 - cx) : cx;
    const std::int64_t dy = (ny - 1 - cy) > cy ? (ny - 1 - cy) : cy;
    return ring_radius<P>(dx, dy, scale_x, scale_y);
}

// Only for 0 <= farthest < farthest_radius_limit<P> (which also rules out NaN).
template <class P>
ring_layout rings_of(P farthest) {
    assert(farthest >= P(0) && farthest < farthest_radius_limit<P>);
    const P count = std::ceil(farthest) + P(1);
    const P nearest = farthest + P(0.5);
    return {static_cast<std::int64_t>(count), static_cast<std::int64_t>(nearest) + 1};
}

namespace detail {

// The radii of row v for x = 0 .. nx-1. A radius depends on |u| and |v|
// only: P(-u) = -P(u) and scale * -a = -(scale * a) exactly, and hypot
// ignores signs. So x and its mirror 2 cx - x share one hypot: those right
// of the centre are computed, those left of it copied where their mirror
// lies in the row.
template <class P>
void row_radii(std::int64_t nx, std::int64_t cx, std::int64_t v, P scale_x, P scale_y, P* radius) {
    const std::int64_t right = cx < 0 ? 0 : cx < nx ? cx : nx;
    for (std::int64_t x = right; x < nx; ++x) radius[x] = ring_radius<P>(x - cx, v, scale_x, scale_y);
    for (std::int64_t x = 0; x < right; ++x) {
        const std::int64_t mirror = 2 * cx - x;
        radius[x] = mirror < nx ? radius[mirror] : ring_radius<P>(x - cx, v, scale_x, scale_y);
    }
}

// The running weight, sum and sum of squares of one ring.
template <class P>
struct ring_sums {
    P weight, sum, square_sum;
};

}  // namespace detail

// Surveys the nx x ny pixels (packed rows, storage order) into `result`,
// rows of `layout.count` elements `row_pitch` apart; every row of the result
// is written. Only for a layout from rings_of(farthest_radius(...)) with the
// same plane, centre and scales: then no pixel's radius exceeds the farthest
// one, and every ring index stays below the count. Each index is still
// checked against the count, so nothing is written past the result.
//
// Each ring's sums receive their terms in storage order, as a plain loop
// over the pixels adds them (the sums are order-dependent): a row's radii
// come first (one hypot per distinct |u|), then its minima and maxima, then
// its sums, with the two rings a pixel feeds (its lower ring i0 and i0 + 1)
// held in registers while the next pixel feeds the same or a neighbouring
// pair, and written back when they leave that pair.
template <class P>
void radial_survey(const P* pixels, std::int64_t nx, std::int64_t ny, std::int64_t cx, std::int64_t cy, P scale_x,
                   P scale_y, ring_layout layout, P* result, std::int64_t row_pitch) {
    static_assert(std::is_floating_point_v<P>);
    const std::int64_t n = layout.count;
    P* const minimum = result + ring_min * row_pitch;
    P* const maximum = result + ring_max * row_pitch;
    P* const weight = result + ring_weight * row_pitch;
    P* const sum = result + ring_mean * row_pitch;
    P* const square_sum = result + ring_deviation * row_pitch;

    // Rings that cannot be any pixel's nearest start (and stay) at 0; the
    // others at the extremes of P, which an empty ring keeps.
    for (std::int64_t i = 0; i < n; ++i) {
        const bool reachable = i < layout.nearest;
        minimum[i] = reachable ? std::numeric_limits<P>::max() : P(0);
        maximum[i] = reachable ? -std::numeric_limits<P>::max() : P(0);
        weight[i] = P(0);
        sum[i] = P(0);
        square_sum[i] = P(0);
    }

    // A ring at or past the count (only i0 + 1 = n, for a pixel at exactly
    // the farthest radius when that is whole, whose weight there is 0)
    // reads as empty and is never written.
    const auto load = [&](std::int64_t i) {
        return i < n ? detail::ring_sums<P>{weight[i], sum[i], square_sum[i]} : detail::ring_sums<P>{};
    };
    const auto store = [&](std::int64_t i, const detail::ring_sums<P>& ring) {
        if (i >= n) return;
        weight[i] = ring.weight;
        sum[i] = ring.sum;
        square_sum[i] = ring.square_sum;
    };

    std::vector<P> radius(static_cast<std::size_t>(nx));
    for (std::int64_t y = 0; y < ny; ++y) {
        const P* row = pixels + y * nx;
        detail::row_radii(nx, cx, y - cy, scale_x, scale_y, radius.data());
        for (std::int64_t x = 0; x < nx; ++x) {
            const P p = row[x];
            const auto k = static_cast<std::int64_t>(radius[x] + P(0.5));
            if (k < n) {
                if (p < minimum[k]) minimum[k] = p;
                if (p > maximum[k]) maximum[k] = p;
            }
        }
        if (nx == 0) continue;
        std::int64_t low = static_cast<std::int64_t>(radius[0]);
        detail::ring_sums<P> lower = load(low), upper = load(low + 1);
        for (std::int64_t x = 0; x < nx; ++x) {
            const P p = row[x];
            const P r = radius[x];
            const auto i0 = static_cast<std::int64_t>(r);
            const P f = r - static_cast<P>(i0);
            const P g = P(1) - f;
            if (i0 != low) {
                if (i0 == low + 1) {
                    store(low, lower);
                    lower = upper;
                    upper = load(i0 + 1);
                } else if (i0 == low - 1) {
                    store(low + 1, upper);
                    upper = lower;
                    lower = load(i0);
                } else {
                    store(low, lower);
                    store(low + 1, upper);
                    lower = load(i0);
                    upper = load(i0 + 1);
                }
                low = i0;
            }
            lower.weight += g;
            lower.sum += p * g;
            lower.square_sum += p * p * g;
            upper.weight += f;
            upper.sum += p * f;
            upper.square_sum += p * p * f;
        }
        store(low, lower);
        store(low + 1, upper);
    }

    // The finish in double: weighted mean, and the deviation with the sample
    // correction w - 1 only when the ring weighs more than one pixel.
    for (std::int64_t i = 0; i < n; ++i) {
        const double w = weight[i];
        const double s = sum[i];
        const double q = square_sum[i];
        const double mean = w > 0.0 ? s / w : 0.0;
        double d = q - mean * mean * w;
        if (d < 0.0) d = 0.0;
        const double den = w > 1.0 ? w - 1.0 : w;
        sum[i] = static_cast<P>(mean);
        square_sum[i] = static_cast<P>(std::sqrt(d / den));
    }
}

}  // namespace zorvan::kernels
