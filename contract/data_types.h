#pragma once
// Element types of host images as the operations see them in memory.

#include <cstdint>
#include <type_traits>

namespace zorvan::dm {

// A complex pixel as the host stores it: real part first, then imaginary.
// Arithmetic on it is always written out on the two parts; std::complex's
// operators handle infinities and NaN in their own way and are not used.
template <class F>
struct complex_pair {
    F re;
    F im;
};

using complex8 = complex_pair<float>;    // host code 3
using complex16 = complex_pair<double>;  // host code 13

static_assert(sizeof(complex8) == 8 && alignof(complex8) == alignof(float));
static_assert(sizeof(complex16) == 16 && alignof(complex16) == alignof(double));

template <class T>
struct real_of {
    using type = T;
};
template <class F>
struct real_of<complex_pair<F>> {
    using type = F;
};
template <class T>
using real_of_t = typename real_of<T>::type;

template <class T>
inline constexpr bool is_complex_v = false;
template <class F>
inline constexpr bool is_complex_v<complex_pair<F>> = true;

}  // namespace zorvan::dm
