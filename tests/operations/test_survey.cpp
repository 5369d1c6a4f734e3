// FSurvey called through the host application: minimum, maximum, sum and sum
// of squares of every accepted pixel type against a double running sum in
// visiting order; extremes, NaN and infinities, the dimensions surveyed, and
// the refusals that leave the out-parameters alone.

#include "tests/support/plugin_test.h"

#include <cmath>
#include <limits>
#include <random>
#include <type_traits>

namespace zorvan::testing {
namespace {

namespace type = host::data_type;

constexpr const char* kCounter = "SurveyDM";
constexpr double kLargest = std::numeric_limits<double>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

constexpr std::int32_t kAccepted[] = {type::int16,  type::real4,  type::uint8,  type::int32,
                                      type::int8,   type::uint16, type::uint32, type::real8};

// Calls f with a value of the pixel type of an accepted code.
template <class F>
void with_pixel_type(std::int32_t code, F&& f) {
    switch (code) {
        case type::int16: return f(std::int16_t{});
        case type::real4: return f(float{});
        case type::uint8: return f(std::uint8_t{});
        case type::int32: return f(std::int32_t{});
        case type::int8: return f(std::int8_t{});
        case type::uint16: return f(std::uint16_t{});
        case type::uint32: return f(std::uint32_t{});
        case type::real8: return f(double{});
    }
    FAIL() << "no pixel type for code " << code;
}

struct Totals {
    double min, max, sum, sqsum;
};

// The pixels as the host holds them, read back as doubles in memory order,
// which for the host's packed images is the visiting order.
std::vector<double> stored_values(const Image& img) {
    std::vector<double> values;
    with_pixel_type(img.data_type(), [&](auto zero) {
        for (auto v : img.pixels<decltype(zero)>()) values.push_back(static_cast<double>(v));
    });
    return values;
}

Totals running_totals(const std::vector<double>& values, std::size_t visited) {
    Totals t{kLargest, -kLargest, 0.0, 0.0};
    for (std::size_t i = 0; i < visited; ++i) {
        const double v = values[i];
        if (v < t.min) t.min = v;
        if (v > t.max) t.max = v;
        t.sum += v;
        t.sqsum += v * v;
    }
    return t;
}

class Survey : public PluginTest {
protected:
    Image typed_image(std::int32_t code, const std::vector<std::uint64_t>& sizes, const std::vector<double>& values) {
        Image made;
        with_pixel_type(code, [&](auto zero) {
            std::vector<decltype(zero)> pixels;
            for (double v : values) pixels.push_back(static_cast<decltype(zero)>(v));
            made = image(code, sizes, pixels);
        });
        return made;
    }

    // Surveys `img` and checks what every successful survey must do.
    Totals survey(const Image& img) {
        const auto bytes = img.bytes();
        const auto calls = additions(kCounter);
        std::vector<Arg> args{img, Arg::out(123.0), Arg::out(123.0), Arg::out(123.0), Arg::out(123.0)};
        const CallResult result = host.call("FSurvey", args);
        EXPECT_TRUE(result.ok()) << result.error->message;
        EXPECT_EQ(result.raised, 0);
        EXPECT_EQ(additions(kCounter), calls + 1);
        check_untouched(img, bytes);
        return {args[1].number(), args[2].number(), args[3].number(), args[4].number()};
    }

    // Read-only views: every lock with 32, none left, nothing marked changed.
    static void check_untouched(const Image& img, const std::vector<std::byte>& bytes) {
        EXPECT_EQ(img.bytes(), bytes);
        EXPECT_EQ(img.data_changed_count(), 0u);
        EXPECT_EQ(img.active_locks(), 0);
        for (const std::uint32_t flags : img.lock_flags()) EXPECT_EQ(flags, 32u);
    }
};

void expect_same_totals(const Totals& got, const Totals& want) {
    EXPECT_TRUE(same_bits(got.min, want.min)) << got.min << " vs " << want.min;
    EXPECT_TRUE(same_bits(got.max, want.max)) << got.max << " vs " << want.max;
    EXPECT_TRUE(same_bits(got.sum, want.sum)) << got.sum << " vs " << want.sum;
    EXPECT_TRUE(same_bits(got.sqsum, want.sqsum)) << got.sqsum << " vs " << want.sqsum;
}

TEST_F(Survey, WorkedCasesOfEveryTypeAndShape) {
    const double float_max = std::numeric_limits<float>::max();
    const double float_tiny = std::numeric_limits<float>::denorm_min();
    struct Case {
        const char* what;
        std::int32_t code;
        std::vector<std::uint64_t> sizes;
        std::vector<double> values;
        double min, max, sum;  // sum NaN: expected NaN
    };
    const Case cases[] = {
        {"signed 16-bit extremes", type::int16, {4}, {-32768, 32767, 0, -1}, -32768, 32767, -2},
        {"4-byte real extremes", type::real4, {2, 2}, {float_max, -float_max, float_tiny, 0.5}, -float_max, float_max, 0.5},
        {"unsigned 8-bit extremes", type::uint8, {3}, {0, 255, 128}, 0, 255, 383},
        {"signed 32-bit extremes", type::int32, {2, 2}, {-2147483648.0, 2147483647, -1, 1}, -2147483648.0, 2147483647, -1},
        {"signed 8-bit extremes", type::int8, {3}, {-128, 127, -1}, -128, 127, -2},
        {"unsigned 16-bit extremes", type::uint16, {2}, {65535, 0}, 0, 65535, 65535},
        {"all 32 bits set is 2^32-1", type::uint32, {2}, {4294967295.0, 1}, 1, 4294967295.0, 4294967296.0},
        {"a plain running sum", type::real8, {4}, {1e16, 1, -1e16, 1}, -1e16, 1e16, 1},
        {"one pixel", type::real8, {1}, {-2.5}, -2.5, -2.5, -2.5},
        {"a 3-D stack whole", type::real4, {3, 2, 2}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 1, 12, 78},
        {"of 4-D only the first block", type::int32, {2, 2, 1, 3},
         {1, 2, 3, 4, -900, 900, -900, 900, 500, -500, 500, -500}, 1, 4, 10},
        {"NaN is never an extreme", type::real4, {3}, {1, kNaN, -2}, -2, 1, kNaN},
        {"all NaN keeps the start values", type::real8, {2, 2}, {kNaN, kNaN, kNaN, kNaN}, kLargest, -kLargest, kNaN},
        {"+inf is the maximum", type::real4, {3}, {kInf, 1, 2}, 1, kInf, kInf},
        {"both infinities", type::real8, {2}, {-kInf, kInf}, -kInf, kInf, kNaN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Image img = typed_image(c.code, c.sizes, c.values);
        const Totals got = survey(img);
        EXPECT_EQ(got.min, c.min);
        EXPECT_EQ(got.max, c.max);
        if (std::isnan(c.sum)) EXPECT_TRUE(std::isnan(got.sum)) << got.sum;
        else EXPECT_EQ(got.sum, c.sum);
        const std::uint64_t visited = img.size(0) * img.size(1) * img.size(2);
        expect_same_totals(got, running_totals(stored_values(img), visited));
    }
}

TEST_F(Survey, RandomImagesOfEveryTypeMatchTheRunningSumsBitForBit) {
    std::mt19937 rng(4242);
    for (const std::int32_t code : kAccepted) {
        for (const std::vector<std::uint64_t>& sizes : std::vector<std::vector<std::uint64_t>>{{7, 5, 3}, {11}, {4, 3, 2, 2}}) {
            SCOPED_TRACE(::testing::Message() << "type " << code << ", " << sizes.size() << "-D");
            std::uint64_t count = 1;
            for (auto size : sizes) count *= size;
            std::vector<double> values(count);
            with_pixel_type(code, [&](auto zero) {
                using T = decltype(zero);
                if constexpr (std::is_integral_v<T>) {
                    std::uniform_int_distribution<std::int64_t> any(std::numeric_limits<T>::min(),
                                                                     std::numeric_limits<T>::max());
                    for (double& v : values) v = static_cast<double>(any(rng));
                } else {
                    std::uniform_real_distribution<double> unit(-1.0, 1.0);
                    std::uniform_int_distribution<int> exponent(-20, 20);
                    for (double& v : values) v = std::ldexp(unit(rng), exponent(rng));
                }
            });
            const Image img = typed_image(code, sizes, values);
            expect_same_totals(survey(img), running_totals(stored_values(img), img.size(0) * img.size(1) * img.size(2)));
        }
    }
}

TEST_F(Survey, RefusesComplexRgbAndBinaryImagesWithoutWritingTheResults) {
    for (const std::int32_t code : {type::complex8, type::complex16, type::rgb, type::binary, type::packed_complex}) {
        SCOPED_TRACE(::testing::Message() << "type " << code);
        Image img = host.make_image(code, {3, 2});
        std::vector<unsigned char> pattern(img.element_count() * img.element_bytes());
        for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i + 1);
        img.set_bytes(pattern.data(), pattern.size());
        const auto bytes = img.bytes();
        const auto calls = additions(kCounter);
        std::vector<Arg> args{img, Arg::out(123.0), Arg::out(-4.5), Arg::out(0.25), Arg::out(kInf)};
        const CallResult result = host.call("FSurvey", args);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error->message, "Invalid data type.");
        EXPECT_EQ(result.raised, 1);
        EXPECT_EQ(additions(kCounter), calls + 1) << "the timer records errors too";
        EXPECT_EQ(args[1].number(), 123.0);
        EXPECT_EQ(args[2].number(), -4.5);
        EXPECT_EQ(args[3].number(), 0.25);
        EXPECT_EQ(args[4].number(), kInf);
        check_untouched(img, bytes);
    }
}

}  // namespace
}  // namespace zorvan::testing
