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

// `Parts` reals per pixel: 1 for real pixels, 2 for complex ones, whose
// real and imaginary parts go through the same arithmetic side by side
// (real part first), each exactly as the plain sweep does it per part. Rows
// and pitches are then counted in reals (`width` = Parts * nx per row).
template <class V, int Sums, int Parts = 1>
void strip_sweep(const typename V::real* src, I src_row_pitch, I nx, I ny, I r, typename V::real* const* out,
                 const I* out_row_pitch) {
    using R = typename V::real;
    using vec = typename V::vec;
    constexpr int L = V::lanes;
    static_assert(Parts == 1 || Sums == 1, "the pair's squares of complex pixels mix the parts");
    const I width = Parts * nx;
    const auto n = static_cast<std::size_t>(width);
    // column_sums[s*width + j] carries from strip to strip; across[(s*width + j)*L + k]
    // is the column sum s at real j of the strip's row k; divisors[x*L + k] the
    // count of pixel column x, near the left and right edges (elsewhere all
    // 2r+1 columns count).
    // Buffers by unique_ptr rather than std::vector: no template of the
    // standard library gets instantiated (and shared) from this AVX2 source.
    const std::unique_ptr<R[]> column_sums(new R[Sums * n]());
    const std::unique_ptr<R[]> across(new R[Sums * n * L]);
    const std::unique_ptr<R[]> divisors(new R[static_cast<std::size_t>(nx) * L]);
    I divisor_rows[L] = {};
    vec full_columns = V::zero();

    for (I y = 0; y < std::min(ny, r); ++y) {
        const R* row = src + src_row_pitch * y;
        for (I x = 0; x < width; ++x) {
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
            for (; x + L <= width; x += L) {
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
            for (; x < width; ++x) {
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
        // entering one is added; outputs are transposed back into rows. One
        // row sum per part; real j is part j % Parts of pixel j / Parts.
        for (int s = 0; s < Sums; ++s) {
            const R* strip = across.get() + s * n * L;
            vec sum[Parts];
            for (int p = 0; p < Parts; ++p) sum[p] = V::zero();
            for (I x = 0; x < std::min(nx, r); ++x) {
                for (int p = 0; p < Parts; ++p) sum[p] = V::add(sum[p], V::load(strip + (x * Parts + p) * L));
            }
            const auto step = [&](I j) {
                const I x = j / Parts;
                const int p = static_cast<int>(j % Parts);
                if (x > r) sum[p] = V::sub(sum[p], V::load(strip + ((x - r - 1) * Parts + p) * L));
                if (x + r < nx) sum[p] = V::add(sum[p], V::load(strip + ((x + r) * Parts + p) * L));
                return V::div(sum[p], x >= r && x + r < nx ? full_columns : V::load(divisors.get() + x * L));
            };
            R* dst = out[s] + out_row_pitch[s] * y0;
            const I row_pitch = out_row_pitch[s];
            I x0 = 0;
            for (; x0 + L <= width; x0 += L) {
                vec tile[L];
                for (int i = 0; i < L; ++i) tile[i] = step(x0 + i);
                V::transpose(tile);
                for (int k = 0; k < rows; ++k) V::store(dst + row_pitch * k + x0, tile[k]);
            }
            if (x0 < width) {
                const int columns = static_cast<int>(width - x0);
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

// Complex pixels as pairs of reals, pitches in pixels.
template <class V>
void complex_box_mean(const dm::complex_pair<typename V::real>* src, I src_row_pitch, I nx, I ny, I radius,
                      dm::complex_pair<typename V::real>* dst, I dst_row_pitch) {
    using R = typename V::real;
    assert(src != nullptr && dst != nullptr && nx >= 0 && ny >= 0);
    assert(radius >= 0 && radius <= max_moving_average_radius);
    R* const out[] = {reinterpret_cast<R*>(dst)};
    const I pitches[] = {2 * dst_row_pitch};
    strip_sweep<V, 1, 2>(reinterpret_cast<const R*>(src), 2 * src_row_pitch, nx, ny, radius, out, pitches);
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
void box_mean_2d_avx2(const dm::complex8* src, I src_row_pitch, I nx, I ny, I radius, dm::complex8* dst,
                      I dst_row_pitch) {
    complex_box_mean<simd::float_lanes>(src, src_row_pitch, nx, ny, radius, dst, dst_row_pitch);
}
void box_mean_2d_avx2(const dm::complex16* src, I src_row_pitch, I nx, I ny, I radius, dm::complex16* dst,
                      I dst_row_pitch) {
    complex_box_mean<simd::double_lanes>(src, src_row_pitch, nx, ny, radius, dst, dst_row_pitch);
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
