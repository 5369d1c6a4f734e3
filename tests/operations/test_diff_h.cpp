// FDiffH called through the host application: the n-th forward difference
// along x against repeated float differences, the shape of the result, the
// intermediate images given up, orders that return the source itself, and
// the refusals, which make no image.

#include "tests/support/plugin_test.h"

#include <limits>
#include <random>
#include <string>

namespace zorvan::testing {
namespace {

using Index = std::int64_t;
namespace type = host::data_type;

constexpr const char* kCounter = "DiffHDM";
const std::string kReal4 = "Data type should be Real 4.";
const std::string kOrderTooHigh = "n should be less than the width of src.";

// n orders on the first plane, each rounded to float before the next.
std::vector<float> difference_reference(std::vector<float> values, Index width, Index height, int n) {
    values.resize(std::size_t(width * height));
    for (int order = 0; order < n; ++order, --width) {
        std::vector<float> next(std::size_t((width - 1) * height));
        for (Index y = 0; y < height; ++y)
            for (Index x = 0; x + 1 < width; ++x) next[y * (width - 1) + x] = values[y * width + x + 1] - values[y * width + x];
        values = next;
    }
    return values;
}

class DiffH : public PluginTest {
protected:
    CallResult differenced(const Image& source, std::int32_t n) {
        const auto calls = additions(kCounter);
        CallResult result = host.call("FDiffH", {source, n});
        EXPECT_EQ(additions(kCounter), calls + 1) << "the timer records every call";
        return result;
    }
};

TEST_F(DiffH, WorkedAnswersOnARowOfSquares) {
    const std::vector<std::vector<float>> want = {{3, 5, 7}, {2, 2}, {0}};
    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(::testing::Message() << "order " << n);
        const Image squares = image<float>(type::real4, {4}, {1, 4, 9, 16});
        const CallResult result = differenced(squares, n);
        ASSERT_TRUE(result.ok()) << result.error->message;
        EXPECT_EQ(result.image.pixels<float>(), want[n - 1]);
        EXPECT_EQ(result.image.sizes(), (std::vector<std::uint64_t>{std::uint64_t(4 - n), 1}));
    }
}

TEST_F(DiffH, MatchesRepeatedFloatDifferencesAndGivesUpEveryIntermediateImage) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-12, 12);
    const std::vector<std::vector<std::uint64_t>> shapes = {{9, 4}, {2, 3}, {17}, {6, 3, 2}};
    for (const auto& sizes : shapes)
        for (std::int32_t n = 1; n < std::int32_t(sizes[0]); ++n) {
            SCOPED_TRACE(::testing::Message() << sizes[0] << " wide, " << sizes.size() << "-D, order " << n);
            const Index width = Index(sizes[0]), height = sizes.size() > 1 ? Index(sizes[1]) : 1;
            std::vector<float> values(std::size_t(width * height * (sizes.size() > 2 ? Index(sizes[2]) : 1)));
            for (float& v : values) v = static_cast<float>(std::ldexp(unit(rng), exponent(rng)));
            const Image source = image(type::real4, sizes, values);
            const auto images = Host::object_counts().images;

            const CallResult result = differenced(source, n);
            ASSERT_TRUE(result.ok()) << result.error->message;
            EXPECT_EQ(result.raised, 0);
            ASSERT_TRUE(result.image);
            EXPECT_FALSE(result.image.same_as(source));
            EXPECT_EQ(result.image.data_type(), type::real4);
            EXPECT_EQ(result.image.sizes(), (std::vector<std::uint64_t>{std::uint64_t(width - n), std::uint64_t(height)}));
            EXPECT_EQ(result.image.name(), "");
            EXPECT_EQ(result.image.data_changed_count(), 1u);
            EXPECT_EQ(result.image.lock_flags(), std::vector<std::uint32_t>{1});
            EXPECT_EQ(result.image.active_locks(), 0);
            EXPECT_EQ(source.pixels<float>(), values) << "the source changed";
            EXPECT_EQ(source.data_changed_count(), 0u);
            EXPECT_EQ(source.lock_flags(), std::vector<std::uint32_t>{1});
            EXPECT_EQ(Host::object_counts().images, images + 1) << "an intermediate image was kept";

            const std::vector<float> got = result.image.pixels<float>();
            const std::vector<float> want = difference_reference(values, width, height, n);
            ASSERT_EQ(got.size(), want.size());
            for (std::size_t i = 0; i < got.size(); ++i) ASSERT_TRUE(same_bits(got[i], want[i])) << i;
        }
}

TEST_F(DiffH, OrdersOfZeroAndBelowReturnTheSourceItself) {
    for (const std::int32_t n : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
        SCOPED_TRACE(::testing::Message() << "order " << n);
        const std::vector<float> values{2, -3, 5.5f, 8, 1, 0};
        const Image source = image(type::real4, {3, 2}, values);
        const auto images = Host::object_counts().images;
        const CallResult result = differenced(source, n);
        ASSERT_TRUE(result.ok()) << result.error->message;
        EXPECT_TRUE(result.image.same_as(source));
        EXPECT_EQ(source.pixels<float>(), values);
        EXPECT_EQ(source.data_changed_count(), 1u);
        EXPECT_EQ(source.lock_flags(), std::vector<std::uint32_t>{1});
        EXPECT_EQ(Host::object_counts().images, images) << "an image was made";
    }
}

TEST_F(DiffH, RefusesWithOneMessageAndMakesNoImage) {
    struct Case {
        const char* what;
        std::int32_t code;
        std::vector<std::uint64_t> sizes;
        std::int32_t n;
        const std::string& message;
    };
    const Case cases[] = {
        {"signed 16-bit source", type::int16, {5, 2}, 1, kReal4},
        {"8-byte real source", type::real8, {5, 2}, 1, kReal4},
        {"complex source", type::complex8, {5, 2}, 0, kReal4},
        {"the type is checked before the order", type::uint8, {5, 2}, 9, kReal4},
        {"an order of the width", type::real4, {5, 2}, 5, kOrderTooHigh},
        {"an order beyond the width", type::real4, {5, 2}, 6, kOrderTooHigh},
        {"one column, order 1", type::real4, {1, 7}, 1, kOrderTooHigh},
        {"the largest order", type::real4, {5, 2, 3}, std::numeric_limits<std::int32_t>::max(), kOrderTooHigh},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image source = host.make_image(c.code, c.sizes);
        std::vector<unsigned char> pattern(source.element_count() * source.element_bytes());
        for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i * 7 + 3);
        source.set_bytes(pattern.data(), pattern.size());
        const auto bytes = source.bytes();
        const auto images = Host::object_counts().images;

        const CallResult result = differenced(source, c.n);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error->message, c.message);
        EXPECT_EQ(result.raised, 1);
        EXPECT_FALSE(result.image);
        EXPECT_EQ(Host::object_counts().images, images) << "an image was made";
        EXPECT_EQ(source.bytes(), bytes);
        EXPECT_TRUE(source.lock_flags().empty()) << "data locked before the checks";
        EXPECT_EQ(source.data_changed_count(), 0u);
    }
}

}  // namespace
}  // namespace zorvan::testing
