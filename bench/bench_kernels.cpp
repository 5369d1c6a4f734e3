// Throughput of the pixel kernels over image size x element type x radius.
// Items are pixels, so the reported items/s read directly as pixels/s. Each
// runs as the plug-in runs it: on AVX2 where the CPU has it (ZORVAN_NO_SIMD=1
// for the plain kernels).

#include "bench/bench_support.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "filters/moving_average_kernel.h"
#include "fourier/log_power_kernel.h"
#include "contract/data_types.h"
#include "measure/survey_kernel.h"

namespace {

using namespace zorvan;

// Arguments: size (a square image), radius.
template <class T>
void box_mean_2d(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const std::int64_t radius = state.range(1);
    const std::vector<T> src = bench::random_pixels<T>(size * size);
    std::vector<T> dst(src.size());
    for (auto _ : state) {
        kernels::box_mean_plane(src.data(), size, size, size, radius, dst.data(), size);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

// Arguments: size (a square image), radius, axis (0 = x, 1 = y). Runs in
// place, as the filter does.
template <class T>
void mean_pass_1d(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const std::int64_t radius = state.range(1);
    const auto along = static_cast<kernels::axis>(state.range(2));
    std::vector<T> image = bench::random_pixels<T>(size * size);
    for (auto _ : state) {
        kernels::mean_pass_1d(along, size, size, 1, image.data(), size, size * size, radius, image.data(), size,
                              size * size);
        benchmark::DoNotOptimize(image.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

// Argument: size (a square image).
template <class T>
void survey(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const std::vector<T> image = bench::random_pixels<T>(size * size);
    for (auto _ : state) {
        benchmark::DoNotOptimize(kernels::survey_pixels(image.data(), size, size, 1, size, 0));
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

// Argument: size (a square image).
template <class C, class R>
void log_power_spectrum(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const std::vector<C> src = bench::random_pixels<C>(size * size);
    std::vector<R> dst(src.size());
    for (auto _ : state) {
        kernels::log_power_spectrum(src.data(), dst.data(), static_cast<std::int32_t>(size * size));
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

const std::vector<std::int64_t> sizes = {512, 2048};
const std::vector<std::int64_t> radii = {1, 5, 25};
const std::vector<std::int64_t> axes = {0, 1};

}  // namespace

BENCHMARK_TEMPLATE(box_mean_2d, float)->ArgsProduct({sizes, radii})->ArgNames({"size", "radius"});
BENCHMARK_TEMPLATE(box_mean_2d, double)->ArgsProduct({sizes, radii})->ArgNames({"size", "radius"});
BENCHMARK_TEMPLATE(box_mean_2d, dm::complex8)->ArgsProduct({sizes, radii})->ArgNames({"size", "radius"});

BENCHMARK_TEMPLATE(mean_pass_1d, float)->ArgsProduct({sizes, radii, axes})->ArgNames({"size", "radius", "axis"});
BENCHMARK_TEMPLATE(mean_pass_1d, double)->ArgsProduct({sizes, radii, axes})->ArgNames({"size", "radius", "axis"});
BENCHMARK_TEMPLATE(mean_pass_1d, dm::complex8)
    ->ArgsProduct({sizes, radii, axes})
    ->ArgNames({"size", "radius", "axis"});

BENCHMARK_TEMPLATE(survey, float)->ArgsProduct({sizes})->ArgNames({"size"});
BENCHMARK_TEMPLATE(survey, double)->ArgsProduct({sizes})->ArgNames({"size"});
BENCHMARK_TEMPLATE(survey, std::uint16_t)->ArgsProduct({sizes})->ArgNames({"size"});

BENCHMARK_TEMPLATE(log_power_spectrum, dm::complex8, float)->ArgsProduct({sizes})->ArgNames({"size"});
BENCHMARK_TEMPLATE(log_power_spectrum, dm::complex16, double)->ArgsProduct({sizes})->ArgNames({"size"});
