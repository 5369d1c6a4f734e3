#pragma once
// AVX2 vectors of float (8 lanes) and double (4 lanes) behind one interface,
// for kernels written once for both. Included only by `*_avx2.cpp` sources.
// Loads and stores are unaligned: buffers are aligned to their element only.

#include <cstdint>
#include <immintrin.h>

namespace zorvan::simd {

struct float_lanes {
    using real = float;
    using vec = __m256;
    static constexpr int lanes = 8;
    static vec load(const float* p) { return _mm256_loadu_ps(p); }
    static void store(float* p, vec v) { _mm256_storeu_ps(p, v); }
    static vec zero() { return _mm256_setzero_ps(); }
    static vec fill(float v) { return _mm256_set1_ps(v); }
    static vec add(vec a, vec b) { return _mm256_add_ps(a, b); }
    static vec sub(vec a, vec b) { return _mm256_sub_ps(a, b); }
    static vec mul(vec a, vec b) { return _mm256_mul_ps(a, b); }
    static vec div(vec a, vec b) { return _mm256_div_ps(a, b); }
    // v > m ? v : m, lane by lane: NaN in v never replaces m.
    static vec larger(vec v, vec m) { return _mm256_max_ps(v, m); }

    // v[i] = the vector at p + i*stride, written out so that the compiler
    // keeps the tile in registers (a loop may become a memcpy through the stack).
    static void load_tile(const float* p, std::int64_t stride, vec (&v)[8]) {
        v[0] = load(p), v[1] = load(p + stride), v[2] = load(p + 2 * stride), v[3] = load(p + 3 * stride);
        v[4] = load(p + 4 * stride), v[5] = load(p + 5 * stride), v[6] = load(p + 6 * stride);
        v[7] = load(p + 7 * stride);
    }

    // Rows become columns: lane j of v[i] moves to lane i of v[j].
    static void transpose(vec (&v)[8]) {
        const __m256 t0 = _mm256_unpacklo_ps(v[0], v[1]), t1 = _mm256_unpackhi_ps(v[0], v[1]);
        const __m256 t2 = _mm256_unpacklo_ps(v[2], v[3]), t3 = _mm256_unpackhi_ps(v[2], v[3]);
        const __m256 t4 = _mm256_unpacklo_ps(v[4], v[5]), t5 = _mm256_unpackhi_ps(v[4], v[5]);
        const __m256 t6 = _mm256_unpacklo_ps(v[6], v[7]), t7 = _mm256_unpackhi_ps(v[6], v[7]);
        const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
        const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
        const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
        const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
        v[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
        v[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
        v[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
        v[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
        v[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
        v[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
        v[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
        v[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
    }
};

struct double_lanes {
    using real = double;
    using vec = __m256d;
    static constexpr int lanes = 4;
    static vec load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, vec v) { _mm256_storeu_pd(p, v); }
    static vec zero() { return _mm256_setzero_pd(); }
    static vec fill(double v) { return _mm256_set1_pd(v); }
    static vec add(vec a, vec b) { return _mm256_add_pd(a, b); }
    static vec sub(vec a, vec b) { return _mm256_sub_pd(a, b); }
    static vec mul(vec a, vec b) { return _mm256_mul_pd(a, b); }
    static vec div(vec a, vec b) { return _mm256_div_pd(a, b); }
    static vec larger(vec v, vec m) { return _mm256_max_pd(v, m); }

    static void load_tile(const double* p, std::int64_t stride, vec (&v)[4]) {
        v[0] = load(p), v[1] = load(p + stride), v[2] = load(p + 2 * stride), v[3] = load(p + 3 * stride);
    }

    static void transpose(vec (&v)[4]) {
        const __m256d t0 = _mm256_unpacklo_pd(v[0], v[1]), t1 = _mm256_unpackhi_pd(v[0], v[1]);
        const __m256d t2 = _mm256_unpacklo_pd(v[2], v[3]), t3 = _mm256_unpackhi_pd(v[2], v[3]);
        v[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
        v[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
        v[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
        v[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
    }
};

}  // namespace zorvan::simd
