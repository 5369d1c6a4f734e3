// Complex-sum kernel: double accumulation of float parts, the index order
// on one thread, and empty counts.

#include <gtest/gtest.h>
#include <omp.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "fourier/mean_complex_kernel.h"

namespace {

using zorvan::dm::complex16;
using zorvan::dm::complex8;
using zorvan::kernels::sum_complex;

// In float, 1e8 + 1 rounds back to 1e8; the sums are in double.
TEST(ComplexSumKernel, FloatPartsAreSummedInDouble) {
    omp_set_num_threads(1);
    const complex8 values[5] = {{1e8f, -1e8f}, {1, -0.5f}, {1, -0.5f}, {1, -0.5f}, {1, -0.5f}};
    const auto sums = sum_complex(values, 5);
    EXPECT_EQ(sums.re, 1e8 + 4);
    EXPECT_EQ(sums.im, -1e8 - 2);
    omp_set_num_threads(2);
}

TEST(ComplexSumKernel, OneThreadAddsInIndexOrder) {
    omp_set_num_threads(1);
    const complex16 values[4] = {{1e16, 1}, {1, 2}, {-1e16, 3}, {1, 4}};
    const auto sums = sum_complex(values, 4);
    EXPECT_EQ(sums.re, 1.0);  // ((1e16 + 1) - 1e16) + 1 with 1e16 + 1 rounded to 1e16
    EXPECT_EQ(sums.im, 10.0);
    omp_set_num_threads(2);
}

TEST(ComplexSumKernel, EmptyAndNegativeCountsSumNothing) {
    for (const std::int32_t n : {0, -1, -1000}) {
        const auto sums = sum_complex<double>(nullptr, n);
        EXPECT_EQ(sums.re, 0.0);
        EXPECT_EQ(sums.im, 0.0);
    }
}

}  // namespace
