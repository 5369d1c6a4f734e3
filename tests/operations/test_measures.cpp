// The measurements through the host: what each frame reads and writes, the
// out-parameters on every path, and the messages in the order of the checks.

#include "tests/support/operation_cases.h"

#include <memory>

namespace zorvan::testing {
namespace {

enum Route { new_image, given_destination, in_place };
const char* const kSize = "Images of different size cannot appear in this function.";
const char* const kMode = "Invalid mode.";
const std::vector<std::uint32_t> kOneLock{1}, kTwoLocks{1, 1};

class Measures : public OperationTest {};

// Each code is read as its own element type; a stack is surveyed whole, of
// a 4-D image only the first block.
TEST_F(Measures, SurveyReadsEveryElementType) {
    const struct {
        const char* what;
        Image source;
        double min, max, sum;
    } cases[] = {
        {"signed 16-bit", image(type::int16, {3}, std::vector<std::int16_t>{-32768, 32767, -1}), -32768, 32767, -2},
        {"unsigned 8-bit", image(type::uint8, {3}, std::vector<std::uint8_t>{0, 255, 128}), 0, 255, 383},
        {"signed 32-bit", image(type::int32, {2}, std::vector<std::int32_t>{kSmallestInt, kLargestInt}),
         kSmallestInt, kLargestInt, -1},
        {"signed 8-bit", image(type::int8, {3}, std::vector<std::int8_t>{-128, 127, -1}), -128, 127, -2},
        {"unsigned 16-bit", image(type::uint16, {3}, std::vector<std::uint16_t>{65535, 0, 40000}), 0, 65535, 105535},
        {"unsigned 32-bit", image(type::uint32, {2}, std::vector<std::uint32_t>{4294967295u, 1}), 1, 4294967295.0,
         4294967296.0},
        {"a 3-D stack", image(type::real4, {3, 2, 2}, std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), 1,
         12, 78},
        {"a 4-D image", image(type::int32, {2, 2, 1, 3}, std::vector<std::int32_t>{1, 2, 3, 4, 9, 9, 9, 9, 5, 5, 5, 5}),
         1, 4, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Arg> args{c.source, Arg::out(), Arg::out(), Arg::out(), Arg::out()};
        succeed("FSurvey", args);
        EXPECT_EQ(args[1].number(), c.min);
        EXPECT_EQ(args[2].number(), c.max);
        EXPECT_EQ(args[3].number(), c.sum);
    }
    EXPECT_EQ(additions("SurveyDM"), std::size(cases)) << "the counter scripts read";
}

TEST_F(Measures, SurveyRefusesBinaryImages) {
    const Image binary = patterned(type::binary, {3});
    fail("FSurvey", {binary, Arg::out(1), Arg::out(2), Arg::out(3), Arg::out(4)}, "Invalid data type.");
}

// A new image "Radial Survey of <name>" of the source's type, a column per
// ring and five rows, from the first plane only.
TEST_F(Measures, RadialSurveyOfTheFirstPlane) {
    std::vector<float> planes(50, 1.0f);
    std::fill(planes.begin() + 25, planes.end(), 100.0f);
    Image source = image(type::real4, {5, 5, 2}, planes);
    source.set_name("ones");
    const CallResult result = succeed("FRadialSurvey", {source, 2, 2, 1.0, 1.0});
    ASSERT_TRUE(result.image);
    EXPECT_EQ(result.image.name(), "Radial Survey of ones");
    EXPECT_EQ(result.image.data_type(), type::real4);
    EXPECT_EQ(result.image.sizes(), (std::vector<std::uint64_t>{4, 5}));
    const std::vector<float> rows = result.image.pixels<float>();
    EXPECT_EQ(std::vector<float>(rows.begin() + 4, rows.begin() + 8), std::vector<float>(4, 1.0f)) << "maxima";
}

// Scales narrow to the image's precision before the rings are counted.
TEST_F(Measures, RadialSurveyRefusals) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const char* not_finite = "fScaleX and fScaleY should be finite.";
    const char* too_many = "The farthest radius is too large for a radial survey.";
    const struct {
        std::int32_t code;
        std::vector<std::uint64_t> sizes;
        std::int32_t cx, cy;
        double sx, sy;
        const char* message;
    } cases[] = {
        {type::int16, {4, 4}, 1, 1, nan, 1, "Data type should be Real."},
        {type::real4, {4, 4}, 1, 1, nan, 1, not_finite},
        {type::real8, {4, 4}, 1, 1, 1, -inf, not_finite},
        {type::real4, {4, 4}, 1, 1, 1, 1e300, not_finite},
        {type::real4, {2, 1}, 0, 0, 8388608.0, 1, too_many},
        {type::real4, {2, 2}, 0, 0, 3e38, 3e38, too_many},
        {type::real8, {2, 1}, 0, 0, 2147483646.0, 1, too_many},
        {type::real8, {2, 2}, kSmallestInt, 0, 1, 1, too_many},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "type " << c.code << ", scales " << c.sx << ", " << c.sy);
        fail("FRadialSurvey", {patterned(c.code, c.sizes), c.cx, c.cy, c.sx, c.sy}, c.message);
    }
    // Just inside the limits the survey asks the host for the wide result.
    host.set_allocation_limit(1 << 20);
    const char* too_large = "The image is too large to allocate.";
    fail("FRadialSurvey", {patterned(type::real4, {2, 1}), 0, 0, 8388607.0, 1.0}, too_large);
    fail("FRadialSurvey", {patterned(type::real8, {2, 1}), 0, 0, 2147483645.5, 1.0}, too_large);
}

struct Search {
    std::int64_t cycles;
    double x, y;
};

class CenterOfMass : public OperationTest {
protected:
    Search search(const Image& source, double x, double y, double radius, std::int32_t cycles) {
        const auto images = Host::object_counts().images;
        std::vector<Arg> args{source, Arg::out(x), Arg::out(y), radius, cycles, 0.0};
        const CallResult result = succeed("FGetCenterOfMass", args);
        EXPECT_EQ(Host::object_counts().images, images) << "a converted copy was kept";
        EXPECT_EQ(source.data_changed_count(), 0u);
        return {result.number, args[1].number(), args[2].number()};
    }
    template <class T>
    Image spot(std::int32_t code) {
        std::vector<T> pixels(32 * 32, T(0));
        pixels[12 * 32 + 10] = T(1);
        return image(code, {32, 32}, pixels);
    }
};

// Integer images are searched on a 4-byte real copy; the caller's image
// keeps its type and pixels and is never locked.
TEST_F(CenterOfMass, SearchesRealImagesAndConvertedCopiesOfIntegerOnes) {
    const Image sources[] = {
        spot<float>(type::real4),         spot<double>(type::real8),        spot<std::int16_t>(type::int16),
        spot<std::uint8_t>(type::uint8),  spot<std::int32_t>(type::int32),  spot<std::int8_t>(type::int8),
        spot<std::uint16_t>(type::uint16), spot<std::uint32_t>(type::uint32), spot<std::uint8_t>(type::binary),
    };
    for (const Image& source : sources) {
        SCOPED_TRACE(::testing::Message() << "type " << source.data_type());
        const auto bytes = source.bytes();
        const Search got = search(source, 11, 11, 3, 10);
        EXPECT_EQ(got.cycles, 2);
        EXPECT_EQ(got.x, 10);
        EXPECT_EQ(got.y, 12);
        EXPECT_EQ(source.bytes(), bytes);
        const bool real = source.data_type() == type::real4 || source.data_type() == type::real8;
        EXPECT_EQ(source.lock_flags(), real ? kOneLock : std::vector<std::uint32_t>{}) << "only the copy is locked";
    }
}

// A float search narrows its start and always writes the position back (the start
// when nothing was found); a double search only when found; a refusal never.
TEST_F(CenterOfMass, OutArgumentsOnEveryPath) {
    const double nan = std::nan(""), x = 2.3, y = 7.7;
    const Image in_float = spot<float>(type::real4), in_double = spot<double>(type::real8);
    const struct {
        const char* what;
        const Image& source;
        double radius, start_x;
        std::int32_t cycles;
        double want_x, want_y;
    } cases[] = {
        {"float, not found", in_float, 3, x, 10, double(float(x)), double(float(y))},
        {"float, NaN radius", in_float, nan, x, 10, double(float(x)), double(float(y))},
        {"float, NaN start", in_float, 3, nan, 10, nan, double(float(y))},
        {"double, no budget", in_double, 3, x, 0, x, y},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Search got = search(c.source, c.start_x, y, c.radius, c.cycles);
        EXPECT_EQ(got.cycles, 0);
        EXPECT_TRUE(same_value(got.x, c.want_x)) << got.x;
        EXPECT_TRUE(same_bits(got.y, c.want_y)) << got.y;
    }
    for (const std::int32_t code : {type::complex16, type::rgb, type::packed_complex}) {
        fail("FGetCenterOfMass", {patterned(code, {8, 8}), Arg::out(4.25), Arg::out(-3.5), 2.0, 10, 0.0},
             "imgSrc should be Real.");
    }
}

// On one column (or one row) the forced axis's start is never a bound: a NaN
// there leaves the disc empty, the centre jumps to the window's corner and
// settles; on the searched axis it is outside the image.
TEST_F(CenterOfMass, NonFiniteStartOnTheForcedAxisStillSearches) {
    const double nan = std::nan("");
    const Image columns[] = {image(type::real4, {1, 12}, std::vector<float>(12, 1)),
                             image(type::real8, {1, 12}, std::vector<double>(12, 1))};
    const Image rows[] = {image(type::real4, {12, 1}, std::vector<float>(12, 1)),
                          image(type::real8, {12, 1}, std::vector<double>(12, 1))};
    for (int precision = 0; precision < 2; ++precision) {
        const Image& column = columns[precision];
        const Image& row = rows[precision];
        const Search down = search(column, nan, 6, 2, 3);
        EXPECT_EQ(down.cycles, 2);
        EXPECT_EQ(down.x, 0);
        EXPECT_EQ(down.y, 4);
        const Search across = search(row, 6, -std::numeric_limits<double>::infinity(), 2, 3);
        EXPECT_EQ(across.cycles, 2);
        EXPECT_EQ(across.x, 4);
        EXPECT_EQ(across.y, 0);
        EXPECT_EQ(search(row, nan, 0, 2, 3).cycles, 0);
    }
}

// The table is every float of its image, whatever the shape: a 3 x 2 table
// is six weights in storage order.
TEST_F(Measures, WeightTableIsEveryFloatOfItsImage) {
    const Image table = image(type::real4, {3, 2}, std::vector<float>{10, 20, 40, 80, 160, 320});
    const Image source = image(type::real4, {8}, std::vector<float>(8, 1.0f));
    // Radii 0, 0.75, ... 5.25: the last past the last index, 5.
    EXPECT_EQ(succeed("FWeight", {source, table, 0, 0, 0.75f, 0.75f, 3, nullptr}).image.pixels<float>(),
              (std::vector<float>{10, 17.5f, 30, 50, 80, 140, 240, 320}));
}

// Only the first plane is weighted; later planes are the clone's or the given
// destination's. Mode 3 replaces a pixel by the one entry w, (w, 0) if complex.
TEST_F(Measures, WeightRoutes) {
    const Image table = image(type::real4, {1}, std::vector<float>{-2.5f});
    for (const std::int32_t code : {type::real4, type::complex8})
        for (const Route route : {new_image, given_destination, in_place}) {
            SCOPED_TRACE(::testing::Message() << "type " << code << ", route " << route);
            const std::size_t parts = code == type::real4 ? 1 : 2;
            const Image source = image(code, {2, 2, 2}, std::vector<float>(8 * parts, 4.0f));
            const Image given = image(code, {2, 2, 2}, std::vector<float>(8 * parts, 9.0f));
            const Arg destination = route == in_place ? source : route == new_image ? Image() : given;
            const CallResult result = succeed("FWeight", {source, table, 0, 0, 1.0f, 1.0f, 3, destination});
            ASSERT_TRUE(result.image);
            EXPECT_EQ(result.image.same_as(source), route == in_place);
            EXPECT_EQ(result.image.same_as(given), route == given_destination);
            EXPECT_EQ(source.lock_flags(), route == in_place ? kTwoLocks : kOneLock);
            std::vector<float> want(8 * parts, route == given_destination ? 9.0f : 4.0f);
            for (std::size_t i = 0; i < 4 * parts; ++i) want[i] = i % parts ? 0.0f : -2.5f;
            EXPECT_EQ(result.image.pixels<float>(), want);
        }
}

TEST_F(Measures, WeightRefusals) {
    const char* source_type = "imgSrc should be Real 4 or Complex 8.";
    const char* same_type = "Data type of imgSrc and imgDst are should be same.";
    const char* table_type = "imgW should be Real 4.";
    const struct {
        std::int32_t source_type, destination_type;  // 0: no destination
        std::vector<std::uint64_t> destination_sizes;
        std::int32_t table_type, mode;
        const char* message;
    } cases[] = {
        {type::complex16, 0, {}, type::real4, 0, source_type},
        {type::uint8, 0, {}, type::real4, 9, source_type},
        {type::real4, type::real8, {6, 4}, type::real4, 0, same_type},
        {type::complex8, type::real4, {6, 4}, type::real4, 0, same_type},
        {type::real4, type::real4, {5, 4}, type::complex8, 0, table_type},
        {type::complex8, type::complex8, {6, 5}, type::real4, 0, kSize},
        {type::real4, type::real4, {6, 3}, type::real4, 4, kSize},
        {type::real4, 0, {}, type::real4, 4, kMode},
        {type::complex8, type::complex8, {6, 4}, type::real4, kSmallestInt, kMode},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "types " << c.source_type << ", " << c.destination_type << ", "
                                          << c.table_type << ", mode " << c.mode);
        const Image source = patterned(c.source_type, {6, 4}, 3);
        const Image destination = c.destination_type ? patterned(c.destination_type, c.destination_sizes, 8) : Image();
        fail("FWeight", {source, patterned(c.table_type, {5}), 1, 1, 1.0f, 1.0f, c.mode, destination}, c.message);
        EXPECT_TRUE(source.lock_flags().empty() && destination.lock_flags().empty()) << "locked before the checks";
    }
}

// Only the first plane is windowed, as a 2-D call on it alone would window
// it; later planes are the clone's copy or what the destination held.
TEST_F(Measures, WindowRoutes) {
    const std::vector<float> ones(6 * 4, 1.0f);
    for (const std::int32_t mode : {0, 1}) {
        const std::vector<float> plane =
            succeed("FFTWindow", {image(type::real4, {6, 4}, ones), mode, nullptr}).image.pixels<float>();
        for (const Route route : {new_image, given_destination, in_place}) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode << ", route " << route);
            const Image source = image(type::real4, {6, 4, 2}, std::vector<float>(48, 1.0f));
            const Image given = image(type::real4, {6, 4, 2}, std::vector<float>(48, 5.5f));
            const Arg destination = route == in_place ? source : route == new_image ? Image() : given;
            const CallResult result = succeed("FFTWindow", {source, mode, destination});
            ASSERT_TRUE(result.image);
            EXPECT_EQ(result.image.same_as(source), route == in_place);
            EXPECT_EQ(result.image.same_as(given), route == given_destination);
            std::vector<float> want = plane;
            want.resize(48, route == given_destination ? 5.5f : 1.0f);
            EXPECT_EQ(result.image.pixels<float>(), want);
        }
    }
}

TEST_F(Measures, WindowRefusals) {
    const char* real4 = "All data type should be Real 4.";
    expect_errors("FFTWindow", {
        {"8-byte real source", type::real8, {6, 4}, 0, 0, {}, real4},
        {"signed 16-bit source and destination", type::int16, {6, 4}, 0, type::int16, {6, 4}, real4},
        {"8-byte real destination", type::real4, {6, 4}, 0, type::real8, {6, 4}, real4},
        {"the type before the size and mode", type::real4, {6, 4}, 7, type::complex8, {5, 4}, real4},
        {"destination one column narrower", type::real4, {6, 4}, 0, type::real4, {5, 4}, kSize},
        {"the size before the mode", type::real4, {6, 4}, 2, type::real4, {6, 3}, kSize},
        {"mode 2", type::real4, {6, 4}, 2, 0, {}, kMode},
        {"mode -1 into a destination", type::real4, {6, 4}, -1, type::real4, {6, 4}, kMode},
    }, true);
    // A plane of 2^31 pixels over memory the host does not own, never read:
    // refused after the mode.
    host.set_allocation_limit(std::uint64_t{1} << 40);
    auto backing = std::make_shared<std::vector<float>>(16, 1.0f);
    const Image huge = host.wrap_image(type::real4, {65536, 32768}, backing->data(), backing);
    fail("FFTWindow", {huge, 3, huge}, kMode);
    fail("FFTWindow", {huge, 0, huge}, "imgSrc should have fewer than 2147483648 pixels in a plane.");
    EXPECT_EQ(*backing, std::vector<float>(16, 1.0f));
}

}  // namespace
}  // namespace zorvan::testing
