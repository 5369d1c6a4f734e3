// The plug-in's lifecycle as the host drives it: link, version, start-up,
// registration, the close sequence, shutdown, unload and reload.

#include "contract/dm_host_interfaces.h"
#include "tests/support/plugin_test.h"

#include <algorithm>

namespace zorvan::testing {
namespace {

const std::vector<std::string> kFixturePrototypes = {
    "long FEchoLong(long value)",
    "short FNarrowShort(long value)",
    "void FMix(double a, float b, double * sum, double * asFloat)",
    "void FTwice(double * value)",
    "ImageRef FSame(Image * img)",
    "void FReplace(ImageRef* img, long width)",
    "long FTypeOf(ImageRef img)",
    "long FFail(long how)",
    "long FSetFailingStep(long step)",
    "ImageRef FSameAndFail(ImageRef img)",
    "long TLast(long value)",
};

std::uint64_t additions(const char* counter) {
    const auto found = Host::counter(counter);
    return found ? found->additions : 0;
}

bool reported(const char* text) {
    const auto reports = Host::error_reports();
    return std::any_of(reports.begin(), reports.end(),
                       [&](const host::ErrorReport& r) { return r.code == 0x7082 && r.text == text; });
}

constexpr const char* kVersionMessage = "This plugin requires DM 3.10.0 or later.";

TEST(Lifecycle, LinkStartRegisterShutdownAndUnload) {
    Host host;
    const auto before = Host::object_counts();
    Host::reset_counters();
    Host::clear_error_reports();
    {
        auto plugin = host.open_library(ZORVAN_FIXTURE_PATH);
        std::uint32_t major = 0, minor = 0;
        plugin->sdk_version(major, minor);
        EXPECT_EQ(major, 3u);
        EXPECT_EQ(minor, 5u);
        EXPECT_TRUE(Host::counters().empty()) << "the version query is not timed";

        // Linking the same interface twice holds one reference; null drops it.
        plugin->link(host.environment());
        plugin->link(host.environment());
        EXPECT_EQ(host.environment_references(), 1);
        plugin->link(nullptr);
        EXPECT_EQ(host.environment_references(), 0);
        plugin->link(host.environment());

        plugin->startup();
        EXPECT_FALSE(reported(kVersionMessage));
        EXPECT_EQ(host.published_prototypes(), kFixturePrototypes);
        EXPECT_EQ(additions("PlugIn_Start"), 1u);
        // The pending link became current: the plug-in holds the environment.
        EXPECT_GE(host.environment_references(), 1);

        // The image utility declared its memory-buffer class with two methods.
        const auto classes = host.script_class_names();
        ASSERT_EQ(classes.size(), 1u);
        const std::string suffix = "_pluginmemorybuffer";
        const std::string address = classes[0].substr(0, classes[0].size() - suffix.size());
        EXPECT_TRUE(classes[0].ends_with(suffix)) << classes[0];
        EXPECT_TRUE(address.starts_with("0x") && address.size() > 2 &&
                    address.find_first_not_of("0123456789abcdef", 2) == std::string::npos)
            << classes[0];
        const auto methods = host.script_class_methods(classes[0]);
        ASSERT_EQ(methods.size(), 2u);
        EXPECT_EQ(methods[0], "LockMemory: threadsafe void * proc( ScriptObject, uint32 )");
        EXPECT_EQ(methods[1], "UnlockMemory: threadsafe void proc( ScriptObject )");

        plugin->run();
        EXPECT_TRUE(plugin->request_close());
        plugin->prepare_close();
        plugin->cleanup();
        for (const char* counter : {"PlugIn_Run", "PlugIn_RequestClose", "PlugIn_PrepareClose", "PlugIn_Cleanup"}) {
            EXPECT_EQ(additions(counter), 1u) << counter;
        }

        plugin->shutdown();
        EXPECT_EQ(additions("PlugIn_End"), 1u);
        EXPECT_TRUE(host.published_prototypes().empty());
        auto removed = host.removed_prototypes();
        std::reverse(removed.begin(), removed.end());
        EXPECT_EQ(removed, kFixturePrototypes) << "functions are removed last first";
        EXPECT_TRUE(host.script_class_names().empty()) << "the utility libraries were stopped";
        EXPECT_TRUE(host.lifecycle_errors().empty());
    }
    EXPECT_EQ(host.environment_references(), 0);
    EXPECT_EQ(host::to_string(Host::object_counts()), host::to_string(before));
}

TEST(Lifecycle, StartupWithoutALinkReportsTheVersionAndRegistersNothing) {
    Host host;
    Host::clear_error_reports();
    {
        auto plugin = host.open_library(ZORVAN_FIXTURE_PATH);
        plugin->startup();
        EXPECT_TRUE(reported(kVersionMessage));
        EXPECT_TRUE(host.published_prototypes().empty());
        EXPECT_EQ(host.environment_references(), 0);
        plugin->shutdown();
    }
    // An old host gets the message and the plug-in starts anyway.
    Host::clear_error_reports();
    host.set_version(0x03090000);
    {
        auto plugin = host.open_library(ZORVAN_FIXTURE_PATH);
        plugin->link(host.environment());
        plugin->startup();
        EXPECT_TRUE(reported(kVersionMessage));
        EXPECT_EQ(host.published_prototypes().size(), kFixturePrototypes.size());
        plugin->shutdown();
    }
}

TEST(Lifecycle, FloatingWindowsThenStartupStartsTheLibrariesOnce) {
    Host host;
    Host::reset_counters();
    const auto scripts_before = Host::object_counts().script_classes;
    auto plugin = host.open_library(ZORVAN_FIXTURE_PATH);
    plugin->link(host.environment());
    plugin->register_floating_windows();
    EXPECT_EQ(additions("PlugIn_RegisterFloatingWindows"), 1u);
    EXPECT_EQ(host.script_class_names().size(), 1u);
    plugin->startup();
    EXPECT_EQ(host.script_class_names().size(), 1u);
    EXPECT_EQ(Host::object_counts().script_classes, scripts_before + 1);
    EXPECT_EQ(host.published_prototypes().size(), kFixturePrototypes.size());
    plugin->shutdown();
    EXPECT_EQ(Host::object_counts().script_classes, scripts_before);
}

TEST(Lifecycle, AFailingStepIsReportedAndNotTimed) {
    Host host;
    auto plugin = host.open_library(ZORVAN_FIXTURE_PATH);
    plugin->link(host.environment());
    plugin->startup();
    Host::reset_counters();
    host.clear_lifecycle_errors();

    ASSERT_TRUE(host.call("FSetFailingStep", {2}).ok());
    EXPECT_FALSE(plugin->request_close());
    EXPECT_EQ(additions("PlugIn_RequestClose"), 0u);
    ASSERT_EQ(host.lifecycle_errors().size(), 1u);
    EXPECT_EQ(host.lifecycle_errors()[0].message, "lifecycle step failed");

    ASSERT_TRUE(host.call("FSetFailingStep", {1}).ok());
    plugin->run();
    EXPECT_EQ(additions("PlugIn_Run"), 0u);
    EXPECT_EQ(host.lifecycle_errors().size(), 2u);

    // A failing End still unlinks: a later start-up adopts a new link.
    ASSERT_TRUE(host.call("FSetFailingStep", {5}).ok());
    plugin->shutdown();
    EXPECT_EQ(additions("PlugIn_End"), 0u);
    EXPECT_EQ(host.lifecycle_errors().size(), 3u);
    EXPECT_EQ(host.published_prototypes().size(), kFixturePrototypes.size()) << "End threw before removal";
    plugin->link(host.environment());
    plugin->startup();
    EXPECT_EQ(additions("PlugIn_Start"), 1u);
}

TEST(Lifecycle, LoadRunUnloadAndReloadLeaveNothingBehind) {
    Host host;
    const auto before = Host::object_counts();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        host.load_plugin(ZORVAN_PLUGIN_PATH);
        ASSERT_FALSE(host.published_prototypes().empty());
        Image image = host.make_image(host::data_type::real4, {8, 8});
        const CallResult result = host.call("FMovingAverage", {image, 1, nullptr});
        ASSERT_TRUE(result.ok());
        EXPECT_FALSE(result.image.same_as(image));
        host.unload_plugin();
        EXPECT_TRUE(host.published_prototypes().empty());
    }
    EXPECT_EQ(host.environment_references(), 0);
    EXPECT_EQ(host::to_string(Host::object_counts()), host::to_string(before));
    EXPECT_TRUE(host.lifecycle_errors().empty());
}

}  // namespace
}  // namespace zorvan::testing
