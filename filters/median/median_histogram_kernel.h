#pragma once
// The out-of-place median by column histograms over ranks, for float and
// double, radius 1 to 127: the result of median_filter_2d
// (median_select_kernel.h) up to the sign of a zero in a tie, at a cost per
// pixel that hardly grows with the radius (Perreault and Hebert 2007).
//
// The image is cut into tiles. The samples a tile's windows read (the tile
// grown by the radius, cut to the image) are ranked as in
// median_rank_kernel.h: sorted once by value and numbered in that order, so
// that every finite sample has a rank of its own; NaN samples get none and
// are counted nowhere. Ranks fall in coarse bins of 2^shift consecutive
// ranks. Every column of the grown tile keeps a histogram of the coarse bins
// of its samples in the window's rows, and the window one of its columns'.
// The window slides over the tile in a serpentine: a step along a row adds
// the entering column's histogram and takes the leaving one's (a fixed number
// of bins, whatever the radius); a step down moves every column's histogram
// by one row. The k-th smallest rank lies in the coarse bin where the running
// count passes k, searched from the previous window's bin; within that bin
// the ranks are read in order and those whose sample lies in the window are
// counted. The selected ranks map back to their values, and an even count
// takes (upper + lower) * 0.5 in T as median_of does.
//
// Counts are 16-bit: a window holds at most 255^2 samples.

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "filters/median/median_rank_kernel.h"
#include "simd/cpu_features.h"

namespace zorvan::kernels {

namespace median_histograms {

inline constexpr std::int64_t largest_radius = 127;

// A window's bounds in the grown tile: x_lo <= x <= x_lo + x_span, and so
// for y.
struct window_box {
    std::uint16_t x_lo, x_span, y_lo, y_span;
    bool holds(std::uint16_t x, std::uint16_t y) const {
        return static_cast<std::uint16_t>(x - x_lo) <= x_span && static_cast<std::uint16_t>(y - y_lo) <= y_span;
    }
};

// window[b] += entering[b] - leaving[b] for b < bins (a multiple of 16);
// returns the change of the count in bins below `split`.
inline std::int64_t slide_plain(std::uint16_t* window, const std::uint16_t* entering, const std::uint16_t* leaving,
                                std::int64_t bins, std::int64_t split) {
    std::uint16_t below = 0;  // wraps: the true change is within +-255
    for (std::int64_t b = 0; b < bins; ++b) {
        const auto change = static_cast<std::uint16_t>(entering[b] - leaving[b]);
        window[b] = static_cast<std::uint16_t>(window[b] + change);
        below = static_cast<std::uint16_t>(below + (b < split ? change : 0));
    }
    return static_cast<std::int16_t>(below);
}

// Within the ranks [first, end) (a multiple of 32 apart), the one whose
// sample is the (left)-th (from 0) of those in the window, counted upwards
// from `first`, or the (right)-th counted downwards from `end` (right =
// in-window ranks - 1 - left): whichever end is nearer.
inline std::int64_t find_in_window_plain(const std::uint16_t* xs, const std::uint16_t* ys, std::int64_t first,
                                         std::int64_t end, std::int64_t left, std::int64_t right,
                                         const window_box& box) {
    if (left <= right) {
        for (std::int64_t rank = first;; ++rank) {
            if (box.holds(xs[rank], ys[rank]) && left-- == 0) return rank;
        }
    }
    for (std::int64_t rank = end - 1;; --rank) {
        if (box.holds(xs[rank], ys[rank]) && right-- == 0) return rank;
    }
}

std::int64_t slide_avx2(std::uint16_t* window, const std::uint16_t* entering, const std::uint16_t* leaving,
                        std::int64_t bins, std::int64_t split);
std::int64_t find_in_window_avx2(const std::uint16_t* xs, const std::uint16_t* ys, std::int64_t first,
                                 std::int64_t end, std::int64_t left, std::int64_t right, const window_box& box);

template <class T>
class tile_filter {
public:
    tile_filter(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t r, T* dst, bool avx2)
        : src_(src), nx_(nx), ny_(ny), r_(r), dst_(dst), avx2_(avx2 && simd::avx2()) {}

    // The outputs x0 <= x < x1, y0 <= y < y1.
    void run(std::int64_t x0, std::int64_t x1, std::int64_t y0, std::int64_t y1) {
        rx0_ = std::max<std::int64_t>(0, x0 - r_);
        ry0_ = std::max<std::int64_t>(0, y0 - r_);
        rw_ = std::min(nx_, x1 + r_) - rx0_;
        rh_ = std::min(ny_, y1 + r_) - ry0_;
        rank_tile();

        // The columns' histograms over the first window's rows, then the
        // first window.
        columns_.assign(static_cast<std::size_t>((rw_ + 1) * bins_), 0);  // and an empty one, for outside
        column_counts_.assign(static_cast<std::size_t>(rw_ + 1), 0);
        for (std::int64_t y = row_lo(y0); y <= row_hi(y0); ++y) move_columns(-1, y);
        window_.assign(static_cast<std::size_t>(bins_), 0);
        count_ = 0;
        bin_ = 0;
        below_ = 0;
        for (std::int64_t x = col_lo(x0); x <= col_hi(x0); ++x) slide(rw_, x - rx0_);

        std::int64_t x = x0;
        for (std::int64_t y = y0; y < y1; ++y) {
            const bool rightwards = (y - y0) % 2 == 0;
            for (;;) {
                emit(x, y);
                if (rightwards ? x + 1 == x1 : x == x0) break;
                if (rightwards) {
                    slide(local_column(x - r_), local_column(x + r_ + 1));
                    ++x;
                } else {
                    slide(local_column(x + r_), local_column(x - r_ - 1));
                    --x;
                }
            }
            if (y + 1 < y1) step_down(x, y);
        }
    }

private:
    using key_type = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    static constexpr std::uint16_t no_bin = 0xFFFF;

    std::int64_t row_lo(std::int64_t y) const { return std::max<std::int64_t>(0, y - r_); }
    std::int64_t row_hi(std::int64_t y) const { return std::min(ny_ - 1, y + r_); }
    std::int64_t col_lo(std::int64_t x) const { return std::max<std::int64_t>(0, x - r_); }
    std::int64_t col_hi(std::int64_t x) const { return std::min(nx_ - 1, x + r_); }
    // The column's histogram, or the empty one for a column outside the image.
    std::int64_t local_column(std::int64_t x) const { return x >= 0 && x < nx_ ? x - rx0_ : rw_; }

    void rank_tile() {
        items_.clear();
        for (std::int64_t y = 0; y < rh_; ++y) {
            const T* row = src_ + (ry0_ + y) * nx_ + rx0_;
            for (std::int64_t x = 0; x < rw_; ++x) {  // the index holds y and x, 16 bits each
                if (row[x] == row[x]) {
                    items_.push_back({median_ranks::order_key<key_type>(row[x]), static_cast<std::uint32_t>(y << 16 | x)});
                }
            }
        }
        if (!items_.empty()) median_ranks::sort_by_key(items_, scratch_);
        const auto ranks = static_cast<std::int64_t>(items_.size());
        // Coarse bins of at least sqrt(2 ranks) ranks each (of 1 to 8 times,
        // about the fastest at radius 10, 30 and 100): a step along a row
        // adds and takes about sqrt(ranks / 2) bins 16 at a time, and the
        // search within a bin reads about a quarter of its ranks 32 at a
        // time, from the nearer end.
        shift_ = 0;
        while ((std::int64_t(1) << (2 * shift_)) < 2 * ranks) ++shift_;
        shift_ = std::max(shift_, 5);  // whole blocks of 32 ranks
        bins_ = ((ranks >> shift_) + 1 + 15) / 16 * 16;
        // Ranks past the last, up to the end of the last bin, are padded with
        // positions no window holds.
        const std::int64_t padded = bins_ << shift_;
        values_.resize(static_cast<std::size_t>(ranks));
        xs_.assign(static_cast<std::size_t>(padded), 0xFFFF);
        ys_.assign(static_cast<std::size_t>(padded), 0xFFFF);
        sample_bins_.assign(static_cast<std::size_t>(rw_ * rh_), no_bin);
        for (std::int64_t i = 0; i < ranks; ++i) {
            const std::uint32_t index = items_[std::size_t(i)].index;
            values_[std::size_t(i)] = median_ranks::value_of<T>(items_[std::size_t(i)].key);
            xs_[std::size_t(i)] = static_cast<std::uint16_t>(index & 0xFFFF);
            ys_[std::size_t(i)] = static_cast<std::uint16_t>(index >> 16);
            sample_bins_[(index >> 16) * rw_ + (index & 0xFFFF)] = static_cast<std::uint16_t>(i >> shift_);
        }
    }

    // Every column's histogram leaves row `out` and enters row `in` (either
    // may lie outside the image).
    void move_columns(std::int64_t out, std::int64_t in) {
        const std::uint16_t* leaving = out >= 0 && out < ny_ ? sample_bins_.data() + (out - ry0_) * rw_ : nullptr;
        const std::uint16_t* entering = in >= 0 && in < ny_ ? sample_bins_.data() + (in - ry0_) * rw_ : nullptr;
        for (std::int64_t x = 0; x < rw_; ++x) {
            std::uint16_t* column = columns_.data() + x * bins_;
            if (leaving != nullptr && leaving[x] != no_bin) {
                --column[leaving[x]];
                --column_counts_[std::size_t(x)];
            }
            if (entering != nullptr && entering[x] != no_bin) {
                ++column[entering[x]];
                ++column_counts_[std::size_t(x)];
            }
        }
    }

    // From window (x, y) to (x, y + 1): the columns and the window's part of
    // the rows.
    void step_down(std::int64_t x, std::int64_t y) {
        const std::int64_t out = y - r_, in = y + r_ + 1;
        move_columns(out, in);
        const std::int64_t lo = col_lo(x) - rx0_, hi = col_hi(x) - rx0_;
        if (out >= 0) {
            const std::uint16_t* row = sample_bins_.data() + (out - ry0_) * rw_;
            for (std::int64_t c = lo; c <= hi; ++c) {
                if (row[c] == no_bin) continue;
                --window_[row[c]];
                --count_;
                below_ -= row[c] < bin_;
            }
        }
        if (in < ny_) {
            const std::uint16_t* row = sample_bins_.data() + (in - ry0_) * rw_;
            for (std::int64_t c = lo; c <= hi; ++c) {
                if (row[c] == no_bin) continue;
                ++window_[row[c]];
                ++count_;
                below_ += row[c] < bin_;
            }
        }
    }

    // The window takes out local column `out`'s histogram and puts in `in`'s.
    void slide(std::int64_t out, std::int64_t in) {
        const std::uint16_t* leaving = columns_.data() + out * bins_;
        const std::uint16_t* entering = columns_.data() + in * bins_;
        below_ += avx2_ ? slide_avx2(window_.data(), entering, leaving, bins_, bin_)
                        : slide_plain(window_.data(), entering, leaving, bins_, bin_);
        count_ += column_counts_[std::size_t(in)] - column_counts_[std::size_t(out)];
    }

    // The k-th smallest rank in window (x, y) (from 0, k < count_).
    std::int64_t select(std::int64_t k, std::int64_t x, std::int64_t y) {
        while (below_ > k) below_ -= window_[std::size_t(--bin_)];
        while (below_ + window_[std::size_t(bin_)] <= k) below_ += window_[std::size_t(bin_++)];
        const window_box box{static_cast<std::uint16_t>(col_lo(x) - rx0_),
                             static_cast<std::uint16_t>(col_hi(x) - col_lo(x)),
                             static_cast<std::uint16_t>(row_lo(y) - ry0_),
                             static_cast<std::uint16_t>(row_hi(y) - row_lo(y))};
        const std::int64_t first = bin_ << shift_, end = first + (std::int64_t(1) << shift_);
        const std::int64_t left = k - below_, right = window_[std::size_t(bin_)] - 1 - left;
        return avx2_ ? find_in_window_avx2(xs_.data(), ys_.data(), first, end, left, right, box)
                     : find_in_window_plain(xs_.data(), ys_.data(), first, end, left, right, box);
    }

    void emit(std::int64_t x, std::int64_t y) {
        T& out = dst_[y * nx_ + x];
        const std::int64_t n = count_;
        if (n == 0) {  // only NaN: the window's first sample
            out = src_[row_lo(y) * nx_ + col_lo(x)];
        } else if (n % 2 == 1) {
            out = values_[std::size_t(select(n / 2, x, y))];
        } else {
            const T lower = values_[std::size_t(select(n / 2 - 1, x, y))];
            out = (values_[std::size_t(select(n / 2, x, y))] + lower) * T(0.5);
        }
    }

    const T* src_;
    std::int64_t nx_, ny_, r_;
    T* dst_;
    bool avx2_;  // AVX2 asked for and present
    std::int64_t rx0_ = 0, ry0_ = 0, rw_ = 0, rh_ = 0;  // the grown part of the tile
    int shift_ = 0;                                     // a coarse bin holds 2^shift_ ranks
    std::int64_t bins_ = 0;                             // a multiple of 16
    std::vector<median_ranks::keyed_sample<key_type>> items_, scratch_;
    std::vector<T> values_;                         // by rank
    std::vector<std::uint16_t> xs_, ys_;            // each rank's sample in the grown tile
    std::vector<std::uint16_t> sample_bins_;        // each sample's coarse bin by rows, no_bin for NaN
    std::vector<std::uint16_t> columns_;            // bins_ counts a column, the last one empty
    std::vector<std::int64_t> column_counts_;
    std::vector<std::uint16_t> window_;
    std::int64_t count_ = 0;  // finite samples in the window
    std::int64_t bin_ = 0;    // where the last search ended
    std::int64_t below_ = 0;  // window samples in bins before bin_
};

}  // namespace median_histograms

// The median of median_select_kernel.h for dst apart from src, by column
// histograms; radius 1 to median_histograms::largest_radius.
template <class T>
void median_filter_histograms(const T* src, std::int64_t nx, std::int64_t ny, std::int64_t radius, T* dst,
                              bool avx2 = true) {
    static_assert(std::is_same_v<T, float> || std::is_same_v<T, double>);
    assert(src != nullptr && dst != nullptr && src != dst);
    assert(nx >= 0 && ny >= 0 && radius >= 1 && radius <= median_histograms::largest_radius);
    if (nx == 0 || ny == 0) return;
    const std::int64_t r = std::min(radius, std::max(nx, ny));
    // Square tiles of 128 outputs a side, or 3r beyond radius 42 (tried: 64
    // to 192, 2r to 4r): larger tiles sort fewer samples an output (the
    // grown tile over the tile's outputs), smaller ones have fewer ranks to
    // search through. The grown tile is at most 635 samples a side, within
    // the 16-bit positions.
    const std::int64_t side = std::max<std::int64_t>(128, 3 * r);
    const std::int64_t tile_width = std::min(nx, side);
    const std::int64_t tile_height = std::min(ny, side);
    median_histograms::tile_filter<T> tiles(src, nx, ny, r, dst, avx2);
    for (std::int64_t y0 = 0; y0 < ny; y0 += tile_height) {
        for (std::int64_t x0 = 0; x0 < nx; x0 += tile_width) {
            tiles.run(x0, std::min(nx, x0 + tile_width), y0, std::min(ny, y0 + tile_height));
        }
    }
}

}  // namespace zorvan::kernels
