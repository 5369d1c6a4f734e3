// FDiffH: the n-th order forward difference of a 4-byte real image along x,
// n columns narrower than the source, made one order at a time in new images.

#include "filters/diff_h_kernel.h"
#include "filters/filters.h"
#include "image/frame.h"

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

namespace zorvan::ops {

namespace {

using namespace Gatan::PlugIn;
using frame::check;

// The last order would need an image of width 0 or below.
constexpr const char* kOrderTooHigh = "n should be less than the width of src.";

}  // namespace

// Refusals, in the order checked:
//  "Data type should be Real 4."
//  "n should be less than the width of src."
//  "Parameters are invalid."   a null data address
DM_Handle DiffH(DM_Handle src, std::int32_t n) {
    return frame::run_operation<DM_Handle>(script_function_named("FDiffH"), [&]() -> DM_Handle {
        check(IsRealDataType(src, 4), frame::message::real4);
        const frame::Header header = frame::read_header(src, frame::width_field);
        check(static_cast<std::int64_t>(n) < static_cast<std::int64_t>(header.width), kOrderTooHigh);
        const dm::image<float> source(src, dm::lock::packed);
        check(source.data() != nullptr, frame::message::invalid_parameters);

        // The chain holds the current image only; each order's image is
        // given up once the next has been made from it. The first order reads
        // the source's first plane.
        auto current = boost::make_shared<dm::image<float>>(source);
        for (std::int32_t order = 0; order < n; ++order) {
            const auto width = static_cast<std::int64_t>(current->width());
            const auto height = static_cast<std::int64_t>(current->height());
            const dm::image<float> next(
                RealImage("", 4, static_cast<std::uint32_t>(width - 1), static_cast<std::uint32_t>(height)),
                dm::lock::packed);
            check(next.data() != nullptr, frame::message::invalid_parameters);
            kernels::difference_along_x(current->data(), width, height, next.data());
            current = boost::make_shared<dm::image<float>>(next);
        }
        dm::image<float> result(*current);
        current.reset();
        return result.release();
    });
}

}  // namespace zorvan::ops
