#pragma once
// Values for the tests: bit comparisons, whole-buffer comparisons that name
// the first difference, and random pixels of every element type.

#include "contract/data_types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <type_traits>
#include <vector>

namespace zorvan::testing {

// Equal bits: tells -0 from +0 and one NaN from another.
template <class T>
bool same_bits(const T& a, const T& b) {
    static_assert(std::is_trivially_copyable_v<T>);
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Equal bits, except that any NaN matches any NaN (a NaN's payload is not
// part of any result).
template <class T>
bool same_value(const T& a, const T& b) {
    if constexpr (dm::is_complex_v<T>) {
        return same_value(a.re, b.re) && same_value(a.im, b.im);
    } else if constexpr (std::is_floating_point_v<T>) {
        return same_bits(a, b) || (std::isnan(a) && std::isnan(b));
    } else {
        return a == b;
    }
}

template <class T>
std::ostream& print_value(std::ostream& out, const T& v) {
    if constexpr (dm::is_complex_v<T>) return out << '(' << v.re << ", " << v.im << ')';
    else if constexpr (sizeof(T) == 1) return out << int(v);
    else return out << v;
}

// Element-by-element comparison by same_value, naming the first difference.
template <class T>
::testing::AssertionResult same_values(const std::vector<T>& got, const std::vector<T>& want) {
    if (got.size() != want.size()) return ::testing::AssertionFailure() << got.size() << " values, not " << want.size();
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (!same_value(got[i], want[i])) {
            auto failure = ::testing::AssertionFailure() << "value " << i << " is ";
            std::ostringstream text;
            print_value(text, got[i]) << ", not ";
            print_value(text, want[i]);
            return failure << text.str();
        }
    }
    return ::testing::AssertionSuccess();
}

// Both signs over six decades, so that rounding shows in the low bits.
template <class F>
std::vector<F> random_values(std::size_t count, std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> decade(-3, 2);
    std::vector<F> values(count);
    for (F& v : values) v = static_cast<F>(unit(rng) * std::pow(10.0, decade(rng)));
    return values;
}

// Pixels of any element type: integers over their whole range; reals of both
// signs with the extremes and NaN now and then; complex pairs of such reals.
template <class T>
std::vector<T> random_pixels(std::size_t count, std::mt19937& rng) {
    std::vector<T> values(count);
    if constexpr (dm::is_complex_v<T>) {
        using R = dm::real_of_t<T>;
        const std::vector<R> parts = random_pixels<R>(2 * count, rng);
        for (std::size_t i = 0; i < count; ++i) values[i] = T{parts[2 * i], parts[2 * i + 1]};
    } else if constexpr (std::is_integral_v<T>) {
        std::uniform_int_distribution<std::int64_t> any(std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
        for (T& v : values) v = T(any(rng));
    } else {
        std::uniform_int_distribution<int> pick(0, 19);
        std::uniform_real_distribution<double> unit(0.1, 1000.0);
        for (T& v : values) {
            const int p = pick(rng);
            v = p == 0   ? std::numeric_limits<T>::quiet_NaN()
                : p == 1 ? std::numeric_limits<T>::lowest()
                : p == 2 ? std::numeric_limits<T>::max()
                         : T((p % 2 ? 1 : -1) * unit(rng));
        }
    }
    return values;
}

}  // namespace zorvan::testing
