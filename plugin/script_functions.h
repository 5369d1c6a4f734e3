#pragma once
// The plug-in's script functions, as the host calls them natively.

#include "plugin/dm_host_interfaces.h"

#include <cstdint>

namespace zorvan::ops {

DM_Handle MovingAverage(DM_Handle imgSrc, std::int32_t nRad, DM_Handle imgDst);
void Survey(DM_Handle imgSrc, double* fMin, double* fMax, double* fSum, double* fSqsum);
DM_Handle CalculatePowerSpectrumDLL(DM_Handle imgTarget);

}  // namespace zorvan::ops
