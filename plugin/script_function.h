#pragma once
// The boundary of every script function: no exception reaches the host.

#include "contract/dm_host_interfaces.h"
#include "plugin/PlugInUtility.h"
#include "plugin/errors.h"

#include <cstddef>
#include <type_traits>

namespace Gatan::PlugIn {

// Runs `body`; an exception is raised as a script error in the host and
// the function answers Result{} (a null image handle, 0, or nothing).
// A failure of the report itself is dropped rather than let loose into the
// host, whose native call frames cannot carry it.
template <class Result, class Body>
Result script_guard(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        try {
            report_exception_in_flight(nullptr);
        } catch (...) {
        }
    }
    if constexpr (!std::is_void_v<Result>) return Result{};
}

// One row of a registration table.
struct ScriptFunctionRow {
    const char* result_type;  // with its trailing blank: "ImageRef "
    const char* signature;    // after the prefix
    void* implementation;
};

// Registers the rows in order with the prefix "F", releasing each handle.
void register_rows(PlugInMain& plugin, const ScriptFunctionRow* rows, std::size_t count);
// Registers one whole prototype.
void register_prototype(PlugInMain& plugin, const char* prototype, void* implementation);

}  // namespace Gatan::PlugIn
