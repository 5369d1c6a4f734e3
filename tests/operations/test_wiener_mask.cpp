// FCreateWienerMaskDLL through the host application: max(0, (A^2 - B^2) /
// A^2) in double, rounded to the input precision, with the zeros of A
// replaced by 1 in A itself.

#include "tests/support/fourier.h"

#include <limits>

namespace zorvan::testing {
namespace {

using namespace fourier;

constexpr const char* kName = "FCreateWienerMaskDLL";
constexpr const char* kCounter = "CreateWienerMaskDM";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class F>
std::vector<F> masked(std::vector<F> a, const std::vector<F>& b) {
    std::vector<F> out(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double amp = a[i] == F(0) ? 1.0 : double(a[i]);
        const double q = (amp * amp - double(b[i]) * double(b[i])) / (amp * amp);
        out[i] = F(q > 0 ? q : 0.0);
    }
    return out;
}

template <class F>
std::vector<F> zeros_to_one(std::vector<F> a) {
    for (F& v : a) v = v == F(0) ? F(1) : v;
    return a;
}

class WienerMask : public PluginTest {
protected:
    template <class F>
    std::vector<F> mask(const std::vector<F>& a, const std::vector<F>& b, std::vector<std::uint64_t> sizes,
                        int threads = 2) {
        const std::int32_t code = sizeof(F) == 4 ? type::real4 : type::real8;
        const Image amp = image(code, sizes, a);
        const Image base = image(code, sizes, b);
        const Before before{kCounter};
        const CallResult result = with_threads(threads, [&] { return host.call(kName, {amp, base}); });
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(counter_additions(kCounter), before.additions + 1);
        if (!result.image) {
            ADD_FAILURE() << "no image";
            return {};
        }
        EXPECT_EQ(Host::object_counts().images, before.images + 1);
        EXPECT_EQ(result.image.data_type(), code);
        EXPECT_EQ(result.image.sizes(), (std::vector<std::uint64_t>{sizes[0], sizes.size() > 1 ? sizes[1] : 1}));
        EXPECT_EQ(result.image.name(), "");
        EXPECT_EQ(result.image.data_changed_count(), 1u);
        EXPECT_EQ(amp.data_changed_count(), 0u) << "the amplitude image is changed silently";
        EXPECT_EQ(base.data_changed_count(), 0u);
        const std::vector<std::uint32_t> one_lock{1};
        EXPECT_EQ(result.image.lock_flags(), one_lock);
        EXPECT_EQ(amp.lock_flags(), one_lock);
        EXPECT_EQ(base.lock_flags(), one_lock);
        EXPECT_EQ(result.image.active_locks() + amp.active_locks() + base.active_locks(), 0);
        EXPECT_TRUE(same_values(amp.pixels<F>(), zeros_to_one(a))) << "zeros of A become 1, nothing else changes";
        EXPECT_TRUE(same_values(base.pixels<F>(), b));
        return result.image.pixels<F>();
    }

    template <class F>
    void check_worked() {
        struct Case {
            double a, b, want;
        };
        const Case cases[] = {
            {2, 1, 0.75},   {-2, 1, 0.75}, {2, 0, 1},     {2, 2, 0},     {2, -3, 0},   {0, 0, 1},
            {0, 0.5, 0.75}, {0, 1, 0},     {0, -2, 0},    {kNaN, 1, 0},  {1, kNaN, 0}, {kInf, 1, 0},
            {-0.0, 0, 1},   {1e-30, 0, 1},
        };
        std::vector<F> a, b, want;
        for (const Case& c : cases) {
            a.push_back(F(c.a));
            b.push_back(F(c.b));
            want.push_back(F(c.want));
        }
        EXPECT_EQ(mask(a, b, {a.size()}), want);
    }
};

TEST_F(WienerMask, WorkedValuesInBothPrecisions) {
    check_worked<float>();
    check_worked<double>();
    // A nonzero amplitude whose square underflows is not replaced: 0/0 gives 0.
    EXPECT_EQ(mask(std::vector<double>{1e-200}, std::vector<double>{0}, {1}), std::vector<double>{0});
}

// Computed in double and rounded once: differs from single-precision
// arithmetic for some elements.
TEST_F(WienerMask, RandomMasksMatchTheReferenceWithOneOrTwoThreads) {
    std::mt19937 rng(7);
    const std::vector<std::uint64_t> sizes = {61, 43};
    const std::size_t n = sizes[0] * sizes[1];
    auto a = random_values<float>(n, rng);
    const auto b = random_values<float>(n, rng);
    for (std::size_t i = 0; i < n; i += 7) a[i] = 0;
    const auto one = mask(a, b, sizes, 1);
    EXPECT_TRUE(same_values(one, masked(a, b)));
    EXPECT_TRUE(same_values(mask(a, b, sizes, 2), one));
    int single_differs = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const float amp = a[i] == 0 ? 1.0f : a[i];
        const float q = (amp * amp - b[i] * b[i]) / (amp * amp);
        single_differs += (q > 0 ? q : 0.0f) != one[i];
    }
    EXPECT_GT(single_differs, 0);
    const std::vector<double> a_wide(a.begin(), a.end()), b_wide(b.begin(), b.end());
    EXPECT_TRUE(same_values(mask(a_wide, b_wide, sizes, 2), masked(a_wide, b_wide)));
}

// Each element's zero is replaced before its base is read.
TEST_F(WienerMask, TheSameImageAsAmplitudeAndBaseGivesZeroAndLosesItsZeros) {
    const std::vector<double> values = {0, 3, -0.5, 0};
    const Image both = image(type::real8, {2, 2}, values);
    const CallResult result = host.call(kName, {both, both});
    ASSERT_TRUE(result.image);
    EXPECT_EQ(result.image.pixels<double>(), std::vector<double>(4, 0.0));
    EXPECT_EQ(both.pixels<double>(), (std::vector<double>{1, 3, -0.5, 1}));
}

TEST_F(WienerMask, RefusalsAndExceptionsLeaveTheAmplitudeUnchanged) {
    struct Case {
        std::int32_t amp_code, base_code;
        std::vector<std::uint64_t> amp_sizes, base_sizes;
    };
    const Case cases[] = {
        {type::real4, type::real8, {4, 4}, {4, 4}},       {type::real8, type::real4, {4, 4}, {4, 4}},
        {type::complex8, type::complex8, {4, 4}, {4, 4}}, {type::int16, type::int16, {4, 4}, {4, 4}},
        {type::real4, type::uint8, {4, 4}, {4, 4}},       {type::real4, type::real4, {4, 4}, {4, 5}},
        {type::real8, type::real8, {3, 4}, {4, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "types " << c.amp_code << ", " << c.base_code);
        const Image amp = host.make_image(c.amp_code, c.amp_sizes);  // all zeros
        const Image base = host.make_image(c.base_code, c.base_sizes);
        const Before before{kCounter};
        expect_refusal(host.call(kName, {amp, base}), before);
        EXPECT_TRUE(amp.lock_flags().empty() && base.lock_flags().empty());
        for (const std::byte byte : amp.bytes()) ASSERT_EQ(byte, std::byte{0});
    }
    {
        const Image amp = host.make_image(type::real4, {32, 32});
        const Image base = host.make_image(type::real4, {32, 32});
        host.set_allocation_limit(32 * 32 * 4 - 1);
        const Before before{kCounter};
        expect_exception(host.call(kName, {amp, base}), before);
        expect_exception(host.call(kName, {amp, nullptr}), before);
        for (const float v : amp.pixels<float>()) ASSERT_EQ(v, 0.0f);
    }
    const Image huge_amp = reserved_image(host, type::real4, kBeyondInt32);
    const Image huge_base = reserved_image(host, type::real4, kBeyondInt32);
    if (!huge_amp || !huge_base) GTEST_SKIP() << "cannot reserve the address space";
    const Before before{kCounter};
    expect_refusal(host.call(kName, {huge_amp, huge_base}), before);
    EXPECT_TRUE(huge_amp.lock_flags().empty());
}

}  // namespace
}  // namespace zorvan::testing
