// Centre-of-mass kernel: worked searches on the edge rules, then random and
// oscillating searches (budgets of billions) against the plain loop.

#include "tests/support/kernel_test.h"

#include "measure/center_of_mass_kernel.h"

namespace {

using namespace zorvan::testing;
using zorvan::kernels::centre_of_mass;
using zorvan::kernels::centre_search;

// The search as the plain loop does it, every cycle run; only for inputs
// whose window bounds convert to integers.
template <class P>
centre_search<P> plain_search(const std::vector<P>& pixels, I nx, I ny, P sx, P sy, P radius, std::int32_t cycles,
                              P threshold) {
    P cx = sx, cy = sy;
    for (I c = 0; c < cycles; ++c) {
        I x0 = I(std::floor(cx - radius)), x1 = I(std::floor(cx + radius) + P(1));
        I y0 = I(std::floor(cy - radius)), y1 = I(std::floor(cy + radius) + P(1));
        if (nx == 1) x0 = 0, x1 = 1;  // a single column (else row) searches along the other axis
        else if (ny == 1) y0 = 0, y1 = 1;
        if (x0 < 0 || x1 > nx || y0 < 0 || y1 > ny) return {0, false, sx, sy};
        std::vector<std::array<P, 3>> disc;  // i, j and the pixel of each cell inside the disc
        for (I j = 0; j < y1 - y0; ++j)
            for (I i = 0; i < x1 - x0; ++i) {
                const P di = cx - P(x0) - P(i), dj = cy - P(y0) - P(j);
                if (di * di + dj * dj <= radius * radius) disc.push_back({P(i), P(j), pixels[(y0 + j) * nx + x0 + i]});
            }
        P peak = -std::numeric_limits<P>::max(), wx = 0, wy = 0, w = 0;
        for (const auto& cell : disc) peak = cell[2] > peak ? cell[2] : peak;
        for (const auto& cell : disc) {
            const P t = cell[2] - peak * threshold;
            if (t > 0) wx += cell[0] * t, wy += cell[1] * t, w += t;
        }
        if (!(w > P(1e-20))) w = P(1e-20);
        const P ux = P(x0) + wx * (P(1) / w), uy = P(y0) + wy * (P(1) / w);
        const P d2 = (cx - ux) * (cx - ux) + (cy - uy) * (cy - uy);
        cx = ux, cy = uy;
        if (double(d2) < 0.01) return {std::int32_t(c + 1), true, cx, cy};
        if (c == cycles - 1 && !((sx - ux) * (sx - ux) + (sy - uy) * (sy - uy) < radius * radius))
            return {0, false, sx, sy};
    }
    return {cycles > 0 ? cycles : 0, true, cx, cy};
}

template <class P>
void search(const std::vector<P>& pixels, I nx, I ny, double x, double y, double radius, std::int32_t cycles,
            double threshold, centre_search<P> want) {
    const auto got = centre_of_mass<P>(pixels.data(), nx, ny, P(x), P(y), P(radius), cycles, P(threshold));
    EXPECT_TRUE(got.result == want.result && got.found == want.found && same_value(got.x, want.x) &&
                same_value(got.y, want.y))
        << "from " << x << ", " << y << ", radius " << radius << ", " << cycles << " cycles: " << got.result;
}

TEST(CenterOfMassKernel, WorkedSearchesOnTheEdgeRules) {
    std::vector<double> spot(32 * 32, 0.0), ones(12 * 12, 1.0), line(12, 0.0), edge_spot(12 * 12, 0.0);
    spot[12 * 32 + 10] = line[7] = edge_spot[6 * 12 + 10] = 1;
    // The first cycle moves by a squared shift that float rounds to exactly
    // 0.01f, just below the double 0.01: settled there, not one cycle later.
    const float x = 10.0003386f, y = 12.0999994f;
    ASSERT_EQ((x - 10) * (x - 10) + (y - 12) * (y - 12), 0.01f);
    search(std::vector<float>(spot.begin(), spot.end()), 32, 32, x, y, 3, 10, 0, {1, true, 10, 12});
    search(spot, 32, 32, 11, 11, 3, 10, 0, {2, true, 10, 12});  // settled in the second cycle
    search(spot, 32, 32, 11, 11, 3, 0, 0, {0, true, 11, 11});   // no budget reports the start
    search(spot, 32, 32, 2.5, 11, 3, 10, 0, {0, false, 2.5, 11});  // a disc over the left edge
    search(edge_spot, 12, 12, 9.5, 6, 1.5, 10, 0, {2, true, 10, 6});  // one touching the last column
    search(line, 12, 1, 6, 0.3, 2, 10, 0, {2, true, 7, 0});
    search(line, 1, 12, 0.4, 6, 2, 10, 0, {2, true, 0, 7});
    // Weighing nothing, the centre jumps to the window's corner, here (3, 4),
    // more than the radius from the start: not found.
    search(ones, 12, 12, 5.5, 6.25, 2, 1, 1, {0, false, 5.5, 6.25});
    search(ones, 12, 12, 5.5, 6.25, 0, 5, 1, {2, true, 5, 6});
    search(ones, 12, 12, 5, 5, -0.2, 3, 0, {1, true, 5, 5});
    search(ones, 12, 12, NAN, 5, 2, 3, 0, {0, false, NAN, 5});
    // A start that is not finite on a forced axis bounds nothing: no cell is
    // inside the disc, the centre jumps to the window's corner (row 4, column 4)
    // and settles there in the second cycle. Along the searched axis it is
    // outside every image.
    const std::vector<double> twelve_ones(12, 1.0);
    search(twelve_ones, 1, 12, NAN, 6, 2, 3, 0, {2, true, 0, 4});
    search(twelve_ones, 12, 1, 6, INFINITY, 2, 3, 0, {2, true, 4, 0});
    search(twelve_ones, 12, 1, NAN, 0, 2, 3, 0, {0, false, NAN, 0});
    search(line, 1, 12, NAN, 6, 2, 3, 0, {0, false, NAN, 6});  // the corner drifts from (NaN, 6): rejected at the last
    search(ones, 12, 12, 5, 5, NAN, 3, 0, {0, false, 5, 5});
    search(ones, 12, 12, 1e300, 5, 2, 3, 0, {0, false, 1e300, 5});
}

template <class P>
void random_searches(std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int found = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const I nx = 4 + I(rng() % 14), ny = 1 + I(rng() % 14);
        std::vector<P> pixels(std::size_t(nx * ny));
        for (P& p : pixels) p = P(unit(rng) * unit(rng) * unit(rng) * 100.0 - 2.0);
        const P x = P(unit(rng) * double(nx - 1)), y = P(unit(rng) * double(ny - 1));
        const P radius = P(0.3 + unit(rng) * 3.0), threshold = P(unit(rng) * 1.2 - 0.1);
        const auto cycles = std::int32_t(rng() % 15) - 1;
        const auto want = plain_search<P>(pixels, nx, ny, x, y, radius, cycles, threshold);
        search(pixels, nx, ny, x, y, radius, cycles, threshold, want);
        found += want.result > 0;
    }
    EXPECT_TRUE(found > 50 && found < 350) << found;  // both outcomes well represented
}

// Rows whose centre never settles (threshold 2, radius 2, background -10, +1
// at x = 12): -1 at 10 gives 10 -> 8 -> 10; -1 at 9 and 11 and -5 at 10 give
// 8 -> 9 -> 10 -> 8. A budget of billions ends as the plain loop does for a
// budget of the same phase, with the whole budget as its result.
template <class P>
void oscillating_budgets() {
    const std::int32_t largest = std::numeric_limits<std::int32_t>::max();
    std::vector<std::int32_t> budgets = {largest, largest - 1, largest - 2, 1000000007};
    for (std::int32_t cycles = 0; cycles <= 40; ++cycles) budgets.push_back(cycles);
    const std::pair<bool, P> cases[] = {{false, P(10)}, {false, P(9)}, {false, P(14.5)},
                                        {true, P(8)},   {true, P(7.6)}, {true, P(9.5)}};
    for (const auto& [three_cycle, start] : cases) {
        std::vector<P> pixels(20, P(-10));
        pixels[12] = P(1);
        if (three_cycle) pixels[9] = pixels[11] = P(-1), pixels[10] = P(-5);
        else pixels[10] = P(-1);
        for (const std::int32_t cycles : budgets) {
            const std::int32_t same_phase = cycles <= 40 ? cycles : 600 + cycles % 6;
            auto want = plain_search<P>(pixels, 20, 1, start, P(0), P(2), same_phase, P(2));
            if (want.result == same_phase) want.result = cycles;
            search(pixels, 20, 1, start, 0, 2, cycles, 2, want);
        }
    }
}

TEST(CenterOfMassKernel, RandomAndOscillatingSearchesMatchThePlainLoop) {
    random_searches<float>(11);
    random_searches<double>(12);
    oscillating_budgets<float>();
    oscillating_budgets<double>();
}

}  // namespace
