// `zorvan wiener` as a user runs it: the demo's filter on files of any
// shape and pixel type, plane by plane, and the images it refuses.

#include "demo/demo.h"
#include "files/image_io.h"
#include "tests/support/command_test.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using zorvan::files::ImageData;
namespace type = zorvan::host::data_type;

class Wiener : public zorvan::testing::CommandTest {
protected:
    // `zorvan wiener ARGUMENTS`: its exit status; its output in last_.
    int wiener(const std::string& arguments) {
        last_ = run("wiener " + arguments);
        return last_.status;
    }

    zorvan::demo::DemoResult demo(std::uint32_t width, std::uint32_t height, const std::string& out) {
        zorvan::demo::DemoOptions options;
        options.out_dir = path(out), options.width = width, options.height = height;
        return zorvan::demo::run_demo(host_, options, nullptr);
    }

    zorvan::testing::Outcome last_;
};


template <class T>
ImageData image(std::int32_t code, std::vector<std::uint64_t> sizes, const std::vector<T>& values) {
    ImageData data{code, std::move(sizes), std::vector<std::byte>(values.size() * sizeof(T))};
    std::memcpy(data.bytes.data(), values.data(), data.bytes.size());
    return data;
}

TEST_F(Wiener, FiltersTheDemosLatticeAsTheDemoDoesBitForBit) {
    demo(96, 64, "demo");
    ASSERT_EQ(wiener(path("demo/noisy.tif") + " -o " + path("filtered.tif")), 0);
    EXPECT_EQ(zorvan::files::read_image(path("filtered.tif")).bytes, zorvan::files::read_image(path("demo/filtered.tif")).bytes);
}

TEST_F(Wiener, ARectangularOddSizedLatticeGainsAsMuchAsASquareOne) {
    const auto square = demo(128, 128, "square"), rectangle = demo(135, 97, "rectangle");
    const double square_gain = square.snr_filtered_db - square.snr_noisy_db;
    const double rectangle_gain = rectangle.snr_filtered_db - rectangle.snr_noisy_db;
    EXPECT_NEAR(rectangle_gain, square_gain, 2.0);
}

TEST_F(Wiener, FiltersAStackPlaneByPlaneAfterConvertingItsPixels) {
    // Three 16-bit planes of noise over stripes, each plane offset differently.
    const std::uint64_t w = 33, h = 20;
    std::vector<std::int16_t> pixels(w * h * 3);
    std::uint32_t state = 1;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        pixels[i] = static_cast<std::int16_t>(static_cast<int>(state >> 28) + (i % w / 4 % 2) * 9 - 20 * static_cast<int>(i / (w * h)));
    }
    const auto stack = zorvan::wiener::wiener_filter(host_, image(type::int16, {w, h, 3}, pixels), {}, nullptr);
    ASSERT_EQ(stack.filtered.sizes, (std::vector<std::uint64_t>{w, h, 3}));
    // For a report, the first plane alone also makes the ln power spectrum:
    // the same pixels, and one stage more.
    const auto reported = zorvan::wiener::wiener_filter(host_, image(type::int16, {w, h, 3}, pixels), {}, nullptr, true);
    EXPECT_TRUE(reported.filtered.bytes == stack.filtered.bytes);
    EXPECT_TRUE(reported.first.power && !stack.first.power);
    EXPECT_EQ(reported.first.filtered.size(), w * h);
    EXPECT_EQ(reported.stages.size(), stack.stages.size() + 1);
    for (std::size_t plane = 0; plane < 3; ++plane) {
        std::vector<float> reals(pixels.begin() + plane * w * h, pixels.begin() + (plane + 1) * w * h);
        const auto single = zorvan::wiener::wiener_filter(host_, image(type::real4, {w, h}, reals), {}, nullptr);
        EXPECT_EQ(0, std::memcmp(single.filtered.bytes.data(), stack.filtered.bytes.data() + plane * w * h * 4, w * h * 4))
            << plane;
    }
}

TEST_F(Wiener, AReal4StackIsReadInPlaceUntilAPlaneHasAPixelToReplace) {
    // The second plane's NaN makes the filter copy the stack after checking
    // the first plane where it was: each plane as filtered alone.
    const std::uint64_t w = 24, h = 18;
    std::vector<float> reals(w * h * 3);
    for (std::size_t i = 0; i < reals.size(); ++i) reals[i] = static_cast<float>((i * 7919) % 23) + static_cast<float>(i / (w * h));
    reals[w * h + 5] = NAN;
    const auto stack = zorvan::wiener::wiener_filter(host_, image(type::real4, {w, h, 3}, reals), {}, nullptr);
    EXPECT_EQ(stack.replaced_pixels, 1u);
    for (std::size_t plane = 0; plane < 3; ++plane) {
        std::vector<float> one(reals.begin() + plane * w * h, reals.begin() + (plane + 1) * w * h);
        const auto single = zorvan::wiener::wiener_filter(host_, image(type::real4, {w, h}, one), {}, nullptr);
        EXPECT_EQ(0, std::memcmp(single.filtered.bytes.data(), stack.filtered.bytes.data() + plane * w * h * 4, w * h * 4))
            << plane;
    }
}

TEST_F(Wiener, RefusesWhatItCannotFilterAndWritesNothing) {
    std::vector<float> ramp(16 * 16), nans(16 * 16, NAN), with_nan(16 * 16);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = with_nan[i] = static_cast<float>(i % 7);
    with_nan[5] = NAN;
    struct Case {
        ImageData input;
        std::string message;
    };
    const std::vector<Case> cases = {
        {image(type::complex8, {16, 16}, std::vector<float>(512, 1.0f)), "complex of 4-byte reals pixels: the Wiener filter takes integer or real images"},
        {image(type::real4, {15, 16}, std::vector<float>(ramp.begin(), ramp.begin() + 240)), "a 15 x 16 plane is too small: the Wiener filter needs at least 16 x 16"},
        {image(type::real4, {256}, ramp), "a 256 x 1 plane is too small"},
        {image(type::uint8, {16, 16}, std::vector<std::uint8_t>(256, 3)), "the image is constant: there is nothing to filter"},
        // Non-finite pixels first and among them, -0 beside +0: still constant.
        {image(type::real4, {16, 16}, [] { std::vector<float> v(256, 0.0f); v[0] = NAN; v[1] = -INFINITY; v[7] = -0.0f; v[255] = INFINITY; return v; }()),
         "the image is constant: there is nothing to filter"},
        {image(type::real4, {16, 16, 2}, [&] { auto both = ramp; both.insert(both.end(), nans.begin(), nans.end()); return both; }()),
         "plane 2: no pixel is a finite number"},
    };
    for (const auto& test : cases) {
        zorvan::files::write_image(path("in.npy"), test.input);
        EXPECT_EQ(wiener(path("in.npy") + " --report " + path("report")), 1) << test.message;
        const std::string err = last_.err;
        EXPECT_TRUE(err.find(test.message) != std::string::npos && err.find("; nothing written\n") != std::string::npos) << err;
        EXPECT_FALSE(std::filesystem::exists(path("in-wiener.npy")) || std::filesystem::exists(path("report")));
    }
    // A NaN pixel is replaced, counted, and the rest filtered.
    zorvan::files::write_image(path("in.npy"), image(type::real4, {16, 16}, with_nan));
    EXPECT_EQ(wiener(path("in.npy")), 0);
    EXPECT_NE(last_.out.find("1 NaN or infinite pixels replaced"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(path("in-wiener.npy")));
}

TEST(MirroredSide, AtLeast16PixelsEachSideToASizeOfFactors2357Only) {
    struct Case {
        std::uint64_t side, mirrored;
    };
    for (const auto& test : {Case{16, 48}, Case{17, 49}, Case{150, 189}, Case{512, 560}, Case{1024, 1080},
                             Case{4096, 4200}}) {
        EXPECT_EQ(zorvan::wiener::mirrored_side(test.side), test.mirrored) << test.side;
    }
}

TEST_F(Wiener, SaysTheNoiseItFoundAndWarnsWhereTheLatticeModeWouldRemoveTheSpecimen) {
    // A bright disc over a flat background, in shot noise of 10 counts per pixel: no lattice.
    const std::uint64_t w = 120, h = 100;
    std::vector<float> counts(w * h);
    std::mt19937 generator(4);
    for (std::uint64_t y = 0; y < h; ++y) {
        for (std::uint64_t x = 0; x < w; ++x) {
            const bool inside = std::hypot(static_cast<double>(x) - 50.0, static_cast<double>(y) - 55.0) < 25.0;
            counts[y * w + x] = static_cast<float>(std::poisson_distribution<int>(inside ? 15.0 : 10.0)(generator));
        }
    }
    zorvan::files::write_image(path("disc.npy"), image(type::real4, {w, h}, counts));
    ASSERT_EQ(wiener(path("disc.npy")), 0) << last_.err;
    const std::string noise = "noise: a white noise of variance ";
    const auto at = last_.out.find(noise);
    ASSERT_NE(at, std::string::npos) << last_.out;
    // The mean count where the window looks: between the background's 10 and the disc's 15.
    const double variance = std::strtod(last_.out.c_str() + at + noise.size(), nullptr);
    EXPECT_GT(variance, 9.0);
    EXPECT_LT(variance, 15.0);
    EXPECT_NE(last_.out.find("mask: passes "), std::string::npos);
    EXPECT_NE(last_.out.find(" of 21600 frequencies ("), std::string::npos) << "160 x 135: mirrored by at least 16 pixels";
    EXPECT_EQ(last_.err.find("warning"), std::string::npos);

    ASSERT_EQ(wiener(path("disc.npy") + " --mode lattice"), 0);
    EXPECT_NE(last_.err.find("zorvan: warning: this image shows little periodic content: the default mode keeps "
                             "non-periodic detail\n"),
              std::string::npos)
        << last_.err;
    EXPECT_NE(last_.out.find(" of 12000 frequencies ("), std::string::npos) << "not mirrored";

    EXPECT_EQ(wiener(path("disc.npy") + " --mode blur"), 2);
    EXPECT_NE(last_.err.find("zorvan: wiener: --mode takes wiener or lattice\n"), std::string::npos) << last_.err;
}

}  // namespace
