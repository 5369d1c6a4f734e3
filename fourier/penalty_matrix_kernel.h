#pragma once
// The N x N second-difference penalty matrix m * D^T D, with D the
// (N - 2) x N matrix of rows (1, -2, 1): five diagonals
//   main   m, 5m, 6m, ..., 6m, 5m, m
//   first  -2m, -4m, ..., -4m, -2m
//   second m, ..., m
// Only these diagonals are written; the rest must already be 0.

#include <cstdint>

#include "fourier/parallel.h"

namespace zorvan::kernels {

// `matrix` is N x N, element (column c, row r) at r*N + c. Requires N >= 2
// and N*N within the signed 32-bit range (the offsets are 32-bit).
// The interior runs in parallel over i = 2 .. N-1, each i writing only
// (i, i), (i, i-1), (i-1, i), (i, i-2), (i-2, i). The eight edge writes
// follow in the calling thread in a fixed order; for N = 2 and 3 they
// overlap the interior and each other, and the last write wins.
inline void penalty_matrix(double* matrix, std::int32_t n, double scale) {
    const double six = 6.0 * scale;
    const double five = 5.0 * scale;
    const double minus_four = -4.0 * scale;
    const double minus_two = -2.0 * scale;
// Five scattered writes per i.
#pragma omp parallel for schedule(static) if (worth_threads(n, 5))
    for (std::int32_t i = 2; i < n; ++i) {
        const std::int32_t row = i * n;
        matrix[row + i] = six;
        matrix[row + i - 1] = minus_four;
        matrix[row - n + i] = minus_four;
        matrix[row + i - 2] = scale;
        matrix[row - 2 * n + i] = scale;
    }
    const auto at = [matrix, n](std::int32_t r, std::int32_t c) -> double& { return matrix[r * n + c]; };
    at(0, 0) = scale;
    at(n - 1, n - 1) = scale;
    at(1, 1) = five;
    at(n - 2, n - 2) = five;
    at(0, 1) = minus_two;
    at(1, 0) = minus_two;
    at(n - 1, n - 2) = minus_two;
    at(n - 2, n - 1) = minus_two;
}

}  // namespace zorvan::kernels
