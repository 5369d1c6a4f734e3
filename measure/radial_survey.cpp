// FRadialSurvey: the profile of a real image against the distance from a
// centre, one result column per ring: minimum, maximum, weight, mean and
// standard deviation.

#include "image/frame.h"
#include "measure/measure.h"
#include "measure/radial_survey_kernel.h"

#include <cmath>

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;
using frame::check;

// Refusals of scales whose rings cannot be counted.
constexpr const char* kScalesNotFinite = "fScaleX and fScaleY should be finite.";
constexpr const char* kTooManyRings = "The farthest radius is too large for a radial survey.";

template <class P>
DM_Handle radial_survey_as(DM_Handle source_handle, std::int64_t cx, std::int64_t cy, P scale_x, P scale_y) {
    check(std::isfinite(scale_x) && std::isfinite(scale_y), kScalesNotFinite);
    const dm::image<P> source(source_handle, dm::lock::packed);
    const auto nx = static_cast<std::int64_t>(source.width());
    const auto ny = static_cast<std::int64_t>(source.height());
    const P farthest = kernels::farthest_radius<P>(nx, ny, cx, cy, scale_x, scale_y);
    // Also false for an infinite radius (a product that overflowed P).
    check(farthest < kernels::farthest_radius_limit<P>, kTooManyRings);
    const kernels::ring_layout layout = kernels::rings_of(farthest);

    const ImageRef created = RealImage("Radial Survey of " + ImageGetName(source_handle), std::uint32_t{sizeof(P)},
                                       static_cast<std::uint32_t>(layout.count),
                                       static_cast<std::uint32_t>(kernels::radial_row_count));
    dm::image<P> result(created, dm::lock::packed);
    check(source.data() != nullptr && result.data() != nullptr, frame::message::invalid_parameters);
    const std::int64_t row_pitch = frame::pitches_of(result).row;
    kernels::radial_survey(source.data(), nx, ny, cx, cy, scale_x, scale_y, layout, result.data(), row_pitch);
    return result.release();
}

}  // namespace

// Refusals, in the order checked:
//  "Data type should be Real."
//  "fScaleX and fScaleY should be finite."
//  "The farthest radius is too large for a radial survey."
//  "Parameters are invalid."   a null data address
DM_Handle RadialSurvey(DM_Handle source, std::int32_t nCX, std::int32_t nCY, double fScaleX, double fScaleY) {
    return frame::run_operation<DM_Handle>(script_function_named("FRadialSurvey"), [&]() -> DM_Handle {
        // A 4-byte image narrows the scales to float.
        return frame::dispatch_or_fail(dm::real_codes{}, frame::read_header(source, frame::type_field).type,
                                       frame::message::real,
                                       [&]<class P>() -> DM_Handle {
            return radial_survey_as<P>(source, nCX, nCY, static_cast<P>(fScaleX), static_cast<P>(fScaleY));
        });
    });
}

}  // namespace zorvan::ops
