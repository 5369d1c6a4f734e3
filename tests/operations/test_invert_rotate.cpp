// FInvertRotateDLL through the host application: the reflection through the
// centre pixel by the parity of each size, on a clone of a real image.

#include "tests/support/fourier.h"

namespace zorvan::testing {
namespace {

using namespace fourier;

constexpr const char* kName = "FInvertRotateDLL";
constexpr const char* kCounter = "InvertRotateDM";

// The mapping table by parity: the source position whose value the result
// takes at (x, y); element (0, 0) keeps its value unless both sizes are odd.
template <class F>
std::vector<F> reflected(const std::vector<F>& s, std::uint64_t w, std::uint64_t h) {
    std::vector<F> r(s);
    const auto at = [&](std::uint64_t x, std::uint64_t y) { return s[y * w + x]; };
    for (std::uint64_t y = 0; y < h; ++y) {
        for (std::uint64_t x = 0; x < w; ++x) {
            F& out = r[y * w + x];
            const bool even_w = w % 2 == 0, even_h = h % 2 == 0;
            if (even_w && x == 0) {
                if (y > 0) out = at(0, h - y);
            } else if (even_h && y == 0) {
                if (x > 0) out = at(w - x, 0);
            } else {
                out = at(even_w ? w - x : w - 1 - x, even_h ? h - y : h - 1 - y);
            }
        }
    }
    return r;
}

class InvertRotate : public PluginTest {
protected:
    template <class F>
    std::vector<F> rotate(const std::vector<F>& values, const std::vector<std::uint64_t>& sizes, std::int32_t code) {
        const Image source = image(code, sizes, values);
        const auto images = Host::object_counts().images;
        const auto calls = additions(kCounter);
        const CallResult result = host.call(kName, {source});
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(additions(kCounter), calls + 1);
        if (!result.image) {
            ADD_FAILURE() << "no image";
            return {};
        }
        EXPECT_EQ(Host::object_counts().images, images + 1);
        EXPECT_FALSE(result.image.same_as(source));
        EXPECT_EQ(result.image.data_type(), code);
        EXPECT_EQ(result.image.sizes(), sizes);
        EXPECT_EQ(result.image.data_changed_count(), 1u);
        EXPECT_EQ(result.image.lock_flags(), std::vector<std::uint32_t>{1});
        EXPECT_EQ(source.lock_flags(), std::vector<std::uint32_t>{1});
        EXPECT_EQ(source.data_changed_count(), 0u);
        EXPECT_EQ(result.image.active_locks() + source.active_locks(), 0);
        EXPECT_TRUE(same_values(source.pixels<F>(), values)) << "the source changed";
        return result.image.pixels<F>();
    }
};

TEST_F(InvertRotate, WorkedSizesFollowTheParityOfEachDimension) {
    struct Case {
        std::uint64_t w, h;
        std::vector<double> want;  // of the source 0, 1, 2, ... in row order
    };
    const Case cases[] = {
        // (x, y) -> ((4 - x) mod 4, (4 - y) mod 4)
        {4, 4, {0, 3, 2, 1, 12, 15, 14, 13, 8, 11, 10, 9, 4, 7, 6, 5}},
        {3, 3, {8, 7, 6, 5, 4, 3, 2, 1, 0}},
        // w even, h odd: column 0 by y -> 3 - y, R(1, 0) = S(3, 2)
        {4, 3, {0, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}},
        // w odd, h even: row 0 by x -> 3 - x, the rest rotated on the odd width
        {3, 4, {0, 2, 1, 11, 10, 9, 8, 7, 6, 5, 4, 3}},
        {1, 1, {0}},
        {2, 1, {0, 1}},
        {1, 2, {0, 1}},
        {5, 1, {4, 3, 2, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.w << " x " << c.h);
        std::vector<double> source(c.w * c.h);
        for (std::size_t i = 0; i < source.size(); ++i) source[i] = double(i);
        EXPECT_EQ(reflected(source, c.w, c.h), c.want) << "the reference";
        EXPECT_EQ(rotate(source, {c.w, c.h}, type::real8), c.want);
        const std::vector<float> single(source.begin(), source.end());
        EXPECT_EQ(rotate(single, {c.w, c.h}, type::real4), std::vector<float>(c.want.begin(), c.want.end()));
    }
}

TEST_F(InvertRotate, TwiceGivesTheSourceBackAndOneOrTwoThreadsAgree) {
    std::mt19937 rng(2);
    for (const auto& size : std::vector<std::pair<std::uint64_t, std::uint64_t>>{
             {2, 2}, {6, 7}, {7, 6}, {9, 9}, {1, 8}, {8, 1}, {130, 257}, {257, 130}}) {
        const std::uint64_t w = size.first, h = size.second;
        SCOPED_TRACE(::testing::Message() << w << " x " << h);
        const auto values = random_values<float>(w * h, rng);
        const auto once = with_threads(1, [&] { return rotate(values, {w, h}, type::real4); });
        EXPECT_TRUE(same_values(once, reflected(values, w, h)));
        EXPECT_TRUE(same_values(with_threads(2, [&] { return rotate(values, {w, h}, type::real4); }), once));
        EXPECT_TRUE(same_values(rotate(once, {w, h}, type::real4), values));
        const std::vector<double> wide(values.begin(), values.end());
        EXPECT_TRUE(same_values(rotate(rotate(wide, {w, h}, type::real8), {w, h}, type::real8), wide));
    }
}

// Only the first plane enters; the clone keeps the later planes.
TEST_F(InvertRotate, ThreeDimensionalSourceReflectsItsFirstPlaneOnly) {
    std::vector<double> values(4 * 3 * 2);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = double(i);
    const auto got = rotate(values, {4, 3, 2}, type::real8);
    ASSERT_EQ(got.size(), values.size());
    const std::vector<double> first(values.begin(), values.begin() + 12);
    EXPECT_EQ(std::vector<double>(got.begin(), got.begin() + 12), reflected(first, 4, 3));
    EXPECT_EQ(std::vector<double>(got.begin() + 12, got.end()), std::vector<double>(values.begin() + 12, values.end()));
}

TEST_F(InvertRotate, RefusesComplexIntegerAndOversizedImagesSilently) {
    for (const std::int32_t code : {type::complex8, type::complex16, type::int16, type::uint8, type::int32,
                                    type::uint32, type::binary}) {
        SCOPED_TRACE(::testing::Message() << "type " << code);
        const Image source = host.make_image(code, {4, 4});
        const Before before{kCounter};
        expect_refusal(host.call(kName, {source}), before);
        EXPECT_TRUE(source.lock_flags().empty());
    }
    const Image huge = reserved_image(host, type::real4, kBeyondInt32);
    if (!huge) GTEST_SKIP() << "cannot reserve the address space";
    const Before before{kCounter};
    expect_refusal(host.call(kName, {huge}), before);
    EXPECT_TRUE(huge.lock_flags().empty());
}

TEST_F(InvertRotate, AnExceptionReturnsNullWithoutACounterAndLeavesNothing) {
    const Image source = host.make_image(type::real4, {64, 64});
    host.set_allocation_limit(64 * 64 * 4 - 1);  // no new image of the source's size
    const Before before{kCounter};
    expect_exception(host.call(kName, {source}), before);
    EXPECT_EQ(source.active_locks(), 0);
    expect_exception(host.call(kName, {nullptr}), before);
}

}  // namespace
}  // namespace zorvan::testing
