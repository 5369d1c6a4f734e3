// The demo end to end at a small size: every stage goes through the
// plug-in, the filter earns its keep, and the report holds what it promises.

#include "demo/demo.h"
#include "wiener/report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sstream>

namespace {

using zorvan::host::Host;

TEST(Demo, FiltersThroughThePlugInAndReportsEveryImage) {
    char pattern[] = "/tmp/zorvan-demo-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Host host;
    host.load_plugin(ZORVAN_PLUGIN_PATH);
    Host::reset_counters();
    zorvan::demo::DemoOptions options;
    options.out_dir = pattern, options.width = options.height = 128, options.seed = 7;
    const auto result = zorvan::demo::run_demo(host, options, nullptr);

    // Each stage's function ran in the plug-in: the mask once for each of
    // the two terms, the radial warp once (the lattice term's base is the
    // ring power scaled). The Hann window's spectrum comes from the plane's
    // transform by its stencil: no FFTWindow.
    const auto window = Host::counter("FTWindowDM");
    EXPECT_TRUE(!window || window->additions == 0);
    for (const auto& [counter, calls] : std::vector<std::pair<const char*, std::uint64_t>>{
             {"CalculatePowerSpectrumDM", 1}, {"RadialSurveyDM", 1}, {"CreateFwhitsmMatrixDM", 1},
             {"RadialWarpDM", 1}, {"CreateWienerMaskDM", 2}, {"ElementWiseProductComplexByRealDM", 1}}) {
        const auto found = Host::counter(counter);
        EXPECT_TRUE(found && found->additions == calls) << counter;
    }
    // Measured at this size: about -3.9 dB before, 17 dB after.
    EXPECT_LT(result.snr_noisy_db, 0.0);
    EXPECT_GT(result.snr_filtered_db - result.snr_noisy_db, 10.0) << result.snr_noisy_db << " to " << result.snr_filtered_db;
    EXPECT_EQ(result.stages.size(), 14u);  // synthesis, preparation and the twelve of the filter

    std::stringstream page;
    page << std::ifstream(result.report).rdbuf();
    const std::string html = page.str();
    for (const std::string name : {"clean", "noisy", "filtered", "difference", "wiener_mask", "noisy_crop",
                                   "filtered_crop"}) {
        EXPECT_NE(html.find("<figcaption><b>" + name + "</b>"), std::string::npos) << name;
        EXPECT_TRUE(std::filesystem::exists(options.out_dir + "/" + name + ".tif")) << name;
        EXPECT_TRUE(std::filesystem::exists(options.out_dir + "/" + name + ".png")) << name;
    }
    // The spectrum's true values in its TIFF; its picture clipped for display.
    EXPECT_NE(html.find("<figcaption><b>ln_power_spectrum</b>"), std::string::npos);
    const auto ln_power = zorvan::files::read_image(options.out_dir + "/ln_power_spectrum.tif");
    EXPECT_EQ(ln_power.sizes, (std::vector<std::uint64_t>{128 + 32, 128 + 32})) << "with its mirrored edges";
    EXPECT_TRUE(std::filesystem::exists(options.out_dir + "/ln_power_spectrum.png"));
    for (const char* diagnostic : {"noise found", "power kept", "mask passes"}) {
        EXPECT_NE(html.find(diagnostic), std::string::npos) << diagnostic;
    }
    const std::string embedded_png = "src=\"data:image/png;base64,iVBORw0KGgo";
    std::size_t embedded = 0;
    for (std::size_t at = html.find(embedded_png); at != std::string::npos; at = html.find(embedded_png, at + 1)) ++embedded;
    EXPECT_EQ(embedded, 8u) << "every picture is embedded as a PNG";
    std::size_t bars = 0;
    for (std::size_t at = html.find("<div class=\"bar\">"); at != std::string::npos; at = html.find("<div class=\"bar\">", at + 1)) ++bars;
    EXPECT_EQ(bars, 8u) << "a grey-level bar beside every picture";
    EXPECT_NE(html.find("lattice threshold: a reflection passes where it stands above this"), std::string::npos);
    EXPECT_EQ(html.find("src=\"http"), std::string::npos) << "the page is self-contained";
    std::filesystem::remove_all(options.out_dir);
}

TEST(Report, AReciprocalPixelSizeIsShownAsSuch) {
    char pattern[] = "/tmp/zorvan-report-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Host host;
    host.load_plugin(ZORVAN_PLUGIN_PATH);
    // A diffraction pattern's calibration: 0.25 1/nm per pixel.
    zorvan::files::ImageData input{zorvan::host::data_type::real4, {64, 48}, std::vector<std::byte>(64 * 48 * 4)};
    std::uint32_t state = 9;
    for (std::size_t i = 0; i < 64 * 48; ++i) {
        state = state * 1664525u + 1013904223u;
        const float v = static_cast<float>(state >> 24);
        std::memcpy(input.bytes.data() + 4 * i, &v, 4);
    }
    input.pixel_size = {0.25, true};
    EXPECT_THROW(zorvan::wiener::wiener_report_page("pattern", input, zorvan::wiener::wiener_filter(host, input, {}, nullptr), {}),
                 std::logic_error);  // a result kept no more than the filter needs
    const auto result = zorvan::wiener::wiener_filter(host, input, {}, nullptr, true);
    const auto page = zorvan::wiener::wiener_report_page("pattern", input, result, {});
    std::stringstream text;
    text << std::ifstream(zorvan::wiener::write_report(pattern, page).back()).rdbuf();
    const std::string html = text.str();
    EXPECT_NE(html.find("64 × 48 pixels (16 × 12 1/nm)"), std::string::npos);
    EXPECT_NE(html.find("the edges are at 2 nm (the input is reciprocal, in 1/nm)"), std::string::npos);
    EXPECT_NE(html.find("spatial frequency (nm: the input is reciprocal, in 1/nm)"), std::string::npos);
    EXPECT_NE(html.find(" 1/nm</div>"), std::string::npos) << "the scale bar";
    EXPECT_EQ(html.find(" nm</div>"), std::string::npos);
    std::filesystem::remove_all(pattern);
}

TEST(Report, Base64MatchesTheStandardAlphabetAndPadding) {
    for (const auto& [bytes, text] : std::initializer_list<std::pair<std::string, std::string>>{
             {"", ""}, {"M", "TQ=="}, {"Ma", "TWE="}, {"Man", "TWFu"}, {std::string("\xff\xfe\x00", 3), "//4A"}}) {
        EXPECT_EQ(zorvan::wiener::base64(bytes), text);
    }
}

TEST(Report, TicksAreRoundAndPercentilesSkipNonFiniteValues) {
    using Ticks = std::vector<double>;
    EXPECT_EQ(zorvan::wiener::round_ticks(0, 0.5), (Ticks{0, 0.1, 0.2, 0.3, 0.4, 0.5}));
    EXPECT_EQ(zorvan::wiener::round_ticks(-3.7, 8.2), (Ticks{-2, 0, 2, 4, 6, 8}));
    EXPECT_EQ(zorvan::wiener::round_ticks(13, 61), (Ticks{20, 30, 40, 50, 60}));
    const std::vector<float> values = {-INFINITY, 4, 1, NAN, 3, 2, 0};
    EXPECT_EQ(zorvan::wiener::percentiles(values, {0, 0.5, 1}), (std::vector<float>{0, 2, 4}));
}

}  // namespace
