// FMovingAverage2 called through the host application: both outputs bit for
// bit against the running-sum reference on every accepted type, on the reuse
// route (the caller's images overwritten) and on the route that makes new
// images and replaces the caller's references; which outputs are reused;
// and every refusal, which leaves the caller's variables as they were.

#include "tests/support/plugin_test.h"
#include "tests/support/reference_moving_average.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace zorvan::testing {
namespace {

using reference::Index;
namespace type = host::data_type;

constexpr const char* kFunction = "FMovingAverage2";
constexpr const char* kCounter = "MovingAverageDM2";
constexpr std::int32_t kHugeRadius = std::numeric_limits<std::int32_t>::max();
const std::string kStackMessage =
    "imgDst1 and imgDst2 should have the size, data type and depth of imgSrc when it has more than one plane.";

struct PixelType {
    std::int32_t code;
    bool is_double;
    int parts;  // 2 for complex: real and imaginary part, interleaved
};
constexpr PixelType kTypes[] = {
    {type::real4, false, 1}, {type::real8, true, 1}, {type::complex8, false, 2}, {type::complex16, true, 2}};

template <class F>
std::vector<F> random_values(std::size_t count, std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> decade(-2, 1);
    std::vector<F> values(count);
    for (F& v : values) v = static_cast<F>(unit(rng) * std::pow(10.0, decade(rng)));
    return values;
}

// The squares as the filter forms them: v*v for real pixels; for complex
// ones (re*re - im*im, re*im + im*re), each product rounded in F.
template <class F>
std::vector<F> squares(const std::vector<F>& values, int parts) {
    std::vector<F> out(values.size());
    for (std::size_t i = 0; i < values.size(); i += parts) {
        if (parts == 1) {
            out[i] = values[i] * values[i];
        } else {
            const F re = values[i], im = values[i + 1];
            out[i] = re * re - im * im;
            out[i + 1] = re * im + im * re;
        }
    }
    return out;
}

// Each part of each plane through the box reference: the sums of values and
// of squares never mix, so the pair is two box means side by side.
template <class F>
std::vector<F> box_per_plane(const std::vector<F>& source, int parts, reference::shape s, Index r) {
    std::vector<F> result(source.size());
    const Index plane = s.nx * s.ny;
    for (Index z = 0; z < s.nz; ++z)
        for (int p = 0; p < parts; ++p) {
            std::vector<F> in(plane), out(plane);
            for (Index i = 0; i < plane; ++i) in[i] = source[(z * plane + i) * parts + p];
            reference::box_plane(in.data(), out.data(), s.nx, s.ny, r);
            for (Index i = 0; i < plane; ++i) result[(z * plane + i) * parts + p] = out[i];
        }
    return result;
}

template <class F>
::testing::AssertionResult same_pixels(const std::vector<F>& got, const std::vector<F>& want) {
    if (got.size() != want.size()) return ::testing::AssertionFailure() << got.size() << " values, not " << want.size();
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (!same_bits(got[i], want[i])) {
            return ::testing::AssertionFailure() << "value " << i << " is " << got[i] << ", not " << want[i];
        }
    }
    return ::testing::AssertionSuccess();
}

struct PairCall {
    CallResult result;
    Image first, second;  // the caller's variables after the call
};

class MovingAveragePair : public PluginTest {
protected:
    PairCall call(const Image& source, std::int32_t radius, const Image& first, const Image& second) {
        std::vector<Arg> args{source, radius, Arg::slot(first), Arg::slot(second)};
        CallResult result = host.call(kFunction, args);
        return {std::move(result), args[2].image(), args[3].image()};
    }

    // An image holding a recognisable byte pattern.
    Image patterned(std::int32_t code, const std::vector<std::uint64_t>& sizes, unsigned seed) {
        Image made = host.make_image(code, sizes);
        std::vector<unsigned char> bytes(made.element_count() * made.element_bytes());
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 37 + seed);
        made.set_bytes(bytes.data(), bytes.size());
        return made;
    }
};

enum class Route { new_images, reuse, replace_wrong_type };

TEST_F(MovingAveragePair, MatchesTheRunningSumReferenceOnEveryTypeShapeAndRoute) {
    const std::vector<std::vector<std::uint64_t>> shapes = {{7, 5}, {1, 6}, {9, 1}, {1, 1}, {6, 5, 3}};
    const std::int32_t radii[] = {0, 1, 2, 4, kHugeRadius};
    std::mt19937 rng(73);
    auto run = [&]<class F>(F, const PixelType& pixel, const std::vector<std::uint64_t>& sizes, std::int32_t radius,
                            Route route) {
        const reference::shape s{Index(sizes[0]), Index(sizes[1]), sizes.size() > 2 ? Index(sizes[2]) : 1};
        const std::vector<F> values = random_values<F>(std::size_t(s.nx * s.ny * s.nz) * pixel.parts, rng);
        const Image source = image(pixel.code, sizes, values);
        Image given_first, given_second;
        if (route == Route::reuse) {
            given_first = patterned(pixel.code, sizes, 1);
            given_second = patterned(pixel.code, sizes, 2);
        } else if (route == Route::replace_wrong_type) {
            const std::int32_t other = pixel.code == type::real4 ? type::real8 : type::real4;
            given_first = patterned(other, sizes, 1);
            given_second = patterned(other, sizes, 2);
        }
        const auto given_first_bytes = given_first.bytes();
        const auto calls = additions(kCounter);

        PairCall out = call(source, radius, given_first, given_second);
        ASSERT_TRUE(out.result.ok()) << out.result.error->message;
        EXPECT_EQ(out.result.raised, 0);
        EXPECT_EQ(additions(kCounter), calls + 1);
        EXPECT_TRUE(same_pixels(source.pixels<F>(), values)) << "the source changed";
        EXPECT_EQ(source.data_changed_count(), 0u);
        EXPECT_EQ(source.lock_flags(), std::vector<std::uint32_t>{32});
        ASSERT_TRUE(out.first && out.second);
        for (const Image* output : {&out.first, &out.second}) {
            EXPECT_EQ(output->data_type(), pixel.code);
            EXPECT_EQ(output->lock_flags(), std::vector<std::uint32_t>{1});
            EXPECT_EQ(output->active_locks(), 0);
            // Only images made by the call are announced as changed.
            EXPECT_EQ(output->data_changed_count(), route == Route::reuse ? 0u : 1u);
        }
        if (route == Route::reuse) {
            EXPECT_TRUE(out.first.same_as(given_first));
            EXPECT_TRUE(out.second.same_as(given_second));
        } else {
            EXPECT_EQ(out.first.sizes(), (std::vector<std::uint64_t>{sizes[0], sizes[1]}));
            EXPECT_EQ(out.second.sizes(), (std::vector<std::uint64_t>{sizes[0], sizes[1]}));
            EXPECT_EQ(out.first.name(), "");
            EXPECT_FALSE(out.first.same_as(out.second));
            if (given_first) {
                EXPECT_EQ(given_first.bytes(), given_first_bytes) << "a replaced image was written";
                EXPECT_EQ(given_first.data_changed_count(), 0u);
            }
        }
        const std::vector<F> want_mean = box_per_plane(values, pixel.parts, s, radius);
        const std::vector<F> want_square_mean = box_per_plane(squares(values, pixel.parts), pixel.parts, s, radius);
        EXPECT_TRUE(same_pixels(out.first.pixels<F>(), want_mean)) << "mean";
        EXPECT_TRUE(same_pixels(out.second.pixels<F>(), want_square_mean)) << "mean of squares";
        if (radius == 0) {
            EXPECT_TRUE(same_pixels(out.first.pixels<F>(), values)) << "radius 0 copies";
        }
    };
    for (const PixelType& pixel : kTypes)
        for (const auto& sizes : shapes)
            for (const std::int32_t radius : radii)
                for (const Route route : {Route::new_images, Route::reuse, Route::replace_wrong_type}) {
                    if (sizes.size() > 2 && route != Route::reuse) continue;  // refused, see below
                    SCOPED_TRACE(::testing::Message() << "type " << pixel.code << ", " << sizes[0] << "x" << sizes[1]
                                                      << "x" << (sizes.size() > 2 ? sizes[2] : 1) << ", radius "
                                                      << radius << ", route " << int(route));
                    if (pixel.is_double) run(double{}, pixel, sizes, radius, route);
                    else run(float{}, pixel, sizes, radius, route);
                }
}

TEST_F(MovingAveragePair, WorkedAnswers) {
    // 1 2 3 / 4 5 6 / 7 8 9, radius 1: the corner averages 1, 2, 4, 5 and
    // their squares 1, 4, 16, 25; the centre all nine.
    const Image grid = image<float>(type::real4, {3, 3}, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    PairCall out = call(grid, 1, Image(), Image());
    ASSERT_TRUE(out.result.ok()) << out.result.error->message;
    EXPECT_EQ(out.first.pixels<float>()[0], 3.0f);
    EXPECT_EQ(out.second.pixels<float>()[0], 11.5f);
    EXPECT_EQ(out.first.pixels<float>()[4], 5.0f);
    EXPECT_EQ(out.second.pixels<float>()[4], 285.0f / 9.0f);

    // A constant a gives a and a*a everywhere, whatever the radius.
    const Image constant = image<double>(type::real8, {5, 4}, std::vector<double>(20, -1.5));
    out = call(constant, 2, Image(), Image());
    ASSERT_TRUE(out.result.ok());
    for (double v : out.first.pixels<double>()) EXPECT_EQ(v, -1.5);
    for (double v : out.second.pixels<double>()) EXPECT_EQ(v, 2.25);

    // The complex square of i is -1: the square is v*v, not |v|^2.
    std::vector<float> unit_i;
    for (int i = 0; i < 12; ++i) unit_i.insert(unit_i.end(), {0.0f, 1.0f});
    const Image imaginary = image<float>(type::complex8, {4, 3}, unit_i);
    out = call(imaginary, 1, Image(), Image());
    ASSERT_TRUE(out.result.ok());
    EXPECT_EQ(out.first.pixels<float>(), unit_i);
    const std::vector<float> square_mean = out.second.pixels<float>();
    for (std::size_t i = 0; i < square_mean.size(); i += 2) {
        EXPECT_EQ(square_mean[i], -1.0f) << i;
        EXPECT_EQ(square_mean[i + 1], 0.0f) << i;
    }
}

TEST_F(MovingAveragePair, ReusesOnlyTwoLiveOutputsOfTheSourcesSizeTypeAndDepth) {
    struct Output {
        std::int32_t code;  // 0: a null reference
        std::vector<std::uint64_t> sizes;
    };
    struct Case {
        const char* what;
        Output first, second;
        bool reused;
    };
    const std::vector<std::uint64_t> fits{5, 4};
    const Case cases[] = {
        {"two null references", {0, {}}, {0, {}}, false},
        {"one valid and one null", {type::real4, fits}, {0, {}}, false},
        {"one null and one valid", {0, {}}, {type::real4, fits}, false},
        {"both fit", {type::real4, fits}, {type::real4, fits}, true},
        {"the second of another type", {type::real4, fits}, {type::real8, fits}, false},
        {"the first one column narrower", {type::real4, {4, 4}}, {type::real4, fits}, false},
        {"the second one row taller", {type::real4, fits}, {type::real4, {5, 5}}, false},
        {"both of two planes for a 2-D source", {type::real4, {5, 4, 2}}, {type::real4, {5, 4, 2}}, true},
    };
    std::mt19937 rng(5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Image source = image(type::real4, fits, random_values<float>(20, rng));
        const auto images_before = Host::object_counts().images;
        Image first = c.first.code ? patterned(c.first.code, c.first.sizes, 3) : Image();
        Image second = c.second.code ? patterned(c.second.code, c.second.sizes, 4) : Image();
        const auto first_bytes = first.bytes(), second_bytes = second.bytes();

        PairCall out = call(source, 1, first, second);
        ASSERT_TRUE(out.result.ok()) << out.result.error->message;
        EXPECT_EQ(out.first.same_as(first) && out.second.same_as(second), c.reused);
        if (c.reused) {
            // The first plane is written; further planes keep what they held.
            const std::size_t plane = 20 * sizeof(float);
            const auto written = first.bytes();
            EXPECT_TRUE(std::equal(written.begin() + plane, written.end(), first_bytes.begin() + plane));
            EXPECT_NE(written, first_bytes);
        }
        if (!c.reused) {
            EXPECT_FALSE(out.first.same_as(first) || out.second.same_as(second));
            EXPECT_EQ(out.first.sizes(), fits);
            EXPECT_EQ(out.first.data_type(), type::real4);
            // The references the call replaced were released exactly once:
            // the images stay alive and intact while the test holds them...
            EXPECT_EQ(first.bytes(), first_bytes);
            EXPECT_EQ(second.bytes(), second_bytes);
            // ...and go when the test lets them go, leaving only the results.
            first = Image();
            second = Image();
            EXPECT_EQ(Host::object_counts().images, images_before + 2);
        }
    }
}

TEST_F(MovingAveragePair, RefusesWithOneMessageAndLeavesTheCallersVariablesAlone) {
    const std::string invalid = "Invalid data type.";
    const std::string negative = "nRad should not be negative.";
    const std::string out_of_place = "Output should be out-of-place.";
    enum Given { none, fitting, source_itself, wrong_type, shallower };
    struct Case {
        const char* what;
        std::int32_t source_type;
        std::vector<std::uint64_t> sizes;
        std::int32_t radius;
        Given first, second;
        const std::string& message;
    };
    const Case cases[] = {
        {"signed 16-bit source, new outputs", type::int16, {5, 4}, 1, none, none, invalid},
        {"signed 16-bit source into signed 16-bit outputs", type::int16, {5, 4}, 1, fitting, fitting, invalid},
        {"unsigned 8-bit source", type::uint8, {5, 4}, 0, none, none, invalid},
        {"RGB source", type::rgb, {5, 4}, 1, none, none, invalid},
        {"the type is checked before the radius", type::int32, {5, 4}, -1, none, none, invalid},
        {"negative radius, new outputs", type::real4, {5, 4}, -1, none, none, negative},
        {"negative radius, reused outputs", type::complex16, {5, 4, 2}, -3, fitting, fitting, negative},
        {"most negative radius", type::complex8, {5, 4}, std::numeric_limits<std::int32_t>::min(), wrong_type,
         wrong_type, negative},
        {"the source as the first output", type::real8, {5, 4}, 1, source_itself, fitting, out_of_place},
        {"the source as the second output", type::complex8, {5, 4}, 1, fitting, source_itself, out_of_place},
        {"the source as both outputs", type::real4, {5, 4}, 1, source_itself, source_itself, out_of_place},
        {"overlap is checked before the radius", type::real4, {5, 4}, -1, source_itself, fitting, out_of_place},
        {"a stack with new outputs", type::real4, {5, 4, 3}, 1, none, none, kStackMessage},
        {"a stack with 2-D outputs", type::complex16, {5, 4, 3}, 1, wrong_type, wrong_type, kStackMessage},
        {"a stack with outputs of fewer planes", type::real8, {5, 4, 3}, 0, shallower, shallower, kStackMessage},
        {"a stack is refused after the type", type::int16, {5, 4, 3}, 1, none, none, invalid},
        {"a stack is refused before the radius", type::real4, {5, 4, 3}, -1, none, none, kStackMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Image source = patterned(c.source_type, c.sizes, 11);
        auto given = [&](Given g, unsigned seed) -> Image {
            switch (g) {
                case none: return Image();
                case source_itself: return source;
                case wrong_type: return patterned(c.source_type == type::real8 ? type::real4 : type::real8,
                                                  {c.sizes[0], c.sizes[1]}, seed);
                case fitting: return patterned(c.source_type, c.sizes, seed);
                case shallower: return patterned(c.source_type, {c.sizes[0], c.sizes[1], c.sizes[2] - 1}, seed);
            }
            return Image();
        };
        const Image first = given(c.first, 5), second = given(c.second, 6);
        const auto source_bytes = source.bytes(), first_bytes = first.bytes(), second_bytes = second.bytes();
        const auto images = Host::object_counts().images;
        const auto calls = additions(kCounter);

        PairCall out = call(source, c.radius, first, second);
        ASSERT_FALSE(out.result.ok());
        EXPECT_EQ(out.result.error->message, c.message);
        EXPECT_EQ(out.result.raised, 1);
        EXPECT_EQ(additions(kCounter), calls + 1) << "the timer records errors too";
        EXPECT_TRUE(out.first ? out.first.same_as(first) : !first) << "the first variable was changed";
        EXPECT_TRUE(out.second ? out.second.same_as(second) : !second) << "the second variable was changed";
        out = PairCall{};
        EXPECT_EQ(Host::object_counts().images, images) << "an image made for the call was kept";
        EXPECT_EQ(source.bytes(), source_bytes);
        EXPECT_EQ(first.bytes(), first_bytes);
        EXPECT_EQ(second.bytes(), second_bytes);
        for (const Image* img : {&source, &first, &second}) {
            EXPECT_EQ(img->active_locks(), 0);
            EXPECT_EQ(img->data_changed_count(), 0u);
        }
    }
}

}  // namespace
}  // namespace zorvan::testing
