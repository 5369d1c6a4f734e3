// The moving-average pair kernel on its own: its mean is the box mean bit for
// bit, its mean of squares is the box mean of the squares formed as the pair
// forms them (v*v, complex written out), on padded rows of every element
// type, padding left alone.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "filters/moving_average_pair_kernel.h"

namespace {

using namespace zorvan;
using I = std::int64_t;
constexpr I huge_radius = 2147483647;

template <class T>
bool same_bits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

template <class T>
T make(double re, double im = 0) {
    if constexpr (dm::is_complex_v<T>) return T{dm::real_of_t<T>(re), dm::real_of_t<T>(im)};
    else return T(re);
}

// The square of the test, written apart from the kernel's.
template <class T>
T square_of(const T& v) {
    if constexpr (dm::is_complex_v<T>) {
        const auto re = v.re * v.re - v.im * v.im;
        const auto im = v.re * v.im + v.im * v.re;
        return T{re, im};
    } else {
        return v * v;
    }
}

// A plane of nx x ny pixels in rows of nx + pad elements.
template <class T>
struct plane {
    I nx, ny, pitch;
    std::vector<T> data;
    plane(I nx_, I ny_, I pad, T fill) : nx(nx_), ny(ny_), pitch(nx_ + pad), data(std::size_t(pitch * ny_ + 1), fill) {}
    T& at(I x, I y) { return data[std::size_t(y * pitch + x)]; }
    const T& at(I x, I y) const { return data[std::size_t(y * pitch + x)]; }
};

template <class T>
class MovingAveragePairKernel : public ::testing::Test {};
using ElementTypes = ::testing::Types<float, double, dm::complex8, dm::complex16>;
TYPED_TEST_SUITE(MovingAveragePairKernel, ElementTypes);

TYPED_TEST(MovingAveragePairKernel, IsTheBoxMeanOfTheValuesAndOfTheirSquares) {
    using T = TypeParam;
    const T guard = make<T>(-7777, 3333);
    std::mt19937 rng(19);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> decade(-2, 2);
    auto draw = [&] { return unit(rng) * std::pow(10.0, decade(rng)); };
    for (const auto& [nx, ny] : std::vector<std::array<I, 2>>{{1, 1}, {1, 8}, {8, 1}, {13, 9}, {5, 17}}) {
        for (const I r : {I(0), I(1), I(2), I(6), I(20), huge_radius}) {
            SCOPED_TRACE(::testing::Message() << nx << "x" << ny << " radius " << r);
            plane<T> src(nx, ny, 3, make<T>(NAN, NAN)), squares(nx, ny, 0, T{});
            for (I y = 0; y < ny; ++y)
                for (I x = 0; x < nx; ++x) {
                    src.at(x, y) = make<T>(draw(), draw());
                    squares.at(x, y) = square_of(src.at(x, y));
                }
            plane<T> mean(nx, ny, 2, guard), square_mean(nx, ny, 1, guard);
            kernels::box_mean_pair_2d(src.data.data(), src.pitch, nx, ny, r, mean.data.data(), mean.pitch,
                                      square_mean.data.data(), square_mean.pitch);
            plane<T> box(nx, ny, 2, guard), square_box(nx, ny, 1, guard);
            kernels::box_mean_2d(src.data.data(), src.pitch, nx, ny, r, box.data.data(), box.pitch);
            kernels::box_mean_2d(squares.data.data(), squares.pitch, nx, ny, r, square_box.data.data(),
                                 square_box.pitch);
            for (std::size_t i = 0; i < mean.data.size(); ++i) ASSERT_TRUE(same_bits(mean.data[i], box.data[i])) << i;
            for (std::size_t i = 0; i < square_mean.data.size(); ++i) {
                ASSERT_TRUE(same_bits(square_mean.data[i], square_box.data[i])) << i;
            }
        }
    }
}

// Complex squares keep infinities and NaN as the written-out formula gives
// them: (inf + 0i)^2 = (inf*inf - 0*0, inf*0 + 0*inf) = (inf, NaN).
TEST(MovingAveragePairKernelComplex, SquaresFollowTheWrittenOutFormula) {
    const float inf = std::numeric_limits<float>::infinity();
    const dm::complex8 src{inf, 0.0f};
    dm::complex8 mean{}, square_mean{};
    kernels::box_mean_pair_2d(&src, 1, 1, 1, 0, &mean, 1, &square_mean, 1);
    EXPECT_EQ(mean.re, inf);
    EXPECT_EQ(mean.im, 0.0f);
    EXPECT_EQ(square_mean.re, inf);
    EXPECT_TRUE(std::isnan(square_mean.im));
}

}  // namespace
