// FFTWindow called through the host application: the worked values of both
// windows on the first row and at the centre, random planes and stacks in
// every route against the per-pixel formulas, the refusals in their order,
// and a plane too large for 32-bit pixel indices.

#include "tests/support/plugin_test.h"

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>

namespace zorvan::testing {
namespace {

namespace type = host::data_type;

constexpr const char* kCounter = "FTWindowDM";
const std::string kType = "All data type should be Real 4.";
const std::string kSize = "Images of different size cannot appear in this function.";
const std::string kMode = "Invalid mode.";
const std::string kTooLarge = "imgSrc should have fewer than 2147483648 pixels in a plane.";

enum class Route { new_image, given_destination, in_place };

// The window of pixel (x, y) with both cosines evaluated for it.
float windowed(float p, std::int64_t x, std::int64_t y, std::int64_t nx, std::int64_t ny, int mode) {
    const float pi = 3.1415927f;
    if (mode == 0) {
        const float cx = std::cos(float(x) * ((pi + pi) / float(nx)));
        const float cy = std::cos(float(y) * ((pi + pi) / float(ny)));
        return ((p * 0.25f) * (1.0f - cx)) * (1.0f - cy);
    }
    const float cx = std::cos((float(x) * (1.0f / float(nx)) - 0.5f) * pi);
    const float cy = std::cos((float(y) * (1.0f / float(ny)) - 0.5f) * pi);
    return (p * cx) * cy;
}

class FourierWindow : public PluginTest {
protected:
    Image window(const Image& source, std::int32_t mode, const Image& destination) {
        const auto calls = additions(kCounter);
        const CallResult result = host.call("FFTWindow", {source, mode, destination});
        EXPECT_TRUE(result.ok()) << result.error->message;
        EXPECT_EQ(result.raised, 0);
        EXPECT_EQ(additions(kCounter), calls + 1);
        if (!result.image) return Image();
        EXPECT_EQ(result.image.data_changed_count(), 1u);
        EXPECT_EQ(result.image.active_locks(), 0);
        if (destination) {
            EXPECT_TRUE(result.image.same_as(destination));
        } else {
            EXPECT_FALSE(result.image.same_as(source));
        }
        return result.image;
    }
};

TEST_F(FourierWindow, WorkedValuesOfBothWindows) {
    const Image ones = image(type::real4, {8, 6}, std::vector<float>(48, 1.0f));
    const Image hann = window(ones, 0, Image());
    ASSERT_TRUE(hann);
    const auto h = hann.pixels<float>();
    for (int x = 0; x < 8; ++x) EXPECT_EQ(h[std::size_t(x)], 0.0f) << "first row";
    for (int y = 0; y < 6; ++y) EXPECT_EQ(h[std::size_t(y * 8)], 0.0f) << "first column";
    EXPECT_NEAR(h[3 * 8 + 4], 1.0f, 1e-6f) << "centre: 0.25 * 2 * 2";
    EXPECT_EQ(ones.pixels<float>(), std::vector<float>(48, 1.0f)) << "the source is kept";
    EXPECT_EQ(ones.lock_flags(), std::vector<std::uint32_t>{1});
    EXPECT_EQ(hann.lock_flags(), std::vector<std::uint32_t>{1});

    const Image sine = window(ones, 1, Image());
    ASSERT_TRUE(sine);
    const auto s = sine.pixels<float>();
    const float edge = std::cos(-0.5f * 3.1415927f);
    EXPECT_NEAR(edge, -4.371139e-8f, 1e-13f) << "cos(-pi/2) in float is not 0";
    EXPECT_EQ(s[0], edge * edge);
    EXPECT_NEAR(s[3 * 8 + 4], 1.0f, 1e-6f);

    const Image column = image(type::real4, {1, 4}, std::vector<float>{1, 2, 3, 4});
    EXPECT_EQ(window(column, 0, Image()).pixels<float>(), std::vector<float>(4, 0.0f)) << "one pixel wide";
}

TEST_F(FourierWindow, RandomPlanesAndStacksInEveryRoute) {
    std::mt19937 rng(45);
    std::uniform_real_distribution<float> value(-100.0f, 100.0f);
    const std::vector<std::vector<std::uint64_t>> shapes = {{16, 16}, {9, 5}, {1, 7}, {11}, {6, 4, 3}};
    for (const auto& sizes : shapes) {
        std::uint64_t count = 1;
        for (auto size : sizes) count *= size;
        const std::int64_t nx = std::int64_t(sizes[0]), ny = sizes.size() > 1 ? std::int64_t(sizes[1]) : 1;
        std::vector<float> pixels(count);
        for (float& p : pixels) p = value(rng);
        for (const std::int32_t mode : {0, 1}) {
            for (const Route route : {Route::new_image, Route::given_destination, Route::in_place}) {
                SCOPED_TRACE(::testing::Message() << sizes.size() << "-D, " << nx << " x " << ny << ", mode " << mode
                                                  << ", route " << int(route));
                const Image source = image(type::real4, sizes, pixels);
                const std::vector<float> stale(count, 5.5f);
                Image destination;
                if (route == Route::given_destination) destination = image(type::real4, sizes, stale);
                if (route == Route::in_place) destination = source;
                const Image result = window(source, mode, destination);
                ASSERT_TRUE(result);
                EXPECT_EQ(result.sizes(), sizes);
                // The first plane windowed; later planes as the destination held them.
                std::vector<float> want = route == Route::given_destination ? stale : pixels;
                for (std::int64_t y = 0; y < ny; ++y)
                    for (std::int64_t x = 0; x < nx; ++x)
                        want[std::size_t(y * nx + x)] = windowed(pixels[std::size_t(y * nx + x)], x, y, nx, ny, mode);
                EXPECT_EQ(result.pixels<float>(), want);
                if (route != Route::in_place) {
                    EXPECT_EQ(source.pixels<float>(), pixels) << "the source changed";
                }
            }
        }
    }
}

TEST_F(FourierWindow, RefusesInTheOrderOfItsChecksWithoutWritingAPixel) {
    struct Case {
        const char* what;
        std::int32_t source_type;
        std::int32_t destination_type;  // 0: none
        std::vector<std::uint64_t> destination_sizes;
        std::int32_t mode;
        const std::string& message;
    };
    const Case cases[] = {
        {"8-byte real source", type::real8, 0, {}, 0, kType},
        {"complex source", type::complex8, 0, {}, 0, kType},
        {"signed 16-bit source and destination", type::int16, type::int16, {6, 4}, 0, kType},
        {"8-byte real destination", type::real4, type::real8, {6, 4}, 0, kType},
        {"the type before the size and mode", type::real4, type::complex8, {5, 4}, 7, kType},
        {"destination one column narrower", type::real4, type::real4, {5, 4}, 0, kSize},
        {"destination one row taller", type::real4, type::real4, {6, 5}, 1, kSize},
        {"the size before the mode", type::real4, type::real4, {6, 3}, 2, kSize},
        {"mode 2", type::real4, 0, {}, 2, kMode},
        {"mode -1 into a destination", type::real4, type::real4, {6, 4}, -1, kMode},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image source = host.make_image(c.source_type, {6, 4});
        std::vector<unsigned char> pattern(source.element_count() * source.element_bytes());
        for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i * 13 + 1);
        source.set_bytes(pattern.data(), pattern.size());
        const auto source_bytes = source.bytes();
        const Image destination =
            c.destination_type ? host.make_image(c.destination_type, c.destination_sizes) : Image();
        const auto destination_bytes = destination.bytes();
        const auto images = Host::object_counts().images;
        const auto calls = additions(kCounter);
        const CallResult result = host.call("FFTWindow", {source, c.mode, destination});
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error->message, c.message);
        EXPECT_EQ(result.raised, 1);
        EXPECT_FALSE(result.image);
        EXPECT_EQ(additions(kCounter), calls + 1);
        EXPECT_EQ(Host::object_counts().images, images) << "a clone made for the call was kept";
        EXPECT_EQ(source.bytes(), source_bytes);
        EXPECT_EQ(destination.bytes(), destination_bytes);
        EXPECT_EQ(source.data_changed_count(), 0u);
        EXPECT_EQ(destination.data_changed_count(), 0u);
    }
}

// A plane of 65536 x 32768 = 2^31 pixels, over memory the host does not own
// (never touched): refused after the checks of types, sizes and mode.
TEST_F(FourierWindow, RefusesAPlaneOfTwoToTheThirtyFirstPixels) {
    host.set_allocation_limit(std::uint64_t{1} << 40);
    auto backing = std::make_shared<std::vector<float>>(16, 1.0f);
    const Image huge = host.wrap_image(type::real4, {65536, 32768}, backing->data(), backing);
    const CallResult in_place = host.call("FFTWindow", {huge, 0, huge});
    ASSERT_FALSE(in_place.ok());
    EXPECT_EQ(in_place.error->message, kTooLarge);
    EXPECT_EQ(huge.data_changed_count(), 0u);
    const CallResult bad_mode = host.call("FFTWindow", {huge, 3, huge});
    ASSERT_FALSE(bad_mode.ok());
    EXPECT_EQ(bad_mode.error->message, kMode) << "the mode is checked first";
    EXPECT_EQ(*backing, std::vector<float>(16, 1.0f));
}

}  // namespace
}  // namespace zorvan::testing
