// FMeanComplexDLL through the host application: the means of the real and
// imaginary parts, summed in double by a parallel reduction, written to
// the caller's variables only on success.

#include "tests/support/fourier.h"

namespace zorvan::testing {
namespace {

using namespace fourier;

constexpr const char* kName = "FMeanComplexDLL";
constexpr const char* kCounter = "MeanComplexDM";
constexpr double kUntouched = 7.5;

struct Means {
    std::int64_t returned;
    double re, im;
};

class MeanComplex : public PluginTest {
protected:
    Means mean(const Image& source) {
        std::vector<Arg> args{source, Arg::out(kUntouched), Arg::out(-kUntouched)};
        const CallResult result = host.call(kName, args);
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(source.active_locks(), 0);
        EXPECT_EQ(source.data_changed_count(), 0u);
        return {result.number, args[1].number(), args[2].number()};
    }

    template <class F>
    Means mean_of(std::int32_t code, std::vector<std::uint64_t> sizes, const std::vector<F>& parts, int threads) {
        const Image source = image(code, std::move(sizes), parts);
        const Before before{kCounter};
        const Means got = with_threads(threads, [&] { return mean(source); });
        EXPECT_EQ(counter_additions(kCounter), before.additions + 1);
        EXPECT_EQ(source.lock_flags(), std::vector<std::uint32_t>{1});
        EXPECT_TRUE(same_values(source.pixels<F>(), parts)) << "the source changed";
        return got;
    }
};

TEST_F(MeanComplex, WorkedMeansInBothPrecisions) {
    const Means single = mean_of<float>(type::complex8, {2, 1}, {1, 2, 3, 4}, 2);
    EXPECT_EQ(single.returned, 1);
    EXPECT_EQ(single.re, 2.0);
    EXPECT_EQ(single.im, 3.0);
    std::vector<double> fives;
    for (int i = 0; i < 7 * 5; ++i) fives.insert(fives.end(), {5.0, -1.0});
    const Means dual = mean_of<double>(type::complex16, {7, 5}, fives, 2);
    EXPECT_EQ(dual.returned, 1);
    EXPECT_EQ(dual.re, 5.0);
    EXPECT_EQ(dual.im, -1.0);
    // Float parts are widened before they are added: 0.1f in double.
    const Means widened = mean_of<float>(type::complex8, {1, 1}, {0.1f, -0.1f}, 1);
    EXPECT_EQ(widened.re, double(0.1f));
    EXPECT_EQ(widened.im, -double(0.1f));
}

// With one thread the sum runs in index order; with two, each half is
// summed on its own and the halves added, which shows in this sum: the
// ones vanish next to 1e16 in order, but cancel to 0 by halves.
TEST_F(MeanComplex, OneThreadSumsInIndexOrderAndTwoAgreeToTheLastBits) {
    const std::vector<double> cancelling = {1e16, 0, 1, 0, -1e16, 0, 1, 0};
    EXPECT_EQ(mean_of<double>(type::complex16, {4}, cancelling, 1).re, 0.25);
    EXPECT_EQ(mean_of<double>(type::complex16, {4}, cancelling, 2).re, 0.0) << "the plug-in ran on one thread";

    std::mt19937 rng(4);
    for (const auto& sizes : std::vector<std::vector<std::uint64_t>>{{33, 17}, {1000}, {12, 10, 3}}) {
        SCOPED_TRACE(::testing::Message() << sizes.size() << "-D, width " << sizes[0]);
        const std::uint64_t n = sizes[0] * (sizes.size() > 1 ? sizes[1] : 1);
        const std::uint64_t planes = sizes.size() > 2 ? sizes[2] : 1;
        const auto single = random_values<float>(2 * n * planes, rng);
        const std::vector<double> dual(single.begin(), single.end());
        double re = 0, im = 0;  // the first plane only, in index order
        for (std::uint64_t i = 0; i < n; ++i) {
            re += double(single[2 * i]);
            im += double(single[2 * i + 1]);
        }
        for (const bool is_double : {false, true}) {
            const auto run = [&](int threads) {
                return is_double ? mean_of(type::complex16, sizes, dual, threads)
                                 : mean_of(type::complex8, sizes, single, threads);
            };
            const Means one = run(1), two = run(2);
            EXPECT_EQ(one.returned, 1);
            EXPECT_EQ(one.re, re / double(n));
            EXPECT_EQ(one.im, im / double(n));
            EXPECT_NEAR(two.re, one.re, 1e-12 * std::abs(one.re) + 1e-15);
            EXPECT_NEAR(two.im, one.im, 1e-12 * std::abs(one.im) + 1e-15);
        }
    }
}

TEST_F(MeanComplex, RefusalsAndExceptionsLeaveTheVariablesUntouched) {
    for (const std::int32_t code : {type::real4, type::real8, type::int16, type::uint8, type::uint32}) {
        SCOPED_TRACE(::testing::Message() << "type " << code);
        const Image source = host.make_image(code, {2, 2});
        const Before before{kCounter};
        std::vector<Arg> args{source, Arg::out(kUntouched), Arg::out(-kUntouched)};
        expect_refusal(host.call(kName, args), before);
        EXPECT_EQ(args[1].number(), kUntouched);
        EXPECT_EQ(args[2].number(), -kUntouched);
        EXPECT_TRUE(source.lock_flags().empty());
    }
    {
        const Before before{kCounter};
        std::vector<Arg> args{nullptr, Arg::out(kUntouched), Arg::out(-kUntouched)};
        expect_exception(host.call(kName, args), before);
        EXPECT_EQ(args[1].number(), kUntouched);
        EXPECT_EQ(args[2].number(), -kUntouched);
    }
    const Image huge = reserved_image(host, type::complex8, kBeyondInt32);
    if (!huge) GTEST_SKIP() << "cannot reserve the address space";
    const Before before{kCounter};
    std::vector<Arg> args{huge, Arg::out(kUntouched), Arg::out(-kUntouched)};
    expect_refusal(host.call(kName, args), before);
    EXPECT_EQ(args[1].number(), kUntouched);
    EXPECT_TRUE(huge.lock_flags().empty());
}

}  // namespace
}  // namespace zorvan::testing
