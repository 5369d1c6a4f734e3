// FRadialSurvey called through the host application: the worked 5 x 5
// survey, random planes of both real types against a reference that repeats
// the order of arithmetic, the result's name, type and size, and the
// refusals of other types and of scales whose rings cannot be counted.

#include "tests/support/plugin_test.h"

#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace zorvan::testing {
namespace {

namespace type = host::data_type;

constexpr const char* kCounter = "RadialSurveyDM";
const std::string kNotReal = "Data type should be Real.";
const std::string kNotFinite = "fScaleX and fScaleY should be finite.";
const std::string kTooManyRings = "The farthest radius is too large for a radial survey.";

// The survey in P as the rings are defined: radius from the double hypot of
// products in P, rounded to P; sums in P in storage order; finish in double.
// Returns the 5 rows of n rings, row after row.
template <class P>
std::vector<P> reference_survey(const std::vector<P>& pixels, std::int64_t nx, std::int64_t ny, std::int64_t cx,
                                std::int64_t cy, P sx, P sy) {
    const auto radius = [&](std::int64_t u, std::int64_t v) {
        const P a = sx * P(u), b = sy * P(v);
        return P(std::hypot(double(a), double(b)));
    };
    const P far = radius(std::max(nx - 1 - cx, cx), std::max(ny - 1 - cy, cy));
    const auto n = std::int64_t(std::ceil(far) + P(1));
    const auto m = std::int64_t(far + P(0.5)) + 1;
    std::vector<P> lo(n, std::numeric_limits<P>::max()), hi(n, -std::numeric_limits<P>::max()), w(n, 0), s(n, 0),
        q(n, 0);
    for (std::int64_t i = m; i < n; ++i) lo[i] = hi[i] = 0;
    for (std::int64_t y = 0; y < ny; ++y) {
        for (std::int64_t x = 0; x < nx; ++x) {
            const P p = pixels[std::size_t(y * nx + x)];
            const P r = radius(x - cx, y - cy);
            const auto k = std::int64_t(r + P(0.5));
            const auto i0 = std::int64_t(r);
            const P f = r - P(i0), g = P(1) - f;
            if (p < lo[k]) lo[k] = p;
            if (p > hi[k]) hi[k] = p;
            w[i0] += g;
            s[i0] += p * g;
            q[i0] += p * p * g;
            if (i0 + 1 < n) {
                w[i0 + 1] += f;
                s[i0 + 1] += p * f;
                q[i0 + 1] += p * p * f;
            }
        }
    }
    std::vector<P> rows;
    for (const auto* row : {&lo, &hi, &w}) rows.insert(rows.end(), row->begin(), row->end());
    std::vector<P> mean(n), deviation(n);
    for (std::int64_t i = 0; i < n; ++i) {
        const double wd = w[i], sd = s[i], qd = q[i];
        const double mu = wd > 0 ? sd / wd : 0.0;
        double d = qd - mu * mu * wd;
        if (d < 0) d = 0;
        mean[i] = P(mu);
        deviation[i] = P(std::sqrt(d / (wd > 1 ? wd - 1 : wd)));
    }
    rows.insert(rows.end(), mean.begin(), mean.end());
    rows.insert(rows.end(), deviation.begin(), deviation.end());
    return rows;
}

class RadialSurvey : public PluginTest {
protected:
    // Surveys `source` and checks what every successful survey must do.
    Image survey(const Image& source, std::int32_t cx, std::int32_t cy, double sx, double sy) {
        const auto bytes = source.bytes();
        const auto calls = additions(kCounter);
        const CallResult result = host.call("FRadialSurvey", {source, cx, cy, sx, sy});
        EXPECT_TRUE(result.ok()) << result.error->message;
        EXPECT_EQ(result.raised, 0);
        EXPECT_EQ(additions(kCounter), calls + 1);
        EXPECT_EQ(source.bytes(), bytes);
        EXPECT_EQ(source.data_changed_count(), 0u);
        EXPECT_EQ(source.lock_flags(), std::vector<std::uint32_t>{1});
        if (!result.image) return Image();
        EXPECT_EQ(result.image.data_type(), source.data_type());
        EXPECT_EQ(result.image.size(1), 5u);
        EXPECT_EQ(result.image.name(), "Radial Survey of " + source.name());
        EXPECT_EQ(result.image.data_changed_count(), 1u);
        EXPECT_EQ(result.image.lock_flags(), std::vector<std::uint32_t>{1});
        EXPECT_EQ(result.image.active_locks(), 0);
        return result.image;
    }

    template <class P>
    void expect_reference(std::int32_t code, const std::vector<std::uint64_t>& sizes, const std::vector<P>& pixels,
                          std::int32_t cx, std::int32_t cy, double sx, double sy) {
        Image source = image(code, sizes, pixels);
        source.set_name("plane");
        const Image result = survey(source, cx, cy, sx, sy);
        ASSERT_TRUE(result);
        const std::int64_t ny = sizes.size() > 1 ? std::int64_t(sizes[1]) : 1;
        const auto want = reference_survey<P>(pixels, std::int64_t(sizes[0]), ny, cx, cy, P(sx), P(sy));
        const auto got = result.pixels<P>();
        ASSERT_EQ(got.size(), want.size());
        EXPECT_EQ(result.size(0) * 5, want.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            ASSERT_TRUE(same_bits(got[i], want[i])) << "row " << i / result.size(0) << ", ring " << i % result.size(0)
                                                    << ": " << got[i] << " vs " << want[i];
        }
    }
};

TEST_F(RadialSurvey, FiveByFiveOnesOfBothTypes) {
    for (const std::int32_t code : {type::real4, type::real8}) {
        SCOPED_TRACE(::testing::Message() << "type " << code);
        Image source = code == type::real4 ? image(code, {5, 5}, std::vector<float>(25, 1.0f))
                                           : image(code, {5, 5}, std::vector<double>(25, 1.0));
        source.set_name("ones");
        const Image result = survey(source, 2, 2, 1.0, 1.0);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.name(), "Radial Survey of ones");
        EXPECT_EQ(result.sizes(), (std::vector<std::uint64_t>{4, 5}));
        std::vector<double> values;
        if (code == type::real4) {
            for (float v : result.pixels<float>()) values.push_back(v);
        } else {
            values = result.pixels<double>();
        }
        const double weights[] = {1, 6.343, 12.455, 5.202};
        for (std::size_t ring = 0; ring < 4; ++ring) {
            EXPECT_EQ(values[ring], 1.0) << "minimum";
            EXPECT_EQ(values[4 + ring], 1.0) << "maximum";
            EXPECT_NEAR(values[8 + ring], weights[ring], 1e-3) << "weight";
            EXPECT_NEAR(values[12 + ring], 1.0, 1e-6) << "mean";
            EXPECT_EQ(values[16 + ring], 0.0) << "deviation";
        }
    }
}

TEST_F(RadialSurvey, RandomPlanesMatchTheReferenceBitForBit) {
    struct Geometry {
        const char* what;
        std::vector<std::uint64_t> sizes;
        std::int32_t cx, cy;
        double sx, sy;
    };
    const Geometry geometries[] = {
        {"centred, unit scales", {9, 7}, 4, 3, 1.0, 1.0},
        {"scales that float rounds", {8, 6}, 2, 5, 0.1, 0.7},
        {"unequal and negative scales", {7, 7}, 1, 1, -1.3, 0.45},
        {"centre left of and below the plane", {6, 5}, -3, 9, 1.0, 0.5},
        {"centre far outside", {5, 4}, 40, -25, 0.25, 0.25},
        {"zero scales", {4, 3}, 1, 1, 0.0, 0.0},
        {"a single row", {11}, 5, 0, 1.5, 1.0},
        {"of a 3-D stack only the first plane", {5, 4, 3}, 2, 1, 0.8, 1.1},
    };
    std::mt19937 rng(515);
    std::uniform_real_distribution<double> value(-50.0, 50.0);
    for (const Geometry& g : geometries) {
        SCOPED_TRACE(g.what);
        std::uint64_t count = 1;
        for (auto size : g.sizes) count *= size;
        std::vector<double> values(count);
        for (double& v : values) v = value(rng);
        {
            SCOPED_TRACE("4-byte real");
            expect_reference<float>(type::real4, g.sizes, std::vector<float>(values.begin(), values.end()), g.cx, g.cy,
                                    g.sx, g.sy);
        }
        {
            SCOPED_TRACE("8-byte real");
            expect_reference<double>(type::real8, g.sizes, values, g.cx, g.cy, g.sx, g.sy);
        }
    }
}

TEST_F(RadialSurvey, RefusesOtherTypesAndUncountableRings) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* what;
        std::int32_t code;
        std::vector<std::uint64_t> sizes;
        std::int32_t cx, cy;
        double sx, sy;
        const std::string& message;
    };
    const Case cases[] = {
        {"signed 16-bit", type::int16, {4, 4}, 1, 1, 1, 1, kNotReal},
        {"unsigned 8-bit", type::uint8, {4, 4}, 1, 1, 1, 1, kNotReal},
        {"signed 32-bit", type::int32, {4, 4}, 1, 1, 1, 1, kNotReal},
        {"complex of 4-byte reals", type::complex8, {4, 4}, 1, 1, 1, 1, kNotReal},
        {"complex of 8-byte reals", type::complex16, {4, 4}, 1, 1, 1, 1, kNotReal},
        {"RGB", type::rgb, {4, 4}, 1, 1, 1, 1, kNotReal},
        {"the type comes before the scales", type::int16, {4, 4}, 1, 1, nan, 1, kNotReal},
        {"NaN x scale", type::real4, {4, 4}, 1, 1, nan, 1, kNotFinite},
        {"infinite y scale", type::real8, {4, 4}, 1, 1, 1, -inf, kNotFinite},
        {"a double scale that float cannot hold", type::real4, {4, 4}, 1, 1, 1e300, 1, kNotFinite},
        {"a farthest radius of 2^23 in float", type::real4, {2, 1}, 0, 0, 8388608.0, 1, kTooManyRings},
        {"a product that overflows float", type::real4, {2, 2}, 0, 0, 3e38, 3e38, kTooManyRings},
        {"a farthest radius of 2^31 - 2 in double", type::real8, {2, 1}, 0, 0, 2147483646.0, 1, kTooManyRings},
        {"a centre 2^31 away in double", type::real8, {2, 2}, std::numeric_limits<std::int32_t>::min(), 0, 1, 1,
         kTooManyRings},
        {"a product that overflows double", type::real8, {2, 2}, 0, 0, 1e308, 1e308, kTooManyRings},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Image source = host.make_image(c.code, c.sizes);
        const auto images = Host::object_counts().images;
        const auto calls = additions(kCounter);
        const CallResult result = host.call("FRadialSurvey", {source, c.cx, c.cy, c.sx, c.sy});
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error->message, c.message);
        EXPECT_EQ(result.raised, 1);
        EXPECT_FALSE(result.image);
        EXPECT_EQ(additions(kCounter), calls + 1);
        EXPECT_EQ(Host::object_counts().images, images) << "nothing is created";
        EXPECT_EQ(source.data_changed_count(), 0u);
    }
}

// Just inside the limits the survey goes ahead and asks the host for the
// wide result, which a small allocation limit then refuses.
TEST_F(RadialSurvey, TheLargestCountableRingsReachTheHost) {
    host.set_allocation_limit(1 << 20);
    struct Case {
        std::int32_t code;
        double scale;
    };
    for (const Case& c : {Case{type::real4, 8388607.0}, Case{type::real8, 2147483645.5}}) {
        SCOPED_TRACE(::testing::Message() << "type " << c.code);
        const Image source = host.make_image(c.code, {2, 1});
        const CallResult result = host.call("FRadialSurvey", {source, 0, 0, c.scale, 1.0});
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error->message, "The image is too large to allocate.");
    }
}

}  // namespace
}  // namespace zorvan::testing
