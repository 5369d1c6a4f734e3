// FWarpLinear2DDLL through the host application: rows then columns resampled
// linearly at x' / fx and y' / fy, extrapolated past the last sample, into
// the caller's destination at the destination's own row width.

#include "tests/support/fourier.h"

#include <limits>

namespace zorvan::testing {
namespace {

using namespace fourier;

constexpr const char* kName = "FWarpLinear2DDLL";
constexpr const char* kCounter = "ImresizeLinear2DDM";

// One linear pass along `count` samples at `stride`; the difference of the
// last two samples rounded in F, everything else in double.
template <class F>
F sample_at(const F* line, std::ptrdiff_t stride, std::int64_t count, double position) {
    const std::int64_t i = std::int64_t(std::floor(position));
    const double f = position - double(i);
    if (i < count - 1) return F(double(line[i * stride]) * (1 - f) + double(line[(i + 1) * stride]) * f);
    const F last = line[(count - 1) * stride], prev = line[(count - 2) * stride];
    const F rise = last - prev;
    return F((position - double(count - 1)) * double(rise) + double(last));
}

// The destination after the call: output rows at the destination's width.
template <class F>
std::vector<F> rescaled(const std::vector<F>& s, std::int64_t w, std::int64_t h, double fx, double fy,
                        std::vector<F> d, std::int64_t wd) {
    const std::int64_t out_w = std::int64_t(double(w) * fx), out_h = std::int64_t(double(h) * fy);
    std::vector<F> rows(std::size_t(h * out_w));
    for (std::int64_t y = 0; y < h; ++y)
        for (std::int64_t x = 0; x < out_w; ++x) rows[y * out_w + x] = sample_at(&s[y * w], 1, w, double(x) / fx);
    for (std::int64_t y = 0; y < out_h; ++y)
        for (std::int64_t x = 0; x < out_w; ++x) d[y * wd + x] = sample_at(&rows[x], out_w, h, double(y) / fy);
    return d;
}

class LinearRescale : public PluginTest {
protected:
    // Rescales `s` (w x h) into a destination of wd x hd filled with `fill`;
    // returns the destination's values afterwards.
    template <class F>
    std::vector<F> rescale(const std::vector<F>& s, std::uint64_t w, std::uint64_t h, double fx, double fy,
                           std::uint64_t wd, std::uint64_t hd, F fill = F(-99), int threads = 2) {
        const std::int32_t code = sizeof(F) == 4 ? type::real4 : type::real8;
        const Image source = image(code, {w, h}, s);
        const Image destination = image(code, {wd, hd}, std::vector<F>(wd * hd, fill));
        const Before before{kCounter};
        const CallResult result =
            with_threads(threads, [&] { return host.call(kName, {source, fx, fy, destination}); });
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(result.number, 1);
        EXPECT_EQ(counter_additions(kCounter), before.additions + 1);
        EXPECT_EQ(Host::object_counts().images, before.images);
        EXPECT_EQ(destination.data_changed_count() + source.data_changed_count(), 0u) << "the host is not told";
        const std::vector<std::uint32_t> one_lock{1};
        EXPECT_EQ(source.lock_flags(), one_lock);
        EXPECT_EQ(destination.lock_flags(), one_lock);
        EXPECT_EQ(source.active_locks() + destination.active_locks(), 0);
        EXPECT_TRUE(same_values(source.pixels<F>(), s)) << "the source changed";
        return destination.pixels<F>();
    }

    // A refused call: 0, the destination untouched and unlocked.
    void expect_refused(const Image& source, double fx, double fy, const Image& destination) {
        const auto before_bytes = destination.bytes();
        const Before before{kCounter};
        expect_refusal(host.call(kName, {source, fx, fy, destination}), before);
        EXPECT_TRUE(destination.bytes() == before_bytes) << "the destination changed";
        EXPECT_TRUE(source.lock_flags().empty() && destination.lock_flags().empty());
    }
};

TEST_F(LinearRescale, WorkedRowsUpAndDown) {
    // Two equal rows, fy = 1, so the columns pass the rows through.
    EXPECT_EQ(rescale<double>({0, 10, 20, 0, 10, 20}, 3, 2, 2.0, 1.0, 6, 2),
              (std::vector<double>{0, 5, 10, 15, 20, 25, 0, 5, 10, 15, 20, 25}));
    EXPECT_EQ(rescale<float>({0, 10, 20, 30, 0, 10, 20, 30}, 4, 2, 0.5, 1.0, 2, 2),
              (std::vector<float>{0, 20, 0, 20}));
    // Columns likewise: (0, 10) down a column by 2.
    EXPECT_EQ(rescale<double>({0, 0, 10, 10}, 2, 2, 1.0, 2.0, 2, 4), (std::vector<double>{0, 0, 5, 5, 10, 10, 15, 15}));
}

TEST_F(LinearRescale, UnitFactorsCopyTheSource) {
    std::mt19937 rng(9);
    const auto single = random_values<float>(13 * 7, rng);
    EXPECT_TRUE(same_values(rescale(single, 13, 7, 1.0, 1.0, 13, 7), single));
    const std::vector<double> dual(single.begin(), single.end());
    EXPECT_TRUE(same_values(rescale(dual, 13, 7, 1.0, 1.0, 13, 7), dual));
}

// Destinations of the output's size, taller (the rows from H' on keep their
// values) and wider (rows at the destination's width, the rest kept).
TEST_F(LinearRescale, RandomImagesMatchTheReferenceInEachDestinationWithOneOrTwoThreads) {
    std::mt19937 rng(10);
    struct Case {
        std::uint64_t w, h;
        double fx, fy;
        std::uint64_t wd, hd;
    };
    const Case cases[] = {
        {20, 15, 1.5, 0.6, 30, 9},   {20, 15, 1.5, 0.6, 30, 12}, {20, 15, 1.5, 0.6, 36, 9},
        {23, 17, 1.7, 0.6, 40, 11},  {40, 31, 0.35, 2.5, 14, 78}, {2, 2, 3.0, 3.0, 6, 6},
        {64, 48, 1.0 / 3, 1.25, 22, 60},
        {5, 9, 0.1, 0.1, 1, 1},  // outputs of no columns or rows leave D as it was
        {7, 3, 1e-3, 1.0, 7, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.w << " x " << c.h << " by " << c.fx << ", " << c.fy << " into " << c.wd
                                          << " x " << c.hd);
        const auto single = random_values<float>(c.w * c.h, rng);
        const std::vector<double> dual(single.begin(), single.end());
        const auto one = rescale(single, c.w, c.h, c.fx, c.fy, c.wd, c.hd, -99.0f, 1);
        EXPECT_TRUE(same_values(one, rescaled(single, c.w, c.h, c.fx, c.fy, std::vector<float>(c.wd * c.hd, -99),
                                              c.wd)));
        EXPECT_TRUE(same_values(rescale(single, c.w, c.h, c.fx, c.fy, c.wd, c.hd, -99.0f, 2), one));
        EXPECT_TRUE(same_values(rescale(dual, c.w, c.h, c.fx, c.fy, c.wd, c.hd),
                                rescaled(dual, c.w, c.h, c.fx, c.fy, std::vector<double>(c.wd * c.hd, -99), c.wd)));
    }
}

// The rows pass into the buffer before any output row is written.
TEST_F(LinearRescale, TheSourceMayBeItsOwnDestination) {
    std::mt19937 rng(11);
    const auto values = random_values<double>(8 * 6, rng);
    const Image both = image(type::real8, {8, 6}, values);
    const CallResult result = host.call(kName, {both, 0.5, 0.5, both});
    EXPECT_EQ(result.number, 1);
    EXPECT_TRUE(same_values(both.pixels<double>(), rescaled(values, 8, 6, 0.5, 0.5, values, 8)));
}

TEST_F(LinearRescale, RefusesMismatchedTypesSmallDestinationsUnusableFactorsAndShortSources) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* why;
        std::int32_t source_code, destination_code;
        std::vector<std::uint64_t> source_sizes, destination_sizes;
        double fx, fy;
    };
    const Case cases[] = {
        {"float into double", type::real4, type::real8, {4, 4}, {8, 8}, 1, 1},
        {"double into float", type::real8, type::real4, {4, 4}, {8, 8}, 1, 1},
        {"complex", type::complex8, type::complex8, {4, 4}, {8, 8}, 1, 1},
        {"integer", type::int16, type::int16, {4, 4}, {8, 8}, 1, 1},
        {"too narrow", type::real4, type::real4, {4, 4}, {7, 8}, 2, 1},
        {"too low", type::real8, type::real8, {4, 4}, {8, 7}, 1, 2},
        {"fx 0", type::real4, type::real4, {4, 4}, {8, 8}, 0, 1},
        {"fy 0", type::real4, type::real4, {4, 4}, {8, 8}, 1, 0},
        {"fx negative", type::real4, type::real4, {4, 4}, {8, 8}, -1, 1},
        {"fy negative", type::real8, type::real8, {4, 4}, {8, 8}, 1, -0.5},
        {"fx NaN", type::real4, type::real4, {4, 4}, {8, 8}, nan, 1},
        {"fy NaN", type::real4, type::real4, {4, 4}, {8, 8}, 1, nan},
        {"fx infinite", type::real4, type::real4, {4, 4}, {8, 8}, inf, 1},
        {"fy minus infinity", type::real4, type::real4, {4, 4}, {8, 8}, 1, -inf},
        {"one column", type::real4, type::real4, {1, 4}, {8, 8}, 2, 1},
        {"one row", type::real8, type::real8, {4, 1}, {8, 8}, 1, 2},
        {"one sample", type::real8, type::real8, {1, 1}, {8, 8}, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        const Image source = host.make_image(c.source_code, c.source_sizes);
        std::vector<std::uint8_t> pattern(dm::bytes_of(c.destination_code) * c.destination_sizes[0] *
                                          c.destination_sizes[1], 0x5a);
        const Image destination = image(c.destination_code, c.destination_sizes, pattern);
        expect_refused(source, c.fx, c.fy, destination);
    }
}

// Element counts beyond 32 bits: of the source, of the destination, and of
// the row buffer (2 x 2^20 rows by 1100 would need 2.3e9 elements).
TEST_F(LinearRescale, RefusesElementCountsBeyondInt32) {
    const Image small = host.make_image(type::real4, {4, 4});
    const Image tall = host.make_image(type::real4, {2, 1 << 20});
    const Image wide = host.make_image(type::real4, {2200, 2});
    expect_refused(tall, 1100.0, 1.5e-6, wide);
    const Image huge_destination = reserved_image(host, type::real4, kBeyondInt32);
    const Image huge_source = reserved_image(host, type::real4, kBeyondInt32);
    if (!huge_destination || !huge_source) GTEST_SKIP() << "cannot reserve the address space";
    const Before first{kCounter};
    expect_refusal(host.call(kName, {small, 1.0, 1.0, huge_destination}), first);
    const Before second{kCounter};
    expect_refusal(host.call(kName, {huge_source, 1e-5, 1e-5, small}), second);
    EXPECT_TRUE(huge_source.lock_flags().empty() && huge_destination.lock_flags().empty());
}

TEST_F(LinearRescale, AnExceptionReturnsZeroWithoutACounter) {
    const Image source = host.make_image(type::real4, {4, 4});
    const Before before{kCounter};
    expect_exception(host.call(kName, {source, 1.0, 1.0, nullptr}), before);
    expect_exception(host.call(kName, {nullptr, 1.0, 1.0, source}), before);
    EXPECT_TRUE(source.lock_flags().empty());
}

}  // namespace
}  // namespace zorvan::testing
