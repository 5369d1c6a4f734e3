#pragma once
// Shared set-up of the tests that run the zorvan command: a scratch folder,
// a host with the plug-in loaded (to compare with), and a run of the
// command that keeps its exit status and output.

#include "host/host.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zorvan::testing {

inline std::string slurp(const std::string& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Outcome {
    int status;  // the exit code; -1 when the command did not exit
    std::string out, err;
};

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zorvan-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        host_.load_plugin(ZORVAN_PLUGIN_PATH);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    // `zorvan ARGUMENTS`, words split by the shell.
    Outcome run(const std::string& arguments) const {
        const std::string out = path("stdout.txt"), err = path("stderr.txt");
        const int status = std::system((std::string(ZORVAN_COMMAND) + " " + arguments + " >" + out + " 2>" + err).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
    }

    std::string dir_;
    host::Host host_;
};

}  // namespace zorvan::testing
