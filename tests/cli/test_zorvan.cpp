// The zorvan command as a user runs it: output, files and exit codes.

#include "files/image_io.h"
#include "host/host.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using zorvan::files::ImageData;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class Zorvan : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zorvan-cli-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    Outcome run(const std::string& arguments) const {
        const std::string out = path("stdout.txt"), err = path("stderr.txt");
        const int status = std::system((std::string(ZORVAN_COMMAND) + " " + arguments + " >" + out + " 2>" + err).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
    }

    static std::string slurp(const std::string& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static bool exists(const std::string& file) {
        struct stat info;
        return stat(file.c_str(), &info) == 0;
    }

    template <class T>
    std::string write(const std::string& name, std::int32_t type, std::vector<std::uint64_t> sizes,
                      const std::vector<T>& pixels) const {
        ImageData data;
        data.data_type = type;
        data.sizes = std::move(sizes);
        data.bytes.resize(pixels.size() * sizeof(T));
        std::memcpy(data.bytes.data(), pixels.data(), data.bytes.size());
        zorvan::files::write_image(path(name), data);
        return path(name);
    }

    template <class T>
    std::vector<T> read(const std::string& name) const {
        const ImageData data = zorvan::files::read_image(path(name));
        std::vector<T> out(data.bytes.size() / sizeof(T));
        std::memcpy(out.data(), data.bytes.data(), out.size() * sizeof(T));
        return out;
    }

    std::string dir_;
};

TEST_F(Zorvan, ListsThePrototypesExactlyAsRegistered) {
    zorvan::host::Host host;
    host.load_plugin(ZORVAN_PLUGIN_PATH);
    std::string expected;
    for (const auto& prototype : host.published_prototypes()) expected += prototype + "\n";
    const Outcome listed = run("list");
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, expected);
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 19);

    const Outcome help = run("help FFTWindow");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("ImageRef FFTWindow(ImageRef imgSrc, long eMode,ImageRef imgDst)\n", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("Example:"), std::string::npos);
}

TEST_F(Zorvan, CallsAFunctionOnFilesAndWritesItsResult) {
    const std::vector<float> pixels{1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::string source = write("in.npy", zorvan::host::data_type::real4, {3, 3}, pixels);

    const Outcome smoothed = run("FMovingAverage " + source + " 1 null -o " + path("out.npy"));
    ASSERT_EQ(smoothed.status, 0) << smoothed.err;
    const auto result = read<float>("out.npy");
    ASSERT_EQ(result.size(), 9u);
    EXPECT_EQ(result[4], 5.0f);                     // the centre: mean of all nine
    EXPECT_EQ(result[0], (1.0f + 2 + 4 + 5) / 4);   // a corner: its four in-image neighbours

    // Named arguments, and a summary instead of a file.
    const Outcome summary = run("FMovingAverage nRad=0 imgSrc=" + source);
    ASSERT_EQ(summary.status, 0) << summary.err;
    EXPECT_NE(summary.out.find("result: 4-byte real, 3 x 3"), std::string::npos) << summary.out;
    EXPECT_NE(summary.out.find("min 1, max 9, mean 5"), std::string::npos) << summary.out;

    // double * results print with enough digits to read them back exactly.
    const std::vector<double> thirds{1.0 / 3, 2.0 / 3};
    const Outcome survey = run("FSurvey " + write("thirds.npy", zorvan::host::data_type::real8, {2}, thirds) + " --trace");
    ASSERT_EQ(survey.status, 0) << survey.err;
    EXPECT_NE(survey.out.find("fMin = 0.33333333333333331\n"), std::string::npos) << survey.out;
    EXPECT_NE(survey.out.find("fSum = 1\n"), std::string::npos) << survey.out;
    EXPECT_NE(survey.out.find("SurveyDM"), std::string::npos) << "--trace lists the counters";
}

// Every function through the command: its written result equals what the
// same call gives through the host in this process.
TEST_F(Zorvan, EveryFunctionWritesWhatTheHostComputes) {
    std::vector<float> reals(64), others(64), spot(256, 0.0f), profile(12);
    std::vector<float> complex(128), complex_other(128);
    for (std::size_t i = 0; i < 64; ++i) {
        reals[i] = static_cast<float>((i * 37) % 23) * 0.5f + 1.0f;
        others[i] = static_cast<float>((i * 11) % 7) * 0.25f;
    }
    for (std::size_t i = 0; i < 128; ++i) {
        complex[i] = static_cast<float>((i * 13) % 17) - 8.0f;
        complex_other[i] = static_cast<float>((i * 5) % 9) * 0.5f;
    }
    for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = 1.0f / static_cast<float>(i + 1);
    spot[7 * 16 + 9] = 10.0f;  // a bright pixel with a dimmer neighbour
    spot[7 * 16 + 8] = 5.0f;
    using zorvan::host::data_type::complex8;
    using zorvan::host::data_type::real4;
    write("real.npy", real4, {8, 8}, reals);
    write("other.npy", real4, {8, 8}, others);
    write("spot.npy", real4, {16, 16}, spot);
    write("profile.npy", real4, {12}, profile);
    write("complex.npy", complex8, {8, 8}, complex);
    write("complex_other.npy", complex8, {8, 8}, complex_other);
    write("destination.npy", real4, {8, 8}, std::vector<float>(64, 0.0f));

    struct Case {
        std::vector<std::string> arguments;  // files (in dir_), numbers or null
        std::string saved;                   // the parameter written with --save, if any
        std::string printed;                 // what stdout must hold
    };
    const std::vector<std::pair<std::string, Case>> cases = {
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
    ASSERT_EQ(cases.size(), 19u);

    zorvan::host::Host host;
    host.load_plugin(ZORVAN_PLUGIN_PATH);
    for (const auto& [name, c] : cases) {
        SCOPED_TRACE(name);
        const auto prototype = host.prototype_of(name);
        ASSERT_TRUE(prototype);
        std::string command = name;
        std::vector<zorvan::host::Arg> args;
        std::map<std::string, zorvan::host::Image> images;
        std::size_t saved_index = 0;
        for (std::size_t i = 0; i < c.arguments.size(); ++i) {
            const std::string& word = c.arguments[i];
            const auto type = prototype->parameters[i].script_type;
            const bool file = word.size() > 4 && word.compare(word.size() - 4, 4, ".npy") == 0;
            command += " " + (file ? path(word) : word);
            if (prototype->parameters[i].name == c.saved) saved_index = i;
            zorvan::host::Image image;
            if (file) {
                if (!images.count(word)) {
                    const ImageData data = zorvan::files::read_image(path(word));
                    images[word] = host.make_image(data.data_type, data.sizes, data.bytes.data(), data.bytes.size());
                }
                image = images[word];
            }
            if (type == zorvan::host::ScriptType::double_ref) {
                args.push_back(zorvan::host::Arg::out(std::stod(word)));
            } else if (type == zorvan::host::ScriptType::image_ref) {
                args.push_back(zorvan::host::Arg::slot(image));
            } else if (type == zorvan::host::ScriptType::image) {
                args.emplace_back(image);
            } else {
                args.emplace_back(std::stod(word));
            }
        }
        // Arguments left out: 0 for a double *, null for an image.
        for (std::size_t i = args.size(); i < prototype->parameters.size(); ++i) {
            const auto type = prototype->parameters[i].script_type;
            if (type == zorvan::host::ScriptType::double_ref) {
                args.push_back(zorvan::host::Arg::out(0.0));
            } else if (type == zorvan::host::ScriptType::image_ref) {
                args.push_back(zorvan::host::Arg::slot());
            } else {
                args.emplace_back(nullptr);
            }
        }
        const bool returns_image = prototype->result == zorvan::host::ScriptType::image;
        if (returns_image) command += " -o " + path("result.npy");
        if (!c.saved.empty()) command += " --save " + c.saved + "=" + path("saved.npy");

        const Outcome ran = run(command);
        ASSERT_EQ(ran.status, 0) << command << "\n" << ran.err;
        EXPECT_NE(ran.out.find(c.printed), std::string::npos) << ran.out;

        const auto expected = host.call(name, args);
        ASSERT_TRUE(expected.ok());
        if (returns_image) {
            ASSERT_TRUE(expected.image);
            const ImageData written = zorvan::files::read_image(path("result.npy"));
            EXPECT_EQ(written.data_type, expected.image.data_type());
            EXPECT_EQ(written.bytes, expected.image.bytes());
        }
        if (!c.saved.empty()) {
            const ImageData written = zorvan::files::read_image(path("saved.npy"));
            EXPECT_EQ(written.bytes, args[saved_index].image().bytes());
        }
    }
}

TEST_F(Zorvan, TheSameFileTwiceIsTheSameImage) {
    const std::vector<float> pixels{0, 0, 9, 0, 0, 0};
    const std::string source = write("in.npy", zorvan::host::data_type::real4, {6}, pixels);
    // Passing the source as destination filters in place; --save writes the result.
    const Outcome in_place = run("FMovingAverage " + source + " 1 " + source + " --save imgDst=" + path("saved.npy"));
    ASSERT_EQ(in_place.status, 0) << in_place.err;
    const auto saved = read<float>("saved.npy");
    EXPECT_EQ(saved[2], 3.0f);
    EXPECT_EQ(read<float>("in.npy"), pixels) << "the file itself is only rewritten when asked";
}

TEST_F(Zorvan, FailuresSayWhatWentWrongAndWriteNothing) {
    const std::string integers = write("int16.npy", zorvan::host::data_type::int16, {2, 2}, std::vector<std::int16_t>{1, 2, 3, 4});
    const std::string reals = write("real.npy", zorvan::host::data_type::real4, {2, 2}, std::vector<float>{1, 2, 3, 4});
    struct Case {
        std::string arguments;
        int status;
        std::string message;  // the start of stderr
    };
    const std::vector<Case> cases = {
        {"FMovingAverage " + integers + " 1 null -o " + path("out.npy"), 1, "zorvan: Invalid data type.\n"},
        {"FCalculatePowerSpectrumDLL " + reals + " -o " + path("out.npy"), 1,
         "zorvan: FCalculatePowerSpectrumDLL refused its input (it returned null); it accepts: complex"},
        {"FMovingAverage " + path("missing.npy") + " 1 null -o " + path("out.npy"), 2, "zorvan: " + path("missing.npy")},
        {"FMovingAverage " + reals + " one null", 2, "zorvan: nRad must be a number, not \"one\""},
        {"FMovingAverage " + reals, 2, "zorvan: missing argument nRad"},
        {"FMovingAverage " + reals + " 1 null 4", 2, "zorvan: too many arguments"},
        {"FMovingAverage " + reals + " 1 radius=2", 2, "zorvan: FMovingAverage has no parameter named radius"},
        {"FNoSuchThing 1", 2, "zorvan: unknown function FNoSuchThing"},
        {"FSurvey " + reals + " -o " + path("out.npy"), 2, "zorvan: FSurvey returns no image"},
        {"FMovingAverage " + reals + " 1 null --save imgSrc", 2, "zorvan: --save takes PARAM=FILE"},
        {"FMovingAverage " + reals + " 1 null --frobnicate", 2, "zorvan: unknown option --frobnicate"},
        {"FMovingAverage " + reals + " 1 null -o " + path("no/such/dir/out.npy"), 2, "zorvan: "},
        {"", 2, "zorvan: no command given"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome failed = run(c.arguments);
        EXPECT_EQ(failed.status, c.status);
        EXPECT_EQ(failed.err.rfind(c.message, 0), 0u) << failed.err;
        EXPECT_FALSE(exists(path("out.npy")));
    }

    // A truncated input file is refused before anything runs.
    std::string bytes = slurp(reals);
    std::ofstream(path("cut.npy"), std::ios::binary) << bytes.substr(0, bytes.size() - 3);
    const Outcome truncated = run("FMovingAverage " + path("cut.npy") + " 1 null -o " + path("out.npy"));
    EXPECT_EQ(truncated.status, 2);
    EXPECT_NE(truncated.err.find("truncated"), std::string::npos) << truncated.err;
    EXPECT_FALSE(exists(path("out.npy")));
}

}  // namespace
