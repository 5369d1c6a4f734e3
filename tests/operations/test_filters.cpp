// The filters through the host: which image each route writes and how, and
// every refusal's message in the order of the checks.

#include "tests/support/operation_cases.h"
#include "tests/support/reference_moving_average.h"

#include <random>

namespace zorvan::testing {
namespace {

using reference::Index;
enum Route { new_image, given_destination, in_place };
const char* const kSize = "Images of different size cannot appear in this function.";
const char* const kInvalid = "Invalid data type.";
const char* const kNegative = "nRad should not be negative.";
const char* const kOutOfPlace = "Output should be out-of-place.";
const std::vector<std::uint32_t> kOneLock{1}, kTwoLocks{1, 1};

class Filters : public OperationTest {};

// The moving average of a packed copy runs as 2-D boxes per plane (then
// along z), of the image itself as 1-D passes; the two differ in the last
// bits, so each route is compared bit for bit with its own order.
TEST_F(Filters, MovingAverageRoutes) {
    std::mt19937 rng(20240611);
    for (const auto& sizes : {std::vector<std::uint64_t>{7, 5}, {6, 5, 4}})
        for (const Route route : {new_image, given_destination, in_place}) {
            SCOPED_TRACE(::testing::Message() << sizes.size() << "-D, route " << route);
            const reference::shape s{Index(sizes[0]), Index(sizes[1]), Index(sizes.size() > 2 ? sizes[2] : 1)};
            const std::vector<double> values = random_values<double>(std::size_t(s.nx * s.ny * s.nz), rng);
            const Image source = image(type::real8, sizes, values);
            const Image given = route == given_destination ? patterned(type::real8, sizes) : Image();
            const Image destination = route == in_place ? source : given;
            const CallResult result = succeed("FMovingAverage", {source, 2, destination});
            ASSERT_TRUE(result.image);
            EXPECT_EQ(result.image.same_as(source), route == in_place);
            EXPECT_EQ(result.image.same_as(given), route == given_destination);
            EXPECT_EQ(source.lock_flags().size(), route == in_place ? 2u : 1u);
            const std::vector<double> want =
                route == in_place ? reference::in_place(values, s, 2) : reference::out_of_place(values, s, 2);
            EXPECT_TRUE(same_values(result.image.pixels<double>(), want));
        }
}

TEST_F(Filters, MovingAverageRefusals) {
    const char* mismatch = "imgDst should have the data type and depth of imgSrc.";
    expect_errors("FMovingAverage", {
        {"destination one column narrower", type::real4, {6, 4}, 1, type::real4, {5, 4}, kSize},
        {"sizes before the type", type::int16, {6, 4}, 1, type::int16, {6, 3}, kSize},
        {"sizes before the radius", type::real8, {6, 4}, -1, type::real8, {6, 5}, kSize},
        {"the type before the radius", type::int16, {6, 4}, -1, 0, {}, kInvalid},
        {"the radius before the destination", type::real4, {6, 4}, -1, type::real8, {6, 4}, kNegative},
        {"most negative radius", type::complex8, {6, 4, 3}, kSmallestInt, 0, {}, kNegative},
        {"8-byte real destination of a 4-byte real", type::real4, {6, 4}, 1, type::real8, {6, 4}, mismatch},
        {"2-D source, destination of two planes", type::real4, {6, 4}, 1, type::real4, {6, 4, 2}, mismatch},
        {"3-D source, 2-D destination", type::complex16, {6, 4, 3}, 1, type::complex16, {6, 4}, mismatch},
    });
}

// Outputs are reused only when both are live images of the source's width,
// height and type (and depth, for a stack); otherwise two new 2-D images
// replace the caller's references, which are released exactly once.
TEST_F(Filters, MovingAveragePairReusesOnlyFittingOutputs) {
    const std::vector<std::uint64_t> fits{5, 4}, none{};
    const struct {
        std::int32_t first_code, second_code;  // 0: a null reference
        std::vector<std::uint64_t> first_sizes, second_sizes;
        bool reused;
    } cases[] = {
        {0, 0, none, none, false},
        {type::real4, 0, fits, none, false},
        {type::real4, type::real4, fits, fits, true},
        {type::real4, type::real8, fits, fits, false},
        {type::real4, type::real4, {4, 4}, fits, false},
        {type::real4, type::real4, fits, {5, 5}, false},
        {type::real4, type::real4, {5, 4, 2}, {5, 4, 2}, true},  // any depth for a 2-D source
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "types " << c.first_code << ", " << c.second_code);
        const Image source = patterned(type::real4, fits);
        const auto images = Host::object_counts().images;
        Image first = c.first_code ? patterned(c.first_code, c.first_sizes, 3) : Image();
        Image second = c.second_code ? patterned(c.second_code, c.second_sizes, 4) : Image();
        const auto first_bytes = first.bytes(), second_bytes = second.bytes();
        std::vector<Arg> args{source, 1, Arg::slot(first), Arg::slot(second)};
        succeed("FMovingAverage2", args);
        EXPECT_EQ(source.lock_flags(), std::vector<std::uint32_t>{32});
        for (int k : {2, 3}) {
            EXPECT_EQ(args[k].image().same_as(k == 2 ? first : second), c.reused);
            EXPECT_EQ(args[k].image().data_changed_count(), c.reused ? 0u : 1u) << "made images are announced";
            EXPECT_EQ(args[k].image().lock_flags(), kOneLock);
        }
        if (c.reused) {
            // The first plane is written; further planes keep what they held.
            const std::size_t plane = 20 * sizeof(float);
            const auto written = first.bytes();
            EXPECT_TRUE(std::equal(written.begin() + plane, written.end(), first_bytes.begin() + plane));
            EXPECT_NE(written, first_bytes);
            continue;
        }
        EXPECT_EQ(args[2].image().sizes(), fits);
        EXPECT_EQ(args[3].image().data_type(), type::real4);
        EXPECT_EQ(args[2].image().name(), "");
        EXPECT_TRUE(first.bytes() == first_bytes && second.bytes() == second_bytes) << "a replaced image was written";
        first = second = Image();
        EXPECT_EQ(Host::object_counts().images, images + 2) << "a replaced image was kept or released twice";
    }
}

// A stack goes plane by plane into outputs of its depth, each plane as a
// 2-D call on it alone would give.
TEST_F(Filters, MovingAveragePairFiltersEachPlaneOfAStack) {
    std::mt19937 rng(73);
    const std::vector<double> values = random_values<double>(4 * 3 * 2, rng);
    const std::vector<std::uint64_t> stack{4, 3, 2};
    std::vector<Arg> args{image(type::real8, stack, values), 1, Arg::slot(patterned(type::real8, stack)),
                          Arg::slot(patterned(type::real8, stack))};
    succeed("FMovingAverage2", args);
    for (std::size_t z = 0; z < 2; ++z) {
        const std::vector<double> plane(&values[12 * z], &values[12 * z + 12]);
        std::vector<Arg> alone{image(type::real8, {4, 3}, plane), 1, Arg::slot(), Arg::slot()};
        succeed("FMovingAverage2", alone);
        for (int k : {2, 3}) {
            const auto got = args[k].image().pixels<double>();
            const std::vector<double> got_plane(&got[12 * z], &got[12 * z + 12]);
            EXPECT_TRUE(same_values(got_plane, alone[k].image().pixels<double>())) << "plane " << z << ", output " << k;
        }
    }
}

TEST_F(Filters, MovingAveragePairRefusals) {
    const char* stack = "imgDst1 and imgDst2 should have the size, data type and depth of imgSrc when it has more than "
                        "one plane.";
    enum Given { none, fitting, source_itself, other_type, shallower };
    const struct {
        const char* what;
        std::int32_t source_type;
        std::vector<std::uint64_t> sizes;
        std::int32_t radius;
        Given first, second;
        const char* message;
    } cases[] = {
        {"signed 16-bit source into its own type", type::int16, {5, 4}, 1, fitting, fitting, kInvalid},
        {"the type before the radius", type::int32, {5, 4}, -1, none, none, kInvalid},
        {"negative radius, new outputs", type::real4, {5, 4}, -1, none, none, kNegative},
        {"most negative radius, reused outputs", type::complex16, {5, 4, 2}, kSmallestInt, fitting, fitting, kNegative},
        {"the source as the first output", type::real8, {5, 4}, 1, source_itself, fitting, kOutOfPlace},
        {"overlap before the radius", type::real4, {5, 4}, -1, source_itself, source_itself, kOutOfPlace},
        {"a stack with new outputs", type::real4, {5, 4, 3}, 1, none, none, stack},
        {"a stack with outputs of fewer planes", type::real8, {5, 4, 3}, 0, shallower, shallower, stack},
        {"a stack after the type", type::int16, {5, 4, 3}, 1, none, none, kInvalid},
        {"a stack before the radius", type::real4, {5, 4, 3}, -1, none, none, stack},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Image source = patterned(c.source_type, c.sizes, 11);
        const auto given = [&](Given g, unsigned seed) {
            const std::vector<std::uint64_t> plane{c.sizes[0], c.sizes[1]};
            return g == source_itself ? source
                   : g == fitting     ? patterned(c.source_type, c.sizes, seed)
                   : g == other_type  ? patterned(c.source_type == type::real8 ? type::real4 : type::real8, plane, seed)
                   : g == shallower   ? patterned(c.source_type, {c.sizes[0], c.sizes[1], c.sizes[2] - 1}, seed)
                                      : Image();
        };
        fail("FMovingAverage2", {source, c.radius, Arg::slot(given(c.first, 5)), Arg::slot(given(c.second, 6))},
             c.message);
    }
}

// The median writes the first plane in its visiting order (cut rows, cut columns,
// the rest), in place reading the values already written; later planes are the
// clone's copy of the source or what the given destination held.
TEST_F(Filters, MedianRoutes) {
    const std::vector<float> grid{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    const std::vector<float> medians{3, 3.5f, 4, 4.5f, 5, 5.5f, 6, 6.5f, 7};
    const auto stacked = [&](float below) {
        std::vector<float> want = medians;
        for (int i = 0; i < 9; ++i) want.push_back(below < 0 ? below : below + float(i));
        return want;
    };
    const struct {
        Route route;
        std::vector<std::uint64_t> sizes;
        std::vector<float> want;
    } cases[] = {
        {new_image, {3, 3}, medians},
        {given_destination, {3, 3}, medians},
        {in_place, {3, 3}, {3, 3.5f, 4.25f, 4.5f, 5, 5.5f, 6, 6, 6}},
        {new_image, {3, 3, 2}, stacked(10)},
        {given_destination, {3, 3, 2}, stacked(-1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "route " << c.route << ", " << c.sizes.size() << "-D");
        const Image source = image(type::real4, c.sizes, std::vector<float>(&grid[0], &grid[c.want.size()]));
        const Image given = image(type::real4, c.sizes, std::vector<float>(c.want.size(), -1));
        const Image destination = c.route == in_place ? source : c.route == new_image ? Image() : given;
        const CallResult result = succeed("FMedianFilter", {source, 1, destination});
        ASSERT_TRUE(result.image);
        EXPECT_EQ(result.image.pixels<float>(), c.want);
        EXPECT_EQ(result.image.same_as(source), c.route == in_place);
        EXPECT_EQ(result.image.same_as(given), c.route == given_destination);
        EXPECT_EQ(source.lock_flags(), c.route == in_place ? kTwoLocks : kOneLock);
    }
}

TEST_F(Filters, MedianRefusals) {
    const char* real = "All data type should be Real.";
    expect_errors("FMedianFilter", {
        {"4-byte real into 8-byte real", type::real4, {6, 4}, 1, type::real8, {6, 4}, real},
        {"8-byte real into 4-byte real", type::real8, {6, 4}, 1, type::real4, {6, 4}, real},
        {"types before sizes", type::int16, {6, 4}, 1, type::int16, {3, 4}, real},
        {"types before the radius", type::uint8, {6, 4}, -1, 0, {}, real},
        {"destination one row shorter", type::real8, {6, 4}, 1, type::real8, {6, 3}, kSize},
        {"1-D destination of a 2-D source", type::real4, {6, 4}, 1, type::real4, {24}, kSize},
        {"sizes before the radius", type::real4, {6, 4}, -2, type::real4, {6, 5}, kSize},
        {"most negative radius into a destination", type::real8, {6, 4}, kSmallestInt, type::real8, {6, 4}, kNegative},
    });
}

// Each accepted code is filtered as its own element type (one byte per
// binary pixel, unsigned); only the first plane, out of place.
TEST_F(Filters, MaximumOfEveryElementTypeAndRoute) {
    const auto maximum = [this]<class T>(std::int32_t code, std::vector<T> row) {
        const CallResult result = succeed("FMaximumFilter", {image(code, {row.size()}, row), 1, nullptr});
        EXPECT_EQ(result.image.data_type(), code);
        return result.image.pixels<T>();
    };
    EXPECT_EQ(maximum(type::uint16, std::vector<std::uint16_t>{40000, 5, 30000, 2}),
              (std::vector<std::uint16_t>{40000, 40000, 30000, 30000}));
    EXPECT_EQ(maximum(type::uint32, std::vector<std::uint32_t>{4000000000u, 5, 3000000000u, 2147483648u}),
              (std::vector<std::uint32_t>{4000000000u, 4000000000u, 3000000000u, 3000000000u}));
    EXPECT_EQ(maximum(type::binary, std::vector<std::uint8_t>{200, 0, 255, 17}),
              (std::vector<std::uint8_t>{200, 255, 255, 255}));

    const std::vector<std::int16_t> stack{1, 5, 2, 7, 8, 9};
    const Image source = image(type::int16, {3, 1, 2}, stack);
    EXPECT_EQ(succeed("FMaximumFilter", {source, 1, nullptr}).image.pixels<std::int16_t>(),
              (std::vector<std::int16_t>{5, 5, 5, 7, 8, 9}));
    const Image given = image(type::int16, {3, 1, 2}, std::vector<std::int16_t>(6, -3));
    const CallResult into = succeed("FMaximumFilter", {source, 1, given});
    EXPECT_TRUE(into.image.same_as(given));
    EXPECT_EQ(given.pixels<std::int16_t>(), (std::vector<std::int16_t>{5, 5, 5, -3, -3, -3}));
}

TEST_F(Filters, MaximumRefusals) {
    const char* image_type = "Invalid image type.";
    expect_errors("FMaximumFilter", {
        {"destination one column narrower", type::uint8, {6, 4}, 1, type::uint8, {5, 4}, kSize},
        {"sizes before types", type::real4, {6, 4}, 1, type::int16, {6, 3}, kSize},
        {"4-byte real into signed 16-bit", type::real4, {6, 4}, 1, type::int16, {6, 4}, image_type},
        {"RGB", type::rgb, {6, 4}, 1, 0, {}, image_type},
        {"types before the radius", type::int16, {6, 4}, -1, type::real4, {6, 4}, image_type},
    });
    // In place and negative radii are refused once the pixels are locked.
    expect_errors("FMaximumFilter", {
        {"in place", type::int32, {6, 4}, 1, -1, {}, kOutOfPlace},
        {"in place of one pixel", type::real4, {1, 1}, 0, -1, {}, kOutOfPlace},
        {"in place before the radius", type::uint16, {6, 4}, -1, -1, {}, kOutOfPlace},
        {"negative radius", type::uint32, {6, 4}, -1, 0, {}, "vector<T> too long"},
        {"most negative radius, given", type::real8, {6, 4}, kSmallestInt, type::real8, {6, 4}, "vector<T> too long"},
    }, true);
}

// Each order is a new image one column narrower, made from the one before,
// which is then given up; the first reads the source's first plane.
TEST_F(Filters, DiffHWorkedOrders) {
    const Image squares = image<float>(type::real4, {4}, {1, 4, 9, 16});
    const std::vector<std::vector<float>> want = {{3, 5, 7}, {2, 2}, {0}};
    for (std::int32_t n = 1; n <= 3; ++n) {
        const auto images = Host::object_counts().images;
        const CallResult result = succeed("FDiffH", {squares, n});
        ASSERT_TRUE(result.image);
        EXPECT_EQ(result.image.pixels<float>(), want[n - 1]) << "order " << n;
        EXPECT_EQ(result.image.sizes(), (std::vector<std::uint64_t>{std::uint64_t(4 - n), 1}));
        EXPECT_EQ(Host::object_counts().images, images + 1) << "an intermediate image was kept";
    }
    const Image stack = image<float>(type::real4, {3, 2, 2}, {1, 2, 4, 3, 7, 15, 0, 100, 0, 100, 0, 100});
    const CallResult first_plane = succeed("FDiffH", {stack, 1});
    EXPECT_EQ(first_plane.image.pixels<float>(), (std::vector<float>{1, 2, 4, 8}));
    EXPECT_EQ(first_plane.image.sizes(), (std::vector<std::uint64_t>{2, 2}));
    // Orders of 0 and below hand the source back, announced as changed.
    for (const std::int32_t n : {0, kSmallestInt}) {
        const auto images = Host::object_counts().images;
        const CallResult same = succeed("FDiffH", {squares, n});
        EXPECT_TRUE(same.image.same_as(squares));
        EXPECT_EQ(Host::object_counts().images, images);
    }
    EXPECT_EQ(squares.pixels<float>(), (std::vector<float>{1, 4, 9, 16}));
    EXPECT_EQ(squares.data_changed_count(), 2u);
}

TEST_F(Filters, DiffHRefusals) {
    const char* real4 = "Data type should be Real 4.";
    const char* too_high = "n should be less than the width of src.";
    const struct {
        std::int32_t code;
        std::vector<std::uint64_t> sizes;
        std::int32_t n;
        const char* message;
    } cases[] = {
        {type::real8, {5, 2}, 1, real4},       {type::complex8, {5, 2}, 0, real4},
        {type::uint8, {5, 2}, 9, real4},       {type::real4, {5, 2}, 5, too_high},
        {type::real4, {1, 7}, 1, too_high},    {type::real4, {5, 2, 3}, kLargestInt, too_high},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << c.code << ", order " << c.n);
        const Image source = patterned(c.code, c.sizes);
        fail("FDiffH", {source, c.n}, c.message);
        EXPECT_TRUE(source.lock_flags().empty());
    }
}

}  // namespace
}  // namespace zorvan::testing
