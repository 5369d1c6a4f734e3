// Penalty-matrix kernel: only the five diagonals are written, with the
// values of m * D^T D from N = 4 on and the fixed edge writes below.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fourier/penalty_matrix_kernel.h"

namespace {

using zorvan::kernels::penalty_matrix;

// The matrix over a NaN background, so that every element written shows.
std::vector<double> written(std::int32_t n, double m) {
    std::vector<double> matrix(std::size_t(n) * n, std::nan(""));
    penalty_matrix(matrix.data(), n, m);
    return matrix;
}

TEST(PenaltyMatrixKernel, WritesExactlyTheFiveDiagonalsOfMTimesTheGramMatrix) {
    const double m = -0.37;
    for (std::int32_t n = 4; n <= 12; ++n) {
        SCOPED_TRACE(::testing::Message() << "N " << n);
        std::vector<double> gram(std::size_t(n) * n, 0.0);
        for (std::int32_t k = 0; k + 2 < n; ++k) {
            const double d[3] = {1, -2, 1};
            for (int a = 0; a < 3; ++a)
                for (int b = 0; b < 3; ++b) gram[(k + a) * n + (k + b)] += d[a] * d[b];
        }
        const auto got = written(n, m);
        for (std::int32_t r = 0; r < n; ++r)
            for (std::int32_t c = 0; c < n; ++c) {
                if (std::abs(r - c) > 2) {
                    EXPECT_TRUE(std::isnan(got[r * n + c])) << r << ", " << c << " was written";
                } else {
                    EXPECT_EQ(got[r * n + c], gram[r * n + c] * m) << r << ", " << c;
                }
            }
    }
}

TEST(PenaltyMatrixKernel, TwoAndThreeTakeTheLastEdgeWrites) {
    EXPECT_EQ(written(2, 3.0), (std::vector<double>{15, -6, -6, 15}));
    EXPECT_EQ(written(3, 3.0), (std::vector<double>{3, -6, 3, -6, 15, -6, 3, -6, 3}));
}

}  // namespace
