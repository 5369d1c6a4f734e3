// Fourier window kernel: the worked values of both windows on the first row
// and at the centre, a one-pixel-wide plane, planes wider than a block of
// columns against the per-pixel formulas, in place, and the plane limit.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "measure/ft_window_kernel.h"

namespace {

using namespace zorvan::kernels;

// The window as written per pixel: both cosines for every pixel.
float windowed(float p, std::int32_t x, std::int32_t y, std::int32_t nx, std::int32_t ny, window_mode mode) {
    const float pi = 3.1415927f;
    if (mode == window_mode::hann) {
        const float step_x = (pi + pi) / float(nx), step_y = (pi + pi) / float(ny);
        const float cx = std::cos(float(x) * step_x), cy = std::cos(float(y) * step_y);
        return ((p * 0.25f) * (1.0f - cx)) * (1.0f - cy);
    }
    const float step_x = 1.0f / float(nx), step_y = 1.0f / float(ny);
    const float cx = std::cos((float(x) * step_x - 0.5f) * pi), cy = std::cos((float(y) * step_y - 0.5f) * pi);
    return (p * cx) * cy;
}

std::vector<float> window_of(const std::vector<float>& source, std::int32_t nx, std::int32_t ny, window_mode mode) {
    std::vector<float> out(source.size(), -99.0f);
    fourier_window(source.data(), out.data(), nx, ny, mode);
    return out;
}

TEST(FourierWindowKernel, WorkedValuesOfBothWindows) {
    const std::vector<float> ones(8 * 6, 1.0f);
    const auto hann = window_of(ones, 8, 6, window_mode::hann);
    for (std::int32_t x = 0; x < 8; ++x) EXPECT_EQ(hann[std::size_t(x)], 0.0f) << "first row, x " << x;
    for (std::int32_t y = 0; y < 6; ++y) EXPECT_EQ(hann[std::size_t(y * 8)], 0.0f) << "first column, y " << y;
    // At (nx/2, ny/2) both factors are 1 - cos(pi) = 2: 0.25 * 2 * 2.
    EXPECT_NEAR(hann[3 * 8 + 4], 1.0f, 1e-6f);

    const auto sine = window_of(ones, 8, 6, window_mode::sine);
    const float edge = std::cos(-0.5f * 3.1415927f);  // about -4.37e-8, not 0
    EXPECT_NEAR(edge, -4.371139e-8f, 1e-13f);
    EXPECT_EQ(sine[4], edge * std::cos((4.0f * 0.125f - 0.5f) * 3.1415927f));
    EXPECT_EQ(sine[3 * 8], std::cos((3.0f * (1.0f / 6.0f) - 0.5f) * 3.1415927f) * edge);
    EXPECT_NEAR(sine[3 * 8 + 4], 1.0f, 1e-6f);

    // One pixel wide: every row takes the column factor of x = 0.
    const auto narrow = window_of({5, 6, 7}, 1, 3, window_mode::hann);
    EXPECT_EQ(narrow, (std::vector<float>{0, 0, 0}));
}

TEST(FourierWindowKernel, WidePlanesMatchThePerPixelFormulasInAndOutOfPlace) {
    // 5000 columns: one full block of columns and a partial one.
    const std::int32_t nx = 5000, ny = 3;
    std::vector<float> source(std::size_t(nx) * ny);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = float(i % 97) * 0.37f - 11.0f;
    for (const window_mode mode : {window_mode::hann, window_mode::sine}) {
        SCOPED_TRACE(mode == window_mode::hann ? "Hann" : "sine");
        std::vector<float> want(source.size());
        for (std::int32_t y = 0; y < ny; ++y)
            for (std::int32_t x = 0; x < nx; ++x)
                want[std::size_t(y * nx + x)] = windowed(source[std::size_t(y * nx + x)], x, y, nx, ny, mode);
        EXPECT_EQ(window_of(source, nx, ny, mode), want);
        std::vector<float> in_place = source;
        fourier_window(in_place.data(), in_place.data(), nx, ny, mode);
        EXPECT_EQ(in_place, want);
    }
}

// Every width and height up to 64: the step factors 2 pi / n and 1 / n are
// formed once in float as written, which shows in the low bits for some n.
TEST(FourierWindowKernel, EverySmallShapeMatchesThePerPixelFormulas) {
    for (const window_mode mode : {window_mode::hann, window_mode::sine}) {
        for (std::int32_t n = 1; n <= 64; ++n) {
            SCOPED_TRACE(::testing::Message() << (mode == window_mode::hann ? "Hann" : "sine") << ", n " << n);
            for (const auto& [nx, ny] : {std::pair{n, 3}, std::pair{3, n}}) {
                const std::vector<float> ones(std::size_t(nx) * std::size_t(ny), 1.0f);
                std::vector<float> want(ones.size());
                for (std::int32_t y = 0; y < ny; ++y)
                    for (std::int32_t x = 0; x < nx; ++x)
                        want[std::size_t(y * nx + x)] = windowed(1.0f, x, y, nx, ny, mode);
                ASSERT_EQ(window_of(ones, nx, ny, mode), want);
            }
        }
    }
}

TEST(FourierWindowKernel, PlanesBelowTwoToTheThirtyFirstPixelsFit) {
    struct plane_case {
        std::uint64_t nx, ny;
        bool fits;
    };
    const plane_case cases[] = {
        {1, 1, true},
        {65536, 32767, true},
        {65536, 32768, false},  // exactly 2^31
        {2147483647, 1, true},
        {1, 2147483648u, false},
        {4294967296u, 4294967296u, false},  // the product would wrap to 0
    };
    for (const plane_case& c : cases) EXPECT_EQ(window_plane_fits(c.nx, c.ny), c.fits) << c.nx << " x " << c.ny;
}

}  // namespace
