#pragma once
// The plug-in object the entry points drive, and the one that exists.

#include "plugin/environment.h"

#include <vector>

namespace Gatan::Win32 {

class PlugInMain {
public:
    virtual ~PlugInMain() = default;
};

}  // namespace Gatan::Win32

namespace Gatan::PlugIn {

class PlugInMain : public Gatan::Win32::PlugInMain {
public:
    PlugInMain();
    ~PlugInMain() override;
    PlugInMain(const PlugInMain&) = delete;
    PlugInMain& operator=(const PlugInMain&) = delete;

    virtual void RegisterFloatingWindows() {}
    virtual void Start() {}
    virtual void Run() {}
    virtual bool RequestClose() { return true; }
    virtual void PrepareClose() {}
    virtual void Cleanup() {}
    virtual void End() {}
    virtual void Reserved() {}

    // Creates and publishes a script function; answers its handle with one
    // reference for the caller (null when the host made none).
    DM_Handle AddFunction(const char* prototype_begin, const char* prototype_end, void* address);

    // Removes every registered function from the host, last first.
    void RemoveAllFunctions();

    DM_EnvRef& environment() { return environment_; }
    bool floating_windows_started() const { return floating_windows_; }
    void set_floating_windows_started() { floating_windows_ = true; }

private:
    DM_EnvRef environment_;
    std::vector<DM_Handle> functions_;
    bool floating_windows_ = false;
};

// Removes each function from the host, last first, releasing its handle.
void remove_functions_last_first(std::vector<DM_Handle>& functions);

// The one plug-in object (the default object when none was constructed).
PlugInMain* plugin_object();

}  // namespace Gatan::PlugIn
