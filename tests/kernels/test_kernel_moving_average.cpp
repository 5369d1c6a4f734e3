// Moving-average kernels against a reference that replays the running sums
// from scratch for every output. Pixel memory is aligned to the element only,
// source padding holds NaN and destination padding a guard value.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <random>
#include <vector>

#include "filters/moving_average_kernel.h"

namespace {
std::size_t largest_allocation = 0;
}  // namespace

// Records the largest single allocation. Out of line so that the compiler
// pairs allocation and release only through these functions.
[[gnu::noinline]] void* operator new(std::size_t size) {
    largest_allocation = std::max(largest_allocation, size);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace zorvan;
using kernels::axis;
using I = std::int64_t;
constexpr I huge_radius = 2147483647;
template <class T>
using real_t = dm::real_of_t<T>;

template <class T>
T make(double re, double im = 0) {
    if constexpr (dm::is_complex_v<T>) return T{real_t<T>(re), real_t<T>(im)};
    else return T(re);
}
template <class T>
std::array<double, 2> parts(const T& v) {
    if constexpr (dm::is_complex_v<T>) return {v.re, v.im};
    else return {double(v), 0.0};
}
// a op b, part by part; a scalar factor f is passed as make<T>(f, f).
template <class T, class Op>
T per_part(const T& a, const T& b, Op op) {
    if constexpr (dm::is_complex_v<T>) return T{op(a.re, b.re), op(a.im, b.im)};
    else return op(a, b);
}
template <class T>
bool same_bits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// nx x ny x nz pixels with padded rows and planes, then 4 guard elements, at
// an address aligned to alignof(T) and to nothing larger.
template <class T>
struct volume {
    I nx, ny, nz, row_pitch, plane_extent;
    std::vector<unsigned char> storage;
    T* data;
    volume(I nx_, I ny_, I nz_, I row_pad, I plane_pad, T fill)
        : nx(nx_), ny(ny_), nz(nz_), row_pitch(nx_ + row_pad), plane_extent(row_pitch * ny_ + plane_pad),
          storage(std::size_t(total()) * sizeof(T) + 128) {
        const auto base = reinterpret_cast<std::uintptr_t>(storage.data());
        data = reinterpret_cast<T*>((base + 63) / 64 * 64 + alignof(T));
        std::fill(data, data + total(), fill);
    }
    volume(const volume& o) : volume(o.nx, o.ny, o.nz, o.row_pitch - o.nx, o.plane_extent - o.row_pitch * o.ny, T{}) {
        std::copy(o.data, o.data + total(), data);
    }
    volume& operator=(const volume&) = delete;
    I total() const { return plane_extent * nz + 4; }
    T& at(I x, I y, I z = 0) const { return data[x + row_pitch * y + plane_extent * z]; }
    bool padding_holds(const T& fill) const {
        for (I i = 0; i < total(); ++i) {
            const I p = i % plane_extent;
            const bool pixel = i < plane_extent * nz && p / row_pitch < ny && p % row_pitch < nx;
            if (!pixel && !same_bits(data[i], fill)) return false;
        }
        return true;
    }
};

template <class T>
const T guard = make<T>(-7777.0, 3333.0);

// Mixed signs and magnitudes, so that the order of the sums shows in the bits.
template <class T>
volume<T> random_volume(I nx, I ny, I nz, std::mt19937& rng) {
    volume<T> v(nx, ny, nz, 2, 3, make<T>(NAN, NAN));
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> decade(-2, 2);
    auto draw = [&] { return unit(rng) * std::pow(10.0, decade(rng)); };
    for (I i = 0; i < nx * ny * nz; ++i) v.at(i % nx, i / nx % ny, i / (nx * ny)) = make<T>(draw(), draw());
    return v;
}

// Box reference: the column sum of column x as it stands at row y, and the
// row sum as it stands at column x, each replayed from the lines that have
// entered (added) and left (subtracted) the window up to there.
template <class T>
T column_sum_at(const volume<T>& img, I x, I y, I r) {
    T c = make<T>(0);
    for (I row = 0; row < r && row < img.ny; ++row) c = per_part(c, img.at(x, row), std::plus<>());
    for (I k = 0; k <= y; ++k) {
        if (k - r - 1 >= 0) c = per_part(c, img.at(x, k - r - 1), std::minus<>());
        if (k + r < img.ny) c = per_part(c, img.at(x, k + r), std::plus<>());
    }
    return c;
}
template <class T>
T reference_box_mean(const volume<T>& img, I x, I y, I r) {
    T s = make<T>(0);
    for (I col = 0; col < r && col < img.nx; ++col) s = per_part(s, column_sum_at(img, col, y, r), std::plus<>());
    for (I k = 0; k <= x; ++k) {
        if (k - r - 1 >= 0) s = per_part(s, column_sum_at(img, k - r - 1, y, r), std::minus<>());
        if (k + r < img.nx) s = per_part(s, column_sum_at(img, k + r, y, r), std::plus<>());
    }
    const I count = (std::min(img.ny - 1, y + r) - std::max<I>(0, y - r) + 1) *
                    (std::min(img.nx - 1, x + r) - std::max<I>(0, x - r) + 1);
    return per_part(s, make<T>(double(count), double(count)), std::divides<>());
}

// Line reference: the sum replayed from the line's start, step k letting pixel
// k+r enter and pixel k-r-1 leave (as one rounded difference when both do),
// then (s*iW)*(W/c); in a full window W/c is exactly 1.
template <class T>
T reference_line_mean(const std::vector<T>& line, I i, I r) {
    const I n = I(line.size());
    T s = make<T>(0);
    for (I k = 0; k < std::min(r, n); ++k) s = per_part(s, line[k], std::plus<>());
    for (I k = 0; k <= i; ++k) {
        const bool enters = k + r < n, leaves = k - r - 1 >= 0;
        if (enters && leaves) s = per_part(s, per_part(line[k + r], line[k - r - 1], std::minus<>()), std::plus<>());
        else if (enters) s = per_part(s, line[k + r], std::plus<>());
        else if (leaves) s = per_part(s, line[k - r - 1], std::minus<>());
    }
    const real_t<T> w = real_t<T>(2 * r + 1), iw = 1 / w;
    const real_t<T> rescale = w / real_t<T>(std::min(n - 1, i + r) - std::max<I>(0, i - r) + 1);
    return per_part(per_part(s, make<T>(iw, iw), std::multiplies<>()), make<T>(rescale, rescale),
                    std::multiplies<>());
}

// Sanity check of the references: the double-precision mean over the clipped
// window [lo, hi] must agree to within rounding.
template <class T>
void expect_near_window_mean(const T& got, const volume<T>& v, std::array<I, 3> lo, std::array<I, 3> hi,
                             double tolerance) {
    std::array<double, 2> sum{0, 0};
    for (I z = lo[2]; z <= hi[2]; ++z)
        for (I y = lo[1]; y <= hi[1]; ++y)
            for (I x = lo[0]; x <= hi[0]; ++x)
                for (int part = 0; part < 2; ++part) sum[part] += parts(v.at(x, y, z))[part];
    const double count = double((hi[0] - lo[0] + 1) * (hi[1] - lo[1] + 1) * (hi[2] - lo[2] + 1));
    EXPECT_NEAR(parts(got)[0], sum[0] / count, tolerance);
    EXPECT_NEAR(parts(got)[1], sum[1] / count, tolerance);
}

template <class T>
class MovingAverageKernel : public ::testing::Test {};
using ElementTypes = ::testing::Types<float, double, dm::complex8, dm::complex16>;
TYPED_TEST_SUITE(MovingAverageKernel, ElementTypes);

TYPED_TEST(MovingAverageKernel, BoxMeanMatchesRunningSumReferenceBitForBit) {
    using T = TypeParam;
    std::mt19937 rng(20240611);
    for (const auto& [nx, ny] : std::vector<std::array<I, 2>>{{1, 1}, {1, 9}, {9, 1}, {23, 19}, {6, 31}}) {
        for (const I r : {I(0), I(1), I(2), I(5), I(18), I(40), huge_radius}) {
            SCOPED_TRACE(testing::Message() << nx << "x" << ny << " radius " << r);
            const volume<T> src = random_volume<T>(nx, ny, 1, rng);
            const volume<T> dst(nx, ny, 1, 5, 0, guard<T>);
            kernels::box_mean_2d(src.data, src.row_pitch, nx, ny, r, dst.data, dst.row_pitch);
            const double tolerance = 4e2 * std::numeric_limits<real_t<T>>::epsilon() * double(nx * ny * (nx + ny));
            for (I y = 0; y < ny; ++y)
                for (I x = 0; x < nx; ++x) {
                    ASSERT_TRUE(same_bits(dst.at(x, y), reference_box_mean(src, x, y, r))) << x << "," << y;
                    expect_near_window_mean(dst.at(x, y), src, {std::max<I>(0, x - r), std::max<I>(0, y - r), 0},
                                            {std::min(nx - 1, x + r), std::min(ny - 1, y + r), 0}, tolerance);
                }
            EXPECT_TRUE(dst.padding_holds(guard<T>));
        }
    }
}

TYPED_TEST(MovingAverageKernel, LinePassMatchesReferenceAndIsTheSameInPlace) {
    using T = TypeParam;
    std::mt19937 rng(7);
    for (const auto& [nx, ny, nz] : std::vector<std::array<I, 3>>{{7, 5, 6}, {1, 1, 1}, {1, 8, 1}, {11, 1, 3}}) {
        for (const axis along : {axis::x, axis::y, axis::z}) {
            for (const I r : {I(0), I(1), I(2), I(4), I(9), huge_radius}) {
                SCOPED_TRACE(testing::Message() << nx << "x" << ny << "x" << nz << " axis " << int(along)
                                                << " radius " << r);
                const volume<T> src = random_volume<T>(nx, ny, nz, rng);
                const volume<T> dst(nx, ny, nz, 1, 5, guard<T>);
                const volume<T> in_place = src;
                kernels::mean_pass_1d(along, nx, ny, nz, src.data, src.row_pitch, src.plane_extent, r, dst.data,
                                      dst.row_pitch, dst.plane_extent);
                kernels::mean_pass_1d(along, nx, ny, nz, in_place.data, src.row_pitch, src.plane_extent, r,
                                      in_place.data, src.row_pitch, src.plane_extent);
                const int d = int(along);
                const I n = std::array<I, 3>{nx, ny, nz}[d];
                const double tolerance = 1e2 * std::numeric_limits<real_t<T>>::epsilon() * double(n * n);
                for (I z = 0; z < nz; ++z)
                    for (I y = 0; y < ny; ++y)
                        for (I x = 0; x < nx; ++x) {
                            const I i = std::array<I, 3>{x, y, z}[d];
                            std::array<I, 3> p = {x, y, z}, lo = p, hi = p;
                            std::vector<T> line;
                            for (I k = 0; k < n; ++k) {
                                p[d] = k;
                                line.push_back(src.at(p[0], p[1], p[2]));
                            }
                            lo[d] = std::max<I>(0, i - r);
                            hi[d] = std::min(n - 1, i + r);
                            ASSERT_TRUE(same_bits(dst.at(x, y, z), reference_line_mean(line, i, r))) << x << y << z;
                            ASSERT_TRUE(same_bits(in_place.at(x, y, z), dst.at(x, y, z))) << x << y << z;
                            expect_near_window_mean(dst.at(x, y, z), src, lo, hi, tolerance);
                        }
                EXPECT_TRUE(dst.padding_holds(guard<T>));
            }
        }
    }
}

// 3x3 image 1..9 (complex: v - 2vi), where every sum and quotient is exact: a
// corner averages (r+1)^2 pixels, and a radius beyond the image gives the
// whole-image mean everywhere.
TYPED_TEST(MovingAverageKernel, BoxMeanOfSmallImageIsTheClippedWindowMean) {
    using T = TypeParam;
    const std::pair<I, std::array<double, 9>> cases[] = {
        {0, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {1, {3, 3.5, 4, 4.5, 5, 5.5, 6, 6.5, 7}},
        {2, {5, 5, 5, 5, 5, 5, 5, 5, 5}},
        {huge_radius, {5, 5, 5, 5, 5, 5, 5, 5, 5}},
    };
    const volume<T> src(3, 3, 1, 1, 0, make<T>(NAN, NAN));
    for (I i = 0; i < 9; ++i) src.at(i % 3, i / 3) = make<T>(double(i + 1), -2.0 * double(i + 1));
    for (const auto& [r, means] : cases) {
        const volume<T> dst(3, 3, 1, 0, 0, guard<T>);
        kernels::box_mean_2d(src.data, src.row_pitch, 3, 3, r, dst.data, dst.row_pitch);
        for (I i = 0; i < 9; ++i)
            EXPECT_TRUE(same_bits(dst.at(i % 3, i / 3), make<T>(means[i], -2.0 * means[i]))) << r << " " << i;
    }
}

// The running sums never lose a NaN: once row y0 and column x0 have entered
// the window, every later output in both directions stays NaN.
TYPED_TEST(MovingAverageKernel, NanPoisonsEveryOutputFromItsWindowEdgeOn) {
    using T = TypeParam;
    const I nx = 11, ny = 9, x0 = 6, y0 = 5;
    std::mt19937 rng(3);
    const volume<T> src = random_volume<T>(nx, ny, 1, rng);
    src.at(x0, y0) = make<T>(NAN, parts(src.at(x0, y0))[1]);
    for (const I r : {I(0), I(1), I(2), I(4), I(12)}) {
        const volume<T> dst(nx, ny, 1, 0, 0, guard<T>);
        kernels::box_mean_2d(src.data, src.row_pitch, nx, ny, r, dst.data, dst.row_pitch);
        for (I y = 0; y < ny; ++y)
            for (I x = 0; x < nx; ++x) {
                EXPECT_EQ(std::isnan(parts(dst.at(x, y))[0]), x >= x0 - r && y >= y0 - r) << r << ":" << x << y;
                EXPECT_FALSE(std::isnan(parts(dst.at(x, y))[1]));
            }
    }
}

TYPED_TEST(MovingAverageKernel, ConstantImageStaysConstant) {
    using T = TypeParam;
    const T value = make<T>(0.1, -0.3);
    const I nx = 13, ny = 7, nz = 4;
    const auto expect_all_near_value = [&](const volume<T>& out) {
        const double tolerance = 64 * std::numeric_limits<real_t<T>>::epsilon();
        for (I i = 0; i < out.nx * out.ny * out.nz; ++i)  // unpadded: pixels are data[0..]
            for (int part = 0; part < 2; ++part) EXPECT_NEAR(parts(out.data[i])[part], parts(value)[part], tolerance);
    };
    const volume<T> src(nx, ny, nz, 2, 1, value);
    for (const I r : {I(0), I(1), I(3), I(20), huge_radius}) {
        SCOPED_TRACE(r);
        const volume<T> box(nx, ny, 1, 0, 0, guard<T>);
        kernels::box_mean_2d(src.data, src.row_pitch, nx, ny, r, box.data, box.row_pitch);
        expect_all_near_value(box);
        for (const axis along : {axis::x, axis::y, axis::z}) {
            const volume<T> pass(nx, ny, nz, 0, 0, guard<T>);
            kernels::mean_pass_1d(along, nx, ny, nz, src.data, src.row_pitch, src.plane_extent, r, pass.data,
                                  pass.row_pitch, pass.plane_extent);
            expect_all_near_value(pass);
        }
    }
}

// Memory beyond the images is one array of nx column sums (box) or one line
// (pass), however large the radius.
TYPED_TEST(MovingAverageKernel, HugeRadiusNeedsNoMoreThanOneLineOfMemory) {
    using T = TypeParam;
    const I nx = 9, ny = 7;
    std::mt19937 rng(11);
    const volume<T> src = random_volume<T>(nx, ny, 1, rng);
    const volume<T> dst(nx, ny, 1, 0, 0, guard<T>);
    largest_allocation = 0;
    kernels::box_mean_2d(src.data, src.row_pitch, nx, ny, huge_radius, dst.data, dst.row_pitch);
    EXPECT_LE(largest_allocation, nx * sizeof(T));
    largest_allocation = 0;
    kernels::mean_pass_1d(axis::y, nx, ny, 1, src.data, src.row_pitch, src.plane_extent, huge_radius, dst.data,
                          dst.row_pitch, dst.plane_extent);
    EXPECT_LE(largest_allocation, ny * sizeof(T));
}

}  // namespace
