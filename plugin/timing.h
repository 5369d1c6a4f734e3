#pragma once
// Elapsed-time counters fed to the host's trace library.

#include "platform/trace/trace.h"
#include "platform/win32/win32.h"

#include <cstdint>

namespace Gatan::PlugIn {

inline std::int64_t performance_ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Adds the ticks of its lifetime to a counter, also when an exception
// passes through it.
class OperationTimer {
public:
    explicit OperationTimer(const char* counter) : counter_(counter), start_(performance_ticks()) {}
    ~OperationTimer() { ipu::DLLTraceAddCounter(counter_, performance_ticks() - start_); }
    OperationTimer(const OperationTimer&) = delete;
    OperationTimer& operator=(const OperationTimer&) = delete;

private:
    const char* counter_;
    std::int64_t start_;
};

// Timing read inline: adds to the counter only when stop() is reached, so
// nothing is recorded when an exception ends the work.
class InlineTiming {
public:
    explicit InlineTiming(const char* counter) : counter_(counter), start_(performance_ticks()) {}
    void stop() const { ipu::DLLTraceAddCounter(counter_, performance_ticks() - start_); }

private:
    const char* counter_;
    std::int64_t start_;
};

}  // namespace Gatan::PlugIn
