// FWeight called through the host application: the worked blend at radius
// 2.25 and the ends of the table, random planes of both types in every mode
// and route against a reference written out per pixel, the last table entry
// read alone when the radius rounds to it, and every refusal in its order.

#include "tests/support/plugin_test.h"

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>

namespace zorvan::testing {
namespace {

namespace type = host::data_type;

constexpr const char* kCounter = "WeightDM";
const std::string kSourceType = "imgSrc should be Real 4 or Complex 8.";
const std::string kSameType = "Data type of imgSrc and imgDst are should be same.";
const std::string kTableType = "imgW should be Real 4.";
const std::string kSize = "Images of different size cannot appear in this function.";
const std::string kMode = "Invalid mode.";

enum class Route { new_image, given_destination, in_place };

// The interpolated weight at squared scaled distance d2, all in float.
float table_weight(const std::vector<float>& table, float d2) {
    const auto last = std::int64_t(table.size()) - 1;
    const float last_f = float(last);
    if (d2 >= last_f * last_f || std::isnan(d2)) return table[std::size_t(last)];
    const float r = std::sqrt(d2);
    const auto i0 = std::int64_t(r);
    if (i0 == last) return table[std::size_t(last)];  // r rounded up to the last index
    const float f = r - std::floor(r);
    return table[std::size_t(i0)] * (1 - f) + table[std::size_t(i0 + 1)] * f;
}

// The first plane of `parts` (1 float per real pixel, 2 per complex one)
// weighted as the modes say; later planes as they were.
std::vector<float> reference_weight(std::vector<float> parts, int per_pixel, std::int64_t nx, std::int64_t ny,
                                    const std::vector<float>& table, std::int64_t cx, std::int64_t cy, float sx,
                                    float sy, int mode) {
    for (std::int64_t y = 0; y < ny; ++y) {
        for (std::int64_t x = 0; x < nx; ++x) {
            const float u = float(x - cx) * sx, v = float(y - cy) * sy;
            const float w = table_weight(table, u * u + v * v);
            float* p = &parts[std::size_t((y * nx + x) * per_pixel)];
            if (per_pixel == 1) {
                p[0] = mode == 0 ? p[0] * w : mode == 1 ? p[0] + w : mode == 2 ? p[0] - w : w;
                continue;
            }
            const float re = p[0], im = p[1];
            switch (mode) {
                case 0: p[0] = re * w - im * 0.0f; p[1] = re * 0.0f + im * w; break;
                case 1: p[0] = re + w; p[1] = im + 0.0f; break;
                case 2: p[0] = re - w; p[1] = im - 0.0f; break;
                default: p[0] = w; p[1] = 0.0f; break;
            }
        }
    }
    return parts;
}

::testing::AssertionResult same_floats(const std::vector<float>& got, const std::vector<float>& want) {
    if (got.size() != want.size()) return ::testing::AssertionFailure() << got.size() << " values, not " << want.size();
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (!same_bits(got[i], want[i]) && !(std::isnan(got[i]) && std::isnan(want[i]))) {
            return ::testing::AssertionFailure() << "value " << i << " is " << got[i] << ", not " << want[i];
        }
    }
    return ::testing::AssertionSuccess();
}

class Weight : public PluginTest {
protected:
    // Calls FWeight and checks what every successful call must do.
    Image weight(const Image& source, const Image& table, std::int32_t cx, std::int32_t cy, float sx, float sy,
                 std::int32_t mode, const Image& destination) {
        const auto calls = additions(kCounter);
        const CallResult result = host.call("FWeight", {source, table, cx, cy, sx, sy, mode, destination});
        EXPECT_TRUE(result.ok()) << result.error->message;
        EXPECT_EQ(result.raised, 0);
        EXPECT_EQ(additions(kCounter), calls + 1);
        if (!result.image) return Image();
        EXPECT_EQ(result.image.data_changed_count(), 1u);
        EXPECT_EQ(result.image.active_locks(), 0);
        EXPECT_EQ(table.data_changed_count(), 0u);
        for (const std::uint32_t flags : table.lock_flags()) EXPECT_EQ(flags, 1u);
        if (destination) {
            EXPECT_TRUE(result.image.same_as(destination));
        } else {
            EXPECT_FALSE(result.image.same_as(source));
        }
        return result.image;
    }
};

TEST_F(Weight, WorkedBlendAndTheEndsOfTheTable) {
    // A 3 x 2 table image is read as its six floats in storage order.
    const Image table = image(type::real4, {3, 2}, std::vector<float>{10, 20, 40, 80, 160, 320});
    const Image source = image(type::real4, {8}, std::vector<float>(8, 1.0f));
    const Image painted = weight(source, table, 0, 0, 0.75f, 0.75f, 3, Image());
    ASSERT_TRUE(painted);
    const std::vector<float> got = painted.pixels<float>();
    EXPECT_EQ(got[0], 10) << "the centre takes W[0]";
    EXPECT_EQ(got[3], 0.75f * 40 + 0.25f * 80) << "radius 2.25";
    EXPECT_EQ(got[4], 80) << "a whole radius 3 takes W[3]";
    EXPECT_EQ(got[7], 320) << "radius 5.25, past the last index 5";
    EXPECT_EQ(source.pixels<float>(), std::vector<float>(8, 1.0f)) << "no destination: the source is kept";

    const Image one_entry = image(type::real4, {1}, std::vector<float>{-2.5f});
    const Image flat = weight(source, one_entry, 3, 0, 1, 1, 0, Image());
    EXPECT_EQ(flat.pixels<float>(), std::vector<float>(8, -2.5f)) << "a one-entry table weighs every pixel alike";
    const Image unscaled = weight(source, table, 3, 0, 0, 0, 1, Image());
    EXPECT_EQ(unscaled.pixels<float>(), std::vector<float>(8, 11.0f)) << "scales 0: every pixel at the centre";
}

TEST_F(Weight, RandomPlanesOfBothTypesInEveryModeAndRoute) {
    std::mt19937 rng(4404);
    std::uniform_real_distribution<float> value(-20.0f, 20.0f);
    struct Shape {
        std::vector<std::uint64_t> sizes;
        std::int32_t cx, cy;
        float sx, sy;
        std::size_t table_size;
    };
    const Shape shapes[] = {
        {{9, 7}, 4, 3, 0.6f, 0.9f, 7},
        {{6, 5}, -2, 8, 0.3f, -0.45f, 12},
        {{5, 4, 3}, 1, 2, 1.1f, 1.1f, 4},  // first plane only
        {{10}, 20, 0, 0.25f, 1.0f, 3},
    };
    for (const Shape& shape : shapes) {
        std::uint64_t pixels = 1;
        for (auto size : shape.sizes) pixels *= size;
        const auto plane = std::int64_t(shape.sizes[0] * (shape.sizes.size() > 1 ? shape.sizes[1] : 1));
        std::vector<float> table(shape.table_size);
        for (float& w : table) w = value(rng);
        const Image table_image = image(type::real4, {shape.table_size}, table);
        for (const std::int32_t code : {type::real4, type::complex8}) {
            const int per_pixel = code == type::real4 ? 1 : 2;
            std::vector<float> parts(pixels * per_pixel);
            for (float& p : parts) p = value(rng);
            parts[1] = -0.0f;  // a signed zero for the complex formulas
            for (std::int32_t mode = 0; mode < 4; ++mode) {
                for (const Route route : {Route::new_image, Route::given_destination, Route::in_place}) {
                    SCOPED_TRACE(::testing::Message() << shape.sizes.size() << "-D " << shape.sizes[0] << " wide, type "
                                                      << code << ", mode " << mode << ", route " << int(route));
                    const Image source = image(code, shape.sizes, parts);
                    const std::vector<float> stale(parts.size(), 99.0f);
                    Image destination;
                    if (route == Route::given_destination) destination = image(code, shape.sizes, stale);
                    if (route == Route::in_place) destination = source;
                    const Image result = weight(source, table_image, shape.cx, shape.cy, shape.sx, shape.sy, mode,
                                                destination);
                    ASSERT_TRUE(result);
                    EXPECT_EQ(result.data_type(), code);
                    EXPECT_EQ(result.sizes(), shape.sizes);
                    const std::vector<float>& untouched = route == Route::given_destination ? stale : parts;
                    // The first plane weighted; later planes as the destination held them.
                    std::vector<float> want = untouched;
                    const auto weighted = reference_weight(parts, per_pixel, std::int64_t(shape.sizes[0]),
                                                           plane / std::int64_t(shape.sizes[0]), table, shape.cx,
                                                           shape.cy, shape.sx, shape.sy, mode);
                    std::copy(weighted.begin(), weighted.begin() + plane * per_pixel, want.begin());
                    EXPECT_TRUE(same_floats(result.pixels<float>(), want));
                    if (route != Route::in_place) {
                        EXPECT_TRUE(same_floats(source.pixels<float>(), parts)) << "the source changed";
                        EXPECT_EQ(source.lock_flags(), std::vector<std::uint32_t>{1});
                        EXPECT_EQ(result.lock_flags(), std::vector<std::uint32_t>{1});
                    } else {
                        EXPECT_EQ(source.lock_flags(), (std::vector<std::uint32_t>{1, 1}));
                    }
                }
            }
        }
    }
}

// Pixel (5, 0) around (-8190, -128) lies at squared distance 8195^2 + 128^2
// = 67174409, which float holds as 67174408, below 8196^2; its square root
// rounds up to 8196, the last index of an 8197-entry table. Only that last
// entry (-0 here, so any blend would show as +0) is used: the table lives in
// memory of exactly 8197 floats, and reading past it would be caught.
TEST_F(Weight, ARadiusRoundedToTheLastIndexReadsOnlyTheLastEntry) {
    auto table = std::make_shared<std::vector<float>>(8197, 1.0f);
    table->back() = -0.0f;
    const Image table_image = host.wrap_image(type::real4, {8197}, table->data(), table);
    const Image source = image(type::real4, {6}, std::vector<float>(6, 3.0f));
    const Image result = weight(source, table_image, -8190, -128, 1, 1, 3, Image());
    ASSERT_TRUE(result);
    EXPECT_TRUE(same_bits(result.pixels<float>()[5], -0.0f)) << result.pixels<float>()[5];
    EXPECT_NEAR(result.pixels<float>()[4], 1.0f, 1e-6f) << "radius just under 8195: a blend of two 1s";
}

TEST_F(Weight, RefusesInTheOrderOfItsChecksWithoutWritingAPixel) {
    struct Case {
        const char* what;
        std::int32_t source_type;
        std::int32_t destination_type;  // 0: none
        std::vector<std::uint64_t> destination_sizes;
        std::int32_t table_type;
        std::int32_t mode;
        const std::string& message;
    };
    const Case cases[] = {
        {"8-byte real source", type::real8, 0, {}, type::real4, 0, kSourceType},
        {"complex of 8-byte reals", type::complex16, 0, {}, type::real4, 0, kSourceType},
        {"signed 16-bit source", type::int16, type::int16, {6, 4}, type::real4, 0, kSourceType},
        {"the source before the mode", type::uint8, 0, {}, type::real4, 9, kSourceType},
        {"8-byte real destination", type::real4, type::real8, {6, 4}, type::real4, 0, kSameType},
        {"16-bit destination", type::real4, type::int16, {6, 4}, type::real4, 0, kSameType},
        {"complex destination of a real source", type::real4, type::complex8, {6, 4}, type::real4, 0, kSameType},
        {"real destination of a complex source", type::complex8, type::real4, {6, 4}, type::real4, 0, kSameType},
        {"8-byte real table", type::real4, 0, {}, type::real8, 0, kTableType},
        {"complex table", type::complex8, 0, {}, type::complex8, 0, kTableType},
        {"the table before the size", type::real4, type::real4, {5, 4}, type::int32, 0, kTableType},
        {"destination one column narrower", type::real4, type::real4, {5, 4}, type::real4, 0, kSize},
        {"destination one row taller", type::complex8, type::complex8, {6, 5}, type::real4, 0, kSize},
        {"the size before the mode", type::real4, type::real4, {6, 3}, type::real4, 4, kSize},
        {"mode 4", type::real4, 0, {}, type::real4, 4, kMode},
        {"mode -1 into a destination", type::complex8, type::complex8, {6, 4}, type::real4, -1, kMode},
        {"the most negative mode", type::real4, type::real4, {6, 4}, type::real4,
         std::numeric_limits<std::int32_t>::min(), kMode},
    };
    auto patterned = [&](std::int32_t code, const std::vector<std::uint64_t>& sizes, unsigned seed) {
        Image made = host.make_image(code, sizes);
        std::vector<unsigned char> bytes(made.element_count() * made.element_bytes());
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 29 + seed);
        made.set_bytes(bytes.data(), bytes.size());
        return made;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Image source = patterned(c.source_type, {6, 4}, 3);
        const Image destination = c.destination_type ? patterned(c.destination_type, c.destination_sizes, 8) : Image();
        const Image table = patterned(c.table_type, {5}, 1);
        const auto source_bytes = source.bytes();
        const auto destination_bytes = destination.bytes();
        const auto images = Host::object_counts().images;
        const auto calls = additions(kCounter);
        const CallResult result = host.call("FWeight", {source, table, 1, 1, 1.0f, 1.0f, c.mode, destination});
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error->message, c.message);
        EXPECT_EQ(result.raised, 1);
        EXPECT_FALSE(result.image);
        EXPECT_EQ(additions(kCounter), calls + 1);
        EXPECT_EQ(Host::object_counts().images, images) << "a clone made for the call was kept";
        EXPECT_EQ(source.bytes(), source_bytes);
        EXPECT_EQ(destination.bytes(), destination_bytes);
        for (const Image* img : {&source, &destination}) {
            EXPECT_TRUE(img->lock_flags().empty()) << "pixels locked before the checks";
            EXPECT_EQ(img->data_changed_count(), 0u);
        }
    }
}

}  // namespace
}  // namespace zorvan::testing
