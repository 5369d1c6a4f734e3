// Centre-of-mass kernel: the worked single-pixel search, the edge rules of
// the window, budget and disc, inputs that must not reach an integer
// conversion, random searches against the plain loop bit for bit, and
// oscillating centres with budgets of billions of cycles.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "measure/center_of_mass_kernel.h"

namespace {

using zorvan::kernels::centre_of_mass;
using zorvan::kernels::centre_search;

// The search as the plain loop does it, every cycle run; only for inputs
// whose window bounds convert to integers.
template <class P>
centre_search<P> plain_search(const std::vector<P>& pixels, std::int64_t nx, std::int64_t ny, P sx, P sy, P radius,
                              std::int32_t cycles, P threshold) {
    const P r2 = radius * radius;
    P cx = sx, cy = sy;
    for (std::int64_t c = 0;; ++c) {
        if (c >= cycles) return {std::int32_t(c), true, cx, cy};
        auto x0 = std::int64_t(std::floor(cx - radius)), x1 = std::int64_t(std::floor(cx + radius) + P(1));
        auto y0 = std::int64_t(std::floor(cy - radius)), y1 = std::int64_t(std::floor(cy + radius) + P(1));
        if (nx == 1) {
            x0 = 0;
            x1 = 1;
        } else if (ny == 1) {
            y0 = 0;
            y1 = 1;
        }
        if (x0 < 0 || x1 > nx || y0 < 0 || y1 > ny) return {0, false, sx, sy};
        const P rx = cx - P(x0), ry = cy - P(y0);
        P mx = -std::numeric_limits<P>::max();
        for (std::int64_t j = 0; j < y1 - y0; ++j)
            for (std::int64_t i = 0; i < x1 - x0; ++i)
                if ((rx - P(i)) * (rx - P(i)) + (ry - P(j)) * (ry - P(j)) <= r2 &&
                    pixels[std::size_t((y0 + j) * nx + x0 + i)] > mx)
                    mx = pixels[std::size_t((y0 + j) * nx + x0 + i)];
        P wx = 0, wy = 0, w = 0;
        for (std::int64_t j = 0; j < y1 - y0; ++j)
            for (std::int64_t i = 0; i < x1 - x0; ++i)
                if ((rx - P(i)) * (rx - P(i)) + (ry - P(j)) * (ry - P(j)) <= r2) {
                    P t = pixels[std::size_t((y0 + j) * nx + x0 + i)] - mx * threshold;
                    if (!(t > 0)) t = 0;
                    wx += P(i) * t;
                    wy += P(j) * t;
                    w += t;
                }
        if (!(w > P(1e-20))) w = P(1e-20);
        const P inverse = P(1) / w;
        const P ux = P(x0) + wx * inverse, uy = P(y0) + wy * inverse;
        const P d2 = (cx - ux) * (cx - ux) + (cy - uy) * (cy - uy);
        cx = ux;
        cy = uy;
        if (d2 < 0.01) return {std::int32_t(c + 1), true, cx, cy};
        if (c == std::int64_t(cycles) - 1 && !((sx - ux) * (sx - ux) + (sy - uy) * (sy - uy) < r2))
            return {0, false, sx, sy};
    }
}

template <class P>
bool same_bits(P a, P b) {
    return std::memcmp(&a, &b, sizeof(P)) == 0;
}

template <class P>
void expect_search(const centre_search<P>& got, const centre_search<P>& want) {
    EXPECT_EQ(got.result, want.result);
    EXPECT_EQ(got.found, want.found);
    EXPECT_TRUE(same_bits(got.x, want.x)) << got.x << " vs " << want.x;
    EXPECT_TRUE(same_bits(got.y, want.y)) << got.y << " vs " << want.y;
}

template <class P>
std::vector<P> single_spot() {
    std::vector<P> pixels(32 * 32, P(0));
    pixels[12 * 32 + 10] = P(1);
    return pixels;
}

TEST(CenterOfMassKernel, SingleSpotSettlesInTheSecondCycle) {
    expect_search(centre_of_mass<float>(single_spot<float>().data(), 32, 32, 11, 11, 3, 10, 0), {2, true, 10, 12});
    expect_search(centre_of_mass<double>(single_spot<double>().data(), 32, 32, 11, 11, 3, 10, 0), {2, true, 10, 12});
}

// From this start the first cycle moves to the spot at (10, 10) by a
// squared shift that float rounds to exactly 0.01f, just below the double
// 0.01: settled in that cycle. A float comparison would take one more.
TEST(CenterOfMassKernel, FloatSquaredShiftIsComparedWithTheDoubleConstant) {
    std::vector<float> pixels(32 * 32, 0.0f);
    pixels[10 * 32 + 10] = 1;
    const float x = 10.0003386f, y = 10.0999994f;
    const float dx = x - 10, dy = y - 10;
    ASSERT_EQ(dx * dx + dy * dy, 0.01f);
    ASSERT_LT(double(0.01f), 0.01);
    expect_search(centre_of_mass<float>(pixels.data(), 32, 32, x, y, 3, 10, 0), {1, true, 10, 10});
}

TEST(CenterOfMassKernel, EdgeRulesOfBudgetWindowAndDisc) {
    const std::vector<double> spot = single_spot<double>();
    const std::vector<double> ones(12 * 12, 1.0);
    std::vector<double> row(12, 0.0), column(12, 0.0), edge_spot(12 * 12, 0.0);
    row[7] = column[7] = 1;
    edge_spot[6 * 12 + 10] = 1;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct edge_case {
        const char* what;
        const std::vector<double>* pixels;
        std::int64_t nx, ny;
        double x, y, radius;
        std::int32_t cycles;
        double threshold;
        centre_search<double> want;
    };
    const edge_case cases[] = {
        {"no budget reports the start", &spot, 32, 32, 11, 11, 3, 0, 0, {0, true, 11, 11}},
        {"a negative budget likewise", &spot, 32, 32, 11, 11, 3, -4, 0, {0, true, 11, 11}},
        {"a disc over the left edge", &spot, 32, 32, 2.5, 11, 3, 10, 0, {0, false, 2.5, 11}},
        {"a disc over the bottom edge", &spot, 32, 32, 11, 29.5, 3, 10, 0, {0, false, 11, 29.5}},
        {"a disc that touches the last column", &edge_spot, 12, 12, 9.5, 6, 1.5, 10, 0, {2, true, 10, 6}},
        {"a single row searches columns only", &row, 12, 1, 6, 0.3, 2, 10, 0, {2, true, 7, 0}},
        {"a single column searches rows only", &column, 1, 12, 0.4, 6, 2, 10, 0, {2, true, 0, 7}},
        // Weighing nothing, the centre jumps to the corner (3, 4), more than
        // the radius from the start: not found.
        {"threshold 1 weighs nothing", &ones, 12, 12, 5.5, 6.25, 2, 1, 1, {0, false, 5.5, 6.25}},
        {"a disc between pixel centres jumps to the corner, then settles", &ones, 12, 12, 5.5, 5.5, 0.1, 2, 0,
         {2, true, 5, 5}},
        {"a small negative radius reads nothing and jumps to (x0, y0)", &ones, 12, 12, 5, 5, -0.2, 3, 0,
         {1, true, 5, 5}},
        {"a NaN start", &ones, 12, 12, nan, 5, 2, 3, 0, {0, false, nan, 5}},
        {"an infinite start", &ones, 12, 12, 5, -inf, 2, 3, 0, {0, false, 5, -inf}},
        {"a NaN start in a single column", &column, 1, 12, nan, 6, 2, 3, 0, {0, false, nan, 6}},
        {"a NaN radius", &ones, 12, 12, 5, 5, nan, 3, 0, {0, false, 5, 5}},
        {"an infinite radius", &ones, 12, 12, 5, 5, inf, 3, 0, {0, false, 5, 5}},
        {"a start beyond any integer window", &ones, 12, 12, 1e300, 5, 2, 3, 0, {0, false, 1e300, 5}},
        {"a radius beyond any integer window", &ones, 12, 12, 5, 5, -1e19, 3, 0, {0, false, 5, 5}},
        {"a NaN threshold weighs nothing", &ones, 12, 12, 5.5, 6.25, 2, 1, nan, {0, false, 5.5, 6.25}},
        {"radius 0 and threshold 1: the corner is the pixel, then settles", &ones, 12, 12, 5.5, 6.25, 0, 5, 1,
         {2, true, 5, 6}},
    };
    for (const edge_case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto got =
            centre_of_mass<double>(c.pixels->data(), c.nx, c.ny, c.x, c.y, c.radius, c.cycles, c.threshold);
        expect_search(got, c.want);
    }
}

// Random spots and backgrounds, starts, radii, thresholds and budgets:
// the search must be the plain loop's, bit for bit, in both precisions.
template <class P>
void random_searches(std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int found = 0, not_found = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const std::int64_t nx = 4 + std::int64_t(rng() % 14), ny = 1 + std::int64_t(rng() % 14);
        std::vector<P> pixels(std::size_t(nx * ny));
        for (P& p : pixels) p = P(unit(rng) * unit(rng) * unit(rng) * 100.0 - 2.0);
        const P x = P(unit(rng) * double(nx - 1)), y = P(unit(rng) * double(ny - 1));
        const P radius = P(0.3 + unit(rng) * 3.0), threshold = P(unit(rng) * 1.2 - 0.1);
        const auto cycles = std::int32_t(rng() % 15) - 1;
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        const auto want = plain_search<P>(pixels, nx, ny, x, y, radius, cycles, threshold);
        expect_search(centre_of_mass<P>(pixels.data(), nx, ny, x, y, radius, cycles, threshold), want);
        (want.result > 0 ? found : not_found) += 1;
    }
    // Both outcomes are well represented.
    EXPECT_GT(found, 50);
    EXPECT_GT(not_found, 50);
}

TEST(CenterOfMassKernel, RandomSearchesMatchThePlainLoopInFloat) { random_searches<float>(11); }
TEST(CenterOfMassKernel, RandomSearchesMatchThePlainLoopInDouble) { random_searches<double>(12); }

// Row images whose centre never settles (threshold 2, radius 2, background
// -10): a disc that holds the +1 at x = 12 weighs nothing and jumps to its
// left corner; one that holds only negative pixels is pulled to those above
// twice its maximum.
//   two-cycle:   -1 at x = 10:                      10 -> 8 -> 10 -> ...
//   three-cycle: -1 at 9 and 11, -5 at 10:          8 -> 9 -> 10 -> 8 -> ...
template <class P>
std::vector<P> oscillator(bool three_cycle) {
    std::vector<P> pixels(20, P(-10));
    pixels[12] = P(1);
    if (three_cycle) {
        pixels[9] = pixels[11] = P(-1);
        pixels[10] = P(-5);
    } else {
        pixels[10] = P(-1);
    }
    return pixels;
}

template <class P>
void oscillating_budgets() {
    struct oscillating_case {
        bool three_cycle;
        P start;
    };
    const oscillating_case cases[] = {{false, P(10)}, {false, P(9)}, {false, P(14.5)},
                                      {true, P(8)},   {true, P(7.6)}, {true, P(9.5)}};
    const std::int32_t largest = std::numeric_limits<std::int32_t>::max();
    for (const oscillating_case& c : cases) {
        const std::vector<P> pixels = oscillator<P>(c.three_cycle);
        SCOPED_TRACE(::testing::Message() << (c.three_cycle ? "three-cycle" : "two-cycle") << " from " << c.start);
        // Small budgets: detection and skipping near the end of the budget.
        for (std::int32_t cycles = 0; cycles <= 40; ++cycles) {
            SCOPED_TRACE(::testing::Message() << cycles << " cycles");
            expect_search(centre_of_mass<P>(pixels.data(), 20, 1, c.start, P(0), P(2), cycles, P(2)),
                          plain_search<P>(pixels, 20, 1, c.start, P(0), P(2), cycles, P(2)));
        }
        // Billions of cycles: the plain loop's answer for a budget with the
        // same phase in the cycle, and the result is the whole budget.
        for (const std::int32_t cycles : {largest, largest - 1, largest - 2, 1000000007}) {
            SCOPED_TRACE(::testing::Message() << cycles << " cycles");
            const std::int32_t same_phase = 600 + cycles % 6;
            auto want = plain_search<P>(pixels, 20, 1, c.start, P(0), P(2), same_phase, P(2));
            if (want.result == same_phase) want.result = cycles;
            expect_search(centre_of_mass<P>(pixels.data(), 20, 1, c.start, P(0), P(2), cycles, P(2)), want);
        }
    }
}

TEST(CenterOfMassKernel, OscillatingCentresFinishAsThePlainLoopWouldInFloat) { oscillating_budgets<float>(); }
TEST(CenterOfMassKernel, OscillatingCentresFinishAsThePlainLoopWouldInDouble) { oscillating_budgets<double>(); }

TEST(CenterOfMassKernel, TheOscillatorsAcceptOnlyPhasesWithinTheRadiusOfTheStart) {
    const std::vector<double> two = oscillator<double>(false), three = oscillator<double>(true);
    // From 10: even budgets end at 10 (accepted), odd ones at 8, which is
    // the radius away (rejected: the drift must be less than the radius).
    expect_search(centre_of_mass<double>(two.data(), 20, 1, 10, 0, 2, 1000, 2), {1000, true, 10, 0});
    expect_search(centre_of_mass<double>(two.data(), 20, 1, 10, 0, 2, 1001, 2), {0, false, 10, 0});
    // From 7.6: the cycle wanders to 10, 2.4 away, but budgets ending at 9
    // or 8 are accepted.
    expect_search(centre_of_mass<double>(three.data(), 20, 1, 7.6, 0, 2, 301, 2), {301, true, 9, 0});
    expect_search(centre_of_mass<double>(three.data(), 20, 1, 7.6, 0, 2, 302, 2), {0, false, 7.6, 0});
    expect_search(centre_of_mass<double>(three.data(), 20, 1, 7.6, 0, 2, 303, 2), {303, true, 8, 0});
}

}  // namespace
