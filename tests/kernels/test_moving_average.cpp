// Moving-average kernels against the running-sum reference, part by part for
// complex pixels, on padded rows and planes whose padding must stay as it was.

#include "tests/support/kernel_test.h"

#include "filters/moving_average_kernel.h"
#include "filters/moving_average_pair_kernel.h"
#include "simd/cpu_features.h"
#include "tests/support/reference_moving_average.h"

namespace {

using namespace zorvan;
using namespace zorvan::testing;
using shape = reference::shape;
template <class T>
using real_t = dm::real_of_t<T>;

template <class T>
T make(double re, double im) {
    if constexpr (dm::is_complex_v<T>) return T{real_t<T>(re), real_t<T>(im)};
    else return T(re);
}

// Part k of a pixel: re or im of a complex one, a real one itself.
template <class T>
real_t<T>& part(T& v, int k) {
    if constexpr (dm::is_complex_v<T>) return k ? v.im : v.re;
    else return v;
}

// The reference run on each real part of packed pixels in turn.
template <class T, class Reference>
std::vector<T> per_part(std::vector<T> pixels, Reference reference) {
    for (int k = 0; k < (dm::is_complex_v<T> ? 2 : 1); ++k) {
        std::vector<real_t<T>> values;
        for (T& v : pixels) values.push_back(part(v, k));
        reference(values);
        for (std::size_t i = 0; i < values.size(); ++i) part(pixels[i], k) = values[i];
    }
    return pixels;
}

// Packed pixels laid out at the pitches {row, plane}, the padding `fill`.
template <class T>
std::vector<T> padded(const std::vector<T>& packed, shape s, std::array<I, 2> pitch, T fill) {
    std::vector<T> out(std::size_t(pitch[1] * s.nz), fill);
    for (I i = 0; i < s.nx * s.ny * s.nz; ++i)
        out[i % s.nx + pitch[0] * (i / s.nx % s.ny) + pitch[1] * (i / s.nx / s.ny)] = packed[i];
    return out;
}

// Both signs over six decades, so that the order of the sums shows in the bits.
template <class T>
std::vector<T> random_image(I count, std::mt19937& rng) {
    const auto parts = random_values<double>(std::size_t(2 * count), rng);
    std::vector<T> image;
    for (I i = 0; i < count; ++i) image.push_back(make<T>(parts[2 * i], parts[2 * i + 1]));
    return image;
}

template <class T>
class MovingAverageKernel : public ::testing::Test {};
using ElementTypes = ::testing::Types<float, double, dm::complex8, dm::complex16>;
TYPED_TEST_SUITE(MovingAverageKernel, ElementTypes);

// The 1-D pass along each axis, out of place and in place; on single planes
// the box mean and the pair, whose square mean is the box mean of v*v
// (complex: re^2 - im^2, 2 re im). One NaN in the larger images.
TYPED_TEST(MovingAverageKernel, MatchTheReferenceBitForBit) {
    using T = TypeParam;
    const T guard = make<T>(-7777, 3333), nan = make<T>(NAN, NAN);
    std::mt19937 rng(20240611);
    const std::vector<shape> shapes = {{1, 1, 1}, {1, 9, 1}, {9, 1, 1}, {23, 19, 1}, {6, 31, 1}, {7, 5, 6}, {11, 1, 3}};
    for (const shape s : shapes) {
        const std::array<I, 2> pitch{s.nx + 2, (s.nx + 2) * s.ny + 3};
        for (const I r : {I(0), I(1), I(2), I(5), I(9), I(18), huge_radius}) {
            SCOPED_TRACE(::testing::Message() << s.nx << "x" << s.ny << "x" << s.nz << " radius " << r);
            std::vector<T> pixels = random_image<T>(s.nx * s.ny * s.nz, rng), squares;
            if (pixels.size() > 100) pixels[pixels.size() / 2] = make<T>(NAN, 1);
            const std::vector<T> src = padded(pixels, s, pitch, nan);
            for (const int along : {0, 1, 2}) {
                std::vector<T> dst(src.size(), guard), in_place = src;
                const auto pass = [&](const T* in, T* out) {
                    const auto axis = kernels::axis(along);
                    kernels::mean_pass_1d(axis, s.nx, s.ny, s.nz, in, pitch[0], pitch[1], r, out, pitch[0], pitch[1]);
                };
                pass(src.data(), dst.data());
                pass(in_place.data(), in_place.data());
                const auto want = per_part(pixels, [&](auto& values) { reference::pass_along(values, s, along, r); });
                ASSERT_TRUE(same_values(dst, padded(want, s, pitch, guard))) << "axis " << along;
                ASSERT_TRUE(same_values(in_place, padded(want, s, pitch, nan))) << "axis " << along << ", in place";
            }
            if (s.nz > 1) continue;
            for (T v : pixels) {
                if constexpr (dm::is_complex_v<T>) squares.push_back(T{v.re * v.re - v.im * v.im, 2 * (v.re * v.im)});
                else squares.push_back(v * v);
            }
            std::vector<T> box(src.size(), guard), mean(box), square_mean(box);
            kernels::box_mean_2d(src.data(), pitch[0], s.nx, s.ny, r, box.data(), pitch[0]);
            kernels::box_mean_pair_2d(src.data(), pitch[0], s.nx, s.ny, r, mean.data(), pitch[0], square_mean.data(),
                                      pitch[0]);
            const auto box_plane = [&](auto& values) {
                reference::box_plane(std::vector(values).data(), values.data(), s.nx, s.ny, r);  // from a copy
            };
            ASSERT_TRUE(same_values(box, padded(per_part(pixels, box_plane), s, pitch, guard)));
            ASSERT_TRUE(same_values(mean, box));
            ASSERT_TRUE(same_values(square_mean, padded(per_part(squares, box_plane), s, pitch, guard)));
        }
    }
}

// 3x3 image 1..9 (complex: v - 2vi), every sum and quotient exact. The pair
// squares (inf + 0i) as written out: (inf*inf - 0*0, inf*0 + 0*inf).
TYPED_TEST(MovingAverageKernel, WorkedAnswers) {
    using T = TypeParam;
    const std::pair<I, std::vector<double>> cases[] = {{1, {3, 3.5, 4, 4.5, 5, 5.5, 6, 6.5, 7}},
                                                       {huge_radius, {5, 5, 5, 5, 5, 5, 5, 5, 5}}};
    std::vector<T> src;
    for (int v = 1; v <= 9; ++v) src.push_back(make<T>(v, -2 * v));
    for (const auto& [r, means] : cases) {
        std::vector<T> dst(9), want;
        for (const double m : means) want.push_back(make<T>(m, -2 * m));
        kernels::box_mean_2d(src.data(), 3, 3, 3, r, dst.data(), 3);
        EXPECT_TRUE(same_values(dst, want)) << "radius " << r;
    }
    const T infinite = make<T>(INFINITY, 0);
    std::vector<T> mean(1), square_mean(1);
    kernels::box_mean_pair_2d(&infinite, 1, 1, 1, 0, mean.data(), 1, square_mean.data(), 1);
    EXPECT_TRUE(same_values(mean, {infinite}));
    EXPECT_TRUE(same_values(square_mean, {make<T>(INFINITY, NAN)}));
}

// The AVX2 sweeps against the plain ones, on padded rows of awkward widths
// and heights (around the vector widths) with -0, denormals, NaN and
// infinities; the pair also into one image for both outputs.
template <class T>
class VectorBoxMean : public ::testing::Test {};
using RealTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(VectorBoxMean, RealTypes);

// Complex pixels: the box mean alone, the two parts side by side in the
// vectors, each part with its own specials.
template <class P>
void complex_sweeps_match(std::mt19937& rng) {
    using T = dm::complex_pair<P>;
    const P specials[] = {-0.0, std::numeric_limits<P>::denorm_min(), P(-3e-39), NAN, INFINITY, -INFINITY};
    const std::pair<I, I> sizes[] = {{1, 1}, {1, 33}, {33, 1}, {3, 7}, {4, 2}, {5, 8}, {9, 17}, {33, 19}, {70, 5}};
    for (const auto& [nx, ny] : sizes) {
        for (const I r : {I(0), I(1), I(2), I(5), I(9), huge_radius}) {
            SCOPED_TRACE(::testing::Message() << "complex " << nx << "x" << ny << " radius " << r);
            const I pitch = nx + 3;
            const std::vector<P> parts = random_values<P>(std::size_t(2 * pitch * ny), rng);
            std::vector<T> src(std::size_t(pitch * ny));
            for (std::size_t i = 0; i < src.size(); ++i) src[i] = T{parts[2 * i], parts[2 * i + 1]};
            for (std::size_t i = 0; i < src.size(); i += 5) src[i].re = specials[i % 3];
            for (std::size_t i = 2; i < src.size(); i += 7) src[i].im = specials[(i + 1) % 3];
            if (src.size() > 3) src[src.size() * 7 / 8].im = specials[3 + r % 3];
            if (src.size() > 3) src[src.size() * 9 / 10].re = specials[3 + (r + 1) % 3];
            std::vector<T> plain(src.size(), T{-5, 7}), fast(plain);
            kernels::box_mean_2d(src.data(), pitch, nx, ny, r, plain.data(), pitch);
            kernels::box_mean_2d_avx2(src.data(), pitch, nx, ny, r, fast.data(), pitch);
            ASSERT_TRUE(same_values(fast, plain));
        }
    }
}

TYPED_TEST(VectorBoxMean, MatchesThePlainSweepBitForBit) {
    using T = TypeParam;
    if (!simd::avx2()) GTEST_SKIP() << "no AVX2";
    const T specials[] = {-0.0, std::numeric_limits<T>::denorm_min(), T(-3e-39), NAN, INFINITY, -INFINITY};
    std::mt19937 rng(7);
    complex_sweeps_match<T>(rng);
    const std::pair<I, I> sizes[] = {{1, 1}, {1, 33}, {33, 1}, {2, 7}, {7, 2}, {8, 8}, {9, 17}, {33, 19}, {40, 5}};
    for (const auto& [nx, ny] : sizes) {
        for (const I r : {I(0), I(1), I(2), I(5), I(9), huge_radius}) {
            SCOPED_TRACE(::testing::Message() << nx << "x" << ny << " radius " << r);
            const I pitch = nx + 3;
            std::vector<T> src = random_values<T>(std::size_t(pitch * ny), rng);
            // -0 and denormals anywhere; one NaN or infinity, late (it spoils every later sum).
            for (std::size_t i = 0; i < src.size(); i += 5) src[i] = specials[i % 3];
            if (src.size() > 3) src[src.size() * 7 / 8] = specials[3 + r % 3];
            std::vector<T> plain(src.size(), T(-5)), fast(plain), mean(plain), square(plain), both(plain);
            kernels::box_mean_2d(src.data(), pitch, nx, ny, r, plain.data(), pitch);
            kernels::box_mean_2d_avx2(src.data(), pitch, nx, ny, r, fast.data(), pitch);
            ASSERT_TRUE(same_values(fast, plain));
            kernels::box_mean_pair_2d(src.data(), pitch, nx, ny, r, plain.data(), pitch, both.data(), pitch);
            kernels::box_mean_pair_2d_avx2(src.data(), pitch, nx, ny, r, mean.data(), pitch, square.data(), pitch);
            ASSERT_TRUE(same_values(mean, plain));
            ASSERT_TRUE(same_values(square, both));
            kernels::box_mean_pair_2d_avx2(src.data(), pitch, nx, ny, r, fast.data(), pitch, fast.data(), pitch);
            ASSERT_TRUE(same_values(fast, both));
        }
    }
}

}  // namespace
