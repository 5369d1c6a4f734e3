#include "plugin/plugin_main.h"

#include "plugin/host_refs.h"

namespace Gatan::PlugIn {

namespace {
PlugInMain* g_plugin = nullptr;
}

PlugInMain::PlugInMain() { g_plugin = this; }

PlugInMain::~PlugInMain() {
    RemoveAllFunctions();
    if (g_plugin == this) g_plugin = nullptr;
}

DM_Handle PlugInMain::AddFunction(const char* prototype_begin, const char* prototype_end, void* address) {
    const DM_FunctionDescriptor descriptor{DM_CALL_KIND_NATIVE, address};
    DM_HostEnv* environment = current_environment();
    if (environment == nullptr) return nullptr;
    FunctionRef created =
        FunctionRef::adopt(environment->CreateFunction(0, 0, 0, 0, prototype_begin, prototype_end, &descriptor));
    environment->PublishFunction(0, 0, created.get());
    // The slot is made first, so that a failed allocation leaks no reference.
    functions_.push_back(nullptr);
    functions_.back() = FunctionRef(created.get()).release();
    return created.release();
}

void PlugInMain::RemoveAllFunctions() { remove_functions_last_first(functions_); }

void remove_functions_last_first(std::vector<DM_Handle>& functions) {
    while (!functions.empty()) {
        DM_Handle function = functions.back();
        if (DM_HostEnv* environment = current_environment()) environment->RemoveFunction(function);
        FunctionRef::adopt(function).reset();
        functions.pop_back();
    }
}

PlugInMain* plugin_object() {
    if (g_plugin == nullptr) {
        static PlugInMain default_object;
        if (g_plugin == nullptr) g_plugin = &default_object;
    }
    return g_plugin;
}

}  // namespace Gatan::PlugIn
