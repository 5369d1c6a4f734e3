// Fourier-space functions still being built: each refuses (null or 0).

#include "fourier/fourier.h"

namespace zorvan::ops {

DM_Handle InvertRotateDLL(DM_Handle) { return nullptr; }
DM_Handle RadialWarpDLL(DM_Handle, DM_Handle, double, double) { return nullptr; }
std::int16_t MeanComplexDLL(DM_Handle, double*, double*) { return 0; }
DM_Handle CreateFwhitsmMatrixDLL(std::int32_t, double) { return nullptr; }
DM_Handle ElementWiseProductComplexByRealDLL(DM_Handle, DM_Handle) { return nullptr; }
DM_Handle CreateWienerMaskDLL(DM_Handle, DM_Handle) { return nullptr; }
std::int16_t PlusComplexImageDLL(DM_Handle, DM_Handle) { return 0; }
std::int16_t WarpLinear2DDLL(DM_Handle, double, double, DM_Handle) { return 0; }

}  // namespace zorvan::ops
