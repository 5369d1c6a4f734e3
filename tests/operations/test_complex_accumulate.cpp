// FPlusComplexImageDLL through the host application: target += plus in
// place, part by part in the element precision, without telling the host.

#include "tests/support/fourier.h"

#include <limits>

namespace zorvan::testing {
namespace {

using namespace fourier;

constexpr const char* kName = "FPlusComplexImageDLL";
constexpr const char* kCounter = "PlusComplexImageDM";

class ComplexAccumulate : public PluginTest {
protected:
    // Adds `plus` into `target` and returns the target's parts afterwards.
    template <class F>
    std::vector<F> accumulate(const Image& target, const std::vector<F>& plus, int threads = 2) {
        const Image addend = image(target.data_type(), target.sizes(), plus);
        const Before before{kCounter};
        const std::size_t target_locks = target.lock_flags().size();
        const CallResult result = with_threads(threads, [&] { return host.call(kName, {target, addend}); });
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(result.number, 1);
        EXPECT_EQ(counter_additions(kCounter), before.additions + 1);
        EXPECT_EQ(Host::object_counts().images, before.images);
        EXPECT_EQ(target.data_changed_count() + addend.data_changed_count(), 0u) << "the host is not told";
        EXPECT_EQ(target.lock_flags().size(), target_locks + 1);
        EXPECT_EQ(target.lock_flags().back(), 1u);
        EXPECT_EQ(addend.lock_flags(), std::vector<std::uint32_t>{1});
        EXPECT_EQ(target.active_locks() + addend.active_locks(), 0);
        EXPECT_TRUE(same_values(addend.pixels<F>(), plus)) << "the added image changed";
        return target.pixels<F>();
    }
};

TEST_F(ComplexAccumulate, WorkedSumOfTwoByTwoImages) {
    const Image target = image(type::complex8, {2, 2}, std::vector<float>{1, 2, 3, 4, -5, 6, 0.5f, -0.25f});
    EXPECT_EQ(accumulate(target, std::vector<float>{10, 20, 30, 40, 5, -6, 0.25f, 0.25f}),
              (std::vector<float>{11, 22, 33, 44, 0, 0, 0.75f, 0}));
}

// Repeated calls sum in call order, in the element precision.
TEST_F(ComplexAccumulate, RepeatedSumsMatchTheReferenceWithOneOrTwoThreads) {
    std::mt19937 rng(8);
    const std::vector<std::uint64_t> sizes = {71, 29};
    const std::size_t parts = 2 * sizes[0] * sizes[1];
    const auto check = [&]<class F>(std::int32_t code) {
        const auto start = random_values<F>(parts, rng);
        std::vector<std::vector<F>> addends;
        for (int k = 0; k < 3; ++k) addends.push_back(random_values<F>(parts, rng));
        std::vector<F> want = start;
        for (const auto& a : addends)
            for (std::size_t i = 0; i < parts; ++i) want[i] = want[i] + a[i];
        std::vector<F> results[2];
        for (const int threads : {1, 2}) {
            const Image target = image(code, sizes, start);
            for (const auto& a : addends) results[threads - 1] = accumulate(target, a, threads);
        }
        EXPECT_TRUE(same_values(results[0], want));
        EXPECT_TRUE(same_values(results[1], want));
    };
    check.template operator()<float>(type::complex8);
    check.template operator()<double>(type::complex16);
}

TEST_F(ComplexAccumulate, AnImageAddedIntoItselfDoubles) {
    const Image target = image(type::complex16, {3}, std::vector<double>{1, -2, 0.5, 4, 1e308, -3});
    const CallResult result = host.call(kName, {target, target});
    EXPECT_EQ(result.number, 1);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(target.pixels<double>(), (std::vector<double>{2, -4, 1, 8, inf, -6}));
}

TEST_F(ComplexAccumulate, RefusalsAndExceptionsLeaveTheTargetUnchanged) {
    struct Case {
        std::int32_t target_code, plus_code;
        std::vector<std::uint64_t> target_sizes, plus_sizes;
    };
    const Case cases[] = {
        {type::complex8, type::complex16, {2, 2}, {2, 2}}, {type::complex16, type::complex8, {2, 2}, {2, 2}},
        {type::complex8, type::real8, {2, 2}, {2, 2}},     {type::real4, type::real4, {2, 2}, {2, 2}},
        {type::int32, type::int32, {2, 2}, {2, 2}},        {type::complex8, type::complex8, {2, 2}, {3, 2}},
        {type::complex16, type::complex16, {2, 3}, {2, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "types " << c.target_code << ", " << c.plus_code);
        const Image target = host.make_image(c.target_code, c.target_sizes);
        std::vector<std::uint8_t> ones(dm::bytes_of(c.plus_code) * c.plus_sizes[0] * c.plus_sizes[1], 0x3f);
        const Image plus = image(c.plus_code, c.plus_sizes, ones);
        const Before before{kCounter};
        expect_refusal(host.call(kName, {target, plus}), before);
        EXPECT_TRUE(target.lock_flags().empty() && plus.lock_flags().empty());
        for (const std::byte byte : target.bytes()) ASSERT_EQ(byte, std::byte{0});
    }
    {
        const Image target = host.make_image(type::complex8, {2, 2});
        const Before before{kCounter};
        expect_exception(host.call(kName, {target, nullptr}), before);
        expect_exception(host.call(kName, {nullptr, target}), before);
        EXPECT_TRUE(target.lock_flags().empty());
    }
    const Image huge_target = reserved_image(host, type::complex8, kBeyondInt32);
    const Image huge_plus = reserved_image(host, type::complex8, kBeyondInt32);
    if (!huge_target || !huge_plus) GTEST_SKIP() << "cannot reserve the address space";
    const Before before{kCounter};
    expect_refusal(host.call(kName, {huge_target, huge_plus}), before);
    EXPECT_TRUE(huge_target.lock_flags().empty());
}

}  // namespace
}  // namespace zorvan::testing
