#pragma once
// The out-of-place median by ranks, for float and double: the same result as
// median_filter_2d (median_select_kernel.h) at a cost per pixel that grows with the
// radius, not with the window's area.
//
// The image is cut into tiles. The samples a tile's windows read (the tile
// grown by the radius, cut to the image) are ranked: sorted once by value
// (radix sort of order-preserving keys) and numbered in that order, so every
// sample has a rank of its own and equal values neighbouring ones; NaN
// samples get the ranks above all values. The window's ranks are kept as one
// bit each, and the window slides over the tile in a serpentine (right along
// one row, down one, left along the next), each step taking out one column or
// row and putting one in (Huang, Yang and Tang 1979, with a bit set in place
// of the histogram). The k-th smallest rank is found by walking whole 64-bit
// words from where the previous window's was, then within the word. The
// selected ranks map back to their values, and an even count takes
// (upper + lower) * 0.5 in T as median_of does.

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace zorvan::kernels {

namespace median_ranks {

// Keys whose unsigned order is the order of the non-NaN values (-0 before
// +0, which the median may return either of), and back.
template <class Bits, class T>
Bits order_key(T v) {
    constexpr Bits sign = Bits(1) << (8 * sizeof(Bits) - 1);
    Bits bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & sign) ? ~bits : (bits | sign);
}

template <class T, class Bits>
T value_of(Bits key) {
    constexpr Bits sign = Bits(1) << (8 * sizeof(Bits) - 1);
    const Bits bits = (key & sign) ? (key & ~sign) : ~key;
    T v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

template <class Key>
struct keyed_sample {
    Key key;
    std::uint32_t index;  // in the tile's grown part, row by row
};

// Stable LSD radix sort by key, 11 bits a pass (fewer, wider passes cost less
// than narrow ones even for the smallest tiles); a pass whose digit all keys
// share moves nothing and is skipped.
template <class Key>
void sort_by_key(std::vector<keyed_sample<Key>>& items, std::vector<keyed_sample<Key>>& scratch) {
    constexpr int digit_bits = 11;
    constexpr int passes = (8 * int(sizeof(Key)) + digit_bits - 1) / digit_bits;
    constexpr std::size_t buckets = std::size_t(1) << digit_bits;
    std::array<std::uint32_t, passes * buckets> counts{};
    for (const auto& item : items) {
        for (int p = 0; p < passes; ++p) ++counts[p * buckets + ((item.key >> (p * digit_bits)) & (buckets - 1))];
    }
    scratch.resize(items.size());
    for (int p = 0; p < passes; ++p) {
        std::uint32_t* count = counts.data() + p * buckets;
        const Key first_digit = (items.front().key >> (p * digit_bits)) & (buckets - 1);
        if (count[first_digit] == items.size()) continue;
        std::uint32_t start = 0;
        for (std::size_t b = 0; b < buckets; ++b) {
            const std::uint32_t n = count[b];
            count[b] = start;
            start += n;
        }
        for (const auto& item : items) scratch[count[(item.key >> (p * digit_bits)) & (buckets - 1)]++] = item;
        items.swap(scratch);
    }
}

// Which bit of a 64-bit word is the j-th set one (from 0); j < popcount.
// Byte counts by SWAR, their running sums by one multiplication, the byte by
// comparing all sums at once, then the bit within it from a table.
struct bit_select_table {
    std::array<std::array<std::uint8_t, 8>, 256> at{};
    constexpr bit_select_table() {
        for (int byte = 0; byte < 256; ++byte) {
            int j = 0;
            for (int bit = 0; bit < 8; ++bit) {
                if (byte >> bit & 1) at[byte][j++] = static_cast<std::uint8_t>(bit);
            }
        }
    }
};
inline constexpr bit_select_table bit_select{};

inline std::uint64_t byte_counts(std::uint64_t x) {
    x = x - ((x >> 1) & 0x5555555555555555u);
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    return (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
}

inline int bit_count(std::uint64_t x) { return static_cast<int>((byte_counts(x) * 0x0101010101010101u) >> 56); }

inline int select_bit(std::uint64_t x, int j) {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    const std::uint64_t sums = byte_counts(x) * ones;  // byte i: bits set in bytes 0..i
    const std::uint64_t above = ((sums | (ones << 7)) - std::uint64_t(j + 1) * ones) & (ones << 7);
    const int byte = std::countr_zero(above) >> 3;
    const int before = byte == 0 ? 0 : static_cast<int>((sums >> (8 * byte - 8)) & 0xFF);
    return 8 * byte + bit_select.at[(x >> (8 * byte)) & 0xFF][j - before];
}

// The samples of a window as a set of ranks, one bit each (ranks are unique:
// equal values get neighbouring ranks, and NaN the ranks above all values),
// and where its k-th smallest was last found.
struct window_ranks {
    std::vector<std::uint64_t> bits;
    std::size_t ranks = 0;
    std::uint32_t first_nan = 0;  // NaN samples have ranks from here on
    std::int64_t count = 0;       // samples, NaN included
    std::int64_t nans = 0;
    std::int64_t word = 0;        // where the last search ended
    std::int64_t below = 0;       // samples in words before `word`

    void reset(std::size_t rank_count, std::uint32_t nan_rank) {
        ranks = rank_count;
        bits.assign((ranks >> 6) + 1, 0);
        first_nan = nan_rank;
        count = nans = word = below = 0;
    }
    // Takes out the samples out[0..n) and puts in in[0..n) (either list may
    // be absent).
    void exchange(const std::uint32_t* out, const std::uint32_t* in, std::int64_t n) {
        const bool nan_ranks = first_nan < ranks;
        if (out != nullptr && in != nullptr) {
            nan_ranks ? exchange<true, true, true>(out, in, n) : exchange<true, true, false>(out, in, n);
        } else if (out != nullptr) {
            nan_ranks ? exchange<true, false, true>(out, in, n) : exchange<true, false, false>(out, in, n);
        } else if (in != nullptr) {
            nan_ranks ? exchange<false, true, true>(out, in, n) : exchange<false, true, false>(out, in, n);
        }
    }

    // Works on locals: the bit stores could otherwise alias the counters.
    template <bool take, bool put, bool nan_ranks>
    void exchange(const std::uint32_t* out, const std::uint32_t* in, std::int64_t n) {
        std::uint64_t* const words = bits.data();
        const std::uint32_t nan_rank = first_nan;
        const auto below_rank = static_cast<std::uint32_t>(word << 6);  // the first rank of `word`
        std::int64_t nan_change = 0, below_change = 0;
        for (std::int64_t i = 0; i < n; ++i) {
            if constexpr (take) {
                const std::uint32_t rank = out[i];
                words[rank >> 6] &= ~(std::uint64_t(1) << (rank & 63));
                if constexpr (nan_ranks) nan_change -= rank >= nan_rank;
                below_change -= rank < below_rank;
            }
            if constexpr (put) {
                const std::uint32_t rank = in[i];
                words[rank >> 6] |= std::uint64_t(1) << (rank & 63);
                if constexpr (nan_ranks) nan_change += rank >= nan_rank;
                below_change += rank < below_rank;
            }
        }
        count += (int(put) - int(take)) * n;
        nans += nan_change;
        below += below_change;
    }

    // The k-th smallest rank (from 0, k < count - nans).
    std::uint32_t select(std::int64_t k) {
        while (below > k) below -= bit_count(bits[--word]);
        for (int here = bit_count(bits[word]); below + here <= k; here = bit_count(bits[word])) {
            below += here;
            ++word;
        }
        return static_cast<std::uint32_t>(word << 6) + select_bit(bits[word], static_cast<int>(k - below));
    }
};

template <class T>
class tile_filter {
public:
    tile_filter(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t r, T* dst)
        : src_(src), nx_(nx), ny_(ny), r_(r), dst_(dst) {}

    // The outputs x0 <= x < x1, y0 <= y < y1.
    void run(std::int64_t x0, std::int64_t x1, std::int64_t y0, std::int64_t y1) {
        rx0_ = std::max<std::int64_t>(0, x0 - r_);
        ry0_ = std::max<std::int64_t>(0, y0 - r_);
        rw_ = std::min(nx_, x1 + r_) - rx0_;
        const std::int64_t rh = std::min(ny_, y1 + r_) - ry0_;
        rank_tile(rh);

        // The first window, then the serpentine.
        for (std::int64_t y = row_lo(y0); y <= row_hi(y0); ++y) {
            hist_.exchange(nullptr, row(y, col_lo(x0) - rx0_), col_hi(x0) - col_lo(x0) + 1);
        }
        std::int64_t x = x0;
        for (std::int64_t y = y0; y < y1; ++y) {
            const bool rightwards = (y - y0) % 2 == 0;
            for (;;) {
                emit(x, y);
                if (rightwards ? x + 1 == x1 : x == x0) break;
                if (rightwards) {
                    slide_columns(y, x - r_, x + r_ + 1);
                    ++x;
                } else {
                    slide_columns(y, x + r_, x - r_ - 1);
                    --x;
                }
            }
            if (y + 1 < y1) slide_rows(x, y - r_, y + r_ + 1);
        }
    }

private:
    using key_type = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;

    std::int64_t row_lo(std::int64_t y) const { return std::max<std::int64_t>(0, y - r_); }
    std::int64_t row_hi(std::int64_t y) const { return std::min(ny_ - 1, y + r_); }
    std::int64_t col_lo(std::int64_t x) const { return std::max<std::int64_t>(0, x - r_); }
    std::int64_t col_hi(std::int64_t x) const { return std::min(nx_ - 1, x + r_); }

    void rank_tile(std::int64_t rh) {
        items_.clear();
        nan_indices_.clear();
        ranks_.resize(static_cast<std::size_t>(rw_ * rh));
        for (std::int64_t y = 0; y < rh; ++y) {
            const T* row = src_ + (ry0_ + y) * nx_ + rx0_;
            for (std::int64_t x = 0; x < rw_; ++x) {
                const auto index = static_cast<std::uint32_t>(y * rw_ + x);
                if (row[x] == row[x]) {
                    items_.push_back({order_key<key_type>(row[x]), index});
                } else {
                    nan_indices_.push_back(index);
                }
            }
        }
        // A tile of more than 2^20 samples (a large radius) gives each buffer
        // back when done with it: at most 5 times the tile's bytes at a time.
        const bool large = ranks_.size() > (std::size_t(1) << 20);
        if (!items_.empty()) sort_by_key(items_, scratch_);
        if (large) std::vector<keyed_sample<key_type>>().swap(scratch_);
        values_.resize(items_.size());
        for (std::size_t i = 0; i < items_.size(); ++i) {
            ranks_[items_[i].index] = static_cast<std::uint32_t>(i);
            values_[i] = value_of<T>(items_[i].key);
        }
        if (large) std::vector<keyed_sample<key_type>>().swap(items_);
        const auto first_nan = static_cast<std::uint32_t>(values_.size());
        for (std::size_t i = 0; i < nan_indices_.size(); ++i) ranks_[nan_indices_[i]] = first_nan + std::uint32_t(i);
        // A copy by columns, so that a column entering the window is read
        // from consecutive addresses.
        rh_ = rh;
        column_ranks_.resize(ranks_.size());
        for (std::int64_t y = 0; y < rh; ++y) {
            for (std::int64_t x = 0; x < rw_; ++x) column_ranks_[x * rh + y] = ranks_[y * rw_ + x];
        }
        hist_.reset(ranks_.size(), first_nan);
    }

    // Column `out` leaves the window of row y and column `in` enters; either
    // may lie outside the image.
    void slide_columns(std::int64_t y, std::int64_t out, std::int64_t in) {
        const std::int64_t lo = row_lo(y) - ry0_;
        hist_.exchange(column(out, lo), column(in, lo), row_hi(y) - ry0_ - lo + 1);
    }

    // Row `out` leaves the window of column x and row `in` enters.
    void slide_rows(std::int64_t x, std::int64_t out, std::int64_t in) {
        const std::int64_t lo = col_lo(x) - rx0_;
        hist_.exchange(row(out, lo), row(in, lo), col_hi(x) - rx0_ - lo + 1);
    }

    const std::uint32_t* column(std::int64_t x, std::int64_t local_y) const {
        return x >= 0 && x < nx_ ? column_ranks_.data() + (x - rx0_) * rh_ + local_y : nullptr;
    }
    const std::uint32_t* row(std::int64_t y, std::int64_t local_x) const {
        return y >= 0 && y < ny_ ? ranks_.data() + (y - ry0_) * rw_ + local_x : nullptr;
    }

    void emit(std::int64_t x, std::int64_t y) {
        T& out = dst_[y * nx_ + x];
        const std::int64_t n = hist_.count - hist_.nans;
        if (n == 0) {  // only NaN: the window's first sample
            out = src_[row_lo(y) * nx_ + col_lo(x)];
        } else if (n % 2 == 1) {
            out = values_[hist_.select(n / 2)];
        } else {
            const T lower = values_[hist_.select(n / 2 - 1)];
            out = (values_[hist_.select(n / 2)] + lower) * T(0.5);
        }
    }

    const T* src_;
    std::int64_t nx_, ny_, r_;
    T* dst_;
    std::int64_t rx0_ = 0, ry0_ = 0, rw_ = 0, rh_ = 0;  // the grown part of the tile
    std::vector<keyed_sample<key_type>> items_, scratch_;
    std::vector<std::uint32_t> nan_indices_;
    std::vector<std::uint32_t> ranks_, column_ranks_;  // of the grown tile's samples, by rows and by columns
    std::vector<T> values_;                            // by rank
    window_ranks hist_;
};

}  // namespace median_ranks

// The median of median_select_kernel.h for dst apart from src, by ranks; any radius.
template <class T>
void median_filter_ranks(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, T* dst) {
    static_assert(std::is_same_v<T, float> || std::is_same_v<T, double>);
    assert(src != nullptr && dst != nullptr && src != dst);
    assert(nx >= 0 && ny >= 0 && radius >= 0);
    if (nx == 0 || ny == 0) return;
    const std::int64_t r = std::min(radius, std::max(nx, ny));
    // A grown tile about 3 windows wide (of 2 to 12, the fastest at radius 5,
    // 10 and 30): a window then holds about one rank in 9, and the search for
    // its median crosses few words, while the ranking is shared by enough
    // outputs. At least 64 x 64 samples, at most 256 x 256 (8 KiB of rank
    // bits) while the radius leaves 32 x 32 outputs; beyond, tiles of 2r x 2r
    // outputs, so that the ranking costs at most 4 sorted samples an output.
    const std::int64_t side = std::clamp<std::int64_t>(3 * (2 * r + 1), 64, 256);
    const std::int64_t least = std::max<std::int64_t>(32, 2 * r);
    const std::int64_t tile_width = std::min(nx, std::max(side - 2 * r, least));
    const std::int64_t grown_width = std::min(nx, tile_width + 2 * r);
    const std::int64_t tile_height = std::min(ny, std::max(side * side / grown_width - 2 * r, least));
    median_ranks::tile_filter<T> tiles(src, nx, ny, r, dst);
    for (std::int64_t y0 = 0; y0 < ny; y0 += tile_height) {
        for (std::int64_t x0 = 0; x0 < nx; x0 += tile_width) {
            tiles.run(x0, std::min(nx, x0 + tile_width), y0, std::min(ny, y0 + tile_height));
        }
    }
}

}  // namespace zorvan::kernels
