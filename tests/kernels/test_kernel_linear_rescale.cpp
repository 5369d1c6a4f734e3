// Linear-rescale kernels: the interpolation and extrapolation of each pass
// and the destination pitch.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fourier/linear_rescale_kernel.h"

namespace {

using zorvan::kernels::linear_rescale;
using zorvan::kernels::rescale_columns;
using zorvan::kernels::rescale_rows;

TEST(LinearRescaleKernel, RowPassInterpolatesAndExtrapolatesFromTheLastTwoSamples) {
    const double source[6] = {0, 10, 20, 1, -1, 4};
    double rows[2 * 6];
    rescale_rows(source, 3, 2, 2.0, rows, 6);
    // s = 0, 0.5, ..., 2.5; from s = 2 = w - 1 on, from the last two.
    const double want[12] = {0, 5, 10, 15, 20, 25, 1, 0, -1, 1.5, 4, 6.5};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(rows[i], want[i]) << i;
}

// In float the last difference is rounded before it is widened, which
// shows in the extrapolated values of some rows.
TEST(LinearRescaleKernel, FloatExtrapolationRoundsTheDifferenceInFloat) {
    const std::int32_t h = 64;
    std::vector<float> source(2 * h);
    for (std::int32_t y = 0; y < h; ++y) {
        source[2 * y] = std::ldexp(std::sin(float(y) + 1.0f), y % 9);
        source[2 * y + 1] = std::ldexp(std::cos(float(y) * 3.0f), -(y % 7));
    }
    std::vector<float> rows(7 * h);
    rescale_rows(source.data(), 2, h, 3.5, rows.data(), 7);
    int differing = 0;
    for (std::int32_t y = 0; y < h; ++y) {
        const float prev = source[2 * y], last = source[2 * y + 1];
        const double beyond = 6 / 3.5 - 1;  // x' = 6
        const float rise = last - prev;
        EXPECT_EQ(rows[7 * y + 6], float(beyond * double(rise) + double(last))) << y;
        differing += rows[7 * y + 6] != float(beyond * (double(last) - double(prev)) + double(last));
    }
    EXPECT_GT(differing, 0);
}

TEST(LinearRescaleKernel, ColumnPassWritesAtTheDestinationPitchOnly) {
    const float rows[2 * 2] = {0, 1, 10, 11};
    std::vector<float> destination(5 * 4, -1.0f);
    rescale_columns(rows, 2, 2, 2.0, destination.data(), 4, 5);
    const std::vector<float> want = {0, 1, -1, -1, -1,     //
                                     5, 6, -1, -1, -1,     //
                                     10, 11, -1, -1, -1,   //
                                     15, 16, -1, -1, -1};
    EXPECT_EQ(destination, want);
}

}  // namespace
