// Filters still being built: each raises a script error for now.

#include "filters/filters.h"
#include "image/frame.h"

namespace zorvan::ops {

namespace {
constexpr const char* kPending = "This function is not available yet.";
}

void MovingAverage2(DM_Handle, std::int32_t, DM_Handle*, DM_Handle*) {
    frame::run_operation<void>("MovingAverageDM2", [] { frame::fail(kPending); });
}
DM_Handle MedianFilter(DM_Handle, std::int32_t, DM_Handle) {
    return frame::run_operation<DM_Handle>("MedianFilterDM2", []() -> DM_Handle { frame::fail(kPending); });
}
DM_Handle MaximumFilter(DM_Handle, std::int32_t, DM_Handle) {
    return frame::run_operation<DM_Handle>("MaximumFilterDM", []() -> DM_Handle { frame::fail(kPending); });
}
DM_Handle DiffH(DM_Handle, std::int32_t) {
    return frame::run_operation<DM_Handle>("DiffHDM", []() -> DM_Handle { frame::fail(kPending); });
}

}  // namespace zorvan::ops
