#pragma once
// Centre of mass: refines the position of a bright feature by repeatedly
// moving a disc to the thresholded centre of mass of the pixels inside it.
//
// All arithmetic is in the working precision P (float or double) in the
// order written here; only the settling test compares the squared shift,
// widened to double, with the double constant 0.01.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>

namespace zorvan::kernels {

// How a search ended. `found`: the search ran to its end and (x, y) is the
// position to report (the refined centre, or the start when the budget was
// 0 or less). Otherwise the result is 0 and (x, y) is the start, which the
// caller leaves unreported or reports unchanged.
template <class P>
struct centre_search {
    std::int32_t result;
    bool found;
    P x;
    P y;
};

namespace detail {

// floor-based window bound as a 64-bit integer. A bound that is not finite,
// or beyond +-2^62, lies outside every image; it is reported as missing
// rather than converted (which would be undefined).
template <class P>
std::optional<std::int64_t> window_bound(P value) {
    constexpr P limit = P(4611686018427387904.0);  // 2^62
    if (!(value >= -limit && value <= limit)) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

template <class P>
struct disc_move {
    P x;
    P y;
};

// One cycle: the thresholded centre of mass of the disc of squared radius r2
// around (cx, cy), or nothing when the disc's window leaves the image.
template <class P>
std::optional<disc_move<P>> disc_centre(const P* pixels, std::int64_t nx, std::int64_t ny, P cx, P cy, P radius,
                                        P r2, P threshold) {
    std::int64_t x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    // A single column (or else a single row) is searched along the other
    // axis only: that axis's window is forced to the one line.
    const bool columns_forced = nx == 1;
    const bool rows_forced = !columns_forced && ny == 1;
    if (!columns_forced) {
        const auto low = window_bound<P>(std::floor(cx - radius));
        const auto high = window_bound<P>(std::floor(cx + radius) + P(1));
        if (!low || !high) return std::nullopt;
        x0 = *low;
        x1 = *high;
    }
    if (!rows_forced) {
        const auto low = window_bound<P>(std::floor(cy - radius));
        const auto high = window_bound<P>(std::floor(cy + radius) + P(1));
        if (!low || !high) return std::nullopt;
        y0 = *low;
        y1 = *high;
    }
    if (x0 < 0 || x1 > nx || y0 < 0 || y1 > ny) return std::nullopt;

    // Cells (i, j) of the window, i the column from x0 and j the row from
    // y0; a NaN distance is outside the disc. A window with x1 < x0 (a
    // negative radius) has no cells.
    const P rx = cx - static_cast<P>(x0);
    const P ry = cy - static_cast<P>(y0);
    const std::int64_t columns = x1 - x0;
    const std::int64_t rows = y1 - y0;
    const auto inside = [&](std::int64_t i, std::int64_t j) {
        const P di = rx - static_cast<P>(i);
        const P dj = ry - static_cast<P>(j);
        return di * di + dj * dj <= r2;
    };

    P peak = -std::numeric_limits<P>::max();
    for (std::int64_t j = 0; j < rows; ++j) {
        const P* row = pixels + (y0 + j) * nx + x0;
        for (std::int64_t i = 0; i < columns; ++i) {
            if (inside(i, j) && row[i] > peak) peak = row[i];
        }
    }

    P sum_x = 0, sum_y = 0, sum = 0;
    for (std::int64_t j = 0; j < rows; ++j) {
        const P* row = pixels + (y0 + j) * nx + x0;
        for (std::int64_t i = 0; i < columns; ++i) {
            if (!inside(i, j)) continue;
            P t = row[i] - peak * threshold;
            if (!(t > P(0))) t = P(0);
            sum_x += static_cast<P>(i) * t;
            sum_y += static_cast<P>(j) * t;
            sum += t;
        }
    }
    if (!(sum > P(1e-20))) sum = P(1e-20);
    const P reciprocal = P(1) / sum;
    return disc_move<P>{static_cast<P>(x0) + sum_x * reciprocal, static_cast<P>(y0) + sum_y * reciprocal};
}

template <class P>
bool same_centre(P ax, P ay, P bx, P by) {
    return std::memcmp(&ax, &bx, sizeof(P)) == 0 && std::memcmp(&ay, &by, sizeof(P)) == 0;
}

}  // namespace detail

// Searches the nx x ny pixels (packed rows) from (start_x, start_y) with a
// disc of `radius` for at most `cycles` cycles. A start or radius that is not
// finite makes a window bound that is computed from it non-finite, so the
// disc is outside the image (result 0). On a single column (or row) the
// forced axis's bounds are not computed: a non-finite start there puts no
// cell inside the disc (its distances are NaN), and the centre jumps to the
// window's corner like any empty disc's.
//
// Each cycle depends only on the current centre, so a centre that comes back
// bit for bit repeats the cycles since it was last seen. Brent's cycle
// detection (R. P. Brent, "An improved Monte Carlo factorization algorithm",
// BIT 20, 1980) finds that period in O(1) memory; the search then skips whole
// periods up to the last permitted cycle, which it runs as usual. The result
// is the one the plain loop would give, without running a budget of billions
// of cycles on an oscillating centre.
template <class P>
centre_search<P> centre_of_mass(const P* pixels, std::int64_t nx, std::int64_t ny, P start_x, P start_y, P radius,
                                std::int32_t cycles, P threshold) {
    static_assert(std::is_floating_point_v<P>);
    if (cycles <= 0) return {0, true, start_x, start_y};
    const centre_search<P> not_found{0, false, start_x, start_y};

    const P r2 = radius * radius;
    const std::int64_t last = std::int64_t{cycles} - 1;
    P cx = start_x, cy = start_y;
    std::int64_t c = 0;

    P seen_x = cx, seen_y = cy;
    std::int64_t power = 1, steps_since_seen = 0;
    bool period_skipped = false;

    while (c < cycles) {
        const auto moved = detail::disc_centre<P>(pixels, nx, ny, cx, cy, radius, r2, threshold);
        if (!moved) return not_found;
        const P shift_x = cx - moved->x;
        const P shift_y = cy - moved->y;
        const P shift2 = shift_x * shift_x + shift_y * shift_y;
        cx = moved->x;
        cy = moved->y;
        // Less than 0.1 pixel: settled. The float square is widened and
        // compared with the double constant.
        if (static_cast<double>(shift2) < 0.01) return {static_cast<std::int32_t>(c + 1), true, cx, cy};
        if (c == last) {
            // Out of budget: accept only a centre within the radius of the start.
            const P drift_x = start_x - cx;
            const P drift_y = start_y - cy;
            if (!(drift_x * drift_x + drift_y * drift_y < r2)) return not_found;
        }
        ++c;

        if (!period_skipped) {
            ++steps_since_seen;
            if (detail::same_centre(cx, cy, seen_x, seen_y)) {
                // The centre at cycle c repeats every steps_since_seen cycles.
                period_skipped = true;
                if (c < last) c += (last - c) / steps_since_seen * steps_since_seen;
            } else if (steps_since_seen == power) {
                seen_x = cx;
                seen_y = cy;
                power *= 2;
                steps_since_seen = 0;
            }
        }
    }
    return {static_cast<std::int32_t>(c), true, cx, cy};
}

}  // namespace zorvan::kernels
