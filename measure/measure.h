#pragma once
// The measurements' script functions, as the host calls them.

#include "contract/dm_host_interfaces.h"

#include <cstdint>

namespace zorvan::ops {

void Survey(DM_Handle imgSrc, double* fMin, double* fMax, double* fSum, double* fSqsum);
DM_Handle RadialSurvey(DM_Handle imgSrc, std::int32_t nCX, std::int32_t nCY, double fScaleX, double fScaleY);
std::int32_t GetCenterOfMass(DM_Handle imgSrc, double* fX, double* fY, double fRad, std::int32_t nCycles,
                             double fThreshold);
DM_Handle Weight(DM_Handle imgSrc, DM_Handle imgW, std::int32_t nCX, std::int32_t nCY, float fScaleX, float fScaleY,
                 std::int32_t eMode, DM_Handle imgDst);
DM_Handle FTWindow(DM_Handle imgSrc, std::int32_t eMode, DM_Handle imgDst);

}  // namespace zorvan::ops
