#pragma once
// Turning exceptions into host script errors, and reports to the host's
// error manager.

#include "contract/dm_host_interfaces.h"

#include <cstdint>

namespace Gatan::PlugIn {

inline constexpr std::int32_t kErrorManagerCode = 0x7082;
inline constexpr std::int32_t kUnknownExceptionCode = 0x7083;
inline constexpr std::int32_t kComErrorCode = 0x708B;

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

}  // namespace Gatan::PlugIn
