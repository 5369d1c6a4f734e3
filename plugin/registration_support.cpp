#include "plugin/ImageUtility.h"
#include "plugin/script_function.h"

#include <cstring>
#include <string>

namespace Gatan::PlugIn {

void register_rows(PlugInMain& plugin, const ScriptFunctionRow* rows, std::size_t count) {
    const std::string prefix = "F";
    for (std::size_t i = 0; i < count; ++i) {
        const std::string prototype = rows[i].result_type + prefix + rows[i].signature;
        FunctionRef::adopt(plugin.AddFunction(prototype.data(), prototype.data() + prototype.size(),
                                              rows[i].implementation));
    }
}

void register_prototype(PlugInMain& plugin, const char* prototype, void* implementation) {
    FunctionRef::adopt(plugin.AddFunction(prototype, prototype + std::strlen(prototype), implementation));
}

}  // namespace Gatan::PlugIn
