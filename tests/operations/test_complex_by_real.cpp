// FElementWiseProductComplexByRealDLL through the host application: each
// complex element times the real element, with the factor converted to the
// complex precision first, into a clone of the complex image.

#include "tests/support/fourier.h"

namespace zorvan::testing {
namespace {

using namespace fourier;

constexpr const char* kName = "FElementWiseProductComplexByRealDLL";
constexpr const char* kCounter = "ElementWiseProductComplexByRealDM";

template <class F, class R>
std::vector<F> products(const std::vector<F>& z, const std::vector<R>& g) {
    std::vector<F> out(z.size());
    for (std::size_t i = 0; i < g.size(); ++i) {
        const F factor = static_cast<F>(g[i]);
        out[2 * i] = z[2 * i] * factor;
        out[2 * i + 1] = z[2 * i + 1] * factor;
    }
    return out;
}

class ComplexByReal : public PluginTest {
protected:
    // F: the complex part's type, R: the real element's type.
    template <class F, class R>
    std::vector<F> multiply(const std::vector<F>& z, const std::vector<R>& g, std::vector<std::uint64_t> sizes,
                            int threads = 2) {
        const std::int32_t complex_code = sizeof(F) == 4 ? type::complex8 : type::complex16;
        const Image complex = host.make_image(complex_code, sizes, z.data(), z.size() * sizeof(F), "spectrum");
        const Image real = image(sizeof(R) == 4 ? type::real4 : type::real8, sizes, g);
        const Before before{kCounter};
        const CallResult result = with_threads(threads, [&] { return host.call(kName, {complex, real}); });
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(counter_additions(kCounter), before.additions + 1);
        if (!result.image) {
            ADD_FAILURE() << "no image";
            return {};
        }
        EXPECT_EQ(Host::object_counts().images, before.images + 1);
        EXPECT_FALSE(result.image.same_as(complex));
        EXPECT_EQ(result.image.data_type(), complex_code);
        EXPECT_EQ(result.image.sizes(), sizes);
        EXPECT_EQ(result.image.name(), "spectrum") << "not a clone of the complex image";
        EXPECT_EQ(result.image.data_changed_count(), 1u);
        const std::vector<std::uint32_t> one_lock{1};
        EXPECT_EQ(result.image.lock_flags(), one_lock);
        EXPECT_EQ(complex.lock_flags(), one_lock);
        EXPECT_EQ(real.lock_flags(), one_lock);
        EXPECT_EQ(complex.data_changed_count() + real.data_changed_count(), 0u);
        EXPECT_EQ(result.image.active_locks() + complex.active_locks() + real.active_locks(), 0);
        EXPECT_TRUE(same_values(complex.pixels<F>(), z)) << "the complex input changed";
        EXPECT_TRUE(same_values(real.pixels<R>(), g)) << "the real input changed";
        return result.image.pixels<F>();
    }
};

TEST_F(ComplexByReal, WorkedProductsInAllFourPairings) {
    EXPECT_EQ(multiply<float>(std::vector<float>{1, 2}, std::vector<float>{3}, {1}), (std::vector<float>{3, 6}));
    EXPECT_EQ(multiply<float>(std::vector<float>{1, 2}, std::vector<double>{3}, {1}), (std::vector<float>{3, 6}));
    EXPECT_EQ(multiply<double>(std::vector<double>{1, 2}, std::vector<float>{3}, {1}), (std::vector<double>{3, 6}));
    EXPECT_EQ(multiply<double>(std::vector<double>{1, 2}, std::vector<double>{3}, {1}), (std::vector<double>{3, 6}));
    // A zero factor gives a complex zero image of the complex type.
    EXPECT_EQ(multiply<double>(std::vector<double>{1, -2, 3, 4}, std::vector<float>{0, 0}, {2}),
              (std::vector<double>{0, -0.0, 0, 0}));
}

// A double 0.1 is rounded to the float nearest 0.1 before a float product,
// which differs from rounding the double product for some parts.
TEST_F(ComplexByReal, ADoubleFactorIsRoundedToFloatFirst) {
    std::vector<float> z;
    for (int k = 1; k <= 64; ++k) z.push_back(1.0f + float(k) / 3.0f);
    const std::vector<double> tenth(z.size() / 2, 0.1);
    const auto got = multiply<float>(z, tenth, {z.size() / 2});
    int differing = 0;
    for (std::size_t i = 0; i < z.size(); ++i) {
        EXPECT_EQ(got[i], z[i] * 0.1f);
        if (got[i] != float(double(z[i]) * 0.1)) ++differing;
    }
    EXPECT_GT(differing, 0) << "no part tells the two roundings apart";
}

TEST_F(ComplexByReal, RandomProductsMatchTheReferenceWithOneOrTwoThreads) {
    std::mt19937 rng(6);
    const std::vector<std::uint64_t> sizes = {67, 45};
    const std::uint64_t n = sizes[0] * sizes[1];
    const auto z_single = random_values<float>(2 * n, rng);
    const auto z_double = random_values<double>(2 * n, rng);
    const auto g_single = random_values<float>(n, rng);
    const auto g_double = random_values<double>(n, rng);
    const auto check = [&](const auto& z, const auto& g) {
        const auto one = multiply(z, g, sizes, 1);
        EXPECT_TRUE(same_values(one, products(z, g)));
        EXPECT_TRUE(same_values(multiply(z, g, sizes, 2), one));
    };
    check(z_single, g_single);
    check(z_single, g_double);
    check(z_double, g_single);
    check(z_double, g_double);
}

TEST_F(ComplexByReal, RefusesOtherTypePairsAndDifferentSizes) {
    struct Case {
        std::int32_t complex_code, real_code;
        std::vector<std::uint64_t> complex_sizes, real_sizes;
    };
    const Case cases[] = {
        {type::real4, type::complex8, {4, 4}, {4, 4}},  // swapped arguments
        {type::complex8, type::complex8, {4, 4}, {4, 4}},
        {type::real8, type::real8, {4, 4}, {4, 4}},
        {type::complex16, type::int16, {4, 4}, {4, 4}},
        {type::uint32, type::real4, {4, 4}, {4, 4}},
        {type::complex8, type::real4, {4, 4}, {4, 5}},
        {type::complex16, type::real8, {5, 4}, {4, 4}},
        {type::complex8, type::real4, {16}, {4, 4}},  // the same count in another shape
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "types " << c.complex_code << ", " << c.real_code);
        const Image complex = host.make_image(c.complex_code, c.complex_sizes);
        const Image real = host.make_image(c.real_code, c.real_sizes);
        const Before before{kCounter};
        expect_refusal(host.call(kName, {complex, real}), before);
        EXPECT_TRUE(complex.lock_flags().empty() && real.lock_flags().empty());
    }
    const Image huge_complex = reserved_image(host, type::complex8, kBeyondInt32);
    const Image huge_real = reserved_image(host, type::real4, kBeyondInt32);
    if (!huge_complex || !huge_real) GTEST_SKIP() << "cannot reserve the address space";
    const Before before{kCounter};
    expect_refusal(host.call(kName, {huge_complex, huge_real}), before);
    EXPECT_TRUE(huge_complex.lock_flags().empty());
}

TEST_F(ComplexByReal, AnExceptionReturnsNullWithoutACounter) {
    const Image complex = host.make_image(type::complex8, {32, 32});
    const Image real = host.make_image(type::real4, {32, 32});
    host.set_allocation_limit(32 * 32 * 8 - 1);
    const Before before{kCounter};
    expect_exception(host.call(kName, {complex, real}), before);
    expect_exception(host.call(kName, {complex, nullptr}), before);
    EXPECT_EQ(complex.active_locks() + real.active_locks(), 0);
}

}  // namespace
}  // namespace zorvan::testing
