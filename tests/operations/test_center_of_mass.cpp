// FGetCenterOfMass called through the host application: the worked single
// spot in both real types, integer sources searched on a converted copy
// while the caller's image stays as it was, what fX and fY hold after every
// path, refused types, non-finite starts, and an oscillating centre with a
// budget of billions of cycles.

#include "tests/support/plugin_test.h"
#include "measure/center_of_mass_kernel.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace zorvan::testing {
namespace {

namespace type = host::data_type;

constexpr const char* kCounter = "GetCenterOfMassDM";
const std::string kNotReal = "imgSrc should be Real.";

struct Search {
    std::int64_t result;
    double x, y;
};

class CenterOfMass : public PluginTest {
protected:
    Search search(const Image& source, double x, double y, double radius, std::int32_t cycles, double threshold) {
        const auto bytes = source.bytes();
        const auto code = source.data_type();
        const auto images = Host::object_counts().images;
        const auto calls = additions(kCounter);
        std::vector<Arg> args{source, Arg::out(x), Arg::out(y), radius, cycles, threshold};
        const CallResult result = host.call("FGetCenterOfMass", args);
        EXPECT_TRUE(result.ok()) << result.error->message;
        EXPECT_EQ(result.raised, 0);
        EXPECT_EQ(additions(kCounter), calls + 1);
        // The caller's image is never written, converted or kept.
        EXPECT_EQ(source.data_type(), code);
        EXPECT_EQ(source.bytes(), bytes);
        EXPECT_EQ(source.data_changed_count(), 0u);
        EXPECT_EQ(Host::object_counts().images, images);
        return {result.number, args[1].number(), args[2].number()};
    }
};

template <class T>
std::vector<T> spot_image(T background, T spot) {
    std::vector<T> pixels(32 * 32, background);
    pixels[12 * 32 + 10] = spot;
    return pixels;
}

TEST_F(CenterOfMass, SingleSpotInBothRealTypes) {
    const Image as_float = image(type::real4, {32, 32}, spot_image<float>(0, 1));
    const Image as_double = image(type::real8, {32, 32}, spot_image<double>(0, 1));
    for (const Image* source : {&as_float, &as_double}) {
        SCOPED_TRACE(::testing::Message() << "type " << source->data_type());
        const Search got = search(*source, 11, 11, 3, 10, 0);
        EXPECT_EQ(got.result, 2);
        EXPECT_EQ(got.x, 10);
        EXPECT_EQ(got.y, 12);
        EXPECT_EQ(source->lock_flags(), std::vector<std::uint32_t>{1});
    }
}

// Every integer type is searched as its 4-byte real conversion: the same
// result and position, and the caller's image keeps its type and pixels and
// is never locked.
TEST_F(CenterOfMass, IntegerSourcesAreSearchedOnAConvertedCopy) {
    std::mt19937 rng(43);
    std::uniform_int_distribution<int> value(0, 100);
    std::vector<int> pixels(20 * 16);
    for (int& p : pixels) p = value(rng) / 10;
    for (int y = 6; y <= 9; ++y)
        for (int x = 8; x <= 12; ++x) pixels[std::size_t(y * 20 + x)] = 50 + value(rng) / 2;  // fits every type
    const std::vector<float> as_float(pixels.begin(), pixels.end());
    const Image reference = image(type::real4, {20, 16}, as_float);
    const Search want = search(reference, 9.3, 8.6, 4.5, 20, 0.2);
    ASSERT_GT(want.result, 0);

    const auto typed = [&](std::int32_t code, auto zero) {
        using T = decltype(zero);
        return image(code, {20, 16}, std::vector<T>(pixels.begin(), pixels.end()));
    };
    const Image sources[] = {
        typed(type::int16, std::int16_t{}),   typed(type::uint8, std::uint8_t{}),  typed(type::int32, std::int32_t{}),
        typed(type::int8, std::int8_t{}),     typed(type::uint16, std::uint16_t{}),
        typed(type::uint32, std::uint32_t{}), typed(type::binary, std::uint8_t{}),
    };
    for (const Image& source : sources) {
        SCOPED_TRACE(::testing::Message() << "type " << source.data_type());
        const Search got = search(source, 9.3, 8.6, 4.5, 20, 0.2);
        EXPECT_EQ(got.result, want.result);
        EXPECT_TRUE(same_bits(got.x, want.x)) << got.x << " vs " << want.x;
        EXPECT_TRUE(same_bits(got.y, want.y)) << got.y << " vs " << want.y;
        EXPECT_TRUE(source.lock_flags().empty()) << "only the copy is locked";
    }
}

// What fX and fY hold afterwards: in float the position is always written
// (the start narrowed to float when nothing was found); in double only when
// the search ran to its end.
TEST_F(CenterOfMass, OutArgumentsOnEveryPath) {
    const double nan = std::nan("");
    const double x = 2.3, y = 7.7;  // neither is a float
    const double x_float = double(float(x)), y_float = double(float(y));
    struct Case {
        const char* what;
        bool in_double;
        double radius;
        std::int32_t cycles;
        double start_x;
        std::int64_t result;
        double want_x, want_y;
    };
    const Case cases[] = {
        {"float, not found", false, 3, 10, x, 0, x_float, y_float},
        {"float, no budget", false, 3, 0, x, 0, x_float, y_float},
        {"float, negative budget", false, 3, -1, x, 0, x_float, y_float},
        {"float, NaN start", false, 3, 10, nan, 0, nan, y_float},
        {"float, NaN radius", false, nan, 10, x, 0, x_float, y_float},
        {"double, not found", true, 3, 10, x, 0, x, y},
        {"double, no budget", true, 3, 0, x, 0, x, y},
        {"double, NaN start", true, 3, 10, nan, 0, nan, y},
        {"double, infinite radius", true, std::numeric_limits<double>::infinity(), 10, x, 0, x, y},
    };
    const Image as_float = image(type::real4, {32, 32}, spot_image<float>(0, 1));
    const Image as_double = image(type::real8, {32, 32}, spot_image<double>(0, 1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Search got = search(c.in_double ? as_double : as_float, c.start_x, y, c.radius, c.cycles, 0);
        EXPECT_EQ(got.result, c.result);
        EXPECT_TRUE(same_bits(got.x, c.want_x) || (std::isnan(got.x) && std::isnan(c.want_x))) << got.x;
        EXPECT_TRUE(same_bits(got.y, c.want_y)) << got.y;
    }
    // Found: the refined centre from a start that float rounds.
    for (const Image* source : {&as_float, &as_double}) {
        const Search got = search(*source, 10.3, 11.7, 3, 10, 0);
        EXPECT_EQ(got.result, 2);
        EXPECT_EQ(got.x, 10);
        EXPECT_EQ(got.y, 12);
    }
}

// The frame narrows start, radius and threshold to float before the search
// and widens the position back; in double they pass as they are.
TEST_F(CenterOfMass, RandomSearchesAreTheKernelsOnNarrowedArguments) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        std::vector<double> pixels(24 * 18);
        for (double& p : pixels) p = unit(rng) * unit(rng) * 60.0;
        const double x = 3 + unit(rng) * 18, y = 3 + unit(rng) * 12, radius = 0.5 + unit(rng) * 3,
                     threshold = unit(rng) * 0.9;
        const auto cycles = std::int32_t(rng() % 12);
        const std::vector<float> narrowed(pixels.begin(), pixels.end());
        const auto in_float = kernels::centre_of_mass<float>(narrowed.data(), 24, 18, float(x), float(y),
                                                             float(radius), cycles, float(threshold));
        const Search got_float = search(image(type::real4, {24, 18}, narrowed), x, y, radius, cycles, threshold);
        EXPECT_EQ(got_float.result, in_float.result);
        EXPECT_TRUE(same_bits(got_float.x, double(in_float.x)));
        EXPECT_TRUE(same_bits(got_float.y, double(in_float.y)));

        const auto in_double = kernels::centre_of_mass<double>(pixels.data(), 24, 18, x, y, radius, cycles, threshold);
        const Search got_double = search(image(type::real8, {24, 18}, pixels), x, y, radius, cycles, threshold);
        EXPECT_EQ(got_double.result, in_double.result);
        EXPECT_TRUE(same_bits(got_double.x, in_double.found ? in_double.x : x));
        EXPECT_TRUE(same_bits(got_double.y, in_double.found ? in_double.y : y));
    }
}

TEST_F(CenterOfMass, RefusesComplexAndRgbImagesWithoutWritingThePosition) {
    for (const std::int32_t code : {type::complex8, type::complex16, type::rgb, type::packed_complex}) {
        SCOPED_TRACE(::testing::Message() << "type " << code);
        const Image source = host.make_image(code, {8, 8});
        const auto images = Host::object_counts().images;
        const auto calls = additions(kCounter);
        std::vector<Arg> args{source, Arg::out(4.25), Arg::out(-3.5), 2.0, 10, 0.0};
        const CallResult result = host.call("FGetCenterOfMass", args);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error->message, kNotReal);
        EXPECT_EQ(result.raised, 1);
        EXPECT_EQ(result.number, 0);
        EXPECT_EQ(additions(kCounter), calls + 1);
        EXPECT_EQ(args[1].number(), 4.25);
        EXPECT_EQ(args[2].number(), -3.5);
        EXPECT_EQ(source.data_type(), code);
        EXPECT_TRUE(source.lock_flags().empty());
        EXPECT_EQ(Host::object_counts().images, images);
    }
}

// A row whose centre never settles (threshold 2, radius 2): from 10 the disc
// holds the +1 at 12, weighs nothing and jumps to 8; from 8 it is pulled back
// to the -1 at 10. Budgets of billions finish at once with the plain loop's
// answer: even budgets end at 10, within the radius of the start; odd ones at
// 8, the radius away, and are rejected.
TEST_F(CenterOfMass, AnOscillatingCentreWithBillionsOfCycles) {
    std::vector<float> row(20, -10.0f);
    row[10] = -1;
    row[12] = 1;
    const Image source = image(type::real4, {20, 1}, row);
    const std::int32_t largest = std::numeric_limits<std::int32_t>::max();
    const Search odd = search(source, 10, 0, 2, largest, 2);
    EXPECT_EQ(odd.result, 0);
    EXPECT_EQ(odd.x, 10);
    const Search even = search(source, 10, 0, 2, largest - 1, 2);
    EXPECT_EQ(even.result, largest - 1);
    EXPECT_EQ(even.x, 10);
    EXPECT_EQ(even.y, 0);
}

}  // namespace
}  // namespace zorvan::testing
