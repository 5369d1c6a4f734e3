#pragma once
// The median of a 3 x 3, 5 x 5 or 7 x 7 window by a fixed network of min and
// max operations, for windows without NaN (min and max would not leave NaN
// out). Written over an `Ops` type that names the lane type V and its min and
// max, so the same network serves plain T and vector registers.
//
// 3 x 3: sort each row, then the median is the median of (largest row
// minimum, median of row medians, smallest row maximum) (Paeth 1990); 30
// operations. 5 x 5 and 7 x 7: Batcher's odd-even merge sort of 32 or 64
// wires (the spare ones +-infinity, placed where they cost least), pruned to
// what the median output needs: 111 exchanges (198 operations) and 315 (582).
// The 25-input network was checked on all 2^25 inputs of 0 and 1, which
// suffices for a network of min and max; the 49-input one on 2^20 random
// inputs of 0 and 1 with 22 to 26 ones, and both against median_of in the
// tests. The exchanges are listed depth first rather than layer by layer (an
// exchange as soon as its wires are ready, preferring the wires touched
// last): the same network, as exchanges on other wires commute, but fewer
// values wait in spilled registers; 10-15% faster by AVX2. The whole network
// is inlined into its caller, which keeps the window in registers as far as
// they go.
//
// Where +0 and -0 tie at the median either may come out; every other result
// equals a window sample, as median_of gives.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

namespace zorvan::kernels::median_network {

enum keep : std::uint8_t { low = 1, high = 2, both = 3 };  // which outputs of an exchange are used

struct exchange {
    std::uint8_t a, b;  // afterwards wire a holds the smaller value, b the larger
    keep kept;
};

// The two middle values of 4 or 6 (the cut windows of radius 1 at corners
// and edges): wires 1 and 2 of 4, 2 and 3 of 6. Checked on all inputs of 4
// values from 4 and of 6 values from 6.
inline constexpr exchange network_4[] = {{0, 1, both}, {2, 3, both}, {0, 2, high}, {1, 3, low}, {1, 2, both}};
inline constexpr exchange network_6[] = {{0, 5, both}, {1, 3, both}, {2, 4, both}, {1, 2, both}, {3, 4, both},
                                         {0, 3, both}, {2, 5, both}, {0, 1, high}, {2, 3, both}, {4, 5, low},
                                         {1, 2, high}, {3, 4, low}};

inline constexpr int median_wire_25 = 3;
inline constexpr exchange network_25[] = {
    {0, 1, both}, {2, 3, both}, {0, 2, both}, {1, 3, both}, {1, 2, both}, {4, 5, both}, {6, 7, both}, {4, 6, both},
    {5, 7, both}, {5, 6, both}, {1, 5, both}, {2, 6, both}, {3, 7, both}, {3, 5, both}, {5, 6, both}, {0, 4, both},
    {2, 4, both}, {3, 4, both}, {1, 2, both}, {8, 9, both}, {10, 11, both}, {8, 10, both}, {9, 11, both},
    {9, 10, both}, {12, 13, both}, {14, 15, both}, {12, 14, both}, {13, 15, both}, {13, 14, both}, {9, 13, both},
    {10, 14, both}, {11, 15, both}, {11, 13, both}, {13, 14, both}, {8, 12, both}, {0, 8, high}, {10, 12, both},
    {11, 12, both}, {9, 10, both}, {1, 9, both}, {2, 10, both}, {3, 11, both}, {4, 12, both}, {4, 8, both},
    {2, 4, both}, {1, 2, high}, {5, 13, both}, {5, 9, both}, {3, 5, both}, {3, 4, both}, {6, 14, both}, {6, 10, both},
    {6, 8, both}, {5, 6, both}, {10, 12, both}, {7, 15, both}, {7, 11, both}, {7, 9, both}, {9, 10, both},
    {7, 8, both}, {11, 13, both}, {11, 12, both}, {13, 14, both}, {21, 22, both}, {20, 22, both}, {20, 21, both},
    {23, 24, both}, {21, 23, both}, {22, 24, both}, {22, 20, both}, {22, 21, both}, {20, 23, both}, {16, 17, both},
    {18, 19, both}, {16, 18, both}, {17, 19, both}, {17, 18, both}, {17, 20, both}, {18, 23, both}, {16, 21, both},
    {18, 21, both}, {19, 24, both}, {15, 24, low}, {19, 22, both}, {19, 17, both}, {17, 18, both}, {9, 17, high},
    {10, 18, low}, {10, 2, high}, {19, 16, both}, {7, 19, high}, {15, 19, low}, {8, 16, high}, {22, 20, both},
    {22, 21, both}, {11, 22, low}, {12, 21, low}, {12, 4, high}, {4, 16, low}, {11, 3, high}, {15, 3, high},
    {20, 23, both}, {13, 20, low}, {14, 23, low}, {14, 6, low}, {14, 2, high}, {2, 4, high}, {13, 5, high},
    {5, 17, low}, {3, 5, low}, {3, 4, low},
};

inline constexpr int median_wire_49 = 20;
inline constexpr exchange network_49[] = {
    {1, 2, both}, {0, 1, both}, {2, 1, both}, {3, 4, both}, {5, 6, both}, {3, 5, both}, {4, 6, both}, {4, 5, both},
    {2, 4, both}, {6, 4, both}, {1, 5, both}, {4, 5, both}, {0, 3, both}, {1, 3, both}, {6, 3, both}, {2, 1, both},
    {7, 8, both}, {9, 10, both}, {7, 9, both}, {8, 10, both}, {8, 9, both}, {13, 14, both}, {15, 16, both},
    {13, 15, both}, {14, 16, both}, {14, 15, both}, {17, 18, both}, {17, 19, both}, {18, 19, both}, {14, 18, both},
    {15, 19, both}, {16, 18, both}, {18, 19, both}, {13, 17, both}, {15, 17, both}, {16, 17, both}, {14, 15, both},
    {20, 21, both}, {20, 22, both}, {21, 22, both}, {27, 28, both}, {29, 30, both}, {27, 29, both}, {28, 30, both},
    {28, 29, both}, {31, 32, both}, {31, 33, both}, {32, 33, both}, {34, 35, both}, {34, 36, both}, {35, 36, both},
    {32, 35, both}, {33, 36, both}, {31, 34, both}, {33, 34, both}, {32, 33, both}, {35, 34, both}, {39, 40, both},
    {41, 42, both}, {39, 41, both}, {40, 42, both}, {40, 41, both}, {44, 45, both}, {43, 44, both}, {45, 44, both},
    {46, 47, both}, {46, 48, both}, {47, 48, both}, {45, 47, both}, {44, 48, both}, {43, 46, both}, {44, 46, both},
    {45, 44, both}, {47, 46, both}, {11, 12, both}, {8, 12, both}, {10, 12, both}, {7, 11, both}, {9, 11, both},
    {10, 11, both}, {8, 9, both}, {2, 8, both}, {1, 9, both}, {6, 10, both}, {3, 11, both}, {5, 9, both},
    {9, 11, both}, {0, 7, both}, {3, 7, both}, {5, 7, both}, {1, 3, both}, {2, 1, both}, {4, 12, both},
    {12, 11, both}, {4, 8, both}, {6, 4, both}, {6, 3, both}, {4, 5, both}, {10, 8, both}, {10, 7, both},
    {8, 9, both}, {23, 24, both}, {21, 24, both}, {20, 23, both}, {22, 23, both}, {21, 22, both}, {24, 23, both},
    {14, 21, both}, {15, 22, both}, {16, 24, both}, {17, 23, both}, {19, 22, both}, {22, 23, both}, {12, 23, both},
    {18, 21, both}, {16, 18, both}, {24, 21, both}, {21, 22, both}, {8, 21, both}, {9, 22, both}, {13, 20, both},
    {17, 20, both}, {19, 20, both}, {24, 20, both}, {18, 19, both}, {15, 17, both}, {16, 17, both}, {14, 15, both},
    {6, 16, both}, {12, 16, both}, {3, 17, both}, {11, 17, both}, {10, 24, both}, {10, 12, both}, {24, 16, both},
    {16, 21, both}, {7, 20, both}, {17, 20, both}, {22, 20, both}, {21, 22, both}, {23, 20, both}, {4, 18, both},
    {5, 19, both}, {2, 14, both}, {8, 14, both}, {4, 8, both}, {18, 14, both}, {24, 14, both}, {12, 18, both},
    {10, 8, both}, {6, 4, both}, {1, 15, both}, {9, 15, both}, {5, 9, both}, {19, 15, both}, {15, 17, both},
    {14, 15, both}, {16, 17, both}, {0, 13, both}, {7, 13, both}, {11, 13, both}, {19, 13, both}, {9, 11, both},
    {8, 9, both}, {12, 11, both}, {18, 19, both}, {24, 13, both}, {3, 7, both}, {5, 7, both}, {1, 3, both},
    {6, 3, both}, {4, 5, both}, {10, 7, both}, {2, 1, both}, {25, 26, both}, {26, 28, both}, {30, 28, both},
    {28, 36, both}, {25, 27, both}, {25, 31, both}, {29, 27, both}, {30, 27, both}, {26, 29, both}, {26, 32, both},
    {28, 32, both}, {29, 33, both}, {30, 35, both}, {30, 28, both}, {35, 32, both}, {27, 34, both}, {32, 34, both},
    {27, 31, both}, {29, 27, both}, {30, 27, both}, {33, 31, both}, {35, 31, both}, {28, 33, both}, {26, 29, both},
    {37, 38, both}, {38, 40, both}, {42, 40, both}, {40, 48, both}, {36, 48, both}, {23, 48, low}, {37, 39, both},
    {37, 43, both}, {25, 37, both}, {0, 25, high}, {41, 39, both}, {42, 39, both}, {38, 41, both}, {38, 45, both},
    {40, 45, both}, {41, 44, both}, {42, 47, both}, {42, 40, both}, {47, 45, both}, {39, 46, both}, {45, 46, both},
    {39, 43, both}, {41, 39, both}, {42, 39, both}, {44, 43, both}, {47, 43, both}, {40, 44, both}, {38, 41, both},
    {26, 38, both}, {29, 41, both}, {28, 40, both}, {33, 44, both}, {35, 47, both}, {31, 43, both}, {31, 37, both},
    {30, 42, both}, {36, 42, both}, {35, 36, both}, {47, 42, both}, {27, 39, both}, {27, 31, both}, {39, 37, both},
    {29, 27, both}, {26, 29, both}, {2, 26, high}, {1, 29, high}, {32, 45, both}, {42, 45, both}, {32, 38, both},
    {28, 32, both}, {35, 32, both}, {30, 28, both}, {30, 27, both}, {6, 30, high}, {3, 27, high}, {40, 38, both},
    {47, 38, both}, {36, 40, both}, {34, 46, both}, {45, 46, both}, {21, 45, low}, {22, 46, low}, {34, 41, both},
    {33, 34, both}, {34, 39, both}, {36, 39, both}, {12, 36, high}, {11, 39, low}, {32, 34, both}, {8, 32, high},
    {9, 34, high}, {33, 31, both}, {28, 33, both}, {4, 28, high}, {21, 28, low}, {5, 33, high}, {22, 33, low},
    {35, 31, both}, {10, 35, high}, {23, 35, low}, {7, 31, high}, {20, 31, low}, {44, 41, both}, {44, 37, both},
    {40, 44, both}, {18, 40, low}, {18, 21, high}, {19, 44, low}, {19, 22, high}, {47, 37, both}, {24, 47, low},
    {24, 23, high}, {13, 37, low}, {13, 25, high}, {20, 25, low}, {41, 43, both}, {38, 41, both}, {14, 38, low},
    {14, 26, high}, {32, 26, low}, {21, 32, high}, {15, 41, low}, {15, 29, high}, {34, 29, low}, {22, 34, low},
    {42, 43, both}, {16, 42, low}, {16, 30, high}, {36, 30, low}, {23, 36, low}, {23, 32, low}, {17, 43, low},
    {17, 27, low}, {11, 17, high}, {17, 20, high}, {22, 20, high}, {23, 20, high},
};

template <class Ops, int A, int B, keep Kept>
[[gnu::always_inline]] inline void apply(typename Ops::V* w) {
    const typename Ops::V a = w[A], b = w[B];
    if constexpr ((Kept & low) != 0) w[A] = Ops::min(a, b);
    if constexpr ((Kept & high) != 0) w[B] = Ops::max(a, b);
}

template <class Ops, const auto& network, std::size_t offset, std::size_t... I>
[[gnu::always_inline]] inline void run(typename Ops::V* w, std::index_sequence<I...>) {
    (apply<Ops, network[offset + I].a, network[offset + I].b, network[offset + I].kept>(w), ...);
}

// All exchanges, unrolled, in folds of at most 128 (compilers limit a fold's
// length).
template <class Ops, const auto& network, std::size_t offset = 0>
[[gnu::always_inline]] inline void run_all(typename Ops::V* w) {
    constexpr std::size_t left = std::size(network) - offset;
    constexpr std::size_t chunk = left < 128 ? left : 128;
    run<Ops, network, offset>(w, std::make_index_sequence<chunk>());
    if constexpr (chunk < left) run_all<Ops, network, offset + chunk>(w);
}

// w[0..25): the 5 x 5 window in any order; overwritten.
template <class Ops>
[[gnu::always_inline]] inline typename Ops::V median_25(typename Ops::V* w) {
    run_all<Ops, network_25>(w);
    return w[median_wire_25];
}

// w[0..49): the 7 x 7 window in any order; overwritten.
template <class Ops>
[[gnu::always_inline]] inline typename Ops::V median_49(typename Ops::V* w) {
    run_all<Ops, network_49>(w);
    return w[median_wire_49];
}

template <class Ops>
inline typename Ops::V median_3(typename Ops::V a, typename Ops::V b, typename Ops::V c) {
    return Ops::max(Ops::min(a, b), Ops::min(Ops::max(a, b), c));
}

// Sorts a, b, c into least, middle, most.
template <class Ops>
inline void sort_3(typename Ops::V a, typename Ops::V b, typename Ops::V c, typename Ops::V& least,
                   typename Ops::V& middle, typename Ops::V& most) {
    const typename Ops::V ab_low = Ops::min(a, b), ab_high = Ops::max(a, b);
    most = Ops::max(ab_high, c);
    const typename Ops::V rest = Ops::min(ab_high, c);
    least = Ops::min(ab_low, rest);
    middle = Ops::max(ab_low, rest);
}

// w[0..9): the 3 x 3 window row by row.
template <class Ops>
inline typename Ops::V median_9(const typename Ops::V* w) {
    typename Ops::V least[3], middle[3], most[3];
    sort_3<Ops>(w[0], w[1], w[2], least[0], middle[0], most[0]);
    sort_3<Ops>(w[3], w[4], w[5], least[1], middle[1], most[1]);
    sort_3<Ops>(w[6], w[7], w[8], least[2], middle[2], most[2]);
    const typename Ops::V low = Ops::max(Ops::max(least[0], least[1]), least[2]);
    const typename Ops::V high = Ops::min(Ops::min(most[0], most[1]), most[2]);
    return median_3<Ops>(low, median_3<Ops>(middle[0], middle[1], middle[2]), high);
}

// Plain T; inputs are never NaN here.
template <class T>
struct scalar_ops {
    using V = T;
    static T min(T a, T b) { return b < a ? b : a; }
    static T max(T a, T b) { return a < b ? b : a; }
};

// Interior pixels of row y (radius 1 to 3; x from r to nx - r) by vector
// registers; nx - 2r must be at least 8 floats or 4 doubles. Given
// nan_windows (nx bytes), the pixels whose windows hold NaN get theirs set
// to 1 and need another median. `columns` is scratch of 3 * nx elements
// (radius 1 without NaN shares sorted columns between windows).
void median_row_avx2(const float* src, std::int64_t nx, std::int64_t y, std::int64_t r, float* dst,
                     std::uint8_t* nan_windows, float* columns);
void median_row_avx2(const double* src, std::int64_t nx, std::int64_t y, std::int64_t r, double* dst,
                     std::uint8_t* nan_windows, double* columns);

// Radius 1, the rows [y0, y1) (1 <= y0, y1 <= ny - 1), by sorted columns
// shared between windows and between pairs of rows, in one pass over the
// source (the first and last pixels of each row by their cut windows); nx
// - 2 must be at least 8 floats or 4 doubles. A row whose windows may hold
// NaN gets nan_rows[y] = 1 (nan_rows has ny bytes) and needs another
// median, its first and last pixels included; the others are done.
void median_3x3_rows_avx2(const float* src, std::int64_t nx, std::int64_t y0, std::int64_t y1, float* dst,
                          std::uint8_t* nan_rows);
void median_3x3_rows_avx2(const double* src, std::int64_t nx, std::int64_t y0, std::int64_t y1, double* dst,
                          std::uint8_t* nan_rows);

// Radius 1 on the first or last row of an image of at least 2 rows: `row`,
// its one neighbour `other` and the output row, x from 1 to nx - 2 (nx - 2
// at least 8 floats or 4 doubles). Windows holding NaN get nan_windows[x] =
// 1 (nx bytes) and need another median.
void median_3x3_edge_row_avx2(const float* row, const float* other, std::int64_t nx, float* out,
                              std::uint8_t* nan_windows);
void median_3x3_edge_row_avx2(const double* row, const double* other, std::int64_t nx, double* out,
                              std::uint8_t* nan_windows);

// Whether values[0..n) holds NaN, by vector registers (the plain loop's
// comparisons stay scalar).
bool holds_nan_avx2(const float* values, std::int64_t n);
bool holds_nan_avx2(const double* values, std::int64_t n);

}  // namespace zorvan::kernels::median_network
