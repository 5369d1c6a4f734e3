// FMovingAverage called through the host application: results bit for bit
// against the running-sum reference for every accepted type, shape and
// route, and every refusal with its message, before any pixel is touched.

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

constexpr const char* kCounter = "MovingAverageDM";
constexpr std::int32_t kHugeRadius = std::numeric_limits<std::int32_t>::max();

struct PixelType {
    std::int32_t code;
    bool is_double;
    int parts;  // 2 for complex: real and imaginary part, interleaved
};
constexpr PixelType kTypes[] = {
    {type::real4, false, 1}, {type::real8, true, 1}, {type::complex8, false, 2}, {type::complex16, true, 2}};

enum class Route { new_image, given_destination, in_place };

// Both signs over four decades, so that the order of the sums shows in the
// low bits.
template <class F>
std::vector<F> random_values(std::size_t count, std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> decade(-2, 1);
    std::vector<F> values(count);
    for (F& v : values) v = static_cast<F>(unit(rng) * std::pow(10.0, decade(rng)));
    return values;
}

// The reference, run on each part separately.
template <class F>
std::vector<F> expected_result(const std::vector<F>& source, int parts, reference::shape s, Index r, bool in_place) {
    std::vector<F> result(source.size());
    for (int p = 0; p < parts; ++p) {
        std::vector<F> part;
        for (std::size_t i = p; i < source.size(); i += parts) part.push_back(source[i]);
        part = in_place ? reference::in_place(part, s, r) : reference::out_of_place(part, s, r);
        for (std::size_t i = 0; i < part.size(); ++i) result[i * parts + p] = part[i];
    }
    return result;
}

// Sanity check of the reference: the mean over the clipped cube in double.
template <class F>
double window_mean(const std::vector<F>& source, int parts, int p, reference::shape s, Index x, Index y, Index z,
                   Index r) {
    double sum = 0;
    Index count = 0;
    for (Index k = std::max<Index>(0, z - r); k <= std::min(s.nz - 1, z + r); ++k)
        for (Index j = std::max<Index>(0, y - r); j <= std::min(s.ny - 1, y + r); ++j)
            for (Index i = std::max<Index>(0, x - r); i <= std::min(s.nx - 1, x + r); ++i, ++count)
                sum += source[((k * s.ny + j) * s.nx + i) * parts + p];
    return sum / static_cast<double>(count);
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

class MovingAverage : public PluginTest {
protected:
    template <class F>
    void check_call(const PixelType& pixel, const std::vector<std::uint64_t>& sizes, std::int32_t radius, Route route,
                    std::mt19937& rng) {
        const reference::shape s{Index(sizes[0]), Index(sizes[1]), sizes.size() > 2 ? Index(sizes[2]) : 1};
        const std::vector<F> values = random_values<F>(std::size_t(s.nx * s.ny * s.nz) * pixel.parts, rng);
        Image source = image(pixel.code, sizes, values);
        Image given;
        if (route == Route::given_destination) given = image(pixel.code, sizes, std::vector<F>(values.size(), F(-7777)));
        const Arg destination = route == Route::new_image ? Arg(nullptr) : Arg(route == Route::in_place ? source : given);

        const auto calls = additions(kCounter);
        const CallResult result = host.call("FMovingAverage", {source, radius, destination});
        ASSERT_TRUE(result.ok()) << result.error->message;
        EXPECT_EQ(result.raised, 0);
        EXPECT_EQ(additions(kCounter), calls + 1);
        ASSERT_TRUE(result.image);
        EXPECT_EQ(result.image.data_type(), pixel.code);
        EXPECT_EQ(result.image.sizes(), sizes);
        EXPECT_EQ(result.image.data_changed_count(), 1u);
        EXPECT_EQ(result.image.active_locks(), 0);
        EXPECT_EQ(source.active_locks(), 0);

        // Each view locks with 32; in place both views lock the source.
        const std::vector<std::uint32_t> one_lock{32}, two_locks{32, 32};
        if (route == Route::in_place) {
            EXPECT_TRUE(result.image.same_as(source));
            EXPECT_EQ(source.lock_flags(), two_locks);
        } else {
            EXPECT_TRUE(same_pixels(source.pixels<F>(), values)) << "the source changed";
            EXPECT_EQ(source.data_changed_count(), 0u);
            EXPECT_EQ(source.lock_flags(), one_lock);
            EXPECT_EQ(result.image.lock_flags(), one_lock);
            if (route == Route::given_destination) EXPECT_TRUE(result.image.same_as(given));
            else EXPECT_FALSE(result.image.same_as(source));
        }

        const std::vector<F> got = result.image.pixels<F>();
        EXPECT_TRUE(same_pixels(got, expected_result(values, pixel.parts, s, radius, route == Route::in_place)));
        const bool planes_only = s.nz == 1 && route != Route::in_place;
        if (radius == 0 && planes_only) {
            EXPECT_TRUE(same_pixels(got, values)) << "radius 0 copies";
        }
        if (radius == kHugeRadius && planes_only) {
            for (std::size_t i = 0; i < got.size(); ++i) ASSERT_TRUE(same_bits(got[i], got[i % pixel.parts])) << i;
        }
        const double tolerance = 160 * std::numeric_limits<F>::epsilon() * double(s.nx * s.ny * s.nz);
        for (Index z = 0; z < s.nz; ++z)
            for (Index y = 0; y < s.ny; ++y)
                for (Index x = 0; x < s.nx; ++x)
                    for (int p = 0; p < pixel.parts; ++p) {
                        ASSERT_NEAR(got[((z * s.ny + y) * s.nx + x) * pixel.parts + p],
                                    window_mean(values, pixel.parts, p, s, x, y, z, radius), tolerance)
                            << x << "," << y << "," << z << " part " << p;
                    }
    }
};

TEST_F(MovingAverage, MatchesTheRunningSumReferenceForEveryTypeShapeAndRoute) {
    // 1-pixel dimensions get no in-place pass; 2^31-1 averages everything.
    const std::vector<std::vector<std::uint64_t>> shapes = {{7, 5}, {1, 6}, {9, 1}, {1, 1}, {6, 5, 4}, {5, 1, 3}};
    const std::int32_t radii[] = {0, 1, 2, 4, kHugeRadius};
    std::mt19937 rng(20240611);
    for (const PixelType& pixel : kTypes)
        for (const auto& sizes : shapes)
            for (const std::int32_t radius : radii)
                for (const Route route : {Route::new_image, Route::given_destination, Route::in_place}) {
                    SCOPED_TRACE(::testing::Message() << "type " << pixel.code << ", " << sizes[0] << "x" << sizes[1]
                                                      << "x" << (sizes.size() > 2 ? sizes[2] : 1) << ", radius "
                                                      << radius << ", route " << int(route));
                    if (pixel.is_double) check_call<double>(pixel, sizes, radius, route, rng);
                    else check_call<float>(pixel, sizes, radius, route, rng);
                }
}

TEST_F(MovingAverage, RefusesWithOneMessageBeforeTouchingAnyPixel) {
    const std::string size = "Images of different size cannot appear in this function.";
    const std::string invalid = "Invalid data type.";
    const std::string negative = "nRad should not be negative.";
    const std::string mismatch = "imgDst should have the data type and depth of imgSrc.";
    struct Case {
        const char* what;
        std::int32_t source_type;
        std::vector<std::uint64_t> source_sizes;
        std::int32_t radius;
        std::int32_t destination_type;  // 0: no destination
        std::vector<std::uint64_t> destination_sizes;
        const std::string& message;
    };
    const Case cases[] = {
        {"destination one column narrower", type::real4, {6, 4}, 1, type::real4, {5, 4}, size},
        {"destination one row shorter", type::complex16, {6, 4, 2}, 1, type::complex16, {6, 3, 2}, size},
        {"sizes are compared before the type", type::int16, {6, 4}, 1, type::int16, {5, 4}, size},
        {"sizes are compared before the radius", type::real8, {6, 4}, -1, type::real8, {6, 5}, size},
        {"signed 16-bit source", type::int16, {6, 4}, 1, 0, {}, invalid},
        {"the type is checked before the radius", type::int16, {6, 4}, -1, 0, {}, invalid},
        {"unsigned 8-bit into its own type", type::uint8, {6, 4}, 2, type::uint8, {6, 4}, invalid},
        {"signed 32-bit source", type::int32, {6, 4, 2}, 0, 0, {}, invalid},
        {"packed complex source", type::packed_complex, {6, 4}, 1, 0, {}, invalid},
        {"RGB source", type::rgb, {6, 4}, 1, 0, {}, invalid},
        {"negative radius, no destination", type::real4, {6, 4}, -1, 0, {}, negative},
        {"most negative radius into a destination", type::complex8, {6, 4, 3}, std::numeric_limits<std::int32_t>::min(),
         type::complex8, {6, 4, 3}, negative},
        {"8-byte real destination of a 4-byte real", type::real4, {6, 4}, 1, type::real8, {6, 4}, mismatch},
        {"complex destination of the other precision", type::complex16, {6, 4}, 1, type::complex8, {6, 4}, mismatch},
        {"real destination of a complex source", type::complex8, {6, 4}, 1, type::real8, {6, 4}, mismatch},
        {"2-D source, destination of two planes", type::real4, {6, 4}, 1, type::real4, {6, 4, 2}, mismatch},
        {"3-D source, destination of fewer planes", type::complex8, {6, 4, 3}, 1, type::complex8, {6, 4, 2}, mismatch},
        {"3-D source, 2-D destination", type::real8, {6, 4, 3}, 1, type::real8, {6, 4}, mismatch},
    };
    auto patterned = [&](std::int32_t code, const std::vector<std::uint64_t>& sizes, unsigned seed) {
        Image made = host.make_image(code, sizes);
        std::vector<unsigned char> bytes(made.element_count() * made.element_bytes());
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 37 + seed);
        made.set_bytes(bytes.data(), bytes.size());
        return made;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image source = patterned(c.source_type, c.source_sizes, 11);
        Image destination = c.destination_type ? patterned(c.destination_type, c.destination_sizes, 5) : Image();
        const auto source_bytes = source.bytes();
        const auto destination_bytes = destination.bytes();
        const auto images = Host::object_counts().images;
        const auto calls = additions(kCounter);

        const CallResult result = host.call("FMovingAverage", {source, c.radius, destination});
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error->message, c.message);
        EXPECT_EQ(result.raised, 1);
        EXPECT_FALSE(result.image);
        EXPECT_EQ(additions(kCounter), calls + 1) << "the timer records errors too";
        EXPECT_EQ(Host::object_counts().images, images) << "a clone made for the call was kept";
        for (const Image* img : {&source, &destination}) {
            EXPECT_TRUE(img->lock_flags().empty()) << "data locked before the checks";
            EXPECT_EQ(img->data_changed_count(), 0u);
        }
        EXPECT_EQ(source.bytes(), source_bytes);
        EXPECT_EQ(destination.bytes(), destination_bytes);
    }
}

}  // namespace
}  // namespace zorvan::testing
