// FGetCenterOfMass: refines the position of a bright feature from a starting
// guess by the thresholded centre of mass of a disc around it.

#include "image/frame.h"
#include "measure/center_of_mass_kernel.h"
#include "measure/measure.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;
using frame::check;

// The search in P; float narrows the start, radius and threshold first.
// Float searches always report a position (the start, narrowed and widened
// back, when none was found); double searches only when one was found.
template <class P>
std::int32_t refine_as(DM_Handle working, double* fX, double* fY, double fRad, std::int32_t nCycles,
                       double fThreshold) {
    check(fX != nullptr && fY != nullptr, frame::message::invalid_parameters);
    const dm::image<P> view(working, dm::lock::packed);
    check(view.data() != nullptr, frame::message::invalid_parameters);
    const auto search = kernels::centre_of_mass<P>(
        view.data(), static_cast<std::int64_t>(view.width()), static_cast<std::int64_t>(view.height()),
        static_cast<P>(*fX), static_cast<P>(*fY), static_cast<P>(fRad), nCycles, static_cast<P>(fThreshold));
    if (std::is_same_v<P, float> || search.found) {
        *fX = static_cast<double>(search.x);
        *fY = static_cast<double>(search.y);
    }
    return search.result;
}

// Complex and RGB codes are taken as they are (and refused); the other
// codes that are not real are searched on a 4-byte real copy.
bool converted_before_search(std::int16_t code) {
    const dm::pixel_type* type = dm::find_pixel_type(code);
    if (type == nullptr) return true;
    return type->kind != dm::pixel_kind::real && type->kind != dm::pixel_kind::complex &&
           type->kind != dm::pixel_kind::packed;
}

}  // namespace

// Refusals, in the order checked:
//  "imgSrc should be Real."    neither 4- nor 8-byte real once converted
//  "Parameters are invalid."   fX or fY not given, or a null data address
std::int32_t GetCenterOfMass(DM_Handle source, double* fX, double* fY, double fRad, std::int32_t nCycles,
                             double fThreshold) {
    return frame::run_operation<std::int32_t>(script_function_named("FGetCenterOfMass"), [&]() -> std::int32_t {
        const std::int16_t code = GetDataType(source);
        // The caller's image keeps its type: a clone is converted and lives
        // only for this call.
        ImageRef converted;
        DM_Handle working = source;
        if (converted_before_search(code)) {
            converted = ImageClone(source);
            ConvertToFloat(converted.get());
            working = converted.get();
        }
        if (IsRealDataType(working, 4)) return refine_as<float>(working, fX, fY, fRad, nCycles, fThreshold);
        if (IsRealDataType(working, 8)) return refine_as<double>(working, fX, fY, fRad, nCycles, fThreshold);
        frame::fail(frame::message::src_real);
    });
}

}  // namespace zorvan::ops
