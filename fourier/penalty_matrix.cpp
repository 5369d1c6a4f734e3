// FCreateFwhitsmMatrixDLL: the N x N second-difference penalty matrix
// m * D^T D as a new 8-byte real image. The argument the host names
// meanImag is the scale m.

#include "image/frame.h"
#include "fourier/fourier.h"
#include "fourier/penalty_matrix_kernel.h"

namespace zorvan::ops {

DM_Handle CreateFwhitsmMatrixDLL(std::int32_t width, double meanImag) {
    using namespace Gatan::PlugIn;
    return frame::run_family<DM_Handle>(script_function_named("FCreateFwhitsmMatrixDLL"), [&]() -> DM_Handle {
        // Below 2 the edge writes fall outside the matrix; beyond N*N in
        // the 32-bit range the row offsets would overflow.
        if (width < 2 || !frame::extent_of(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(width))) {
            return nullptr;
        }
        const auto n = static_cast<std::uint32_t>(width);
        // The host delivers the new image zero-filled, which is every
        // element off the five diagonals.
        const ImageRef created = RealImage("", sizeof(double), n, n);
        dm::image<double> matrix(created, dm::lock::packed);
        if (matrix.data() == nullptr) return nullptr;
        kernels::penalty_matrix(matrix.data(), width, meanImag);
        return matrix.release();
    });
}

}  // namespace zorvan::ops
