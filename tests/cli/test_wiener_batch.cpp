// `zorvan wiener` on several files, folders and patterns: a line per file,
// a summary, the others going on when one fails, and usage refused before
// any work.

#include "files/image_io.h"
#include "tests/support/command_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using zorvan::files::ImageData;
using zorvan::testing::Outcome;
namespace fs = std::filesystem;

class WienerBatch : public zorvan::testing::CommandTest {
protected:
    // A 24 x 20 image of noise over stripes, different for each seed.
    std::string noisy(const std::string& name, std::uint32_t seed) const {
        std::vector<float> pixels(24 * 20);
        std::uint32_t state = seed;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            state = state * 1664525u + 1013904223u;
            pixels[i] = static_cast<float>(state >> 26) + static_cast<float>(i % 24 / 3 % 2) * 20;
        }
        ImageData data{zorvan::host::data_type::real4, {24, 20}, std::vector<std::byte>(pixels.size() * 4)};
        std::memcpy(data.bytes.data(), pixels.data(), data.bytes.size());
        data.pixel_size = {0.125, false};
        zorvan::files::write_image(path(name), data);
        return path(name);
    }
    std::string truncated(const std::string& name) const {
        const std::string whole = zorvan::testing::slurp(noisy(name, 9));
        std::ofstream(path(name), std::ios::binary) << whole.substr(0, whole.size() - 10);
        return path(name);
    }
};

TEST_F(WienerBatch, AFileThatFailsIsReportedAndTheOthersAreFiltered) {
    fs::create_directory(path("in"));
    const std::string a = noisy("in/a.mrc", 1), b = truncated("in/b.mrc"), c = noisy("in/c.mrc", 3);
    const Outcome one = run("wiener " + c + " -o " + path("c-alone.mrc"));
    ASSERT_EQ(one.status, 0) << one.err;

    const Outcome batch = run("wiener " + a + " " + b + " " + c + " -o " + path("out/"));
    EXPECT_EQ(batch.status, 1);
    EXPECT_EQ(batch.err, "zorvan: 1 of 3 files failed\n");
    EXPECT_EQ(batch.out.rfind("Wiener filter of 3 files into " + path("out/") + "\n[1/3] " + a +
                                  ": 4-byte real, 24 x 20, pixel size 0.125 nm -> " + path("out/a.mrc") + " (",
                              0), 0u)
        << batch.out;
    EXPECT_NE(batch.out.find("\n[2/3] " + b + ": failed: is truncated"), std::string::npos) << batch.out;
    EXPECT_NE(batch.out.find("; nothing written\n[3/3] " + c + ": "), std::string::npos) << batch.out;
    EXPECT_TRUE(batch.out.ends_with("\n3 files: 2 filtered, 1 failed (" + b + ")\n")) << batch.out;
    // Each file as filtered alone, calibration kept; nothing for the bad one.
    const ImageData alone = zorvan::files::read_image(path("c-alone.mrc")), in_batch = zorvan::files::read_image(path("out/c.mrc"));
    EXPECT_EQ(in_batch.bytes, alone.bytes);
    EXPECT_EQ(in_batch.pixel_size.value, 0.125);
    std::vector<std::string> written;
    for (const auto& entry : fs::directory_iterator(path("out"))) written.push_back(entry.path().filename());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"a.mrc", "c.mrc"}));

    // A folder and an unexpanded pattern name the same files; -o without a slash is a folder here; reports
    // go to a sub-folder each, made with their parents.
    for (const std::string& inputs : {path("in"), "'" + path("in/*.mrc") + "'"}) {
        fs::remove_all(path("reports"));
        const Outcome again = run("wiener " + inputs + " -o " + path("new/folder") + " --report " + path("reports/new/"));
        EXPECT_EQ(again.status, 1) << inputs;
        EXPECT_NE(again.out.find("] " + c + ": 4-byte real, 24 x 20, pixel size 0.125 nm -> " + path("new/folder/c.mrc") + " ("),
                  std::string::npos) << again.out;
        EXPECT_TRUE(fs::exists(path("reports/new/a/report.html")) && fs::exists(path("reports/new/c/report.html")));
        EXPECT_FALSE(fs::exists(path("reports/new/b")));
        const std::string index = zorvan::testing::slurp(path("reports/new/index.html"));
        EXPECT_NE(index.find("<h1>Wiener filter of 3 files: 2 filtered, 1 failed</h1>"), std::string::npos) << index;
        EXPECT_NE(index.find("<tr><td><a href=\"a/report.html\">" + a + "</a></td><td>filtered: 4-byte real, 24 x 20, "
                             "pixel size 0.125 nm</td><td>" + path("new/folder/a.mrc") + "</td></tr>\n"), std::string::npos);
        EXPECT_NE(index.find("<tr><td>" + b + "</td><td>failed: is truncated"), std::string::npos) << index;
    }
    // A format that cannot hold the pixel size: written without it, and said.
    const Outcome npy = run("wiener " + a + " -o " + path("a.npy") + " --report " + path("deep/er/report"));
    EXPECT_TRUE(fs::exists(path("deep/er/report/report.html")));
    EXPECT_NE(npy.out.find("\n" + path("a.npy") + ": written without pixel size 0.125 nm (the format cannot hold it)\n"),
              std::string::npos) << npy.out;
    // All good: exit 0, outputs beside the inputs when -o is not given.
    fs::remove(b);
    const Outcome good = run("wiener " + path("in"));
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_TRUE(good.out.ends_with("\n2 files: 2 filtered, 0 failed\n")) << good.out;
    EXPECT_EQ(zorvan::files::read_image(path("in/c-wiener.mrc")).bytes, alone.bytes);
}

TEST_F(WienerBatch, BadUsageIsRefusedBeforeAnyWork) {
    fs::create_directories(path("in/empty"));
    const std::string a = noisy("in/a.tif", 1), b = noisy("in/b.tif", 2);
    fs::create_directory(path("other"));
    noisy("other/a.tif", 4);
    const std::tuple<std::string, std::string> cases[] = {  // arguments, stderr after "zorvan: "
        {a + " -o " + path("out.jpg"),
         path("out.jpg") + ": unknown image file extension '.jpg'; write .tif/.tiff, .mrc (.mrcs, .map, .st, .ali, .rec), .npy or .png"},
        {a + " -o " + path("out.dm3"), path("out.dm3") + ": .dm3 files are read only; write .tif/.tiff, .mrc (.mrcs, .map, .st, .ali, .rec), .npy or .png"},
        {a + " -o " + path("folder"),
         path("folder") + ": has no file extension; write .tif/.tiff, .mrc (.mrcs, .map, .st, .ali, .rec), .npy or .png (a folder's name ends with /)"},
        {a + " -o " + path("no/such/out.tif"), path("no/such") + ": no such folder to write out.tif in"},
        {a + " " + b + " -o " + path("out.tif"), "with several inputs -o names a folder, not " + path("out.tif") + " (end a folder's name with /)"},
        {a + " " + b + " -o " + a, "with several inputs -o names a folder, not " + a + " (a file)"},
        {a + " -o " + path("in/"), a + ": its output would be written over it"},
        {a + " " + path("other/a.tif") + " -o " + path("out/"), a + " and " + path("other/a.tif") + " would both be written to " + path("out/a.tif")},
        {a + " --report " + a + "/report", path("in/a.tif/report") + ": cannot be made: " + a + " is not a folder"},
        {"'" + path("in/*.mrc") + "'", "no image file matches " + path("in/*.mrc")},
        {path("in/empty"), path("in/empty") + ": holds no image files (.tif, .mrc, .npy, .png, .dm3, .dm4)"},
        {"", "wiener needs an input image"},
        {a + " --report " + path("r1") + " --report " + path("r2"), "wiener: --report is given twice"},
        {a + " -o " + path("x.tif") + " -o " + path("y.tif"), "wiener: -o is given twice"},
    };
    for (const auto& [arguments, message] : cases) {
        SCOPED_TRACE(arguments);
        const bool report = arguments.find("--report") == std::string::npos;
        const Outcome refused = run("wiener " + arguments + (report ? " --report " + path("report") : ""));
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.err.rfind("zorvan: " + message + "\n\nusage: zorvan wiener IN...", 0), 0u) << refused.err;
        EXPECT_EQ(refused.out, "");
        EXPECT_FALSE(fs::exists(path("out")) || fs::exists(path("report")) || fs::exists(path("in/a-wiener.tif")));
    }
}

// The host application's own files, as hyperspy ships them: calibrations
// read, kept in TIFF, dropped from MRC for 1/nm, and said.
TEST_F(WienerBatch, TheMicroscopesOwnFilesKeepTheirCalibration) {
    const std::string real = "/usr/lib/python3/dist-packages/hyperspy/tests/io/dm3_2D_data/";
    if (!fs::exists(real)) GTEST_SKIP() << "python3-hyperspy's test files are not installed";
    const std::string stem = real + "test_STEM_image.dm3", rgb = real + "test-23.dm3",
                      pattern = real + "test_diffraction_pattern.dm3";
    const Outcome batch = run("wiener " + stem + " " + rgb + " " + pattern + " -o " + path("out/"));
    EXPECT_EQ(batch.status, 1);
    EXPECT_NE(batch.out.find("[1/3] " + stem + ": unsigned 32-bit integer, 68 x 68, pixel size 0.2485 nm -> " +
                             path("out/test_STEM_image.tif")), std::string::npos) << batch.out;
    EXPECT_NE(batch.out.find("[2/3] " + rgb + ": failed: holds no image that can be read: image 0 holds RGB colour pixels"),
              std::string::npos) << batch.out;
    EXPECT_NE(batch.out.find("[3/3] " + pattern + ": signed 32-bit integer, 87 x 87, pixel size 0.1744 1/nm -> "),
              std::string::npos) << batch.out;
    const auto stem_size = zorvan::files::read_image(path("out/test_STEM_image.tif")).pixel_size;
    EXPECT_NEAR(stem_size.value, 0.248538, 1e-6);
    EXPECT_FALSE(stem_size.reciprocal);
    const auto pattern_size = zorvan::files::read_image(path("out/test_diffraction_pattern.tif")).pixel_size;
    EXPECT_NEAR(pattern_size.value, 0.174433, 1e-6);
    EXPECT_TRUE(pattern_size.reciprocal);
    EXPECT_FALSE(fs::exists(path("out/test-23.tif")));

    const Outcome mrc = run("wiener " + pattern + " -o " + path("pattern.mrc"));
    EXPECT_EQ(mrc.status, 0) << mrc.err;
    EXPECT_NE(mrc.out.find("\n" + pattern + ": signed 32-bit integer, 87 x 87, pixel size 0.1744 1/nm\n"), std::string::npos);
    EXPECT_NE(mrc.out.find("\n" + path("pattern.mrc") + ": written without pixel size 0.1744 1/nm (the format cannot hold it)\n"),
              std::string::npos) << mrc.out;
    EXPECT_FALSE(zorvan::files::read_image(path("pattern.mrc")).pixel_size.known());

    const Outcome info = run("info " + real + "multi_signal.dm3");
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.out, real + "multi_signal.dm3: 2 images\n"
                               "  0: \"HAADF\" unsigned 16-bit integer, 512 x 512\n"
                               "     x: 512 pixels of 0.0177516 nm, offset 0 nm\n"
                               "     y: 512 pixels of 0.0177516 nm, offset 0 nm\n"
                               "     pixel size 0.01775 nm; 300 kV\n"
                               "  1: \"Plot\" 4-byte real, 512\n"
                               "     x: 512 pixels of 1, offset 0 (no unit)\n"
                               "     no pixel size in the file\n");
    const Outcome offsets = run("info " + stem);
    EXPECT_NE(offsets.out.find("     x: 68 pixels of 0.248538 nm, offset 51.4474 nm (origin at pixel -207)\n"), std::string::npos)
        << offsets.out;
}

}  // namespace
