// Throughput of the Fourier-family kernels over image size x element type,
// with the runtime's default number of threads, timed by the wall clock
// since the loops run on several threads. Items are output pixels,
// so the reported items/s read directly as pixels/s.

#include "bench/bench_support.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "fourier/complex_accumulate_kernel.h"
#include "fourier/complex_by_real_kernel.h"
#include "fourier/invert_rotate_kernel.h"
#include "fourier/linear_rescale_kernel.h"
#include "fourier/mean_complex_kernel.h"
#include "fourier/penalty_matrix_kernel.h"
#include "fourier/radial_warp_kernel.h"
#include "fourier/wiener_mask_kernel.h"
#include "contract/data_types.h"

namespace {

using namespace zorvan;

template <class T>
void finish(benchmark::State& state, T* written, std::int64_t pixels) {
    benchmark::DoNotOptimize(written);
    benchmark::ClobberMemory();
    state.SetItemsProcessed(state.iterations() * pixels);
}

// Argument: size (a square image) for all of them.
template <class T>
void invert_rotate(benchmark::State& state) {
    const auto size = static_cast<std::int32_t>(state.range(0));
    const std::vector<T> src = bench::random_pixels<T>(std::int64_t{size} * size, -100.0, 100.0);
    std::vector<T> dst(src);
    for (auto _ : state) kernels::invert_rotate(src.data(), dst.data(), size, size);
    finish(state, dst.data(), std::int64_t{size} * size);
}

template <class T>
void radial_warp(benchmark::State& state) {
    const auto size = static_cast<std::int32_t>(state.range(0));
    const std::vector<T> profile = bench::random_pixels<T>(size / 2, -100.0, 100.0);
    std::vector<T> dst(std::size_t(size) * size);
    for (auto _ : state) kernels::radial_warp(profile.data(), size / 2, 1.0, 1.25, dst.data(), size, size);
    finish(state, dst.data(), std::int64_t{size} * size);
}

template <class C>
void mean_complex(benchmark::State& state) {
    const auto size = static_cast<std::int32_t>(state.range(0));
    const std::vector<C> src = bench::random_pixels<C>(std::int64_t{size} * size, -100.0, 100.0);
    for (auto _ : state) benchmark::DoNotOptimize(kernels::sum_complex(src.data(), size * size));
    state.SetItemsProcessed(state.iterations() * size * size);
}

// Argument: N; items are the N * N matrix elements, mostly left untouched.
void penalty_matrix(benchmark::State& state) {
    const auto n = static_cast<std::int32_t>(state.range(0));
    std::vector<double> matrix(std::size_t(n) * n);
    for (auto _ : state) kernels::penalty_matrix(matrix.data(), n, 0.5);
    finish(state, matrix.data(), std::int64_t{n} * n);
}

template <class C, class R>
void complex_by_real(benchmark::State& state) {
    const auto size = static_cast<std::int32_t>(state.range(0));
    const std::vector<C> z = bench::random_pixels<C>(std::int64_t{size} * size, -100.0, 100.0);
    const std::vector<R> g = bench::random_pixels<R>(std::int64_t{size} * size, -100.0, 100.0);
    std::vector<C> dst(z.size());
    for (auto _ : state) kernels::multiply_complex_by_real(z.data(), g.data(), dst.data(), size * size);
    finish(state, dst.data(), std::int64_t{size} * size);
}

template <class T>
void wiener_mask(benchmark::State& state) {
    const auto size = static_cast<std::int32_t>(state.range(0));
    std::vector<T> amplitude = bench::random_pixels<T>(std::int64_t{size} * size, -100.0, 100.0);
    const std::vector<T> base = bench::random_pixels<T>(std::int64_t{size} * size, -100.0, 100.0);
    std::vector<T> mask(base.size());
    for (auto _ : state) kernels::wiener_mask(amplitude.data(), base.data(), mask.data(), size * size);
    finish(state, mask.data(), std::int64_t{size} * size);
}

template <class C>
void complex_accumulate(benchmark::State& state) {
    const auto size = static_cast<std::int32_t>(state.range(0));
    std::vector<C> target = bench::random_pixels<C>(std::int64_t{size} * size, -100.0, 100.0);
    const std::vector<C> plus = bench::random_pixels<C>(std::int64_t{size} * size, -100.0, 100.0);
    for (auto _ : state) kernels::accumulate_complex(target.data(), plus.data(), size * size);
    finish(state, target.data(), std::int64_t{size} * size);
}

// A size x size source doubled along x and halved along y.
template <class T>
void linear_rescale(benchmark::State& state) {
    const auto size = static_cast<std::int32_t>(state.range(0));
    const std::vector<T> src = bench::random_pixels<T>(std::int64_t{size} * size, -100.0, 100.0);
    const std::int32_t out_w = 2 * size, out_h = size / 2;
    std::vector<T> rows(std::size_t(out_w) * size), dst(std::size_t(out_w) * out_h);
    for (auto _ : state)
        kernels::linear_rescale(src.data(), size, size, 2.0, 0.5, rows.data(), dst.data(), out_w, out_h, out_w);
    finish(state, dst.data(), std::int64_t{out_w} * out_h);
}

const std::vector<std::int64_t> sizes = {512, 2048};

}  // namespace

BENCHMARK_TEMPLATE(invert_rotate, float)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(invert_rotate, double)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(radial_warp, float)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(radial_warp, double)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(mean_complex, dm::complex8)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(mean_complex, dm::complex16)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK(penalty_matrix)->ArgsProduct({{512, 4096}})->ArgNames({"N"})->UseRealTime();
BENCHMARK_TEMPLATE(complex_by_real, dm::complex8, float)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(complex_by_real, dm::complex8, double)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(complex_by_real, dm::complex16, float)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(complex_by_real, dm::complex16, double)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(wiener_mask, float)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(wiener_mask, double)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(complex_accumulate, dm::complex8)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(complex_accumulate, dm::complex16)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(linear_rescale, float)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
BENCHMARK_TEMPLATE(linear_rescale, double)->ArgsProduct({sizes})->ArgNames({"size"})->UseRealTime();
