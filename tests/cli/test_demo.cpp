// The demo end to end at a small size: every stage goes through the
// plug-in, the filter earns its keep, and the report holds what it promises.

#include "demo/demo.h"
#include "demo/report.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

using zorvan::host::Host;

TEST(Demo, FiltersThroughThePlugInAndReportsEveryImage) {
    char pattern[] = "/tmp/zorvan-demo-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;

    Host host;
    host.load_plugin(ZORVAN_PLUGIN_PATH);
    Host::reset_counters();
    zorvan::demo::DemoOptions options;
    options.out_dir = dir;
    options.size = 128;
    options.seed = 7;
    const auto result = zorvan::demo::run_demo(host, options, nullptr);

    // Each stage's function ran exactly once, in the plug-in.
    for (const char* counter : {"FTWindowDM", "CalculatePowerSpectrumDM", "RadialSurveyDM", "CreateFwhitsmMatrixDM",
                                "RadialWarpDM", "CreateWienerMaskDM", "ElementWiseProductComplexByRealDM"}) {
        const auto found = Host::counter(counter);
        ASSERT_TRUE(found) << counter;
        EXPECT_EQ(found->additions, 1u) << counter;
    }
    // Measured at this size: about -3.9 dB before, 17 dB after.
    EXPECT_LT(result.snr_noisy_db, 0.0);
    EXPECT_GT(result.snr_filtered_db - result.snr_noisy_db, 10.0)
        << "noisy " << result.snr_noisy_db << " dB, filtered " << result.snr_filtered_db << " dB";
    EXPECT_EQ(result.stages.size(), 10u);

    std::ifstream page(result.report);
    std::stringstream text;
    text << page.rdbuf();
    const std::string html = text.str();
    for (const char* name : {"clean", "noisy", "filtered", "difference", "power_spectrum", "mask"}) {
        EXPECT_NE(html.find("<figcaption><b>" + std::string(name) + "</b>"), std::string::npos) << name;
        for (const char* extension : {".tif", ".png"}) {
            struct stat info;
            EXPECT_EQ(stat((dir + "/" + name + extension).c_str(), &info), 0) << name << extension;
        }
    }
    std::size_t embedded = 0;
    for (std::size_t at = html.find("src=\"data:image/png;base64,iVBORw0KGgo"); at != std::string::npos;
         at = html.find("src=\"data:image/png;base64,iVBORw0KGgo", at + 1)) {
        ++embedded;
    }
    EXPECT_EQ(embedded, 6u) << "every picture is embedded as a PNG";
    EXPECT_NE(html.find("<svg"), std::string::npos);
    EXPECT_NE(html.find("<polyline"), std::string::npos);
    EXPECT_EQ(html.find("src=\"http"), std::string::npos) << "the page is self-contained";
    std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(Report, Base64MatchesTheStandardAlphabetAndPadding) {
    EXPECT_EQ(zorvan::demo::base64(""), "");
    EXPECT_EQ(zorvan::demo::base64("M"), "TQ==");
    EXPECT_EQ(zorvan::demo::base64("Ma"), "TWE=");
    EXPECT_EQ(zorvan::demo::base64("Man"), "TWFu");
    EXPECT_EQ(zorvan::demo::base64(std::string("\xff\xfe\x00", 3)), "//4A");
}

}  // namespace
