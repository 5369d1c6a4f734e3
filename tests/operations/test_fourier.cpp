// The Fourier-space family through the host: what each frame makes (a new
// image, a clone, or the caller's image written without telling the host),
// which plane it reads, and the input each refuses silently.

#include "tests/support/fourier.h"
#include "tests/support/operation_cases.h"

#include <cmath>

namespace zorvan::testing {
namespace {

using fourier::kBeyondInt32;
using fourier::reserved_image;

class Fourier : public OperationTest {
protected:
    // An image of a real or complex code holding `values` (the parts, for complex).
    Image of(std::int32_t code, std::vector<std::uint64_t> sizes, const std::vector<double>& values) {
        if (code == type::real8 || code == type::complex16) return image(code, std::move(sizes), values);
        return image(code, std::move(sizes), std::vector<float>(values.begin(), values.end()));
    }
    static std::vector<double> values_of(const Image& img) {
        if (img.data_type() == type::real8 || img.data_type() == type::complex16) return img.pixels<double>();
        const std::vector<float> values = img.pixels<float>();
        return std::vector<double>(values.begin(), values.end());
    }
    // Silent refusals of each pair of (first, second) image arguments.
    struct Pair {
        std::int32_t first_code, second_code;
        std::vector<std::uint64_t> first_sizes, second_sizes;
    };
    void refuse_pairs(const char* function, const std::vector<Pair>& pairs) {
        for (const Pair& p : pairs) {
            SCOPED_TRACE(::testing::Message() << "types " << p.first_code << ", " << p.second_code);
            const Image first = patterned(p.first_code, p.first_sizes);
            const Image second = patterned(p.second_code, p.second_sizes);
            refuse(function, {first, second});
            EXPECT_TRUE(first.lock_flags().empty() && second.lock_flags().empty());
        }
    }
};

// A clone of the source, its first plane reflected through the centre pixel.
TEST_F(Fourier, InvertRotateReflectsTheFirstPlaneOfAClone) {
    std::vector<double> values(18);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = double(i);
    Image source = image(type::real8, {3, 3, 2}, values);
    source.set_name("stack");
    const CallResult result = succeed("FInvertRotateDLL", {source});
    ASSERT_TRUE(result.image);
    EXPECT_EQ(result.image.name(), "stack");
    EXPECT_EQ(result.image.sizes(), source.sizes());
    EXPECT_EQ(result.image.pixels<double>(),
              (std::vector<double>{8, 7, 6, 5, 4, 3, 2, 1, 0, 9, 10, 11, 12, 13, 14, 15, 16, 17}));
}

// A new unnamed image of the size image's width and height (its data never
// locked) and the profile's type; the profile is its first row.
TEST_F(Fourier, RadialWarpSpreadsTheProfilesFirstRow) {
    const Image size_source = patterned(type::uint8, {5, 5, 3});
    const Image profile = image(type::real8, {3, 2}, std::vector<double>{8, 4, 2, 100, 100, 100});
    const CallResult result = succeed("FRadialWarpDLL", {size_source, profile, 1.0, 1.0});
    ASSERT_TRUE(result.image);
    EXPECT_EQ(result.image.sizes(), (std::vector<std::uint64_t>{5, 5}));
    EXPECT_EQ(result.image.data_type(), type::real8);
    EXPECT_EQ(result.image.name(), "");
    const std::vector<double> got = result.image.pixels<double>();
    EXPECT_EQ(got[2 * 5 + 2], 8.0);
    EXPECT_EQ(got[2 * 5 + 3], 4.0);
    EXPECT_EQ(got[2 * 5 + 4], 2.0);
    EXPECT_EQ(got[0], 2.0 * (1 - (std::sqrt(8.0) - 2))) << "r = 2.83, towards 0 at the profile's length";
    EXPECT_TRUE(size_source.lock_flags().empty());

    const double inf = std::numeric_limits<double>::infinity();
    const Image real_profile = patterned(type::real4, {3});
    for (const double bad : {std::nan(""), inf, -inf}) {
        refuse("FRadialWarpDLL", {size_source, real_profile, bad, 1.0});
        refuse("FRadialWarpDLL", {size_source, real_profile, 1.0, bad});
    }
    EXPECT_TRUE(real_profile.lock_flags().empty());
}

// The means of the first plane: sums over w*h elements divided by w*h.
TEST_F(Fourier, MeanComplexOfTheFirstPlane) {
    const auto mean = [this](std::int32_t code, const std::vector<double>& parts) {
        std::vector<Arg> args{of(code, {2, 1, 2}, parts), Arg::out(7.5), Arg::out(-7.5)};
        EXPECT_EQ(succeed("FMeanComplexDLL", args).number, 1);
        return std::vector<double>{args[1].number(), args[2].number()};
    };
    EXPECT_EQ(mean(type::complex8, {1, 2, 3, 4, 100, 100, 100, 100}), (std::vector<double>{2, 3}));
    EXPECT_EQ(mean(type::complex16, {-1, 0.5, 0, 0.25, 9, 9, 9, 9}), (std::vector<double>{-0.5, 0.375}));
}

// A new unnamed 8-byte real N x N image; below 2 or beyond 2^31 elements refused.
TEST_F(Fourier, PenaltyMatrixSizes) {
    const CallResult result = succeed("FCreateFwhitsmMatrixDLL", {3, 1.0});
    ASSERT_TRUE(result.image);
    EXPECT_EQ(result.image.data_type(), type::real8);
    EXPECT_EQ(result.image.name(), "");
    EXPECT_EQ(result.image.pixels<double>(), (std::vector<double>{1, -2, 1, -2, 5, -2, 1, -2, 1}));
    for (const std::int32_t n : {1, 0, -1, kSmallestInt, 46341, kLargestInt}) {
        refuse("FCreateFwhitsmMatrixDLL", {n, 1.0});
    }
    // 46340 goes ahead; the host's refusal to allocate ends the call uncounted.
    const Image complex = patterned(type::complex8, {512, 512}), real = patterned(type::real4, {512, 512});
    host.set_allocation_limit(1 << 20);
    fail("FCreateFwhitsmMatrixDLL", {46340, 1.0}, "The image is too large to allocate.", false);
    fail("FElementWiseProductComplexByRealDLL", {complex, real}, "The image is too large to allocate.", false);
}

// A clone of the complex image (its name kept) times the real one, for all
// four pairings of precisions.
TEST_F(Fourier, ComplexByRealIntoACloneOfTheComplexImage) {
    for (const std::int32_t complex_code : {type::complex8, type::complex16})
        for (const std::int32_t real_code : {type::real4, type::real8}) {
            SCOPED_TRACE(::testing::Message() << "types " << complex_code << ", " << real_code);
            Image complex = of(complex_code, {1}, {1, 2});
            complex.set_name("spectrum");
            const Image real = of(real_code, {1}, {3});
            const CallResult result = succeed("FElementWiseProductComplexByRealDLL", {complex, real});
            ASSERT_TRUE(result.image);
            EXPECT_EQ(result.image.name(), "spectrum");
            EXPECT_EQ(result.image.data_type(), complex_code);
            EXPECT_EQ(values_of(result.image), (std::vector<double>{3, 6}));
        }
    refuse_pairs("FElementWiseProductComplexByRealDLL", {
        {type::real4, type::complex8, {4, 4}, {4, 4}},  {type::complex8, type::complex8, {4, 4}, {4, 4}},
        {type::complex16, type::int16, {4, 4}, {4, 4}}, {type::uint32, type::real4, {4, 4}, {4, 4}},
        {type::complex8, type::real4, {4, 4}, {4, 5}},  {type::complex16, type::real8, {5, 4}, {4, 4}},
        {type::complex8, type::real4, {16}, {4, 4}},
    });
}

// The zeros of the amplitude image are replaced by 1 in that image itself,
// without telling the host; each before its base is read.
TEST_F(Fourier, WienerMaskWritesTheAmplitudesZeros) {
    const Image amplitude = image(type::real4, {2, 1, 2}, std::vector<float>{0, 2, 0, 0});
    const Image base = image(type::real4, {2, 1, 2}, std::vector<float>{0.5f, 1, 7, 7});
    const CallResult result = succeed("FCreateWienerMaskDLL", {amplitude, base});
    ASSERT_TRUE(result.image);
    EXPECT_EQ(result.image.sizes(), (std::vector<std::uint64_t>{2, 1}));
    EXPECT_EQ(result.image.data_type(), type::real4);
    EXPECT_EQ(result.image.pixels<float>(), (std::vector<float>{0.75f, 0.75f}));
    EXPECT_EQ(amplitude.pixels<float>(), (std::vector<float>{1, 2, 0, 0}));
    EXPECT_EQ(amplitude.data_changed_count(), 0u);

    const Image both = image(type::real8, {3}, std::vector<double>{0, 3, 0});
    EXPECT_EQ(succeed("FCreateWienerMaskDLL", {both, both}).image.pixels<double>(), std::vector<double>(3, 0.0));
    EXPECT_EQ(both.pixels<double>(), (std::vector<double>{1, 3, 1}));
    refuse_pairs("FCreateWienerMaskDLL", {
        {type::real4, type::real8, {4, 4}, {4, 4}},       {type::real8, type::real4, {4, 4}, {4, 4}},
        {type::complex8, type::complex8, {4, 4}, {4, 4}}, {type::int16, type::int16, {4, 4}, {4, 4}},
        {type::real4, type::real4, {4, 4}, {4, 5}},       {type::real8, type::real8, {3, 4}, {4, 4}},
    });
}

// Added into the target in place, which the host is not told about.
TEST_F(Fourier, ComplexAccumulateWritesTheTarget) {
    const Image target = image(type::complex8, {2, 1}, std::vector<float>{1, 2, -5, 6});
    const Image plus = image(type::complex8, {2, 1}, std::vector<float>{10, 20, 5, -6});
    EXPECT_EQ(succeed("FPlusComplexImageDLL", {target, plus}).number, 1);
    EXPECT_EQ(target.pixels<float>(), (std::vector<float>{11, 22, 0, 0}));
    EXPECT_EQ(target.data_changed_count(), 0u);
    const Image twice = image(type::complex16, {2}, std::vector<double>{1, -2, 0.5, 4});
    EXPECT_EQ(succeed("FPlusComplexImageDLL", {twice, twice}).number, 1);
    EXPECT_EQ(twice.pixels<double>(), (std::vector<double>{2, -4, 1, 8}));
    refuse_pairs("FPlusComplexImageDLL", {
        {type::complex16, type::complex8, {2, 2}, {2, 2}}, {type::complex8, type::real8, {2, 2}, {2, 2}},
        {type::real4, type::real4, {2, 2}, {2, 2}},        {type::int32, type::int32, {2, 2}, {2, 2}},
        {type::complex8, type::complex8, {2, 2}, {3, 2}},  {type::complex16, type::complex16, {2, 3}, {2, 2}},
    });
}

// A new real image "PowerSpectrum" of the complex precision, of the first
// plane's width and height.
TEST_F(Fourier, PowerSpectrumOfTheFirstPlane) {
    for (const std::int32_t code : {type::complex8, type::complex16}) {
        const Image input = of(code, {2, 1, 2}, {0, 1, 0, -1, 9, 9, 9, 9});
        const CallResult result = succeed("FCalculatePowerSpectrumDLL", {input});
        ASSERT_TRUE(result.image);
        EXPECT_EQ(result.image.name(), "PowerSpectrum");
        EXPECT_EQ(result.image.data_type(), code == type::complex8 ? type::real4 : type::real8);
        EXPECT_EQ(result.image.sizes(), (std::vector<std::uint64_t>{2, 1}));
        EXPECT_EQ(values_of(result.image), (std::vector<double>{0, 0})) << "ln 1";
    }
}

// Output rows go into the destination at its own width; what lies beyond
// the output keeps its values, and the host is not told.
TEST_F(Fourier, LinearRescaleIntoTheDestinationAtItsWidth) {
    const Image source = image(type::real8, {3, 2}, std::vector<double>{0, 10, 20, 0, 10, 20});
    const Image destination = image(type::real8, {7, 3}, std::vector<double>(21, -9));
    EXPECT_EQ(succeed("FWarpLinear2DDLL", {source, 2.0, 1.0, destination}).number, 1);
    EXPECT_EQ(destination.pixels<double>(), (std::vector<double>{0, 5, 10, 15, 20, 25, -9, 0, 5, 10, 15, 20, 25, -9,
                                                                 -9, -9, -9, -9, -9, -9, -9}));
    EXPECT_EQ(destination.data_changed_count(), 0u);
    const Image column = image(type::real4, {2, 2}, std::vector<float>{0, 0, 10, 10});
    const Image tall = image(type::real4, {2, 4}, std::vector<float>(8, -9));
    succeed("FWarpLinear2DDLL", {column, 1.0, 2.0, tall});
    EXPECT_EQ(tall.pixels<float>(), (std::vector<float>{0, 0, 5, 5, 10, 10, 15, 15}));
}

TEST_F(Fourier, LinearRescaleRefusals) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* why;
        std::int32_t source_code, destination_code;
        std::vector<std::uint64_t> source_sizes, destination_sizes;
        double fx, fy;
    } cases[] = {
        {"float into double", type::real4, type::real8, {4, 4}, {8, 8}, 1, 1},
        {"complex", type::complex8, type::complex8, {4, 4}, {8, 8}, 1, 1},
        {"integer", type::int16, type::int16, {4, 4}, {8, 8}, 1, 1},
        {"too narrow", type::real4, type::real4, {4, 4}, {7, 8}, 2, 1},
        {"too low", type::real8, type::real8, {4, 4}, {8, 7}, 1, 2},
        {"fx 0", type::real4, type::real4, {4, 4}, {8, 8}, 0, 1},
        {"fx NaN", type::real4, type::real4, {4, 4}, {8, 8}, nan, 1},
        {"fy minus infinity", type::real4, type::real4, {4, 4}, {8, 8}, 1, -inf},
        {"one column", type::real4, type::real4, {1, 4}, {8, 8}, 2, 1},
        // A row buffer of 2^20 rows by 1100 would need 2.3e9 elements.
        {"row buffer beyond 32 bits", type::real4, type::real4, {2, 1 << 20}, {2200, 2}, 1100, 1.5e-6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const Image source = patterned(c.source_code, c.source_sizes);
        const Image destination = patterned(c.destination_code, c.destination_sizes);
        refuse("FWarpLinear2DDLL", {source, c.fx, c.fy, destination});
        EXPECT_TRUE(source.lock_flags().empty() && destination.lock_flags().empty());
    }
}

// Element counts beyond 32 bits are refused before any element is read: the
// images are reserved address space that faults when read.
TEST_F(Fourier, RefusesElementCountsBeyond32Bits) {
    const Image real = reserved_image(host, type::real4, kBeyondInt32);
    const Image complex = reserved_image(host, type::complex8, kBeyondInt32);
    const Image other_complex = reserved_image(host, type::complex8, kBeyondInt32);
    if (!real || !complex || !other_complex) GTEST_SKIP() << "cannot reserve the address space";
    const Image small = patterned(type::real4, {4, 4});
    const Image profile = patterned(type::real4, {3});
    refuse("FInvertRotateDLL", {real});
    refuse("FRadialWarpDLL", {real, profile, 1.0, 1.0});
    refuse("FMeanComplexDLL", {complex, Arg::out(7.5), Arg::out(-7.5)});
    refuse("FElementWiseProductComplexByRealDLL", {complex, real});
    refuse("FCreateWienerMaskDLL", {real, real});
    refuse("FPlusComplexImageDLL", {complex, other_complex});
    refuse("FCalculatePowerSpectrumDLL", {complex});
    refuse("FWarpLinear2DDLL", {small, 1.0, 1.0, real});
    refuse("FWarpLinear2DDLL", {real, 1e-5, 1e-5, small});
    for (const Image* img : {&real, &complex, &other_complex}) EXPECT_TRUE(img->lock_flags().empty());
}

}  // namespace
}  // namespace zorvan::testing
