// FSurvey: minimum, maximum, sum and sum of squares of a real or integer
// image, accumulated in double in visiting order.

#include "image/frame.h"
#include "measure/survey_kernel.h"
#include "measure/measure.h"

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;

template <class T>
kernels::survey_totals survey_as(DM_Handle source, std::int64_t nx, std::int64_t ny, std::int64_t nz,
                                 std::int64_t row_step, std::int64_t plane_step) {
    const dm::image<T> view(source, dm::lock::strided);
    frame::check(view.data() != nullptr, frame::message::invalid_parameters);
    return kernels::survey_pixels(view.data(), nx, ny, nz, row_step, plane_step);
}

}  // namespace

// Refusals, in the order checked:
//  "Invalid data type."        imgSrc neither integer nor real
//  "Parameters are invalid."   a null data address
// The sizes and strides come from a view opened before the type is checked.
void Survey(DM_Handle source, double* fMin, double* fMax, double* fSum, double* fSqsum) {
    frame::run_operation<void>(script_function_named("FSurvey"), [&] {
        const std::int16_t code = GetDataType(source);
        std::int64_t nx, ny, nz, row_step = 0, plane_step = 0;
        {
            // Sizes and strides only: the element type does not matter here.
            const dm::image<std::uint8_t> shape(source, dm::lock::strided);
            nx = static_cast<std::int64_t>(shape.width());
            ny = static_cast<std::int64_t>(shape.height());
            nz = static_cast<std::int64_t>(shape.depth());
            const auto element = static_cast<std::int64_t>(ImageGetDataElementByteSize(source));
            if (element > 0) {
                row_step = shape.stride(1) / element;
                plane_step = shape.stride(2) / element;
            }
        }
        const kernels::survey_totals totals = frame::dispatch_or_fail(
            dm::integer_or_real_codes{}, code, frame::message::invalid_data_type,
            [&]<class T>() { return survey_as<T>(source, nx, ny, nz, row_step, plane_step); });
        if (fMin != nullptr) *fMin = totals.min;
        if (fMax != nullptr) *fMax = totals.max;
        if (fSum != nullptr) *fSum = totals.sum;
        if (fSqsum != nullptr) *fSqsum = totals.sqsum;
    });
}

}  // namespace zorvan::ops
