// The plug-in object: at start-up it registers every row of the
// script-function table, in the table's order, with its implementation.

#include "contract/script_functions.h"
#include "operations/implementations.h"
#include "plugin/host_refs.h"
#include "plugin/plugin_main.h"

#include <cstddef>
#include <iterator>
#include <string_view>

namespace {

class MyPlugIn final : public Gatan::PlugIn::PlugInMain {
public:
    void Start() override {
        for (std::size_t row = 0; row < std::size(zorvan::script_functions); ++row) {
            const std::string_view prototype = zorvan::script_functions[row].prototype;
            Gatan::PlugIn::FunctionRef::adopt(AddFunction(prototype.data(), prototype.data() + prototype.size(),
                                                          zorvan::ops::implementation_of(row)));
        }
    }
};

MyPlugIn g_plugin;

}  // namespace
