#include "platform/trace/trace.h"

#include <mutex>

namespace ipu {

namespace {

struct Counters {
    std::mutex mutex;
    std::vector<TraceCounter> list;
};

// Never destroyed: counters may be added while other static objects
// (a host, a plug-in being unloaded) are destroyed at exit.
Counters& counters() {
    static Counters* const all = new Counters;
    return *all;
}

}  // namespace

void DLLTraceAddCounter(const char* name, std::int64_t ticks) {
    if (name == nullptr) return;
    auto& all = counters();
    std::lock_guard lock(all.mutex);
    for (auto& counter : all.list) {
        if (counter.name == name) {
            ++counter.additions;
            counter.total_ticks += ticks;
            return;
        }
    }
    all.list.push_back({name, 1, ticks});
}

std::vector<TraceCounter> DLLTraceReadCounters() {
    auto& all = counters();
    std::lock_guard lock(all.mutex);
    return all.list;
}

void DLLTraceResetCounters() {
    auto& all = counters();
    std::lock_guard lock(all.mutex);
    all.list.clear();
}

}  // namespace ipu
