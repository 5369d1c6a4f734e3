// FRadialWarpDLL through the host application: a profile spread over a new
// image at the elliptically scaled distance from (w div 2, h div 2),
// interpolated linearly, falling to 0 at the profile's length.

#include "tests/support/fourier.h"

#include <unistd.h>

#include <limits>

namespace zorvan::testing {
namespace {

using namespace fourier;

constexpr const char* kName = "FRadialWarpDLL";
constexpr const char* kCounter = "RadialWarpDM";

// Step by step in double; samples from n on are 0.
template <class F>
std::vector<F> warped(const std::vector<F>& p, std::uint64_t w, std::uint64_t h, double ax, double ay) {
    std::vector<F> out(w * h);
    const double n = double(p.size());
    const auto sample = [&](std::int64_t k) { return k < std::int64_t(p.size()) ? double(p[k]) : 0.0; };
    for (std::uint64_t y = 0; y < h; ++y) {
        for (std::uint64_t x = 0; x < w; ++x) {
            const double dx = (double(x) - double(w / 2)) * ax;
            const double dy = (double(y) - double(h / 2)) * ay;
            const double r = std::sqrt(dx * dx + dy * dy);
            double value = 0;
            if (r <= n) {
                const std::int64_t i = std::int64_t(std::floor(r));
                const double f = r - double(i);
                value = sample(i) * (1 - f) + sample(i + 1) * f;
            }
            out[y * w + x] = F(value);
        }
    }
    return out;
}

class RadialWarp : public PluginTest {
protected:
    template <class F>
    std::vector<F> warp(const Image& size_source, const Image& profile, double ax, double ay) {
        const Before before{kCounter};
        const std::size_t profile_locks = profile.lock_flags().size();
        const CallResult result = host.call(kName, {size_source, profile, ax, ay});
        EXPECT_TRUE(result.ok());
        EXPECT_EQ(counter_additions(kCounter), before.additions + 1);
        if (!result.image) {
            ADD_FAILURE() << "no image";
            return {};
        }
        EXPECT_EQ(Host::object_counts().images, before.images + 1);
        EXPECT_EQ(result.image.data_type(), sizeof(F) == 4 ? type::real4 : type::real8);
        EXPECT_EQ(result.image.sizes(), (std::vector<std::uint64_t>{size_source.size(0), size_source.size(1)}));
        EXPECT_EQ(result.image.name(), "");
        EXPECT_EQ(result.image.data_changed_count(), 1u);
        EXPECT_EQ(result.image.lock_flags(), std::vector<std::uint32_t>{1});
        EXPECT_EQ(profile.lock_flags().size(), profile_locks + 1);
        EXPECT_EQ(profile.lock_flags().back(), 1u);
        EXPECT_TRUE(size_source.lock_flags().empty()) << "the size image's data was touched";
        EXPECT_EQ(profile.data_changed_count(), 0u);
        EXPECT_EQ(result.image.active_locks() + profile.active_locks(), 0);
        return result.image.pixels<F>();
    }
};

TEST_F(RadialWarp, WorkedPixelsOfTheFiveByFiveExample) {
    const std::vector<double> p = {8, 4, 2};
    const auto got = warp<double>(host.make_image(type::real4, {5, 5}), image(type::real8, {3}, p), 1.0, 1.0);
    ASSERT_EQ(got.size(), 25u);
    EXPECT_EQ(got[2 * 5 + 2], 8.0);                  // the centre takes P[0]
    EXPECT_EQ(got[2 * 5 + 4], 2.0);                  // r = 2
    EXPECT_EQ(got[2 * 5 + 3], 4.0);                  // r = 1
    EXPECT_EQ(got[4 * 5 + 4], 2.0 * (1 - (std::sqrt(8.0) - 2)));  // between n - 1 and n: towards 0
    EXPECT_NEAR(got[4 * 5 + 4], 0.1716 * 2, 1e-4);
    EXPECT_EQ(got[0], 2.0 * (1 - (std::sqrt(8.0) - 2)));          // (0, 0) is at r = 2.83 too
    EXPECT_EQ(got, warped(p, 5, 5, 1.0, 1.0));
    // The corner of a 9 x 9 image is at r = 5.66 > 3.
    const auto large = warp<double>(host.make_image(type::uint8, {9, 9}), image(type::real8, {3}, p), 1.0, 1.0);
    ASSERT_EQ(large.size(), 81u);
    EXPECT_EQ(large[0], 0.0);
    EXPECT_EQ(large[4 * 9 + 4], 8.0);
}

TEST_F(RadialWarp, MatchesTheReferenceForEachProfilePrecisionAndAspect) {
    std::mt19937 rng(3);
    struct Case {
        std::uint64_t w, h, n;
        double ax, ay;
    };
    const Case cases[] = {
        {4, 4, 3, 1.0, 1.0},     // centre (2, 2), not (1.5, 1.5)
        {17, 12, 9, 0.7, 1.3},   // elliptic
        {17, 12, 9, -0.7, -1.3}, // negative aspects act as their absolute values
        {16, 9, 6, 0.0, 1.0},    // aspectX = 0: a function of y only
        {1, 1, 1, 2.0, 2.0},
        {301, 97, 40, 0.25, 0.5},
        {8, 8, 2, 1e300, 1e300}, // overflowing radii are beyond the profile
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.w << " x " << c.h << ", n " << c.n << ", aspects " << c.ax << ", " << c.ay);
        const auto single = random_values<float>(c.n, rng);
        const std::vector<double> dual(single.begin(), single.end());
        const Image size_source = host.make_image(type::complex8, {c.w, c.h});
        const Image single_profile = image(type::real4, {c.n}, single);
        const auto got_single = with_threads(1, [&] { return warp<float>(size_source, single_profile, c.ax, c.ay); });
        EXPECT_TRUE(same_values(got_single, warped(single, c.w, c.h, c.ax, c.ay)));
        EXPECT_TRUE(same_values(with_threads(2, [&] { return warp<float>(size_source, single_profile, c.ax, c.ay); }),
                                got_single));
        const auto got_dual = warp<double>(size_source, image(type::real8, {c.n}, dual), c.ax, c.ay);
        EXPECT_TRUE(same_values(got_dual, warped(dual, c.w, c.h, c.ax, c.ay)));
        if (c.ax == 0.0) {
            for (std::uint64_t y = 0; y < c.h; ++y)
                for (std::uint64_t x = 1; x < c.w; ++x) EXPECT_EQ(got_dual[y * c.w + x], got_dual[y * c.w]);
        }
    }
}

// The profile ends right before a page that cannot be read: samples at n
// and beyond count as 0 without being read. Its second row is not used.
TEST_F(RadialWarp, ReadsNoSampleAtOrBeyondTheProfileLength) {
    const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
    void* pages = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pages, MAP_FAILED);
    const std::shared_ptr<void> mapping(pages, [page](void* p) { munmap(p, 2 * page); });
    ASSERT_EQ(mprotect(static_cast<char*>(pages) + page, page, PROT_NONE), 0);
    const std::vector<double> p = {1, 2, 3, 4, 5};
    double* profile = reinterpret_cast<double*>(static_cast<char*>(pages) + page) - p.size();
    std::copy(p.begin(), p.end(), profile);
    const Image wrapped = host.wrap_image(type::real8, {5}, profile, mapping);
    const auto got = warp<double>(host.make_image(type::real4, {16, 16}), wrapped, 1.0, 1.0);
    EXPECT_EQ(got, warped(p, 16, 16, 1.0, 1.0));
    EXPECT_EQ(got[8 * 16 + 13], 0.0);  // r = 5 = n
    EXPECT_EQ(got[8 * 16 + 12], 5.0);  // r = 4 = n - 1
}

TEST_F(RadialWarp, RefusesOtherProfileTypesNonFiniteAspectsAndOversizedImages) {
    const Image size_source = host.make_image(type::real4, {4, 4});
    const double inf = std::numeric_limits<double>::infinity();
    for (const std::int32_t code : {type::complex8, type::complex16, type::int16, type::uint8, type::int32}) {
        SCOPED_TRACE(::testing::Message() << "profile type " << code);
        const Image profile = host.make_image(code, {3});
        const Before before{kCounter};
        expect_refusal(host.call(kName, {size_source, profile, 1.0, 1.0}), before);
        EXPECT_TRUE(profile.lock_flags().empty());
    }
    const Image profile = host.make_image(type::real4, {3});
    for (const auto& [ax, ay] : std::vector<std::pair<double, double>>{
             {std::nan(""), 1.0}, {1.0, std::nan("")}, {inf, 1.0}, {1.0, -inf}}) {
        SCOPED_TRACE(::testing::Message() << "aspects " << ax << ", " << ay);
        const Before before{kCounter};
        expect_refusal(host.call(kName, {size_source, profile, ax, ay}), before);
    }
    EXPECT_TRUE(profile.lock_flags().empty());
    const Image huge_size = reserved_image(host, type::uint8, kBeyondInt32);
    if (!huge_size) GTEST_SKIP() << "cannot reserve the address space";
    const Before before{kCounter};
    expect_refusal(host.call(kName, {huge_size, profile, 1.0, 1.0}), before);
}

TEST_F(RadialWarp, AnExceptionReturnsNullWithoutACounter) {
    const Image size_source = host.make_image(type::real4, {64, 64});
    const Image profile = host.make_image(type::real4, {3});
    host.set_allocation_limit(64 * 64 * 4 - 1);
    const Before before{kCounter};
    expect_exception(host.call(kName, {size_source, profile, 1.0, 1.0}), before);
    expect_exception(host.call(kName, {size_source, nullptr, 1.0, 1.0}), before);
    EXPECT_EQ(profile.active_locks(), 0);
}

}  // namespace
}  // namespace zorvan::testing
