// The maximum filter of maximum_filter_2d on AVX2, for every pixel type, in
// one sweep down the image: the running-maxima column pass a vector of
// columns at a time over whole rows, each output row then filtered along
// the row. Windows of up to 128 pixels go row by row, by maxima over growing
// spans (one to four passes over the row, which is cheaper there than
// transposing); wider ones of float and double go L rows at a time (L =
// lanes of a vector), transposed so that one vector holds a column of the L
// rows and their running maxima advance together, while integer rows keep
// growing spans (a pass more per factor of four of the window). max(v, m)
// gives m unless v > m, lane by lane: the rule of the plain kernel, so the
// results match it (up to the sign of a zero in a tie; integers exactly).

#include "filters/maximum_kernel.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>

#include "simd/avx2_lanes.h"

namespace zorvan::kernels {

namespace {

using I = std::int64_t;

// Integer pixels in the interface of simd::float_lanes, without the tile
// transpose (their wide windows go by growing spans). max is exact on them.
template <class T>
struct integer_lanes {
    using real = T;
    using vec = __m256i;
    static constexpr int lanes = 32 / sizeof(T);
    static vec load(const T* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(T* p, vec v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static vec fill(T v) {
        if constexpr (sizeof(T) == 1) return _mm256_set1_epi8(static_cast<char>(v));
        else if constexpr (sizeof(T) == 2) return _mm256_set1_epi16(static_cast<short>(v));
        else return _mm256_set1_epi32(static_cast<int>(v));
    }
    static vec larger(vec v, vec m) {
        if constexpr (std::is_same_v<T, std::int8_t>) return _mm256_max_epi8(v, m);
        else if constexpr (std::is_same_v<T, std::uint8_t>) return _mm256_max_epu8(v, m);
        else if constexpr (std::is_same_v<T, std::int16_t>) return _mm256_max_epi16(v, m);
        else if constexpr (std::is_same_v<T, std::uint16_t>) return _mm256_max_epu16(v, m);
        else if constexpr (std::is_same_v<T, std::int32_t>) return _mm256_max_epi32(v, m);
        else return _mm256_max_epu32(v, m);
    }
};

// Lanes that can be transposed as a tile (float and double).
template <class V>
concept tiles = requires(typename V::vec (&tile)[V::lanes]) { V::transpose(tile); };

template <class R>
std::unique_ptr<R[]> buffer(I count) {
    return std::unique_ptr<R[]>(new R[static_cast<std::size_t>(count)]);
}

// a[x] = max(b[x], c[x]) over a row of n: b[x] wins only when greater, so
// b may hold NaN, c not.
template <class V>
void join(typename V::real* a, const typename V::real* b, const typename V::real* c, I n) {
    constexpr int L = V::lanes;
    I x = 0;
    for (; x + L <= n; x += L) V::store(a + x, V::larger(V::load(b + x), V::load(c + x)));
    for (; x < n; ++x) a[x] = b[x] > c[x] ? b[x] : c[x];
}

// a[x] = max(b[x], c[x]), c[x] first raised to the lowest value when `raise`
// (c then being a source row that may hold NaN).
template <class V>
void join_from_lowest(typename V::real* a, const typename V::real* b, const typename V::real* c, bool raise, I n) {
    if (!raise) return join<V>(a, b, c, n);
    constexpr int L = V::lanes;
    const typename V::vec lowest = V::fill(lowest_value<typename V::real>);
    I x = 0;
    for (; x + L <= n; x += L) V::store(a + x, V::larger(V::load(b + x), V::larger(V::load(c + x), lowest)));
    for (; x < n; ++x) {
        const typename V::real m = c[x] > lowest_value<typename V::real> ? c[x] : lowest_value<typename V::real>;
        a[x] = b[x] > m ? b[x] : m;
    }
}

template <class V>
void fill_lowest(typename V::real* a, I n) {
    std::fill(a, a + n, lowest_value<typename V::real>);
}

// maximum_line of the plain kernel on vectors, one line per lane: element i
// of `line` and `suffixes` is the vector at i*L.
template <class V>
void line_maxima(typename V::real* line, I n, I r, typename V::real* suffixes) {
    using vec = typename V::vec;
    constexpr int L = V::lanes;
    const I window = 2 * r + 1;
    const vec lowest = V::fill(lowest_value<typename V::real>);
    const auto at = [line](I i) { return V::load(line + i * L); };
    for (I block = 0; block < n; block += window) {
        const I outputs = std::min(window, n - block);
        vec m = lowest;
        for (I p = std::min(block + window, n + 2 * r) - 1; p >= block + outputs; --p) m = V::larger(at(p), m);
        for (I t = outputs - 1; t >= 0; --t) {
            m = V::larger(at(block + t), m);
            V::store(suffixes + t * L, m);
        }
        V::store(line + block * L, V::load(suffixes));
        m = lowest;
        for (I t = 1; t < outputs; ++t) {
            m = V::larger(at(block + window + t - 1), m);
            V::store(line + (block + t) * L, V::larger(m, V::load(suffixes + t * L)));
        }
    }
}

// The row pass over up to L rows of nx packed elements, from `in` to `out`.
template <class V>
class row_pass {
public:
    using R = typename V::real;
    using vec = typename V::vec;
    static constexpr int L = V::lanes;

    row_pass(I nx, I r)
        : nx_(nx), r_(r), line_(buffer<R>((nx + 2 * r) * L)), suffixes_(buffer<R>(std::min(2 * r + 1, nx) * L)) {
        std::fill(line_.get() + (r + nx) * L, line_.get() + (nx + 2 * r) * L, lowest_value<R>);
    }

    void run(const R* in, int rows, R* out) {
        R* line = line_.get();
        const vec lowest = V::fill(lowest_value<R>);
        const I vector_end = nx_ - nx_ % L;
        std::fill(line, line + r_ * L, lowest_value<R>);  // outputs overwrote the lead
        for (I x = 0; x < vector_end; x += L) {
            vec tile[L];
            if (rows == L) {
                V::load_tile(in + x, nx_, tile);
            } else {
                for (int k = 0; k < L; ++k) tile[k] = k < rows ? V::load(in + nx_ * k + x) : lowest;
            }
            V::transpose(tile);
            for (int i = 0; i < L; ++i) V::store(line + (r_ + x + i) * L, tile[i]);
        }
        for (I x = vector_end; x < nx_; ++x) {
            for (int k = 0; k < L; ++k) line[(r_ + x) * L + k] = k < rows ? in[nx_ * k + x] : lowest_value<R>;
        }
        line_maxima<V>(line, nx_, r_, suffixes_.get());
        for (I x = 0; x < vector_end; x += L) {
            vec tile[L];
            V::load_tile(line + x * L, L, tile);
            V::transpose(tile);
            for (int k = 0; k < rows; ++k) V::store(out + nx_ * k + x, tile[k]);
        }
        for (I x = vector_end; x < nx_; ++x) {
            for (int k = 0; k < rows; ++k) out[nx_ * k + x] = line[x * L + k];
        }
    }

private:
    I nx_;
    I r_;
    std::unique_ptr<R[]> line_;
    std::unique_ptr<R[]> suffixes_;
};

// The row pass of one row by growing spans, for windows of up to
// `doubling_window` pixels: padded[] holds the row between r lowest values at
// each end. Its maxima over spans of K = 4, 16, ... are formed in place
// while K fits the window W = 2r+1 four times (not for W up to 7, whose
// pixels are joined directly); out[x] then joins the (at most four, or the
// W single) spans that start at x, x+K, x+2K and x+W-K. One to four passes
// over the row, each at most 6 comparisons per pixel on contiguous vectors.
constexpr I doubling_window = 128;

// out[x] = the maximum of spans[x + offsets[k]] over k < S.
template <class V, int S>
void join_spans(const typename V::real* spans, const I* offsets, I nx, typename V::real* out) {
    using R = typename V::real;
    constexpr int L = V::lanes;
    I x = 0;
    for (; x + L <= nx; x += L) {
        typename V::vec m = V::load(spans + x + offsets[0]);
        for (int k = 1; k < S; ++k) m = V::larger(V::load(spans + x + offsets[k]), m);
        V::store(out + x, m);
    }
    for (; x < nx; ++x) {
        R m = spans[x];
        for (int k = 1; k < S; ++k) m = spans[x + offsets[k]] > m ? spans[x + offsets[k]] : m;
        out[x] = m;
    }
}

template <class V>
void row_by_doubling(typename V::real* padded, I nx, I r, typename V::real* out) {
    const I window = 2 * r + 1;
    const I n = nx + 2 * r;
    I span = 1;
    // Windows of up to 7 join their single pixels directly: one pass of up
    // to 7 loads instead of a pass over spans of 4 and a join of two.
    for (; 4 * span <= window && window > 7; span *= 4) {
        // Spans four times as long, in place: ascending, each position is
        // written after every read of it.
        using R = typename V::real;
        constexpr int L = V::lanes;
        const I count = n - 4 * span + 1;
        R* const p = padded;
        I x = 0;
        for (; x + L <= count; x += L) {
            const typename V::vec low = V::larger(V::load(p + x + span), V::load(p + x));
            const typename V::vec high = V::larger(V::load(p + x + 3 * span), V::load(p + x + 2 * span));
            V::store(p + x, V::larger(high, low));
        }
        for (; x < count; ++x) {
            for (int k = 1; k < 4; ++k) p[x] = p[x + k * span] > p[x] ? p[x + k * span] : p[x];
        }
    }
    I offsets[7];
    int spans = 0;
    for (I offset = 0; offset + span < window; offset += span) offsets[spans++] = offset;
    offsets[spans++] = window - span;
    switch (spans) {
        case 1: return join_spans<V, 1>(padded, offsets, nx, out);
        case 2: return join_spans<V, 2>(padded, offsets, nx, out);
        case 3: return join_spans<V, 3>(padded, offsets, nx, out);
        case 4: return join_spans<V, 4>(padded, offsets, nx, out);
        case 5: return join_spans<V, 5>(padded, offsets, nx, out);
        case 6: return join_spans<V, 6>(padded, offsets, nx, out);
        default: return join_spans<V, 7>(padded, offsets, nx, out);
    }
}

// maximum_columns of the plain kernel over whole rows, each output row
// handed on to the row pass as it is made.
template <class V>
void maximum(const typename V::real* src, I nx, I ny, I radius, typename V::real* dst) {
    using R = typename V::real;
    constexpr int L = V::lanes;
    assert(src != nullptr && dst != nullptr && nx >= 0 && ny >= 0 && radius >= 0);
    if (nx == 0 || ny == 0) return;
    const I r = std::min(radius, ny);
    const I window = 2 * r + 1;
    const auto suffixes = buffer<R>(std::min(window, ny) * nx);
    const auto prefix = buffer<R>(nx);
    // Output rows of the column pass go to the row pass one by one into a
    // padded row, or for wide windows L at a time into `band`.
    const I rx = std::min(radius, nx);
    const bool doubling = !tiles<V> || 2 * rx + 1 <= doubling_window;
    const auto band = buffer<R>(doubling ? nx + 2 * rx : L * nx);
    std::unique_ptr<row_pass<V>> rows;
    if constexpr (tiles<V>) {
        if (!doubling) rows = std::make_unique<row_pass<V>>(nx, rx);
    }
    int band_rows = 0;
    I band_start = 0;
    const auto next_output = [&]() -> R* { return doubling ? band.get() + rx : band.get() + nx * band_rows; };
    const auto output_done = [&]() {
        if (doubling) {
            std::fill(band.get(), band.get() + rx, lowest_value<R>);
            std::fill(band.get() + rx + nx, band.get() + nx + 2 * rx, lowest_value<R>);
            row_by_doubling<V>(band.get(), nx, rx, dst + nx * band_start++);
        } else if constexpr (tiles<V>) {
            if (++band_rows == L || band_start + band_rows == ny) {
                rows->run(band.get(), band_rows, dst + nx * band_start);
                band_start += band_rows;
                band_rows = 0;
            }
        }
    };
    // suffix[t] points at the suffix maxima from block row t on: a row of
    // `suffixes`, a source row, or `lowest` for rows above the image, so that
    // maxima of a single row are never copied.
    const auto suffix = std::unique_ptr<const R*[]>(new const R*[static_cast<std::size_t>(std::min(window, ny))]);
    const auto lowest = buffer<R>(nx);
    fill_lowest<V>(lowest.get(), nx);
    for (I block = 0; block < ny; block += window) {
        const I outputs = std::min(window, ny - block);
        // Rows beyond the last output row gather in that row's suffix.
        const R* carried = nullptr;
        R* const carry = suffixes.get() + nx * (outputs - 1);
        for (I p = std::min(block + window - 1, ny - 1 + r); p >= block + outputs - 1 && p >= r; --p) {
            const R* row = src + nx * (p - r);
            if (carried == nullptr) {
                join<V>(carry, row, lowest.get(), nx);
            } else {
                join<V>(carry, row, carry, nx);
            }
            carried = carry;
        }
        suffix[outputs - 1] = carried != nullptr ? carried : lowest.get();
        for (I t = outputs - 2; t >= 0; --t) {
            if (block + t < r) {
                suffix[t] = suffix[t + 1];
            } else {
                join<V>(suffixes.get() + nx * t, src + nx * (block + t - r), suffix[t + 1], nx);
                suffix[t] = suffixes.get() + nx * t;
            }
        }
        std::memcpy(next_output(), suffix[0], sizeof(R) * static_cast<std::size_t>(nx));
        output_done();
        // The prefix maxima of the next block, joined with the suffixes. A
        // single source row is joined as it is (NaN and -inf lose to any
        // suffix, which is never below the lowest value).
        const R* first = nullptr;
        const R* running = nullptr;
        for (I t = 1; t < outputs; ++t) {
            const I source_row = block + window + t - 1 - r;
            if (source_row < ny) {
                const R* row = src + nx * source_row;
                if (first == nullptr) {
                    first = row;
                } else {
                    join_from_lowest<V>(prefix.get(), row, running == nullptr ? first : running, running == nullptr,
                                        nx);
                    running = prefix.get();
                }
            }
            if (first == nullptr) {
                std::memcpy(next_output(), suffix[t], sizeof(R) * static_cast<std::size_t>(nx));
            } else {
                join<V>(next_output(), running == nullptr ? first : running, suffix[t], nx);
            }
            output_done();
        }
    }
}

}  // namespace

void maximum_filter_2d_avx2(const float* src, I nx, I ny, I radius, float* dst) {
    maximum<simd::float_lanes>(src, nx, ny, radius, dst);
}
void maximum_filter_2d_avx2(const double* src, I nx, I ny, I radius, double* dst) {
    maximum<simd::double_lanes>(src, nx, ny, radius, dst);
}
void maximum_filter_2d_avx2(const std::int8_t* src, I nx, I ny, I radius, std::int8_t* dst) {
    maximum<integer_lanes<std::int8_t>>(src, nx, ny, radius, dst);
}
void maximum_filter_2d_avx2(const std::uint8_t* src, I nx, I ny, I radius, std::uint8_t* dst) {
    maximum<integer_lanes<std::uint8_t>>(src, nx, ny, radius, dst);
}
void maximum_filter_2d_avx2(const std::int16_t* src, I nx, I ny, I radius, std::int16_t* dst) {
    maximum<integer_lanes<std::int16_t>>(src, nx, ny, radius, dst);
}
void maximum_filter_2d_avx2(const std::uint16_t* src, I nx, I ny, I radius, std::uint16_t* dst) {
    maximum<integer_lanes<std::uint16_t>>(src, nx, ny, radius, dst);
}
void maximum_filter_2d_avx2(const std::int32_t* src, I nx, I ny, I radius, std::int32_t* dst) {
    maximum<integer_lanes<std::int32_t>>(src, nx, ny, radius, dst);
}
void maximum_filter_2d_avx2(const std::uint32_t* src, I nx, I ny, I radius, std::uint32_t* dst) {
    maximum<integer_lanes<std::uint32_t>>(src, nx, ny, radius, dst);
}

}  // namespace zorvan::kernels
