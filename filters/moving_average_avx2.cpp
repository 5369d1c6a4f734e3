// The running-sum sweep of box_sweep_2d, a strip of rows at a time: the
// column sums of the strip's rows (one per vector lane) are produced ahead,
// transposed so that one vector holds a column's sums for every row of the
// strip, and the row sums of all the strip's rows then slide together, lane
// by lane. Each output goes through the very additions, subtractions and
// division of the plain sweep, in the same order, so the bits are the same;
// only independent chains run side by side.

#include "filters/moving_average_pair_kernel.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "simd/avx2_lanes.h"

namespace zorvan::kernels {

namespace {

using I = std::int64_t;

// Sum 0 holds the values, sum 1 (of the pair) their squares.
template <class V>
inline typename V::vec term(int s, typename V::vec v) {
    return s == 0 ? v : V::mul(v, v);
}
template <class R>
inline R term(int s, R v) {
    return s == 0 ? v : v * v;
}

template <class V, int Sums>
void strip_sweep(const typename V::real* src, I src_row_pitch, I nx, I ny, I r, typename V::real* const* out,
                 const I* out_row_pitch) {
    using R = typename V::real;
    using vec = typename V::vec;
    constexpr int L = V::lanes;
    const auto n = static_cast<std::size_t>(nx);
    // column_sums[s*nx + x] carries from strip to strip; across[(s*nx + x)*L + k]
    // is the column sum s at x of the strip's row k; divisors[x*L + k] its
    // count, near the left and right edges (elsewhere all 2r+1 columns count).
    // Buffers by unique_ptr rather than std::vector: no template of the
    // standard library gets instantiated (and shared) from this AVX2 source.
    const std::unique_ptr<R[]> column_sums(new R[Sums * n]());
    const std::unique_ptr<R[]> across(new R[Sums * n * L]);
    const std::unique_ptr<R[]> divisors(new R[n * L]);
    I divisor_rows[L] = {};
    vec full_columns = V::zero();

    for (I y = 0; y < std::min(ny, r); ++y) {
        const R* row = src + src_row_pitch * y;
        for (I x = 0; x < nx; ++x) {
            for (int s = 0; s < Sums; ++s) column_sums[s * n + x] += term(s, row[x]);
        }
    }

    for (I y0 = 0; y0 < ny; y0 += L) {
        const int rows = static_cast<int>(std::min<I>(L, ny - y0));
        // Row k's column sums: the leaving row subtracted, then the entering
        // row added, onto row k-1's.
        const R* leaving[L];
        const R* entering[L];
        I row_counts[L];
        for (int k = 0; k < L; ++k) {
            const I y = y0 + k;
            leaving[k] = k < rows && y > r ? src + src_row_pitch * (y - r - 1) : nullptr;
            entering[k] = k < rows && y + r < ny ? src + src_row_pitch * (y + r) : nullptr;
            row_counts[k] = k < rows ? detail::window_count(y, ny, r) : 1;
        }
        for (int s = 0; s < Sums; ++s) {
            R* sums = column_sums.get() + s * n;
            R* strip = across.get() + s * n * L;
            I x = 0;
            for (; x + L <= nx; x += L) {
                vec c = V::load(sums + x);
                vec tile[L];
                for (int k = 0; k < L; ++k) {
                    if (leaving[k] != nullptr) c = V::sub(c, term<V>(s, V::load(leaving[k] + x)));
                    if (entering[k] != nullptr) c = V::add(c, term<V>(s, V::load(entering[k] + x)));
                    tile[k] = c;
                }
                V::store(sums + x, c);
                V::transpose(tile);
                for (int i = 0; i < L; ++i) V::store(strip + (x + i) * L, tile[i]);
            }
            for (; x < nx; ++x) {
                R c = sums[x];
                for (int k = 0; k < L; ++k) {
                    if (leaving[k] != nullptr) c -= term(s, leaving[k][x]);
                    if (entering[k] != nullptr) c += term(s, entering[k][x]);
                    strip[x * L + k] = c;
                }
                sums[x] = c;
            }
        }
        // The counts as the plain sweep converts them: row count times column
        // count in 64 bits, then to the element type. Rows away from the top
        // and bottom share one set.
        if (!std::equal(row_counts, row_counts + L, divisor_rows)) {
            std::copy(row_counts, row_counts + L, divisor_rows);
            for (I x = 0; x < nx; ++x) {
                if (x >= r && x + r < nx) continue;  // full windows share `full_columns`
                const I column_count = detail::window_count(x, nx, r);
                for (int k = 0; k < L; ++k) divisors[x * L + k] = static_cast<R>(row_counts[k] * column_count);
            }
            R full[L];
            for (int k = 0; k < L; ++k) full[k] = static_cast<R>(row_counts[k] * (2 * r + 1));
            full_columns = V::load(full);
        }
        // The row sums slide, the leaving column subtracted before the
        // entering one is added; outputs are transposed back into rows.
        for (int s = 0; s < Sums; ++s) {
            const R* strip = across.get() + s * n * L;
            vec sum = V::zero();
            for (I x = 0; x < std::min(nx, r); ++x) sum = V::add(sum, V::load(strip + x * L));
            const auto step = [&](I x) {
                if (x > r) sum = V::sub(sum, V::load(strip + (x - r - 1) * L));
                if (x + r < nx) sum = V::add(sum, V::load(strip + (x + r) * L));
                return V::div(sum, x >= r && x + r < nx ? full_columns : V::load(divisors.get() + x * L));
            };
            R* dst = out[s] + out_row_pitch[s] * y0;
            const I row_pitch = out_row_pitch[s];
            I x0 = 0;
            for (; x0 + L <= nx; x0 += L) {
                vec tile[L];
                for (int i = 0; i < L; ++i) tile[i] = step(x0 + i);
                V::transpose(tile);
                for (int k = 0; k < rows; ++k) V::store(dst + row_pitch * k + x0, tile[k]);
            }
            if (x0 < nx) {
                const int columns = static_cast<int>(nx - x0);
                vec tile[L];
                for (int i = 0; i < L; ++i) tile[i] = i < columns ? step(x0 + i) : V::zero();
                V::transpose(tile);
                for (int k = 0; k < rows; ++k) {
                    R values[L];
                    V::store(values, tile[k]);
                    std::memcpy(dst + row_pitch * k + x0, values, sizeof(R) * static_cast<std::size_t>(columns));
                }
            }
        }
    }
}

template <class V>
void box_mean(const typename V::real* src, I src_row_pitch, I nx, I ny, I radius, typename V::real* dst,
              I dst_row_pitch) {
    assert(src != nullptr && dst != nullptr && nx >= 0 && ny >= 0);
    assert(radius >= 0 && radius <= max_moving_average_radius);
    typename V::real* const out[] = {dst};
    const I pitches[] = {dst_row_pitch};
    strip_sweep<V, 1>(src, src_row_pitch, nx, ny, radius, out, pitches);
}

// Means before squares' means, strip by strip: when both outputs are one
// image it holds the squares' means, as with the plain sweep.
template <class V>
void box_mean_pair(const typename V::real* src, I src_row_pitch, I nx, I ny, I radius, typename V::real* mean,
                   I mean_row_pitch, typename V::real* square_mean, I square_mean_row_pitch) {
    assert(src != nullptr && mean != nullptr && square_mean != nullptr && nx >= 0 && ny >= 0);
    assert(radius >= 0 && radius <= max_moving_average_radius);
    typename V::real* const out[] = {mean, square_mean};
    const I pitches[] = {mean_row_pitch, square_mean_row_pitch};
    strip_sweep<V, 2>(src, src_row_pitch, nx, ny, radius, out, pitches);
}

}  // namespace

void box_mean_2d_avx2(const float* src, I src_row_pitch, I nx, I ny, I radius, float* dst, I dst_row_pitch) {
    box_mean<simd::float_lanes>(src, src_row_pitch, nx, ny, radius, dst, dst_row_pitch);
}
void box_mean_2d_avx2(const double* src, I src_row_pitch, I nx, I ny, I radius, double* dst, I dst_row_pitch) {
    box_mean<simd::double_lanes>(src, src_row_pitch, nx, ny, radius, dst, dst_row_pitch);
}
void box_mean_pair_2d_avx2(const float* src, I src_row_pitch, I nx, I ny, I radius, float* mean, I mean_row_pitch,
                           float* square_mean, I square_mean_row_pitch) {
    box_mean_pair<simd::float_lanes>(src, src_row_pitch, nx, ny, radius, mean, mean_row_pitch, square_mean,
                                     square_mean_row_pitch);
}
void box_mean_pair_2d_avx2(const double* src, I src_row_pitch, I nx, I ny, I radius, double* mean,
                           I mean_row_pitch, double* square_mean, I square_mean_row_pitch) {
    box_mean_pair<simd::double_lanes>(src, src_row_pitch, nx, ny, radius, mean, mean_row_pitch, square_mean,
                                      square_mean_row_pitch);
}

}  // namespace zorvan::kernels
