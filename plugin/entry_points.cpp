// The nine exported entry points: the host hands over its environment and
// drives the plug-in object through its life. Every lifecycle call but the
// link and the version query runs timed inside a catch-all frame.

#include "contract/dm_host_interfaces.h"
#include "plugin/errors.h"
#include "plugin/plugin_main.h"
#include "plugin/timing.h"
#include "plugin/utility_libraries.h"

#include <cstdint>

#define ZORVAN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Gatan::PlugIn::PlugInMain;

enum class EnvStep { none, link, unlink };

// Runs one lifecycle export's work, timed inline: nothing is counted when
// an exception ends the work. Answers whether the work completed.
template <class Work>
bool timed_export(const char* counter, EnvStep step, Work&& work) {
    PlugInMain* plugin = nullptr;
    bool completed = false;
    try {
        plugin = Gatan::PlugIn::plugin_object();
        if (step == EnvStep::link && plugin != nullptr) plugin->environment().Link();
        const Gatan::PlugIn::InlineTiming timing(counter);
        if (plugin != nullptr) work(*plugin);
        timing.stop();
        completed = true;
    } catch (...) {
        Gatan::PlugIn::report_exception_in_flight(nullptr);
    }
    if (step == EnvStep::unlink && plugin != nullptr) plugin->environment().Unlink();
    return completed;
}

}  // namespace

ZORVAN_EXPORT void DMPlugIn_Link_2(DM_HostEnv* environment) { Gatan::PlugIn::set_pending_link(environment); }

ZORVAN_EXPORT void PlugInGetSDKVersion(std::uint32_t* major, std::uint32_t* minor) {
    if (major != nullptr) *major = 3;
    if (minor != nullptr) *minor = 5;
}

ZORVAN_EXPORT void PlugInRegisterFloatingWindows() {
    timed_export("PlugIn_RegisterFloatingWindows", EnvStep::link, [](PlugInMain& plugin) {
        Gatan::PlugIn::start_utility_libraries(&plugin);
        plugin.set_floating_windows_started();
        plugin.RegisterFloatingWindows();
    });
}

ZORVAN_EXPORT void PlugInStartup() {
    timed_export("PlugIn_Start", EnvStep::link, [](PlugInMain& plugin) {
        DM_HostEnv* environment = Gatan::PlugIn::current_environment();
        if (environment == nullptr || environment->GetVersion() < DM_REQUIRED_VERSION) {
            Gatan::PlugIn::report_to_error_manager(Gatan::PlugIn::kErrorManagerCode,
                                                   "This plugin requires DM 3.10.0 or later.");
        }
        if (!plugin.floating_windows_started()) Gatan::PlugIn::start_utility_libraries(&plugin);
        plugin.Start();
    });
}

ZORVAN_EXPORT void PlugInRun() {
    timed_export("PlugIn_Run", EnvStep::none, [](PlugInMain& plugin) { plugin.Run(); });
}

ZORVAN_EXPORT bool PlugInRequestClose() {
    bool answer = false;
    const bool completed = timed_export("PlugIn_RequestClose", EnvStep::none,
                                        [&answer](PlugInMain& plugin) { answer = plugin.RequestClose(); });
    return completed && answer;
}

ZORVAN_EXPORT void PlugInPrepareClose() {
    timed_export("PlugIn_PrepareClose", EnvStep::none, [](PlugInMain& plugin) { plugin.PrepareClose(); });
}

ZORVAN_EXPORT void PlugInCleanup() {
    timed_export("PlugIn_Cleanup", EnvStep::none, [](PlugInMain& plugin) { plugin.Cleanup(); });
}

ZORVAN_EXPORT void PlugInShutdown() {
    timed_export("PlugIn_End", EnvStep::unlink, [](PlugInMain& plugin) {
        plugin.End();
        plugin.RemoveAllFunctions();
        Gatan::PlugIn::stop_utility_libraries(&plugin);
    });
}
