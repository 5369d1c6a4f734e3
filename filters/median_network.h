#pragma once
// The median of a 3 x 3 or 5 x 5 window by a fixed network of min and max
// operations, for windows without NaN (min and max would not leave NaN out).
// Written over an `Ops` type that names the lane type V and its min and max,
// so the same network serves plain T and vector registers.
//
// 3 x 3: sort each row, then the median is the median of (largest row
// minimum, median of row medians, smallest row maximum) (Paeth 1990); 30
// operations. 5 x 5: Batcher's odd-even merge sort of 32 wires (7 of them
// +-infinity), pruned to what the median output needs: 111 exchanges, 198
// operations; checked on all 2^25 inputs of 0 and 1, which suffices for a
// network of min and max.
//
// Where +0 and -0 tie at the median either may come out; every other result
// equals a window sample, as median_of gives.

#include <cstddef>
#include <cstdint>
#include <utility>

namespace zorvan::kernels::median_network {

enum keep : std::uint8_t { low = 1, high = 2, both = 3 };  // which outputs of an exchange are used

struct exchange {
    std::uint8_t a, b;  // afterwards wire a holds the smaller value, b the larger
    keep kept;
};

inline constexpr int median_wire_25 = 3;
inline constexpr exchange network_25[] = {
    {0, 1, both}, {2, 3, both}, {4, 5, both}, {6, 7, both}, {8, 9, both}, {10, 11, both}, {12, 13, both},
    {14, 15, both}, {21, 22, both}, {23, 24, both}, {0, 2, both}, {1, 3, both}, {4, 6, both}, {5, 7, both},
    {8, 10, both}, {9, 11, both}, {12, 14, both}, {13, 15, both}, {16, 17, both}, {18, 19, both}, {20, 22, both},
    {1, 2, both}, {5, 6, both}, {9, 10, both}, {13, 14, both}, {20, 21, both}, {0, 4, both}, {1, 5, both},
    {2, 6, both}, {3, 7, both}, {8, 12, both}, {9, 13, both}, {10, 14, both}, {11, 15, both}, {16, 18, both},
    {17, 19, both}, {21, 23, both}, {22, 24, both}, {2, 4, both}, {3, 5, both}, {10, 12, both}, {11, 13, both},
    {22, 20, both}, {1, 2, both}, {3, 4, both}, {5, 6, both}, {9, 10, both}, {11, 12, both}, {13, 14, both},
    {17, 18, both}, {22, 21, both}, {20, 23, both}, {0, 8, high}, {1, 9, both}, {2, 10, both}, {3, 11, both},
    {4, 12, both}, {5, 13, both}, {6, 14, both}, {7, 15, both}, {16, 21, both}, {17, 20, both}, {18, 23, both},
    {19, 24, both}, {4, 8, both}, {5, 9, both}, {6, 10, both}, {7, 11, both}, {19, 22, both}, {2, 4, both},
    {3, 5, both}, {6, 8, both}, {7, 9, both}, {10, 12, both}, {11, 13, both}, {19, 17, both}, {18, 21, both},
    {22, 20, both}, {1, 2, high}, {3, 4, both}, {5, 6, both}, {7, 8, both}, {9, 10, both}, {11, 12, both},
    {13, 14, both}, {19, 16, both}, {17, 18, both}, {22, 21, both}, {20, 23, both}, {7, 19, high}, {8, 16, high},
    {9, 17, high}, {10, 18, low}, {11, 22, low}, {12, 21, low}, {13, 20, low}, {14, 23, low}, {15, 24, low},
    {10, 2, high}, {11, 3, high}, {12, 4, high}, {13, 5, high}, {14, 6, low}, {15, 19, low}, {14, 2, high},
    {15, 3, high}, {4, 16, low}, {5, 17, low}, {2, 4, high}, {3, 5, low}, {3, 4, low},
};

template <class Ops, int A, int B, keep Kept>
inline void apply(typename Ops::V* w) {
    const typename Ops::V a = w[A], b = w[B];
    if constexpr ((Kept & low) != 0) w[A] = Ops::min(a, b);
    if constexpr ((Kept & high) != 0) w[B] = Ops::max(a, b);
}

template <class Ops, std::size_t... I>
inline void run_25(typename Ops::V* w, std::index_sequence<I...>) {
    (apply<Ops, network_25[I].a, network_25[I].b, network_25[I].kept>(w), ...);
}

// w[0..25): the 5 x 5 window in any order; overwritten.
template <class Ops>
inline typename Ops::V median_25(typename Ops::V* w) {
    run_25<Ops>(w, std::make_index_sequence<sizeof(network_25) / sizeof(exchange)>());
    return w[median_wire_25];
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

// Interior pixels of row y (radius 1 or 2; x from r to nx - r) by vector
// registers; nx - 2r must be at least 8 floats or 4 doubles.
void median_row_avx2(const float* src, std::int64_t nx, std::int64_t y, std::int64_t r, float* dst);
void median_row_avx2(const double* src, std::int64_t nx, std::int64_t y, std::int64_t r, double* dst);

}  // namespace zorvan::kernels::median_network
