#pragma once
// What the kernel tests share: gtest, values.h, 64-bit indices, the largest radius.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/values.h"

namespace zorvan::testing {
using I = std::int64_t;
inline constexpr I huge_radius = 2147483647;  // a script's largest radius
}  // namespace zorvan::testing
