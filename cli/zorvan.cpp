// zorvan: runs the plug-in in the embedded host from the shell.
//   zorvan list      the registered prototypes, one a line
//   zorvan example   the three first functions on a synthetic image

#include "host/host.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef ZORVAN_PLUGIN_PATH
#define ZORVAN_PLUGIN_PATH "libZorvanFilters64.so"
#endif

namespace {

using zorvan::host::Arg;
using zorvan::host::Host;
using zorvan::host::Image;

int usage() {
    std::fprintf(stderr, "usage: zorvan list | zorvan example\n");
    return 2;
}

int list(Host& host) {
    for (const auto& prototype : host.published_prototypes()) std::printf("%s\n", prototype.c_str());
    return 0;
}

// A 256 x 256 lattice with a little structure, its moving average, its
// statistics and the power spectrum of a synthetic complex wave.
int example(Host& host) {
    constexpr int n = 256;
    std::vector<float> pixels(n * n);
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            pixels[y * n + x] = static_cast<float>(std::cos(0.3 * x) * std::cos(0.2 * y) + 0.01 * ((x * 7 + y * 13) % 17));
        }
    }
    Image lattice = host.make_image(zorvan::host::data_type::real4, {n, n}, pixels.data(), pixels.size() * sizeof(float));

    auto survey = [&host](const char* label, const Image& image) {
        std::vector<Arg> args{image, Arg::out(), Arg::out(), Arg::out(), Arg::out()};
        const auto result = host.call("FSurvey", args);
        if (!result.ok()) {
            std::fprintf(stderr, "zorvan: %s\n", result.error->message.c_str());
            return false;
        }
        std::printf("%-22s min %.6g  max %.6g  sum %.9g  sum of squares %.9g\n", label, args[1].number(),
                    args[2].number(), args[3].number(), args[4].number());
        return true;
    };

    if (!survey("lattice", lattice)) return 1;
    const auto smoothed = host.call("FMovingAverage", {lattice, 2, nullptr});
    if (!smoothed.ok()) {
        std::fprintf(stderr, "zorvan: %s\n", smoothed.error->message.c_str());
        return 1;
    }
    if (!survey("moving average, r = 2", smoothed.image)) return 1;

    std::vector<float> wave(2 * n * n);
    for (int i = 0; i < n * n; ++i) {
        const double amplitude = 1.0 + 0.5 * std::cos(0.01 * i);
        wave[2 * i] = static_cast<float>(amplitude * std::cos(0.05 * i));
        wave[2 * i + 1] = static_cast<float>(amplitude * std::sin(0.05 * i));
    }
    Image complex = host.make_image(zorvan::host::data_type::complex8, {n, n}, wave.data(), wave.size() * sizeof(float));
    const auto spectrum = host.call("FCalculatePowerSpectrumDLL", {complex});
    if (!spectrum.image) {
        std::fprintf(stderr, "zorvan: the power spectrum refused its input\n");
        return 1;
    }
    if (!survey("log power spectrum", spectrum.image)) return 1;

    std::printf("\n%-28s %10s %14s\n", "counter", "additions", "total ms");
    for (const auto& counter : Host::counters()) {
        std::printf("%-28s %10llu %14.3f\n", counter.name.c_str(), static_cast<unsigned long long>(counter.additions),
                    counter.total_ms());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return usage();
    try {
        Host host;
        host.load_plugin(ZORVAN_PLUGIN_PATH);
        if (std::strcmp(argv[1], "list") == 0) return list(host);
        if (std::strcmp(argv[1], "example") == 0) return example(host);
        return usage();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zorvan: %s\n", error.what());
        return 2;
    }
}
