#pragma once
// The host SDK's utility libraries that start and stop with the plug-in.

#include "plugin/host_refs.h"
#include "plugin/plugin_main.h"

#include <boost/shared_ptr.hpp>

#include <vector>

namespace Gatan::PlugIn {

class DMPlugInUtilityLibrary {
public:
    virtual ~DMPlugInUtilityLibrary();
    virtual void start(DM_ScriptContext* context, PlugInMain* plugin) = 0;
    virtual void stop(DM_ScriptContext* context, PlugInMain* plugin) = 0;
    // Removes the library's own registered functions, last first.
    void remove_functions();

protected:
    std::vector<DM_Handle> functions_;
};

// Declares the plug-in's memory-buffer script class and the two abstract
// image-slice methods.
class DMPlugInImageUtility : public DMPlugInUtilityLibrary {
public:
    void start(DM_ScriptContext* context, PlugInMain* plugin) override;
    void stop(DM_ScriptContext* context, PlugInMain* plugin) override;

private:
    FunctionRef count_slices_;
    FunctionRef get_slice_;
    ScriptClassRef memory_buffer_class_;
};

class DMPlugInStreamUtility : public DMPlugInUtilityLibrary {
public:
    void start(DM_ScriptContext*, PlugInMain*) override {}
    void stop(DM_ScriptContext*, PlugInMain*) override {}
};

void start_utility_libraries(PlugInMain* plugin);
void stop_utility_libraries(PlugInMain* plugin);

}  // namespace Gatan::PlugIn
