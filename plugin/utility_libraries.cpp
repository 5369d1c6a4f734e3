#include "plugin/utility_libraries.h"

#include "plugin/errors.h"
#include "plugin/host_functions.h"

#include <cstdio>
#include <memory>
#include <string>

namespace Gatan::PlugIn {

namespace {

using LibraryList = std::vector<boost::shared_ptr<DMPlugInUtilityLibrary>>;

// The list lives from load to unload; a failed allocation is reported once
// and leaves the plug-in without utility libraries.
struct LibraryListHolder {
    std::unique_ptr<LibraryList> list;
    LibraryListHolder() {
        try {
            list = std::make_unique<LibraryList>();
            list->push_back(boost::shared_ptr<DMPlugInUtilityLibrary>(new DMPlugInImageUtility));
            list->push_back(boost::shared_ptr<DMPlugInUtilityLibrary>(new DMPlugInStreamUtility));
        } catch (...) {
            list.reset();
        }
        if (!list) assertion_report("PlugInUtility", 242, "sData != NULL", 1);
    }
};

LibraryListHolder g_libraries;

// A script-class method prototype: "threadsafe " when marked, the return
// type, " proc( ", the parameter types joined by ", ", and " )".
std::string method_prototype(bool thread_safe, const std::string& result, std::initializer_list<const char*> params) {
    std::string text = thread_safe ? "threadsafe " : "";
    text += result;
    text += " proc( ";
    bool first = true;
    for (const char* param : params) {
        if (!first) text += ", ";
        text += param;
        first = false;
    }
    text += " )";
    return text;
}

}  // namespace

DMPlugInUtilityLibrary::~DMPlugInUtilityLibrary() {
    for (DM_Handle function : functions_) FunctionRef::adopt(function).reset();
}

void DMPlugInUtilityLibrary::remove_functions() { remove_functions_last_first(functions_); }

void DMPlugInImageUtility::start(DM_ScriptContext* context, PlugInMain* plugin) {
    count_slices_ = NewAbstractMethod(context, "ImageData_CountSlices", "uint32 ImageData_CountSlices( ScriptObject img_src )");
    get_slice_ = NewAbstractMethod(
        context, "ImageData_GetSlice",
        "void *ImageData_GetSlice( ScriptObject img_src, uint32 slice_index, uint32 des_num_dim, uint32 *act_num_dim, "
        "uint32 *data_type, uint32 *pack_style, sint32 *dimension_info...)");

    char class_name[256];
    std::snprintf(class_name, sizeof class_name, "%p_%s", static_cast<void*>(plugin), "pluginmemorybuffer");
    const std::string name(class_name);
    ScriptClassRef script_class =
        ScriptClassRef::adopt(host_class(HostClass::ScriptClass)->CreateFromText(name.data(), name.data() + name.size()));
    const FunctionRef lock_memory =
        NewAbstractMethod(context, "LockMemory", method_prototype(true, "void *", {"ScriptObject", "uint32"}));
    ScriptClassAddMethod(context, script_class.get(), lock_memory.get());
    const FunctionRef unlock_memory =
        NewAbstractMethod(context, "UnlockMemory", method_prototype(true, "void", {"ScriptObject"}));
    ScriptClassAddMethod(context, script_class.get(), unlock_memory.get());
    memory_buffer_class_ = std::move(script_class);
}

void DMPlugInImageUtility::stop(DM_ScriptContext*, PlugInMain*) {
    count_slices_.reset();
    get_slice_.reset();
    memory_buffer_class_.reset();
}

void start_utility_libraries(PlugInMain* plugin) {
    if (!g_libraries.list) return;
    const DM_PlugInEnv context;
    for (const auto& library : *g_libraries.list) library->start(context.context(), plugin);
}

void stop_utility_libraries(PlugInMain* plugin) {
    if (!g_libraries.list) return;
    const DM_PlugInEnv context;
    for (const auto& library : *g_libraries.list) {
        library->stop(context.context(), plugin);
        library->remove_functions();
    }
}

}  // namespace Gatan::PlugIn
