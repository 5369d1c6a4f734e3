// Throughput of the measurement kernels over image size x element type (and
// radius or mode). Items are pixels (for the centre of mass: disc cells
// visited), so items/s read directly as pixels/s.

#include "bench/bench_support.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "contract/data_types.h"
#include "measure/center_of_mass_kernel.h"
#include "measure/ft_window_kernel.h"
#include "measure/radial_survey_kernel.h"
#include "measure/weight_kernel.h"

namespace {

using namespace zorvan;

// Argument: size (a square image, surveyed around its centre).
template <class P>
void radial_survey(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const std::vector<P> image = bench::random_pixels<P>(size * size);
    const std::int64_t centre = size / 2;
    const auto layout = kernels::rings_of(kernels::farthest_radius<P>(size, size, centre, centre, P(1), P(1)));
    std::vector<P> result(static_cast<std::size_t>(kernels::radial_row_count * layout.count));
    for (auto _ : state) {
        kernels::radial_survey(image.data(), size, size, centre, centre, P(1), P(1), layout, result.data(),
                               layout.count);
        benchmark::DoNotOptimize(result.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

// Arguments: size (a square image with a Gaussian spot off its centre),
// radius. Each search settles in a few cycles; items are the disc cells of
// those cycles, about pi r^2 each.
template <class P>
void centre_of_mass(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const auto radius = static_cast<P>(state.range(1));
    std::vector<P> image = bench::random_pixels<P>(size * size);
    const double spot = double(size) / 2 + 3.3;
    for (std::int64_t y = 0; y < size; ++y)
        for (std::int64_t x = 0; x < size; ++x) {
            const double d2 = (double(x) - spot) * (double(x) - spot) + (double(y) - spot) * (double(y) - spot);
            image[std::size_t(y * size + x)] += P(5000.0 * std::exp(-d2 / (2.0 * double(radius) * double(radius))));
        }
    const P start = P(size / 2);
    std::int64_t cycles = 0;
    for (auto _ : state) {
        const auto found = kernels::centre_of_mass<P>(image.data(), size, size, start, start, radius, 50, P(0.1));
        benchmark::DoNotOptimize(found);
        cycles += found.result;
    }
    const double disc = 3.14159 * double(radius) * double(radius);
    state.SetItemsProcessed(static_cast<std::int64_t>(double(cycles) * disc));
}

// Arguments: size (a square image), mode.
template <class T>
void weight(benchmark::State& state) {
    const std::int64_t size = state.range(0);
    const auto mode = static_cast<kernels::weight_mode>(state.range(1));
    const std::vector<T> source = bench::random_pixels<T>(size * size);
    std::vector<T> destination(source.size());
    const std::vector<float> table = bench::random_pixels<float>(size);
    for (auto _ : state) {
        kernels::weight_pixels(source.data(), destination.data(), size, size, table.data(), size, size / 2, size / 2,
                               0.7f, 0.7f, mode);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * size * size);
}

// Arguments: size (a square image), mode (0 Hann, 1 sine).
void fourier_window(benchmark::State& state) {
    const auto size = static_cast<std::int32_t>(state.range(0));
    const auto mode = static_cast<kernels::window_mode>(state.range(1));
    const std::vector<float> source = bench::random_pixels<float>(std::int64_t{size} * size);
    std::vector<float> destination(source.size());
    for (auto _ : state) {
        kernels::fourier_window(source.data(), destination.data(), size, size, mode);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{size} * size);
}

const std::vector<std::int64_t> sizes = {512, 2048};

}  // namespace

BENCHMARK_TEMPLATE(radial_survey, float)->ArgsProduct({sizes})->ArgNames({"size"});
BENCHMARK_TEMPLATE(radial_survey, double)->ArgsProduct({sizes})->ArgNames({"size"});

BENCHMARK_TEMPLATE(centre_of_mass, float)->ArgsProduct({{512}, {4, 16, 64}})->ArgNames({"size", "radius"});
BENCHMARK_TEMPLATE(centre_of_mass, double)->ArgsProduct({{512}, {4, 16, 64}})->ArgNames({"size", "radius"});

BENCHMARK_TEMPLATE(weight, float)->ArgsProduct({sizes, {0, 3}})->ArgNames({"size", "mode"});
BENCHMARK_TEMPLATE(weight, dm::complex8)->ArgsProduct({sizes, {0, 3}})->ArgNames({"size", "mode"});

BENCHMARK(fourier_window)->ArgsProduct({sizes, {0, 1}})->ArgNames({"size", "mode"});
