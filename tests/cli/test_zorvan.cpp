// The zorvan command as a user runs it: output, files and exit codes.

#include "contract/script_functions.h"
#include "files/image_io.h"
#include "host/host.h"
#include "tests/support/command_test.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using zorvan::testing::CommandTest;
using zorvan::testing::Outcome;
using zorvan::testing::slurp;
using zorvan::files::ImageData;
using zorvan::host::Arg;
using zorvan::host::ScriptType;
namespace type = zorvan::host::data_type;

class Zorvan : public CommandTest {
protected:
    template <class T>
    std::string write(const std::string& name, std::int32_t code, std::vector<std::uint64_t> sizes,
                      const std::vector<T>& pixels) const {
        ImageData data{code, std::move(sizes), std::vector<std::byte>(pixels.size() * sizeof(T))};
        std::memcpy(data.bytes.data(), pixels.data(), data.bytes.size());
        zorvan::files::write_image(path(name), data);
        return path(name);
    }

};

TEST_F(Zorvan, ListAndHelpComeFromTheTableOfFunctions) {
    std::string expected;
    for (const auto& prototype : host_.published_prototypes()) expected += prototype + "\n";
    const Outcome listed = run("list");
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, expected) << "the prototypes exactly as the host publishes them";

    const auto& window = zorvan::script_function_named("FFTWindow");
    const Outcome help = run("help FFTWindow");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, zorvan::prototype_of(window) + "\n\n" + std::string(window.summary) + "\n\nPixel types: " +
                            std::string(window.pixel_types) + "\nExample:     " + std::string(window.example) + "\n");

    // The README's function table is the command's rendering of the table.
    const Outcome markdown = run("help --markdown");
    EXPECT_EQ(markdown.status, 0);
    std::ifstream readme(std::string(ZORVAN_SOURCE_DIR) + "/README.md");
    std::string line, table;
    while (std::getline(readme, line) && line != "| prototype | what it does | pixel types |") {
    }
    for (table = line + "\n"; std::getline(readme, line) && line.rfind('|', 0) == 0;) table += line + "\n";
    EXPECT_EQ(table, markdown.out);
    EXPECT_EQ(std::count(markdown.out.begin(), markdown.out.end(), '\n'), 2 + 19);
}

TEST_F(Zorvan, SummarisesAnImageResultAndPrintsNumbersInFull) {
    // Without -o, a summary (complex: of the modulus; the running sum carries
    // a NaN on); arguments by name.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::pair<std::string, std::string> cases[] = {
        {"FMovingAverage nRad=0 imgSrc=" + write("r.npy", type::real4, {3, 3}, std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9}),
         "result: 4-byte real, 3 x 3\n  min 1, max 9, mean 5\n"},
        {"FMovingAverage nRad=0 imgSrc=" + write("c.npy", type::complex8, {2}, std::vector<float>{3, 4, 0, -2}),
         "result: complex of 4-byte reals, 2\n  modulus min 2, max 5; mean (1.5, 1)\n"},
        {"FMovingAverage nRad=0 imgSrc=" + write("n.npy", type::real8, {3}, std::vector<double>{2, nan, -1}),
         "result: 8-byte real, 3\n  min 2, max 2, mean 2 (2 NaN pixels left out)\n"},
        {"FMaximumFilter nRad=0 imgSrc=" + write("i.npy", type::int16, {2, 2}, std::vector<std::int16_t>{-3, 7, 0, 0}),
         "result: signed 16-bit integer, 2 x 2\n  min -3, max 7, mean 1\n"},
        // double * results with enough digits to read them back exactly, then the counters.
        {"--trace FSurvey " + write("thirds.npy", type::real8, {2}, std::vector<double>{1.0 / 3, 2.0 / 3}),
         "fMin = 0.33333333333333331\nfMax = 0.66666666666666663\nfSum = 1\nfSqsum = 0.55555555555555558\ncounter "},
    };
    for (const auto& [arguments, printed] : cases) {
        const Outcome summary = run(arguments);
        EXPECT_EQ(summary.status, 0) << summary.err;
        EXPECT_NE(summary.out.find(printed), std::string::npos) << summary.out;
    }
}

// Every function through the command: its written result equals what the
// same call gives through the host in this process.
TEST_F(Zorvan, EveryFunctionWritesWhatTheHostComputes) {
    std::vector<float> reals(64), others(64), spot(256), profile(12), complex(128), complex_other(128);
    for (std::size_t i = 0; i < 64; ++i) reals[i] = float(i * 37 % 23) * 0.5f + 1, others[i] = float(i * 11 % 7) * 0.25f;
    for (std::size_t i = 0; i < 128; ++i) complex[i] = float(i * 13 % 17) - 8, complex_other[i] = float(i * 5 % 9) * 0.5f;
    for (std::size_t i = 0; i < 12; ++i) profile[i] = 1.0f / float(i + 1);
    spot[7 * 16 + 9] = 10.0f, spot[7 * 16 + 8] = 5.0f;  // a bright pixel with a dimmer neighbour
    write("real.npy", type::real4, {8, 8}, reals), write("other.npy", type::real4, {8, 8}, others);
    write("spot.npy", type::real4, {16, 16}, spot), write("profile.npy", type::real4, {12}, profile);
    write("complex.npy", type::complex8, {8, 8}, complex), write("complex_other.npy", type::complex8, {8, 8}, complex_other);
    write("destination.npy", type::real4, {8, 8}, std::vector<float>(64, 0.0f));

    // Arguments (files in dir_, numbers or null; those left out are 0 or null), the image parameter written
    // with --save if any, and what stdout must hold.
    const std::map<std::string, std::tuple<std::vector<std::string>, std::string, std::string>> cases = {
        {"FMovingAverage2", {{"real.npy", "1", "null", "null"}, "imgDst2", ""}},
        {"FMovingAverage", {{"real.npy", "2", "null"}, "", ""}},
        {"FMedianFilter", {{"real.npy", "1", "null"}, "", ""}},
        {"FSurvey", {{"real.npy"}, "", "fSqsum = "}},
        {"FRadialSurvey", {{"real.npy", "4", "4", "1", "1.5"}, "", ""}},
        {"FGetCenterOfMass", {{"spot.npy", "8", "8", "4", "10", "0.5"}, "", "result = 2\nfX = 9\nfY = 7\n"}},
        {"FWeight", {{"real.npy", "profile.npy", "4", "4", "1", "1", "0", "null"}, "", ""}},
        {"FFTWindow", {{"real.npy", "1", "null"}, "", ""}},
        {"FMaximumFilter", {{"real.npy", "1", "null"}, "", ""}},
        {"FInvertRotateDLL", {{"real.npy"}, "", ""}},
        {"FRadialWarpDLL", {{"real.npy", "profile.npy", "1", "2"}, "", ""}},
        {"FMeanComplexDLL", {{"complex.npy"}, "", "meanImag = "}},
        {"FCreateFwhitsmMatrixDLL", {{"5", "2"}, "", ""}},
        {"FElementWiseProductComplexByRealDLL", {{"complex.npy", "real.npy"}, "", ""}},
        {"FCreateWienerMaskDLL", {{"real.npy", "other.npy"}, "", ""}},
        {"FPlusComplexImageDLL", {{"complex.npy", "complex_other.npy"}, "imgTarget", "result = 1\n"}},
        {"FCalculatePowerSpectrumDLL", {{"complex.npy"}, "", ""}},
        {"FWarpLinear2DDLL", {{"real.npy", "0.5", "0.75", "destination.npy"}, "imgDst", "result = 1\n"}},
        {"FDiffH", {{"real.npy", "2"}, "", ""}},
    };
    for (const auto& function : zorvan::script_functions) {
        const std::string name(function.name);
        SCOPED_TRACE(name);
        ASSERT_EQ(cases.count(name), 1u);
        const auto& [arguments, saved, printed] = cases.at(name);
        const auto prototype = host_.prototype_of(name);
        ASSERT_TRUE(prototype);
        std::string command = name;
        std::vector<Arg> args;
        std::map<std::string, zorvan::host::Image> images;  // the same file twice is the same image
        std::size_t saved_index = 0;
        for (std::size_t i = 0; i < prototype->parameters.size(); ++i) {
            const std::string word = i < arguments.size() ? arguments[i] : "null";
            const bool file = word.ends_with(".npy");
            if (i < arguments.size()) command += " " + (file ? path(word) : word);
            if (prototype->parameters[i].name == saved) saved_index = i;
            if (file && !images.count(word)) {
                const ImageData data = zorvan::files::read_image(path(word));
                images[word] = host_.make_image(data.data_type, data.sizes, data.bytes.data(), data.bytes.size());
            }
            const zorvan::host::Image image = file ? images[word] : zorvan::host::Image{};
            switch (prototype->parameters[i].script_type) {
                case ScriptType::double_ref: args.push_back(Arg::out(word == "null" ? 0.0 : std::stod(word))); break;
                case ScriptType::image_ref: args.push_back(Arg::slot(image)); break;
                case ScriptType::image: args.emplace_back(image); break;
                default: args.emplace_back(std::stod(word));
            }
        }
        const bool returns_image = prototype->result == ScriptType::image;
        if (returns_image) command += " -o " + path("result.npy");
        if (!saved.empty()) command += " --save " + saved + "=" + path("saved.npy");

        const Outcome ran = run(command);
        ASSERT_EQ(ran.status, 0) << command << "\n" << ran.err;
        EXPECT_NE(ran.out.find(printed), std::string::npos) << ran.out;
        const auto expected = host_.call(name, args);
        ASSERT_TRUE(expected.ok());
        if (returns_image) {
            ASSERT_TRUE(expected.image);
            const ImageData written = zorvan::files::read_image(path("result.npy"));
            EXPECT_EQ(written.data_type, expected.image.data_type());
            EXPECT_EQ(written.bytes, expected.image.bytes());
        }
        if (!saved.empty()) {
            EXPECT_EQ(zorvan::files::read_image(path("saved.npy")).bytes, args[saved_index].image().bytes());
        }
    }
}

TEST_F(Zorvan, TheSameFileTwiceIsTheSameImage) {
    const std::vector<float> pixels{0, 0, 9, 0, 0, 0};
    const std::string source = write("in.npy", type::real4, {6}, pixels);
    // Passing the source as destination filters in place; --save writes the result.
    const Outcome in_place = run("FMovingAverage " + source + " 1 " + source + " --save imgDst=" + path("saved.npy"));
    ASSERT_EQ(in_place.status, 0) << in_place.err;
    EXPECT_EQ(slurp(path("saved.npy")), slurp(write("mean.npy", type::real4, {6}, std::vector<float>{0, 3, 3, 3, 0, 0})));
    EXPECT_EQ(slurp(source), slurp(write("same.npy", type::real4, {6}, pixels))) << "the file is only rewritten when asked";
}

TEST_F(Zorvan, OutputsOnTheInputsGridKeepItsPixelSize) {
    ImageData data{type::real4, {4, 3}, std::vector<std::byte>(12 * sizeof(float))};
    data.pixel_size = {0.25, false};
    zorvan::files::write_image(path("in.mrc"), data);
    const Outcome mean = run("FMovingAverage " + path("in.mrc") + " 1 null -o " + path("mean.mrc"));
    ASSERT_EQ(mean.status, 0) << mean.err;
    EXPECT_DOUBLE_EQ(zorvan::files::read_image(path("mean.mrc")).pixel_size.value, 0.25);
    // A rescaled destination is on another grid: it carries no pixel size.
    write("big.npy", type::real4, {8, 6}, std::vector<float>(48));
    const Outcome warp = run("FWarpLinear2DDLL " + path("in.mrc") + " 2 2 " + path("big.npy") + " --save imgDst=" +
                             path("big.mrc"));
    ASSERT_EQ(warp.status, 0) << warp.err;
    EXPECT_EQ(zorvan::files::read_image(path("big.mrc")).pixel_size.value, 0);
}

TEST_F(Zorvan, FailuresSayWhatWentWrongAndWriteNothing) {
    const std::string integers = write("int16.npy", type::int16, {2, 2}, std::vector<std::int16_t>{1, 2, 3, 4});
    const std::string reals = write("real.npy", type::real4, {2, 2}, std::vector<float>{1, 2, 3, 4});
    const std::string bytes = slurp(reals);
    std::ofstream(path("cut.npy"), std::ios::binary) << bytes.substr(0, bytes.size() - 3);
    const std::string out = " -o " + path("out.npy"), trace = " additions       total ms\n";
    const std::tuple<std::string, int, std::string, std::string> cases[] = {  // arguments, status, stderr starts, stdout has
        // --trace prints the counters whatever the outcome.
        {"--trace FMovingAverage " + integers + " 1 null" + out, 1, "zorvan: Invalid data type.\n", trace},
        {"--trace FCalculatePowerSpectrumDLL " + reals + out, 1,
         "zorvan: FCalculatePowerSpectrumDLL refused its input (it returned null); it accepts: complex", trace},
        {"FPlusComplexImageDLL " + reals + " " + reals, 1,
         "zorvan: FPlusComplexImageDLL refused its input (it returned 0); it accepts: both complex", ""},
        {"FMovingAverage " + path("cut.npy") + " 1 null" + out, 2, "zorvan: " + path("cut.npy") + ": is truncated", ""},
        {"FMovingAverage " + reals + " 1 null -o " + path("no/such/dir/out.npy"), 2, "zorvan: " + path("no/such/dir"), ""},
        {"FMovingAverage " + reals + " one null", 2, "zorvan: nRad must be a number, not \"one\"", ""},
        {"FMovingAverage " + reals, 2, "zorvan: missing argument nRad", ""},
        {"FMovingAverage " + reals + " 1 null 4", 2, "zorvan: too many arguments", ""},
        {"FMovingAverage " + reals + " 1 radius=2", 2, "zorvan: FMovingAverage has no parameter named radius", ""},
        {"FNoSuchThing 1", 2, "zorvan: unknown function FNoSuchThing", ""},
        {"help FNoSuchThing", 2, "zorvan: unknown function FNoSuchThing", ""},
        {"FSurvey " + reals + out, 2, "zorvan: FSurvey returns no image", ""},
        {"FMovingAverage " + reals + " 1 null --save imgSrc", 2, "zorvan: --save takes PARAM=FILE", ""},
        {"FMovingAverage " + reals + " 1 null --frobnicate", 2, "zorvan: unknown option --frobnicate", ""},
        {"", 2, "zorvan: no command given", ""},
    };
    for (const auto& [arguments, status, err, printed] : cases) {
        SCOPED_TRACE(arguments);
        const Outcome failed = run(arguments);
        EXPECT_EQ(failed.status, status);
        EXPECT_EQ(failed.err.rfind(err, 0), 0u) << failed.err;
        EXPECT_NE(failed.out.find(printed), std::string::npos) << failed.out;
        EXPECT_FALSE(std::filesystem::exists(path("out.npy")));
    }
}

TEST_F(Zorvan, HelpOnEveryCommandAndTheVersion) {
    const std::string usage = "usage: zorvan wiener IN... [-o OUT]";
    const std::pair<std::string, std::string> cases[] = {  // arguments, stdout starts with
        {"--help", usage},
        {"-h", usage},
        {"help", usage},
        {"wiener --help", "zorvan wiener IN... [-o OUT] [--report DIR]"},
        {"wiener a.tif b.tif -o out/ -h", "zorvan wiener IN... [-o OUT] [--report DIR]"},
        {"info --help", "zorvan info FILE...\n"},
        {"demo -h", "zorvan demo [--out DIR]"},
        {"list --help", "zorvan list\n"},
        {"FMedianFilter --help", "ImageRef FMedianFilter(ImageRef imgSrc, long nRad, ImageRef imgDst)\n"},
        {"--trace -o x.tif FMedianFilter -h", "ImageRef FMedianFilter(ImageRef imgSrc, long nRad, ImageRef imgDst)\n"},
    };
    for (const auto& [arguments, printed] : cases) {
        const Outcome help = run(arguments);
        EXPECT_EQ(help.status, 0) << arguments;
        EXPECT_EQ(help.out.rfind(printed, 0), 0u) << arguments << "\n" << help.out;
        EXPECT_EQ(help.err, "") << arguments;
    }
    EXPECT_NE(run("FMedianFilter --help").out.find("\nzorvan [--trace] [-o FILE]"), std::string::npos);
    const Outcome version = run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "zorvan " ZORVAN_VERSION "\n");
    EXPECT_EQ(std::count(version.out.begin(), version.out.end(), '.'), 2) << "major.minor.patch";
}

TEST_F(Zorvan, PrintsTheCalibrationOfEveryFileAndSaysWhenAnOutputDropsIt) {
    ImageData data{type::real4, {4, 3}, std::vector<std::byte>(12 * sizeof(float))};
    data.pixel_size = {0.25, false};
    zorvan::files::write_image(path("in.mrc"), data);
    write("plain.npy", type::real4, {4, 3}, std::vector<float>(12));
    const Outcome sum = run("FElementWiseProductComplexByRealDLL " + path("plain.npy") + " " + path("in.mrc"));
    EXPECT_EQ(sum.out.rfind(path("plain.npy") + ": no pixel size in the file\n" + path("in.mrc") + ": pixel size 0.25 nm\n", 0), 0u)
        << sum.out;
    const Outcome mean = run("FMovingAverage " + path("in.mrc") + " 1 null -o " + path("mean.npy"));
    EXPECT_EQ(mean.status, 0);
    EXPECT_NE(mean.out.find("result written to " + path("mean.npy") + "\n" + path("mean.npy") +
                            ": written without pixel size 0.25 nm (the format cannot hold it)\n"),
              std::string::npos)
        << mean.out;
}

TEST_F(Zorvan, InfoListsEachImageWithItsCalibration) {
    ImageData data{type::int16, {4, 3, 2}, std::vector<std::byte>(24 * sizeof(std::int16_t))};
    data.pixel_size = {0.25, false};
    zorvan::files::write_image(path("stack.mrc"), data);
    write("plain.npy", type::uint8, {5}, std::vector<std::uint8_t>(5));
    std::ofstream(path("bad.npy")) << "not an image";
    const Outcome info = run("info " + path("stack.mrc") + " " + path("bad.npy") + " " + path("plain.npy"));
    EXPECT_EQ(info.status, 2) << "a file that cannot be read";
    EXPECT_EQ(info.err.rfind("zorvan: " + path("bad.npy") + ": ", 0), 0u) << info.err;
    EXPECT_EQ(info.out.rfind(path("stack.mrc") + ": 1 image\n  0: signed 16-bit integer, 4 x 3 x 2\n", 0), 0u) << info.out;
    EXPECT_TRUE(info.out.ends_with("     pixel size 0.25 nm\n" + path("plain.npy") + ": 1 image\n"
                            "  0: unsigned 8-bit integer, 5\n"
                            "     no axis calibration in the file\n"
                            "     no pixel size in the file\n")) << info.out;
    EXPECT_EQ(run("info").status, 2);
}

}  // namespace
