#pragma once
// The Fourier-space script functions, as the host calls them.

#include "contract/dm_host_interfaces.h"

#include <cstdint>

namespace zorvan::ops {

DM_Handle InvertRotateDLL(DM_Handle imgSrc);
DM_Handle RadialWarpDLL(DM_Handle imgSizeSrc, DM_Handle imgRadialSrc, double aspectX, double aspectY);
std::int16_t MeanComplexDLL(DM_Handle imgSrc, double* meanReal, double* meanImag);
DM_Handle CreateFwhitsmMatrixDLL(std::int32_t width, double meanImag);
DM_Handle ElementWiseProductComplexByRealDLL(DM_Handle imgComplex, DM_Handle imgReal);
DM_Handle CreateWienerMaskDLL(DM_Handle imgAmp, DM_Handle imgBase);
std::int16_t PlusComplexImageDLL(DM_Handle imgTarget, DM_Handle imgPlus);
DM_Handle CalculatePowerSpectrumDLL(DM_Handle imgTarget);
std::int16_t WarpLinear2DDLL(DM_Handle imgSrc, double factorX, double factorY, DM_Handle imgDst);

}  // namespace zorvan::ops
