// Throughput of the neighbourhood filters' kernels (moving-average pair,
// median selecting and apart, maximum, horizontal difference) over image
// size x element type x radius. Items are pixels, so items/s read directly as
// pixels/s. Each runs as the plug-in runs it: on AVX2 where the CPU has it
// (ZORVAN_NO_SIMD=1 for the plain kernels).

#include "bench/bench_support.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "filters/diff_h_kernel.h"
#include "filters/maximum_kernel.h"
#include "filters/median/median_kernel.h"
#include "filters/moving_average_pair_kernel.h"
#include "contract/data_types.h"

namespace {

using namespace zorvan;

// Arguments: size (a square image), radius.
template <class T>
void box_mean_pair_2d(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const std::int64_t radius = state.range(1);
    const std::vector<T> src = bench::random_pixels<T>(size * size);
    std::vector<T> mean(src.size()), square_mean(src.size());
    for (auto _ : state) {
        kernels::box_mean_pair_plane(src.data(), size, size, size, radius, mean.data(), size, square_mean.data(), size);
        benchmark::DoNotOptimize(mean.data());
        benchmark::DoNotOptimize(square_mean.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

// Arguments: size (a square image), radius. The selecting kernel, which the
// in-place route takes.
template <class T>
void median_filter_2d(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const std::int64_t radius = state.range(1);
    const std::vector<T> src = bench::random_pixels<T>(size * size);
    std::vector<T> dst(src.size());
    for (auto _ : state) {
        kernels::median_filter_2d(src.data(), size, size, radius, dst.data());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

// Arguments: size (a square image), radius. Apart from the source: networks
// up to radius 2, ranks above.
template <class T>
void median_filter_apart(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const std::int64_t radius = state.range(1);
    const std::vector<T> src = bench::random_pixels<T>(size * size);
    std::vector<T> dst(src.size());
    for (auto _ : state) {
        kernels::median_filter_apart(src.data(), size, size, radius, dst.data());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

// Arguments: size (a square image), radius.
template <class T>
void maximum_filter_2d(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const std::int64_t radius = state.range(1);
    const std::vector<T> src = bench::random_pixels<T>(size * size);
    std::vector<T> dst(src.size());
    for (auto _ : state) {
        kernels::maximum_filter(src.data(), size, size, radius, dst.data());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

// Argument: size (a square image); one order.
void difference_along_x(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const std::vector<float> src = bench::random_pixels<float>(size * size);
    std::vector<float> dst(static_cast<std::size_t>((size - 1) * size));
    for (auto _ : state) {
        kernels::difference_along_x(src.data(), size, size, dst.data());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

const std::vector<std::int64_t> sizes = {512, 2048};
const std::vector<std::int64_t> radii = {1, 5, 25};
// The selecting median costs (2r+1)^2 samples per pixel: smaller images and radii.
const std::vector<std::int64_t> median_sizes = {256, 1024};
const std::vector<std::int64_t> median_radii = {1, 3, 7};
const std::vector<std::int64_t> median_apart_sizes = {1024, 4096};
// Radius 4 (ranks) against 10, 30 and 100 (column histograms): the latter nearly flat.
const std::vector<std::int64_t> median_apart_radii = {1, 2, 3, 4, 10, 30, 100};

}  // namespace

BENCHMARK_TEMPLATE(box_mean_pair_2d, float)->ArgsProduct({sizes, radii})->ArgNames({"size", "radius"});
BENCHMARK_TEMPLATE(box_mean_pair_2d, double)->ArgsProduct({sizes, radii})->ArgNames({"size", "radius"});
BENCHMARK_TEMPLATE(box_mean_pair_2d, dm::complex8)->ArgsProduct({sizes, radii})->ArgNames({"size", "radius"});

BENCHMARK_TEMPLATE(median_filter_2d, float)->ArgsProduct({median_sizes, median_radii})->ArgNames({"size", "radius"});
BENCHMARK_TEMPLATE(median_filter_2d, double)->ArgsProduct({median_sizes, median_radii})->ArgNames({"size", "radius"});
BENCHMARK_TEMPLATE(median_filter_apart, float)
    ->ArgsProduct({median_apart_sizes, median_apart_radii})
    ->ArgNames({"size", "radius"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(median_filter_apart, double)
    ->ArgsProduct({median_apart_sizes, median_apart_radii})
    ->ArgNames({"size", "radius"})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_TEMPLATE(maximum_filter_2d, std::uint8_t)->ArgsProduct({sizes, radii})->ArgNames({"size", "radius"});
BENCHMARK_TEMPLATE(maximum_filter_2d, std::int16_t)->ArgsProduct({sizes, radii})->ArgNames({"size", "radius"});
BENCHMARK_TEMPLATE(maximum_filter_2d, float)->ArgsProduct({sizes, radii})->ArgNames({"size", "radius"});
BENCHMARK_TEMPLATE(maximum_filter_2d, double)->ArgsProduct({sizes, radii})->ArgNames({"size", "radius"});

BENCHMARK(difference_along_x)->ArgsProduct({sizes})->ArgNames({"size"});
