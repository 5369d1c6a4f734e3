// FMaximumFilter called through the host application: every pixel against a
// scan of its clipped window on every accepted type (with the type's extreme
// values and NaN), into a new image and into a given one; worked answers; and
// the refusals, in place included, which leave every pixel alone.

#include "tests/support/plugin_test.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <type_traits>

namespace zorvan::testing {
namespace {

using Index = std::int64_t;
namespace type = host::data_type;

constexpr const char* kCounter = "MaximumFilterDM";
constexpr std::int32_t kHugeRadius = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kAccepted[] = {type::int16,  type::real4,  type::uint8, type::int32, type::int8,
                                      type::uint16, type::uint32, type::real8, type::binary};

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
        case type::binary: return f(std::uint8_t{});
    }
    FAIL() << "no pixel type for code " << code;
}

// Of the window's pixels, in any order, the largest: v replaces m only when
// v > m, from the type's lowest finite value (so NaN never wins).
template <class T>
std::vector<T> maximum_reference(const std::vector<T>& source, Index nx, Index ny, Index r, std::vector<T> out) {
    for (Index y = 0; y < ny; ++y)
        for (Index x = 0; x < nx; ++x) {
            T m = std::numeric_limits<T>::lowest();
            for (Index j = std::max<Index>(0, y - r); j <= std::min(ny - 1, y + r); ++j)
                for (Index i = std::max<Index>(0, x - r); i <= std::min(nx - 1, x + r); ++i) {
                    if (source[j * nx + i] > m) m = source[j * nx + i];
                }
            out[y * nx + x] = m;
        }
    return out;
}

// The whole range of an integer type; for real types both signs over many
// decades, no zeros, and NaN now and then.
template <class T>
std::vector<T> random_values(std::size_t count, std::mt19937& rng) {
    std::vector<T> values(count);
    if constexpr (std::is_integral_v<T>) {
        std::uniform_int_distribution<std::int64_t> any(std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
        for (T& v : values) v = static_cast<T>(any(rng));
    } else {
        std::uniform_real_distribution<double> unit(0.5, 1.0);
        std::uniform_int_distribution<int> exponent(-30, 30), sign(0, 1), nan(0, 15);
        for (T& v : values) {
            v = nan(rng) == 0 ? std::numeric_limits<T>::quiet_NaN()
                              : static_cast<T>((sign(rng) ? 1 : -1) * std::ldexp(unit(rng), exponent(rng)));
        }
    }
    return values;
}

template <class T>
::testing::AssertionResult same_pixels(const std::vector<T>& got, const std::vector<T>& want) {
    if (got.size() != want.size()) return ::testing::AssertionFailure() << got.size() << " values, not " << want.size();
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (!same_bits(got[i], want[i])) {
            return ::testing::AssertionFailure() << "value " << i << " is " << +got[i] << ", not " << +want[i];
        }
    }
    return ::testing::AssertionSuccess();
}

class MaximumFilter : public PluginTest {
protected:
    Image filtered(const Image& source, std::int32_t radius, const Image& destination) {
        const auto calls = additions(kCounter);
        const CallResult result = host.call("FMaximumFilter", {source, radius, destination});
        EXPECT_TRUE(result.ok()) << result.error->message;
        EXPECT_EQ(result.raised, 0);
        EXPECT_EQ(additions(kCounter), calls + 1);
        EXPECT_TRUE(result.image);
        if (result.image) {
            EXPECT_EQ(result.image.data_changed_count(), 1u);
            EXPECT_EQ(result.image.active_locks(), 0);
            EXPECT_EQ(result.image.lock_flags(), std::vector<std::uint32_t>{1});
            EXPECT_EQ(source.lock_flags(), std::vector<std::uint32_t>{1});
            EXPECT_EQ(source.data_changed_count(), 0u);
            if (destination) {
                EXPECT_TRUE(result.image.same_as(destination));
            }
        }
        return result.image;
    }
};

TEST_F(MaximumFilter, MatchesAWindowScanOnEveryTypeShapeAndRadius) {
    const std::vector<std::vector<std::uint64_t>> shapes = {{7, 6}, {1, 5}, {6, 1}, {1, 1}, {12, 3}, {5, 4, 2}};
    const std::int32_t radii[] = {0, 1, 2, 5, kHugeRadius};
    std::mt19937 rng(97);
    for (const std::int32_t code : kAccepted)
        for (const auto& sizes : shapes)
            for (const std::int32_t radius : radii)
                for (const bool given : {false, true}) {
                    SCOPED_TRACE(::testing::Message() << "type " << code << ", " << sizes[0] << "x" << sizes[1]
                                                      << (sizes.size() > 2 ? "x2" : "") << ", radius " << radius
                                                      << (given ? ", given destination" : ", new image"));
                    with_pixel_type(code, [&](auto zero) {
                        using T = decltype(zero);
                        const Index nx = Index(sizes[0]), ny = Index(sizes[1]);
                        const Index nz = sizes.size() > 2 ? Index(sizes[2]) : 1;
                        const std::vector<T> values = random_values<T>(std::size_t(nx * ny * nz), rng);
                        const std::vector<T> before = random_values<T>(values.size(), rng);
                        const Image source = image(code, sizes, values);
                        const Image destination = given ? image(code, sizes, before) : Image();

                        const Image result = filtered(source, radius, destination);
                        ASSERT_TRUE(result);
                        EXPECT_EQ(result.data_type(), code);
                        EXPECT_EQ(result.sizes(), sizes);
                        EXPECT_TRUE(same_pixels(source.pixels<T>(), values)) << "the source changed";
                        // Beyond the first plane: the clone's copy of the
                        // source, or what the given destination held.
                        const std::vector<T> want = maximum_reference(values, nx, ny, radius, given ? before : values);
                        EXPECT_TRUE(same_pixels(result.pixels<T>(), want));
                    });
                }
}

TEST_F(MaximumFilter, WorkedAnswers) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float lowest = std::numeric_limits<float>::lowest();
    {
        SCOPED_TRACE("one pixel wide: the maximum of the column over the row band");
        const Image column = image<std::int16_t>(type::int16, {1, 5}, {3, 1, 4, 1, -5});
        EXPECT_EQ(filtered(column, 1, Image()).pixels<std::int16_t>(), (std::vector<std::int16_t>{3, 4, 4, 4, 1}));
    }
    {
        SCOPED_TRACE("a radius of the width alone: per row, the rows within the radius");
        const Image rows = image<std::int8_t>(type::int8, {2, 6}, {1, -7, -2, 0, -9, -8, -5, -6, -4, -3, -10, -11});
        EXPECT_EQ(filtered(rows, 2, Image()).pixels<std::int8_t>(),
                  (std::vector<std::int8_t>{1, 1, 1, 1, 1, 1, 0, 0, -3, -3, -3, -3}));
    }
    {
        SCOPED_TRACE("NaN never wins; a window of NaN alone gives the lowest value");
        const Image row = image<float>(type::real4, {5}, {nan, -2.5f, nan, nan, nan});
        EXPECT_EQ(filtered(row, 1, Image()).pixels<float>(), (std::vector<float>{-2.5f, -2.5f, -2.5f, lowest, lowest}));
    }
    {
        SCOPED_TRACE("unsigned 32-bit values above 2^31 stay large");
        const Image row = image<std::uint32_t>(type::uint32, {4}, {4000000000u, 5, 3000000000u, 2147483648u});
        EXPECT_EQ(filtered(row, 1, Image()).pixels<std::uint32_t>(),
                  (std::vector<std::uint32_t>{4000000000u, 4000000000u, 3000000000u, 3000000000u}));
    }
    {
        SCOPED_TRACE("one byte per pixel is filtered as unsigned 8-bit");
        const std::vector<std::uint8_t> bytes{200, 0, 255, 17, 3, 128};
        const Image as_binary = image(type::binary, {3, 2}, bytes);
        const Image as_uint8 = image(type::uint8, {3, 2}, bytes);
        const Image binary_result = filtered(as_binary, 1, Image());
        EXPECT_EQ(binary_result.data_type(), type::binary);
        EXPECT_EQ(binary_result.pixels<std::uint8_t>(), filtered(as_uint8, 1, Image()).pixels<std::uint8_t>());
        const Image again = image(type::binary, {3, 2}, bytes);
        EXPECT_EQ(filtered(again, 0, Image()).pixels<std::uint8_t>(), bytes) << "radius 0 copies";
    }
}

TEST_F(MaximumFilter, RefusesWithOneMessageAndLeavesEveryPixelAlone) {
    const std::string size = "Images of different size cannot appear in this function.";
    const std::string image_type = "Invalid image type.";
    const std::string out_of_place = "Output should be out-of-place.";
    const std::string too_long = "vector<T> too long";
    enum Destination { none, own_type, other_type, source_itself };
    struct Case {
        const char* what;
        std::int32_t source_type;
        std::vector<std::uint64_t> source_sizes;
        std::int32_t radius;
        Destination destination;
        std::vector<std::uint64_t> destination_sizes;
        const std::string& message;
    };
    const Case cases[] = {
        {"destination one column narrower", type::uint8, {6, 4}, 1, own_type, {5, 4}, size},
        {"destination one row taller", type::real8, {6, 4}, 1, own_type, {6, 5}, size},
        {"sizes are compared before types", type::real4, {6, 4}, 1, other_type, {6, 3}, size},
        {"4-byte real into signed 16-bit", type::real4, {6, 4}, 1, other_type, {6, 4}, image_type},
        {"signed 16-bit into 4-byte real", type::int16, {6, 4}, 1, other_type, {6, 4}, image_type},
        {"complex of 4-byte reals", type::complex8, {6, 4}, 1, none, {}, image_type},
        {"complex of 8-byte reals", type::complex16, {6, 4}, 1, none, {}, image_type},
        {"packed complex", type::packed_complex, {6, 4}, 1, none, {}, image_type},
        {"RGB", type::rgb, {6, 4}, 1, none, {}, image_type},
        {"types are compared before the radius", type::real4, {6, 4}, -1, other_type, {6, 4}, image_type},
        {"in place", type::int32, {6, 4}, 1, source_itself, {}, out_of_place},
        {"in place, radius 0", type::real4, {1, 1}, 0, source_itself, {}, out_of_place},
        {"in place is refused before the radius", type::uint16, {6, 4}, -1, source_itself, {}, out_of_place},
        {"negative radius", type::uint32, {6, 4}, -1, none, {}, too_long},
        {"most negative radius, given destination", type::real8, {6, 4}, std::numeric_limits<std::int32_t>::min(),
         own_type, {6, 4}, too_long},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image source = host.make_image(c.source_type, c.source_sizes);
        std::vector<unsigned char> pattern(source.element_count() * source.element_bytes());
        for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i * 29 + 7);
        source.set_bytes(pattern.data(), pattern.size());
        Image destination;
        if (c.destination == source_itself) destination = source;
        if (c.destination == own_type) destination = host.make_image(c.source_type, c.destination_sizes);
        if (c.destination == other_type) {
            destination = host.make_image(c.source_type == type::real4 ? type::int16 : type::real4, c.destination_sizes);
        }
        const auto source_bytes = source.bytes(), destination_bytes = destination.bytes();
        const auto images = Host::object_counts().images;
        const auto calls = additions(kCounter);

        const CallResult result = host.call("FMaximumFilter", {source, c.radius, destination});
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error->message, c.message);
        EXPECT_EQ(result.raised, 1);
        EXPECT_FALSE(result.image);
        EXPECT_EQ(additions(kCounter), calls + 1) << "the timer records errors too";
        EXPECT_EQ(Host::object_counts().images, images) << "a clone made for the call was kept";
        EXPECT_EQ(source.bytes(), source_bytes);
        EXPECT_EQ(destination.bytes(), destination_bytes);
        const Image* involved[] = {&source, &destination};
        for (const Image* img : involved) {
            EXPECT_EQ(img->active_locks(), 0);
            EXPECT_EQ(img->data_changed_count(), 0u);
        }
    }
}

}  // namespace
}  // namespace zorvan::testing
