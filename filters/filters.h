#pragma once
// The neighbourhood filters' script functions, as the host calls them.

#include "contract/dm_host_interfaces.h"

#include <cstdint>

namespace zorvan::ops {

void MovingAverage2(DM_Handle imgSrc, std::int32_t nRad, DM_Handle* imgDst1, DM_Handle* imgDst2);
DM_Handle MovingAverage(DM_Handle imgSrc, std::int32_t nRad, DM_Handle imgDst);
DM_Handle MedianFilter(DM_Handle imgSrc, std::int32_t nRad, DM_Handle imgDst);
DM_Handle MaximumFilter(DM_Handle imgSrc, std::int32_t nRad, DM_Handle imgDst);
DM_Handle DiffH(DM_Handle src, std::int32_t n);

}  // namespace zorvan::ops
