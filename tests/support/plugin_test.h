#pragma once
// Shared set-up of the tests that drive a plug-in through the host.

#include "host/host.h"
#include "tests/support/values.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace zorvan::testing {

using host::Arg;
using host::CallResult;
using host::Host;
using host::Image;

// A host with a plug-in loaded; every test ends with the host's objects
// and data locks back where they were after loading.
class PluginTest : public ::testing::Test {
protected:
    explicit PluginTest(const char* path = ZORVAN_PLUGIN_PATH) : path_(path) {}

    void SetUp() override {
        host.load_plugin(path_);
        Host::reset_counters();
        Host::clear_error_reports();
        baseline = Host::object_counts();
        bad_handles = Host::bad_handle_uses();
        contract_breaks = Host::contract_breaks().size();
    }

    void TearDown() override {
        EXPECT_EQ(host::to_string(Host::object_counts()), host::to_string(baseline)) << "objects left behind";
        EXPECT_EQ(Host::bad_handle_uses(), bad_handles) << "the plug-in used a bad handle";
        EXPECT_EQ(Host::contract_breaks().size(), contract_breaks) << "the plug-in broke the calling convention";
    }

    template <class T>
    Image image(std::int32_t type, std::vector<std::uint64_t> sizes, const std::vector<T>& pixels) {
        return host.make_image(type, std::move(sizes), pixels.data(), pixels.size() * sizeof(T));
    }

    std::uint64_t additions(const char* counter) const {
        const auto found = Host::counter(counter);
        return found ? found->additions : 0;
    }

    const char* path_;
    Host host;
    host::ObjectCounts baseline;
    std::uint64_t bad_handles = 0;
    std::size_t contract_breaks = 0;
};

}  // namespace zorvan::testing
