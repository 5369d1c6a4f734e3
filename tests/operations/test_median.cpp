// FMedianFilter called through the host application: every pixel against the
// median of its clipped window found by sorting, on both real types, into a
// new image, into a given one and in place (where windows read the values
// already written, in the filter's visiting order); NaN samples; and the
// refusals, which touch no pixel.

#include "tests/support/plugin_test.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace zorvan::testing {
namespace {

using Index = std::int64_t;
namespace type = host::data_type;

constexpr const char* kCounter = "MedianFilterDM2";
constexpr std::int32_t kHugeRadius = std::numeric_limits<std::int32_t>::max();

// The median by sorting: NaN samples are left out (the window's first sample
// when nothing else is left); an even count takes (upper + lower) * 0.5 in F.
template <class F>
F sorted_median(const std::vector<F>& samples) {
    std::vector<F> numbers;
    for (F v : samples) {
        if (!std::isnan(v)) numbers.push_back(v);
    }
    if (numbers.empty()) return samples.front();
    std::sort(numbers.begin(), numbers.end());
    const std::size_t k = numbers.size() / 2;
    return numbers.size() % 2 == 1 ? numbers[k] : (numbers[k] + numbers[k - 1]) * F(0.5);
}

// The first nx*ny values filtered as the filter visits them: the rows whose
// windows the image cuts at the top and the bottom, then the cut columns of
// the other rows, then the rest row by row. In place, each window reads the
// image as it stands.
template <class F>
std::vector<F> median_reference(const std::vector<F>& source, Index nx, Index ny, Index r, bool in_place,
                                std::vector<F> out) {
    const Index top_rows = std::min(ny, r), bottom_start = std::max(top_rows, ny - r);
    const Index left_cols = std::min(nx, r), right_start = std::max(left_cols, nx - r);
    std::vector<std::pair<Index, Index>> order;
    for (Index y = 0; y < ny; ++y) {
        if (y >= top_rows && y < bottom_start) continue;
        for (Index x = 0; x < nx; ++x) order.emplace_back(x, y);
    }
    for (Index y = top_rows; y < bottom_start; ++y)
        for (Index x = 0; x < nx; ++x) {
            if (x < left_cols || x >= right_start) order.emplace_back(x, y);
        }
    for (Index y = top_rows; y < bottom_start; ++y)
        for (Index x = left_cols; x < right_start; ++x) order.emplace_back(x, y);

    for (const auto& [x, y] : order) {
        const std::vector<F>& from = in_place ? out : source;
        std::vector<F> samples;
        for (Index j = std::max<Index>(0, y - r); j <= std::min(ny - 1, y + r); ++j)
            for (Index i = std::max<Index>(0, x - r); i <= std::min(nx - 1, x + r); ++i) samples.push_back(from[j * nx + i]);
        out[y * nx + x] = sorted_median(samples);
    }
    return out;
}

// Values from a small set, so that windows hold ties, with a few NaN.
template <class F>
std::vector<F> random_values(std::size_t count, std::mt19937& rng) {
    std::uniform_int_distribution<int> pick(-12, 12);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<F> values(count);
    for (F& v : values) {
        const int p = pick(rng);
        v = p == 0 ? std::numeric_limits<F>::quiet_NaN() : static_cast<F>(p * 0.37 + (p % 3 ? unit(rng) : 0.0));
    }
    return values;
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

enum class Route { new_image, given_destination, in_place };

class MedianFilter : public PluginTest {
protected:
    template <class F>
    Image filtered(const Image& source, std::int32_t radius, const Arg& destination) {
        const auto calls = additions(kCounter);
        const CallResult result = host.call("FMedianFilter", {source, radius, destination});
        EXPECT_TRUE(result.ok()) << result.error->message;
        EXPECT_EQ(result.raised, 0);
        EXPECT_EQ(additions(kCounter), calls + 1);
        EXPECT_TRUE(result.image);
        if (result.image) {
            EXPECT_EQ(result.image.data_changed_count(), 1u);
            EXPECT_EQ(result.image.active_locks(), 0);
        }
        return result.image;
    }
};

TEST_F(MedianFilter, MatchesTheSortedWindowOnBothTypesEveryShapeAndRoute) {
    const std::vector<std::vector<std::uint64_t>> shapes = {{7, 6}, {1, 5}, {6, 1}, {1, 1}, {9, 8}, {5, 4, 2}};
    const std::int32_t radii[] = {0, 1, 2, 3, kHugeRadius};
    std::mt19937 rng(31);
    auto run = [&]<class F>(F, std::int32_t code, const std::vector<std::uint64_t>& sizes, std::int32_t radius,
                            Route route) {
        const Index nx = Index(sizes[0]), ny = Index(sizes[1]), nz = sizes.size() > 2 ? Index(sizes[2]) : 1;
        const std::vector<F> values = random_values<F>(std::size_t(nx * ny * nz), rng);
        const Image source = image(code, sizes, values);
        const std::vector<F> before(values.size(), F(-99.5));
        const Image given = route == Route::given_destination ? image(code, sizes, before) : Image();
        const Arg destination = route == Route::new_image ? Arg(nullptr) : Arg(route == Route::in_place ? source : given);

        const Image result = filtered<F>(source, radius, destination);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.sizes(), sizes);
        EXPECT_EQ(result.data_type(), code);
        // Beyond the first plane: the clone's copy of the source, or what the
        // given destination held.
        const std::vector<F> rest = route == Route::given_destination ? before : values;
        const std::vector<F> want = median_reference(values, nx, ny, radius, route == Route::in_place, rest);
        EXPECT_TRUE(same_pixels(result.pixels<F>(), want));
        if (route == Route::in_place) {
            EXPECT_TRUE(result.same_as(source));
            EXPECT_EQ(source.lock_flags(), (std::vector<std::uint32_t>{1, 1}));
        } else {
            EXPECT_TRUE(same_pixels(source.pixels<F>(), values)) << "the source changed";
            EXPECT_EQ(source.data_changed_count(), 0u);
            EXPECT_EQ(source.lock_flags(), std::vector<std::uint32_t>{1});
            EXPECT_EQ(result.lock_flags(), std::vector<std::uint32_t>{1});
            if (route == Route::given_destination) {
                EXPECT_TRUE(result.same_as(given));
            }
        }
    };
    for (const std::int32_t code : {type::real4, type::real8})
        for (const auto& sizes : shapes)
            for (const std::int32_t radius : radii)
                for (const Route route : {Route::new_image, Route::given_destination, Route::in_place}) {
                    SCOPED_TRACE(::testing::Message() << "type " << code << ", " << sizes[0] << "x" << sizes[1]
                                                      << (sizes.size() > 2 ? "x2" : "") << ", radius " << radius
                                                      << ", route " << int(route));
                    if (code == type::real8) run(double{}, code, sizes, radius, route);
                    else run(float{}, code, sizes, radius, route);
                }
}

TEST_F(MedianFilter, WorkedAnswers) {
    const std::vector<float> grid{1, 2, 3, 4, 5, 6, 7, 8, 9};
    struct Case {
        const char* what;
        std::vector<std::uint64_t> sizes;
        std::vector<float> values;
        std::int32_t radius;
        bool in_place;
        std::vector<float> want;
    };
    const Case cases[] = {
        // Corners take 4 samples, edges 6: the mean of the middle two.
        {"out of place", {3, 3}, grid, 1, false, {3, 3.5f, 4, 4.5f, 5, 5.5f, 6, 6.5f, 7}},
        // Rows 0 and 2, then columns 0 and 2 of row 1, then the centre, each
        // reading the values already written.
        {"in place", {3, 3}, grid, 1, true, {3, 3.5f, 4.25f, 4.5f, 5, 5.5f, 6, 6, 6}},
        {"radius 0 copies", {3, 3}, grid, 0, false, grid},
        {"odd and even counts along a row", {5}, {9, -1, 4, 4, 7}, 1, false, {4, 4, 4, 4, 5.5f}},
        {"the whole image from a radius of its size", {2, 2}, {8, 1, 2, 6}, 2, false, {4, 4, 4, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Image source = image(type::real4, c.sizes, c.values);
        const Image result = filtered<float>(source, c.radius, c.in_place ? Arg(source) : Arg(nullptr));
        ASSERT_TRUE(result);
        EXPECT_EQ(result.pixels<float>(), c.want);
    }
}

TEST_F(MedianFilter, LeavesNaNSamplesOutAndGivesTheFirstWhenNothingElseIsLeft) {
    const double nan_a = std::bit_cast<double>(0x7ff8000000000123ull);
    const double nan_b = std::bit_cast<double>(0xfff8000000000456ull);
    struct Case {
        const char* what;
        std::vector<double> values;  // one row
        std::int32_t radius;
        std::vector<double> want;
    };
    const Case cases[] = {
        {"NaN around a number", {nan_a, 2, nan_b}, 1, {2, 2, 2}},
        {"the even rule over the numbers only", {1, nan_a, 4, 8}, 1, {1, 2.5, 6, 6}},
        {"a window of NaN alone", {nan_a, nan_b, 5}, 1, {nan_a, 5, 5}},
        {"radius 0 copies NaN bits", {nan_b, 3, nan_a}, 0, {nan_b, 3, nan_a}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Image source = image(type::real8, {c.values.size()}, c.values);
        const Image result = filtered<double>(source, c.radius, Arg(nullptr));
        ASSERT_TRUE(result);
        EXPECT_TRUE(same_pixels(result.pixels<double>(), c.want));
    }
}

TEST_F(MedianFilter, RefusesWithOneMessageBeforeTouchingAnyPixel) {
    const std::string all_real = "All data type should be Real.";
    const std::string size = "Images of different size cannot appear in this function.";
    const std::string negative = "nRad should not be negative.";
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
        {"signed 16-bit source", type::int16, {6, 4}, 1, 0, {}, all_real},
        {"complex source", type::complex8, {6, 4}, 1, 0, {}, all_real},
        {"4-byte real into 8-byte real", type::real4, {6, 4}, 1, type::real8, {6, 4}, all_real},
        {"8-byte real into 4-byte real", type::real8, {6, 4}, 1, type::real4, {6, 4}, all_real},
        {"4-byte real into signed 32-bit", type::real4, {6, 4}, 1, type::int32, {6, 4}, all_real},
        {"types are checked before sizes", type::int16, {6, 4}, 1, type::int16, {3, 4}, all_real},
        {"types are checked before the radius", type::uint8, {6, 4}, -1, 0, {}, all_real},
        {"destination one column narrower", type::real4, {6, 4}, 1, type::real4, {5, 4}, size},
        {"destination one row shorter", type::real8, {6, 4}, 1, type::real8, {6, 3}, size},
        {"destination wider", type::real8, {6, 4}, 0, type::real8, {7, 4}, size},
        {"1-D destination of a 2-D source", type::real4, {6, 4}, 1, type::real4, {24}, size},
        {"sizes are checked before the radius", type::real4, {6, 4}, -2, type::real4, {6, 5}, size},
        {"negative radius", type::real4, {6, 4}, -1, 0, {}, negative},
        {"most negative radius, given destination", type::real8, {6, 4}, std::numeric_limits<std::int32_t>::min(),
         type::real8, {6, 4}, negative},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image source = host.make_image(c.source_type, c.source_sizes);
        std::vector<unsigned char> pattern(source.element_count() * source.element_bytes());
        for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i * 13 + 1);
        source.set_bytes(pattern.data(), pattern.size());
        const Image destination = c.destination_type ? host.make_image(c.destination_type, c.destination_sizes) : Image();
        const auto destination_bytes = destination.bytes();
        const auto images = Host::object_counts().images;
        const auto calls = additions(kCounter);

        const CallResult result = host.call("FMedianFilter", {source, c.radius, destination});
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error->message, c.message);
        EXPECT_EQ(result.raised, 1);
        EXPECT_FALSE(result.image);
        EXPECT_EQ(additions(kCounter), calls + 1) << "the timer records errors too";
        EXPECT_EQ(Host::object_counts().images, images) << "a clone made for the call was kept";
        EXPECT_EQ(source.bytes(), std::vector<std::byte>(reinterpret_cast<const std::byte*>(pattern.data()),
                                                         reinterpret_cast<const std::byte*>(pattern.data()) + pattern.size()));
        EXPECT_EQ(destination.bytes(), destination_bytes);
        const Image* images_involved[] = {&source, &destination};
        for (const Image* img : images_involved) {
            EXPECT_TRUE(img->lock_flags().empty()) << "data locked before the checks";
            EXPECT_EQ(img->data_changed_count(), 0u);
        }
    }
}

}  // namespace
}  // namespace zorvan::testing
