#pragma once
// How failures reach the host: the exception that carries a host Throwable
// back through the plug-in, the boundary of every script function, the
// reporter that raises the exception in flight as a script error, and the
// reports to the host's error manager.

#include "contract/dm_host_interfaces.h"
#include "platform/foundation/foundation.h"

#include <cstdint>
#include <type_traits>

namespace Gatan::PlugIn {

inline constexpr std::int32_t kErrorManagerCode = 0x7082;
inline constexpr std::int32_t kUnknownExceptionCode = 0x7083;
inline constexpr std::int32_t kComErrorCode = 0x708B;

// The exception that carries a host Throwable back to the reporter.
class dmplugin_exception : public Gatan::gatan_exception {
public:
    explicit dmplugin_exception(DM_Handle throwable);  // takes a reference
    dmplugin_exception(const dmplugin_exception& other);
    dmplugin_exception& operator=(const dmplugin_exception&) = delete;
    ~dmplugin_exception() override;
    // The Throwable's message, in a process-wide buffer shared by all.
    const char* what() const noexcept override;
    void get_error_code(std::int32_t& code, std::intptr_t& parameter) const override;
    DM_Handle throwable() const { return throwable_; }

private:
    DM_Handle throwable_;
};

// Raises the exception in flight as a script error in `context` (or in a
// context of the current environment when null). Call only in a handler.
void report_exception_in_flight(DM_ScriptContext* context);

// A Throwable (one reference) for the exception in flight.
DM_Handle convert_exception_in_flight(DM_ScriptContext* context);

// Hands `text` (cut to 511 bytes) to the host's error manager.
void report_to_error_manager(std::int32_t code, const char* text);

// Reports a failed assertion; answers false so the caller can go on.
// Qualification below 0: nothing; 0 or 1: error manager; 2: continuable.
bool assertion_report(const char* file, long line, const char* condition, int qualification);

// The boundary of every script function: runs `body`; an exception is
// raised as a script error in the host and the function answers Result{}
// (a null image handle, 0, or nothing). A failure of the report itself is
// dropped rather than let loose into the host, whose native call frames
// cannot carry it.
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

}  // namespace Gatan::PlugIn
