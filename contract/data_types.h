#pragma once
// The host's pixel types: one row per data-type code (its name, bytes per
// pixel and kind), the element type each code is read as, the lock flags the
// operations pass, and the one place that maps a code to a template.
// Plain C++: the kernels, the plug-in, the host and the file library all
// build on it.

#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

namespace zorvan::dm {

// A complex pixel as the host stores it: real part first, then imaginary.
// Arithmetic on it is always written out on the two parts; std::complex's
// operators handle infinities and NaN in their own way and are not used.
template <class F>
struct complex_pair {
    F re;
    F im;
};

using complex8 = complex_pair<float>;    // code 3
using complex16 = complex_pair<double>;  // code 13

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

// Host data-type codes.
namespace data_type {
inline constexpr std::int32_t int16 = 1;
inline constexpr std::int32_t real4 = 2;
inline constexpr std::int32_t complex8 = 3;
inline constexpr std::int32_t packed_complex = 5;
inline constexpr std::int32_t uint8 = 6;
inline constexpr std::int32_t int32 = 7;
inline constexpr std::int32_t rgb = 8;
inline constexpr std::int32_t int8 = 9;
inline constexpr std::int32_t uint16 = 10;
inline constexpr std::int32_t uint32 = 11;
inline constexpr std::int32_t real8 = 12;
inline constexpr std::int32_t complex16 = 13;
inline constexpr std::int32_t binary = 14;  // one byte per pixel
}  // namespace data_type

enum class pixel_kind { integer, real, complex, binary, packed };

struct pixel_type {
    std::int32_t code;
    std::string_view name;
    std::uint32_t bytes;
    pixel_kind kind;
};

// Every type the host holds. Packed complex and RGB have no element type the
// operations read; they are held, refused, and have no file form.
inline constexpr pixel_type pixel_types[] = {
    {data_type::int16, "signed 16-bit integer", 2, pixel_kind::integer},
    {data_type::real4, "4-byte real", 4, pixel_kind::real},
    {data_type::complex8, "complex of 4-byte reals", 8, pixel_kind::complex},
    {data_type::packed_complex, "packed complex", 8, pixel_kind::packed},
    {data_type::uint8, "unsigned 8-bit integer", 1, pixel_kind::integer},
    {data_type::int32, "signed 32-bit integer", 4, pixel_kind::integer},
    {data_type::rgb, "RGB", 4, pixel_kind::packed},
    {data_type::int8, "signed 8-bit integer", 1, pixel_kind::integer},
    {data_type::uint16, "unsigned 16-bit integer", 2, pixel_kind::integer},
    {data_type::uint32, "unsigned 32-bit integer", 4, pixel_kind::integer},
    {data_type::real8, "8-byte real", 8, pixel_kind::real},
    {data_type::complex16, "complex of 8-byte reals", 16, pixel_kind::complex},
    {data_type::binary, "binary", 1, pixel_kind::binary},
};

// The row of a code, or null for a code the host does not hold.
constexpr const pixel_type* find_pixel_type(std::int32_t code) {
    for (const pixel_type& row : pixel_types) {
        if (row.code == code) return &row;
    }
    return nullptr;
}

// Bytes per pixel of a code the host holds; 0 otherwise. (No pointer test:
// g++ cannot evaluate one in a constant expression under UBSan.)
constexpr std::uint32_t bytes_of(std::int32_t code) {
    for (const pixel_type& row : pixel_types) {
        if (row.code == code) return row.bytes;
    }
    return 0;
}

// The element type a code's pixels are read as; void for packed complex,
// RGB and unknown codes. Binary pixels are read as unsigned bytes.
template <std::int32_t Code>
struct element_of {
    using type = void;
};
template <> struct element_of<data_type::int16> { using type = std::int16_t; };
template <> struct element_of<data_type::real4> { using type = float; };
template <> struct element_of<data_type::complex8> { using type = complex8; };
template <> struct element_of<data_type::uint8> { using type = std::uint8_t; };
template <> struct element_of<data_type::int32> { using type = std::int32_t; };
template <> struct element_of<data_type::int8> { using type = std::int8_t; };
template <> struct element_of<data_type::uint16> { using type = std::uint16_t; };
template <> struct element_of<data_type::uint32> { using type = std::uint32_t; };
template <> struct element_of<data_type::real8> { using type = double; };
template <> struct element_of<data_type::complex16> { using type = complex16; };
template <> struct element_of<data_type::binary> { using type = std::uint8_t; };
template <std::int32_t Code>
using element_of_t = typename element_of<Code>::type;

namespace detail {
constexpr bool element_types_match_the_table() {
    bool match = true;
    auto row_is = [&match](std::int32_t code, std::uint32_t element_bytes) {
        match = match && bytes_of(code) == element_bytes;
    };
    row_is(data_type::int16, sizeof(element_of_t<data_type::int16>));
    row_is(data_type::real4, sizeof(element_of_t<data_type::real4>));
    row_is(data_type::complex8, sizeof(element_of_t<data_type::complex8>));
    row_is(data_type::uint8, sizeof(element_of_t<data_type::uint8>));
    row_is(data_type::int32, sizeof(element_of_t<data_type::int32>));
    row_is(data_type::int8, sizeof(element_of_t<data_type::int8>));
    row_is(data_type::uint16, sizeof(element_of_t<data_type::uint16>));
    row_is(data_type::uint32, sizeof(element_of_t<data_type::uint32>));
    row_is(data_type::real8, sizeof(element_of_t<data_type::real8>));
    row_is(data_type::complex16, sizeof(element_of_t<data_type::complex16>));
    row_is(data_type::binary, sizeof(element_of_t<data_type::binary>));
    return match;
}
static_assert(element_types_match_the_table());
}  // namespace detail

// The codes an operation accepts, in the order it tests them.
template <std::int32_t... Codes>
struct codes {};

using real_codes = codes<data_type::real4, data_type::real8>;
using complex_codes = codes<data_type::complex8, data_type::complex16>;
using real_or_complex_codes = codes<data_type::real4, data_type::real8, data_type::complex8, data_type::complex16>;
using integer_or_real_codes = codes<data_type::int16, data_type::real4, data_type::uint8, data_type::int32,
                                    data_type::int8, data_type::uint16, data_type::uint32, data_type::real8>;

template <class Work, std::int32_t Code>
using work_result_t = decltype(std::declval<Work&>().template operator()<element_of_t<Code>>());

// What the work returns when dispatched over a list of codes.
template <class Codes, class Work>
struct dispatch_result;
template <std::int32_t First, std::int32_t... Rest, class Work>
struct dispatch_result<codes<First, Rest...>, Work> {
    using type = work_result_t<Work, First>;
};
template <class Codes, class Work>
using dispatch_result_t = typename dispatch_result<Codes, Work>::type;

// Type dispatch: work.template operator()<T>() with T the element type of
// `code` when the list holds it, otherwise otherwise(), which returns the
// same type as the work (or throws).
template <std::int32_t First, std::int32_t... Rest, class Work, class Otherwise>
work_result_t<Work, First> dispatch(codes<First, Rest...>, std::int32_t code, Work&& work, Otherwise&& otherwise) {
    static_assert(!std::is_void_v<element_of_t<First>>, "a code without an element type");
    if (code == First) return work.template operator()<element_of_t<First>>();
    if constexpr (sizeof...(Rest) == 0) {
        return otherwise();
    } else {
        return dispatch(codes<Rest...>{}, code, work, otherwise);
    }
}

// Lock flags the operations pass with their views; what the bits mean is
// the host's. The operations that walk the locked memory by its byte
// strides ask with 32, those that address packed rows with 1.
namespace lock {
inline constexpr std::uint32_t packed = 1;
inline constexpr std::uint32_t strided = 32;
}  // namespace lock

}  // namespace zorvan::dm
