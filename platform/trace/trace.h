#pragma once
// Our stand-in for the host application's trace library: named counters to
// which callers add elapsed ticks.

#include <cstdint>
#include <string>
#include <vector>

#define ZORVAN_TRACE_API __attribute__((visibility("default")))

namespace ipu {

// Adds `ticks` to the counter `name` (created at its first addition).
ZORVAN_TRACE_API void DLLTraceAddCounter(const char* name, std::int64_t ticks);

struct TraceCounter {
    std::string name;
    std::uint64_t additions;
    std::int64_t total_ticks;
};

// All counters, in the order of their first addition.
ZORVAN_TRACE_API std::vector<TraceCounter> DLLTraceReadCounters();
ZORVAN_TRACE_API void DLLTraceResetCounters();

}  // namespace ipu
