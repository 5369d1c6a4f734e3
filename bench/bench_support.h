#pragma once
// What every benchmark program shares: reproducible random pixels.

#include "contract/data_types.h"

#include <cstdint>
#include <random>
#include <vector>

namespace zorvan::bench {

// `count` pixels drawn uniformly from [low, high) with a fixed seed; complex
// pixels get both parts so. A non-negative range suits the integer types too.
template <class T>
std::vector<T> random_pixels(std::int64_t count, double low = 0.0, double high = 200.0) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> value(low, high);
    std::vector<T> pixels(static_cast<std::size_t>(count));
    for (T& p : pixels) {
        if constexpr (dm::is_complex_v<T>) {
            p = T{dm::real_of_t<T>(value(rng)), dm::real_of_t<T>(value(rng))};
        } else {
            p = T(value(rng));
        }
    }
    return pixels;
}

}  // namespace zorvan::bench
