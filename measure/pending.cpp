// Measurements still being built: each raises a script error for now.

#include "image/frame.h"
#include "measure/measure.h"

namespace zorvan::ops {

namespace {
constexpr const char* kPending = "This function is not available yet.";
}

DM_Handle RadialSurvey(DM_Handle, std::int32_t, std::int32_t, double, double) {
    return frame::run_operation<DM_Handle>("RadialSurveyDM", []() -> DM_Handle { frame::fail(kPending); });
}
std::int32_t GetCenterOfMass(DM_Handle, double*, double*, double, std::int32_t, double) {
    return frame::run_operation<std::int32_t>("GetCenterOfMassDM", []() -> std::int32_t { frame::fail(kPending); });
}
DM_Handle Weight(DM_Handle, DM_Handle, std::int32_t, std::int32_t, float, float, std::int32_t, DM_Handle) {
    return frame::run_operation<DM_Handle>("WeightDM", []() -> DM_Handle { frame::fail(kPending); });
}
DM_Handle FTWindow(DM_Handle, std::int32_t, DM_Handle) {
    return frame::run_operation<DM_Handle>("FTWindowDM", []() -> DM_Handle { frame::fail(kPending); });
}

}  // namespace zorvan::ops
