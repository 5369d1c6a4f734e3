// Fourier-family kernels: worked answers with NaN and the extremes; the power
// spectrum also against a step-by-step reference.

#include "tests/support/kernel_test.h"

#include <omp.h>

#include "fourier/complex_accumulate_kernel.h"
#include "fourier/complex_by_real_kernel.h"
#include "fourier/invert_rotate_kernel.h"
#include "fourier/linear_rescale_kernel.h"
#include "fourier/log_power_kernel.h"
#include "fourier/mean_complex_kernel.h"
#include "fourier/penalty_matrix_kernel.h"
#include "fourier/radial_warp_kernel.h"
#include "fourier/wiener_mask_kernel.h"
#include "tests/support/reference_linear_rescale.h"
#include "tests/support/reference_mean_complex.h"
#include "tests/support/reference_radial.h"

namespace {

using namespace zorvan::kernels;
using namespace zorvan::testing;
using zorvan::dm::complex16, zorvan::dm::complex8;
constexpr float inf = std::numeric_limits<float>::infinity();

// Float sums round (1e8 + 1 is 1e8). A double factor is rounded to float
// first (1e300 to inf, 1e-50 to 0). Complex sums are in double and, on one
// thread, in index order: ((1e16 + 1) - 1e16) + 1 is 1.
TEST(ComplexKernels, ArithmeticInTheStatedPrecision) {
    std::vector<complex8> target = {{1e8f, 0.1f}, {inf, -inf}, {3e38f, -3e38f}, {1.5f, -2}}, product(4);
    accumulate_complex(target.data(), std::vector<complex8>{{1, 0.2f}, {-inf, 1}, {3e38f, -3e38f}}.data(), 3);
    accumulate_complex(target.data() + 3, target.data() + 3, 1);  // a block added to itself doubles
    EXPECT_TRUE(same_values(target, {{1e8f, 0.1f + 0.2f}, {NAN, -inf}, {inf, -inf}, {3, -4}}));
    const complex8 z[4] = {{1, -1}, {1, 0}, {3, -4}, {inf, 1}};
    const double g[4] = {1e300, 1e-50, 0.1, 0};
    multiply_complex_by_real(z, g, product.data(), 4);
    EXPECT_TRUE(same_values(product, {{inf, -inf}, {0, 0}, {3 * 0.1f, -4 * 0.1f}, {NAN, 0}}));

    omp_set_num_threads(1);
    const complex8 small[5] = {{1e8f, -1e8f}, {1, -0.5f}, {1, -0.5f}, {1, -0.5f}, {1, -0.5f}};
    const complex16 large[4] = {{1e16, 1}, {1, 2}, {-1e16, 3}, {1, 4}};
    const complex_sums a = sum_complex(small, 5), b = sum_complex(large, 4), none = sum_complex<double>(nullptr, -1);
    omp_set_num_threads(2);
    EXPECT_TRUE(same_values(std::vector<double>{a.re, a.im, b.re, b.im, none.re, none.im},
                            {1e8 + 4, -1e8 - 2, 1, 10, 0, 0}));
}

// Small images are summed on the calling thread in the blocks the threads
// would take: the same bits as the reduction over one and over two threads
// (with more, the reduction's order of combining is not fixed). Sizes about
// the block split, parts of very different magnitudes so that the grouping
// shows, and NaN, infinities and both zeros.
template <class F>
void sums_match_the_reduction() {
    std::mt19937 rng(27);
    std::uniform_int_distribution<int> pick(0, 99), exponent(-30, 30);
    std::uniform_real_distribution<F> unit(-1, 1);
    const F specials[] = {F(NAN), F(INFINITY), -F(INFINITY), F(0), -F(0), std::numeric_limits<F>::max()};
    for (const int threads : {1, 2}) {
        omp_set_num_threads(threads);
        for (const std::int32_t n : {0, 1, 2, 3, 7, 64, 65, 1000, 4097, 100001}) {
            for (const int special_share : {0, 2}) {
                std::vector<zorvan::dm::complex_pair<F>> z(static_cast<std::size_t>(n));
                for (auto& v : z) {
                    v = {std::ldexp(unit(rng), exponent(rng)), std::ldexp(unit(rng), exponent(rng))};
                    if (pick(rng) < special_share) v.re = specials[pick(rng) % 6];
                    if (pick(rng) < special_share) v.im = specials[pick(rng) % 6];
                }
                const complex_sums got = sum_complex(z.data(), n);
                const complex_sums want = reference::reduction_sum_complex(z.data(), n);
                EXPECT_TRUE(same_values(std::vector<double>{got.re, got.im}, {want.re, want.im}))
                    << threads << " threads, " << n << " elements, specials " << special_share << "%";
            }
        }
    }
    omp_set_num_threads(2);
}
TEST(ComplexKernels, SumsMatchTheReductionTheyReplace) {
    sums_match_the_reduction<float>();
    sums_match_the_reduction<double>();
}

// Against each step held in a volatile, so that none is fused or widened.
template <class F>
std::vector<F> checked_spectrum(const std::vector<zorvan::dm::complex_pair<F>>& elements) {
    std::vector<F> out(elements.size()), want;
    log_power_spectrum(elements.data(), out.data(), std::int32_t(elements.size()));
    for (const auto& v : elements) {
        volatile F re_squared = v.re * v.re, im_squared = v.im * v.im;
        volatile F sum = re_squared + im_squared;
        want.push_back(std::log(F(sum)));
    }
    EXPECT_TRUE(same_values(out, want));
    return out;
}

// No offset: zero gives -inf. Float squares overflow beyond about 1.8e19 and
// underflow below about 1e-23 where double ones do not.
TEST(PowerSpectrumKernel, WorkedAndRandomElementsInEachPrecision) {
    std::vector<complex16> dual = {{0, 0}, {-0.0, -0.0}, {2e19, 0}, {0, 1e-23}, {0, 1e200}, {NAN, 1}, {3, 4}};
    std::vector<complex8> single;
    std::mt19937 rng(5);
    const auto parts = random_values<double>(2 * 4096, rng);
    for (std::size_t i = 0; i < parts.size(); i += 2) dual.push_back({parts[i], parts[i + 1]});
    for (const complex16& v : dual) single.push_back({float(v.re), float(v.im)});
    std::vector<float> single_out = checked_spectrum(single);
    std::vector<double> dual_out = checked_spectrum(dual);
    single_out.resize(6), dual_out.resize(7);
    EXPECT_TRUE(same_values(single_out, {-inf, -inf, inf, -inf, inf, NAN}));
    EXPECT_TRUE(std::isfinite(dual_out[2]) && std::isfinite(dual_out[3]) && dual_out[6] == 3.2188758248682006);
    EXPECT_TRUE(same_values(dual_out, {-INFINITY, -INFINITY, dual_out[2], dual_out[3], INFINITY, NAN, dual_out[6]}));
}

// (a^2 - b^2) / a^2 in double, rounded once; a zero amplitude is taken as 1
// and written back; NaN quotients and negative shares give 0.
TEST(WienerMaskKernel, WorkedValuesAndTheZeroReplacement) {
    std::vector<float> amplitude = {2, 0, -0.0f, 0, NAN, 3, 1e20f, 3}, mask(8);
    const float base[8] = {1, 0.5f, 0, 3, 1, NAN, 1e20f, 1};
    wiener_mask(amplitude.data(), base, mask.data(), 8);
    EXPECT_TRUE(same_values(mask, {0.75f, 0.75f, 1, 0, 0, 0, 0, float(8.0 / 9.0)}));
    EXPECT_TRUE(same_values(amplitude, {2, 1, 1, 1, NAN, 3, 1e20f, 3}));
}

// The AVX2 body against the plain kernel it replaces, mask and amplitude
// after the call bit for bit: sizes about the vector width and the
// threads' split, zeros of both signs, NaN, infinities, subnormals and
// squares beyond the range, the base apart and the base the amplitude.
template <class T>
void mask_matches_the_plain_kernel() {
    using limits = std::numeric_limits<T>;
    const T specials[] = {T(0), -T(0), T(NAN), limits::infinity(), -limits::infinity(), limits::denorm_min(),
                          limits::max(), T(1e-30), T(-1)};
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> pick(0, 35);
    for (const std::int32_t n : {1, 3, 4, 7, 8, 9, 15, 17, 64, 1001, (1 << 21) + 7}) {
        for (const bool same_block : {false, true}) {
            std::vector<T> amplitude = random_values<T>(std::size_t(n), rng);
            std::vector<T> base = random_values<T>(std::size_t(n), rng);
            for (std::int32_t i = 0; i < n; ++i) {
                if (const int k = pick(rng); k < 9) amplitude[i] = specials[k];
                if (const int k = pick(rng); k < 9) base[i] = specials[k];
            }
            std::vector<T> plain_amplitude = amplitude;
            std::vector<T> mask(amplitude.size()), plain_mask(amplitude.size());
            wiener_mask(amplitude.data(), same_block ? amplitude.data() : base.data(), mask.data(), n);
            wiener_mask_plain(plain_amplitude.data(), same_block ? plain_amplitude.data() : base.data(),
                              plain_mask.data(), n);
            EXPECT_TRUE(same_values(mask, plain_mask)) << n << " elements, same block " << same_block;
            EXPECT_TRUE(same_values(amplitude, plain_amplitude)) << n << " elements, same block " << same_block;
        }
    }
}
TEST(WienerMaskKernel, VectorBodyMatchesThePlainKernel) {
    mask_matches_the_plain_kernel<float>();
    mask_matches_the_plain_kernel<double>();
}

// s = x' / fx: from s = w - 1 on, extrapolated from the last two samples,
// whose difference is formed in T: in float 0.5 - 3e-8 is 0.5, so 1 follows.
TEST(LinearRescaleKernel, WorkedRowAndColumnPasses) {
    const double source[6] = {0, 10, 20, 1, -1, 4};
    std::vector<double> rows(2 * 6);
    rescale_rows(source, 3, 2, 2.0, rows.data(), 6);
    EXPECT_TRUE(same_values(rows, {0, 5, 10, 15, 20, 25, 1, 0, -1, 1.5, 4, 6.5}));
    const float tiny_rise[2] = {3e-8f, 0.5f}, two_rows[4] = {0, 1, 10, 11};
    std::vector<float> float_row(3), destination(5 * 4, -1.0f);
    rescale_rows(tiny_rise, 2, 1, 1.0, float_row.data(), 3);
    EXPECT_TRUE(same_values(float_row, {3e-8f, 0.5f, 1.0f}));
    rescale_columns(two_rows, 2, 2, 2.0, destination.data(), 4, 5);
    EXPECT_TRUE(same_values(destination, {0, 1, -1, -1, -1, 5, 6, -1, -1, -1, 10, 11, -1, -1, -1, 15, 16, -1, -1, -1}));
}

// Row by row with the sample positions found once, or (a destination over
// the source) in two whole passes: the bits of the per-pixel two-pass form,
// for shrinking, stretching and extrapolating factors, on pixels with NaN,
// infinities, -0 and subnormals; the destination's padding is not written.
template <class T>
void expect_rescale_as_reference(std::mt19937& rng) {
    const T specials[] = {-T(0), std::numeric_limits<T>::denorm_min(), std::numeric_limits<T>::infinity(), T(NAN)};
    const struct {
        double fx, fy;
        bool tall;
    } cases[] = {{0.3, 7.1, true}, {1.0, 2.5, false}, {1.0 / 3.0, 2.0, true}, {2.0, 1.0 / 3.0, false},
                 {2.5, 1.0, true}, {7.1, 0.3, false}, {0.3, 0.3, true}, {0.5, 1.0, true}};
    for (std::int32_t size : {2, 3, 7, 33, 70}) {
        for (const auto& c : cases) {
            const std::int32_t width = size, height = c.tall ? size : 2;
            const double fx = c.fx, fy = c.fy;
            const std::int32_t out_width = std::int32_t(width * fx) + 1, out_height = std::int32_t(height * fy) + 1;
            const std::int64_t pitch = out_width + 3;
            std::vector<T> source = random_values<T>(std::size_t(width * height), rng);
            for (std::size_t i = 0; i < source.size(); i += 3) source[i] = specials[i / 3 % 4];
            std::vector<T> rows(std::size_t(out_width * height)), got(std::size_t(pitch * out_height), T(7)),
                want = got;
            linear_rescale(source.data(), width, height, fx, fy, rows.data(), got.data(), out_width, out_height, pitch);
            reference::rescale_rows(source.data(), width, height, fx, rows.data(), out_width);
            reference::rescale_columns(rows.data(), out_width, height, fy, want.data(), out_height, pitch);
            EXPECT_TRUE(same_values(got, want)) << width << " x " << height << ", fx " << fx << ", fy " << fy;
            if (pitch * out_height <= width * height) {  // in place
                std::vector<T> in_place = source;
                linear_rescale(in_place.data(), width, height, fx, fy, rows.data(), in_place.data(), out_width,
                               out_height, pitch);
                in_place.resize(want.size());
                for (std::size_t i = 0; i < want.size(); ++i) {
                    if (i % std::size_t(pitch) >= std::size_t(out_width)) want[i] = in_place[i];
                }
                EXPECT_TRUE(same_values(in_place, want)) << "in place, " << width << " x " << height;
            }
        }
    }
}

// The AVX2 interpolating loops against the plain ones, bit for bit: rows of
// 0 to 70 samples about the 4-lane vectors, random sample indices and
// fractions in [0, 1) (and 0 and the largest below 1), pixels with NaN,
// infinities, -0, subnormals and the type's extremes.
template <class T>
void expect_vector_loops_as_plain(std::mt19937& rng) {
    if (!zorvan::simd::avx2()) return;
    const T specials[] = {-T(0), std::numeric_limits<T>::denorm_min(), std::numeric_limits<T>::infinity(), T(NAN),
                          std::numeric_limits<T>::max(), std::numeric_limits<T>::lowest()};
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (std::int32_t n = 0; n <= 70; ++n) {
        std::vector<T> in = random_values<T>(std::size_t(n + 2), rng), lower = random_values<T>(std::size_t(n + 1), rng);
        for (std::size_t i = 0; i < in.size(); i += 4) in[i] = specials[i / 4 % 6];
        std::uniform_int_distribution<std::int32_t> at(0, n);
        std::vector<std::int32_t> index(std::size_t(n + 1));
        std::vector<double> fraction(std::size_t(n + 1));
        for (std::int32_t x = 0; x < n; ++x) {
            index[x] = at(rng);
            fraction[x] = x % 9 == 0 ? 0.0 : x % 9 == 1 ? std::nextafter(1.0, 0.0) : unit(rng);
        }
        std::vector<T> want(std::size_t(n + 1), T(3)), got = want;
        interpolate_row(in.data(), index.data(), fraction.data(), want.data(), n);
        interpolate_row_avx2(in.data(), index.data(), fraction.data(), got.data(), n);
        EXPECT_TRUE(same_values(got, want)) << "interpolate, " << n << " samples";
        const double f = n % 3 == 0 ? 0.25 : unit(rng);
        blend(in.data(), lower.data(), f, want.data(), n);
        blend_avx2(in.data(), lower.data(), f, got.data(), n);
        EXPECT_TRUE(same_values(got, want)) << "blend, " << n << " samples";
    }
}

TEST(LinearRescaleKernel, VectorLoopsAsThePlainOnes) {
    std::mt19937 rng(61);
    expect_vector_loops_as_plain<float>(rng);
    expect_vector_loops_as_plain<double>(rng);
}

TEST(LinearRescaleKernel, AsThePerPixelTwoPassForm) {
    std::mt19937 rng(16);
    expect_rescale_as_reference<float>(rng);
    expect_rescale_as_reference<double>(rng);
}

// Along an odd dimension k -> n - 1 - k, along an even one k -> (n - k) mod n,
// as do column 0 of an even width and row 0 of an even height across them.
TEST(InvertRotateKernel, EverySmallSizeIsAReflectionThatUndoesItself) {
    for (std::int32_t h = 1; h <= 9; ++h) {
        for (std::int32_t w = 1; w <= 9; ++w) {
            const bool even_w = w % 2 == 0, even_h = h % 2 == 0;
            std::vector<double> source(std::size_t(w * h)), want;
            std::iota(source.begin(), source.end(), 0.0);
            for (std::int32_t i = 0; i < w * h; ++i) {
                const std::int32_t x = i % w, y = i / w;
                const std::int32_t mx = even_w || (even_h && y == 0) ? (w - x) % w : w - 1 - x;
                const std::int32_t my = even_h || (even_w && x == 0) ? (h - y) % h : h - 1 - y;
                want.push_back(source[std::size_t(my * w + mx)]);
            }
            std::vector<double> once = source, twice = source;  // the clones
            invert_rotate(source.data(), once.data(), w, h);
            invert_rotate(once.data(), twice.data(), w, h);
            EXPECT_TRUE(once == want && twice == source) << w << " x " << h;
        }
    }
}

// m * D^T D with D of rows (1, -2, 1), nothing off the five diagonals written
// (NaN background); N = 2 and 3 take the last of the overlapping edge writes.
TEST(PenaltyMatrixKernel, WritesExactlyTheFiveDiagonals) {
    const auto written = [](std::int32_t n, double m) {
        std::vector<double> matrix(std::size_t(n * n), NAN);
        penalty_matrix(matrix.data(), n, m);
        return matrix;
    };
    const double o = NAN;  // never written; two rows a line
    std::vector<double> six = {1, -2, 1,  o,  o, o,       -2, 5, -4, 1,  o,  o,
                               1, -4, 6,  -4, 1, o,       o,  1, -4, 6,  -4, 1,
                               o, o,  1,  -4, 5, -2,      o,  o, o,  1,  -2, 1};
    for (double& v : six) v *= -0.37;
    EXPECT_TRUE(same_values(written(6, -0.37), six));
    EXPECT_TRUE(same_values(written(2, 3.0), {15, -6, -6, 15}));
    EXPECT_TRUE(same_values(written(3, 3.0), {3, -6, 3, -6, 15, -6, 3, -6, 3}));
}

// Around (w div 2, h div 2) the profile falls to 0 from P[length-1] between
// radii length-1 and length, and is 0 beyond; a NaN radius gives 0.
TEST(RadialWarpKernel, WorkedProfileAndNaNRadii) {
    const double profile[3] = {4, 2, 1};
    std::vector<double> row(9, 9.0), nan_radii(9, 9.0);
    radial_warp(profile, 3, 0.75, 1.0, row.data(), 9, 1);
    EXPECT_TRUE(same_values(row, {0, 0.75, 1.5, 2.5, 4, 2.5, 1.5, 0.75, 0}));  // radii 3, 2.25, 1.5, 0.75, 0, ...
    radial_warp(profile, 3, NAN, 1.0, nan_radii.data(), 3, 3);
    EXPECT_EQ(nan_radii, std::vector<double>(9, 0.0));
}

// The mirrored, vectorised warp against the per-pixel loop, bit for bit:
// odd, even and 1-wide sizes about the 4-lane vectors, profiles of 1 to 6
// samples with NaN, infinities and -0, aspects 0, -0, negative, tiny, huge
// (infinite squares), NaN and infinite; and one size large enough for the
// parallel loop.
template <class T>
void expect_warp_as_per_pixel() {
    const T tinf = std::numeric_limits<T>::infinity();
    const std::vector<T> profiles[] = {{T(2.5)}, {-T(0), T(1)}, {4, T(NAN), 1, -2}, {T(0.3), -tinf, 7, tinf, 1, 5}};
    const std::pair<std::int32_t, std::int32_t> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {5, 4}, {8, 7}, {13, 16}, {37, 11}};
    const std::pair<double, double> aspects[] = {{1, 1},       {0.7, 1.3}, {0, 1},     {-0.0, -1.5}, {-2.25, 0.5},
                                                 {1e-300, 3},  {1e200, 1}, {1, 1e155}, {NAN, 1},     {1, INFINITY}};
    for (const auto& profile : profiles) {
        for (const auto& [w, h] : sizes) {
            for (const auto& [ax, ay] : aspects) {
                std::vector<T> want(std::size_t(w) * h, T(9)), got = want;
                const auto length = std::int32_t(profile.size());
                reference::radial_warp_per_pixel(profile.data(), length, ax, ay, want.data(), w, h);
                radial_warp(profile.data(), length, ax, ay, got.data(), w, h);
                ASSERT_TRUE(same_values(got, want)) << w << " x " << h << ", aspects " << ax << ", " << ay
                                                    << ", " << length << " samples";
            }
        }
    }
    std::vector<T> ramp(700);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = T(std::sin(double(i)) * 100);
    std::vector<T> want(std::size_t(2049) * 2048), got(want.size());
    reference::radial_warp_per_pixel(ramp.data(), 700, 0.37, 0.29, want.data(), 2049, 2048);
    radial_warp(ramp.data(), 700, 0.37, 0.29, got.data(), 2049, 2048);
    EXPECT_TRUE(got == want);
}
TEST(RadialWarpKernel, MirroredVectorWarpAsThePerPixelLoop) {
    expect_warp_as_per_pixel<float>();
    expect_warp_as_per_pixel<double>();
}

// The AVX2 span against the plain one (the warp takes one of them for the
// whole process): radii from 0 past the profile's end, whole radii, NaN;
// profiles of 1, 2 and 5 samples.
template <class T>
void expect_vector_span_as_plain() {
    if (!zorvan::simd::avx2()) GTEST_SKIP() << "no AVX2";
    const std::vector<T> profile = {3, T(NAN), -T(0), 1, 8};
    const std::tuple<double, double, double> rows[] = {{0, 1, 0}, {3, 0.5, 2.25}, {7, 1, 0}, {2, 0.25, NAN},
                                                       {5, -1, 16}, {0, INFINITY, 1}, {4, 1e-310, 0}, {6, 0.3, 0.81}};
    for (const std::int32_t length : {1, 2, 5}) {
        for (const auto& [centre, aspect, dy_squared] : rows) {
            for (std::int32_t first = 0; first < 3; ++first) {
                for (std::int32_t end = first; end < 14; ++end) {
                    std::vector<T> want(16, T(9)), got = want;
                    warp_span(profile.data(), length, centre, aspect, dy_squared, want.data(), first, end);
                    warp_span_avx2(profile.data(), length, centre, aspect, dy_squared, got.data(), first, end);
                    ASSERT_TRUE(same_values(got, want))
                        << length << " samples, " << centre << ", " << aspect << ", " << first << " .. " << end;
                }
            }
        }
    }
}
TEST(RadialWarpKernel, VectorSpanAsThePlainOne) {
    expect_vector_span_as_plain<float>();
    expect_vector_span_as_plain<double>();
}

}  // namespace
