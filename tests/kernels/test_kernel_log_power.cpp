// Power-spectrum kernel: worked values, the precision of each element type,
// and random elements against a step-by-step reference.

#include <gtest/gtest.h>

#include <math.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "fourier/log_power_kernel.h"

namespace {

using zorvan::dm::complex16;
using zorvan::dm::complex8;
using zorvan::kernels::log_power_spectrum;

constexpr double inf = std::numeric_limits<double>::infinity();

// The C library's logarithms, called at run time on values the compiler
// cannot fold.
float runtime_logf(float x) {
    volatile float v = x;
    return ::logf(v);
}
double runtime_log(double x) {
    volatile double v = x;
    return ::log(v);
}

template <class C>
zorvan::dm::real_of_t<C> spectrum_of(C element) {
    zorvan::dm::real_of_t<C> out = 0;
    log_power_spectrum(&element, &out, 1);
    return out;
}

// Single precision squares overflow and underflow where double ones do not:
// the float path must not widen.
TEST(PowerSpectrumKernel, WorkedElementsInEachPrecision) {
    struct worked_case {
        const char* name;
        double re, im;
        float want_single;
        double want_double;
    };
    const worked_case cases[] = {
        {"3+4i", 3, 4, runtime_logf(25.0f), 3.2188758248682006},
        {"zero", 0, 0, -std::numeric_limits<float>::infinity(), -inf},
        {"negative zero", -0.0, -0.0, -std::numeric_limits<float>::infinity(), -inf},
        {"2e19: square beyond float", 2e19, 0, std::numeric_limits<float>::infinity(), runtime_log(2e19 * 2e19)},
        {"1e-23i: square below float", 0, 1e-23, -std::numeric_limits<float>::infinity(), runtime_log(1e-23 * 1e-23)},
        {"1e200: square beyond double", 0, 1e200, std::numeric_limits<float>::infinity(), inf},
    };
    for (const worked_case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(spectrum_of(complex8{float(c.re), float(c.im)}), c.want_single);
        EXPECT_EQ(spectrum_of(complex16{c.re, c.im}), c.want_double);
    }
    EXPECT_TRUE(std::isnan(spectrum_of(complex8{std::numeric_limits<float>::quiet_NaN(), 1})));
    EXPECT_TRUE(std::isnan(spectrum_of(complex16{1, std::numeric_limits<double>::quiet_NaN()})));
}

// Each rounding step held in a volatile, so no step is fused or widened.
template <class F>
F reference_log_power(F re, F im) {
    volatile F re_squared = re * re;
    volatile F im_squared = im * im;
    volatile F sum = re_squared + im_squared;
    if constexpr (sizeof(F) == sizeof(float)) {
        return runtime_logf(sum);
    } else {
        return runtime_log(sum);
    }
}

TEST(PowerSpectrumKernel, RandomElementsMatchStepwiseReferenceBitForBit) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    const auto draw = [&] { return std::ldexp(mantissa(rng), exponent(rng)); };
    const std::int32_t n = 4096;
    std::vector<complex8> single(n);
    std::vector<complex16> dual(n);
    for (std::int32_t i = 0; i < n; ++i) {
        single[i] = {float(draw()), float(draw())};
        dual[i] = {draw(), draw()};
    }
    std::vector<float> single_out(n);
    std::vector<double> dual_out(n);
    log_power_spectrum(single.data(), single_out.data(), n);
    log_power_spectrum(dual.data(), dual_out.data(), n);
    for (std::int32_t i = 0; i < n; ++i) {
        const float want_single = reference_log_power(single[i].re, single[i].im);
        const double want_double = reference_log_power(dual[i].re, dual[i].im);
        ASSERT_EQ(std::memcmp(&single_out[i], &want_single, sizeof(float)), 0) << i;
        ASSERT_EQ(std::memcmp(&dual_out[i], &want_double, sizeof(double)), 0) << i;
    }
}

TEST(PowerSpectrumKernel, NonPositiveCountWritesNothing) {
    const complex8 single[2] = {{3, 4}, {1, 1}};
    const complex16 dual[2] = {{3, 4}, {1, 1}};
    for (const std::int32_t n : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
        float single_out[2] = {7, 7};
        double dual_out[2] = {7, 7};
        log_power_spectrum(single, single_out, n);
        log_power_spectrum(dual, dual_out, n);
        EXPECT_EQ(single_out[0], 7);
        EXPECT_EQ(dual_out[0], 7);
    }
}

}  // namespace
