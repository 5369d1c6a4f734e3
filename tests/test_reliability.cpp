// Holding up under load and reload: every function called thousands of
// times in one host, the plug-in loaded and unloaded a hundred times, and
// calls from several threads at once.

#include "tests/support/plugin_test.h"

#include <unistd.h>

#include <fstream>
#include <thread>

namespace zorvan::testing {
namespace {

using host::ScriptType;

// Under the sanitizers resident memory says nothing about leaks (freed
// memory waits in AddressSanitizer's quarantine; the leak checker and the
// object counts cover those builds), so it is measured only without them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentMemoryMeans = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kResidentMemoryMeans = false;
#else
constexpr bool kResidentMemoryMeans = true;
#endif
#else
constexpr bool kResidentMemoryMeans = true;
#endif

// Resident memory of this process, in bytes.
std::uint64_t resident_bytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// Arguments for a function: numbers that every function accepts, and the
// given images in its image parameters in turn.
std::vector<Arg> arguments_for(const host::Prototype& prototype, const std::vector<Image>& images, std::size_t pick) {
    std::vector<Arg> args;
    for (const auto& parameter : prototype.parameters) {
        switch (parameter.script_type) {
            case ScriptType::long_: args.emplace_back(std::int32_t{3}); break;
            case ScriptType::double_: args.emplace_back(1.0); break;
            case ScriptType::float_: args.emplace_back(1.0f); break;
            case ScriptType::double_ref: args.push_back(Arg::out(4.0)); break;
            case ScriptType::image:
                args.emplace_back(images[pick % images.size()]);
                pick /= images.size();
                break;
            case ScriptType::image_ref:
                args.push_back(Arg::slot(images[pick % images.size()]));
                pick /= images.size();
                break;
            default: break;
        }
    }
    return args;
}

class Soak : public PluginTest {};

TEST_F(Soak, EveryFunctionThousandsOfTimesLeavesMemoryAndObjectsFlat) {
    std::vector<float> reals(64);
    for (std::size_t i = 0; i < reals.size(); ++i) reals[i] = static_cast<float>((i * 13) % 7) + 1.0f;
    std::vector<float> complex(128, 0.5f);
    std::vector<double> doubles(64, 2.0);
    const std::vector<Image> images = {image(host::data_type::real4, {8, 8}, reals),
                                       image(host::data_type::complex8, {8, 8}, complex),
                                       image(host::data_type::real8, {8, 8}, doubles)};
    const auto with_images = Host::object_counts();

    // The first combination of images each function accepts (or the first
    // one if none succeeds: failures must not leak either).
    std::vector<std::pair<std::string, std::size_t>> calls;
    for (const auto& text : host.published_prototypes()) {
        const auto prototype = *host::parse_prototype(text);
        std::size_t chosen = 0;
        for (std::size_t pick = 0; pick < 27; ++pick) {
            auto args = arguments_for(prototype, images, pick);
            const auto result = host.call(prototype.name, args);
            if (result.ok() && (result.image || result.number != 0 || prototype.result == ScriptType::void_)) {
                chosen = pick;
                break;
            }
        }
        calls.emplace_back(prototype.name, chosen);
    }
    ASSERT_EQ(calls.size(), 19u);

    auto round = [&] {
        for (const auto& [name, pick] : calls) {
            auto args = arguments_for(*host.prototype_of(name), images, pick);
            host.call(name, args);
        }
    };
    for (int i = 0; i < 200; ++i) round();  // warm-up: caches, allocator pools
    const std::uint64_t warmed = resident_bytes();
    for (int i = 0; i < 3000; ++i) round();
    const std::uint64_t grown = resident_bytes() > warmed ? resident_bytes() - warmed : 0;
    if (kResidentMemoryMeans) {
        EXPECT_LT(grown, std::uint64_t{8} << 20) << "resident memory grew by " << grown << " bytes over 57,000 calls";
    }
    EXPECT_EQ(host::to_string(Host::object_counts()), host::to_string(with_images));
}

TEST(Reload, AHundredLoadsAndUnloadsLeaveNothingBehind) {
    Host host;
    const auto before = Host::object_counts();
    std::uint64_t warmed = 0;
    for (int round = 0; round < 100; ++round) {
        host.load_plugin(ZORVAN_PLUGIN_PATH);
        ASSERT_EQ(host.published_prototypes().size(), 19u) << "functions registered anew each time";
        {
            Image source = host.make_image(host::data_type::real4, {16, 16});
            const auto result = host.call("FMovingAverage", {source, 2, nullptr});
            ASSERT_TRUE(result.ok());
        }
        host.unload_plugin();
        ASSERT_TRUE(host.published_prototypes().empty());
        ASSERT_EQ(host.environment_references(), 0);
        if (round == 10) warmed = resident_bytes();
    }
    EXPECT_EQ(host::to_string(Host::object_counts()), host::to_string(before));
    const std::uint64_t grown = resident_bytes() > warmed ? resident_bytes() - warmed : 0;
    if (kResidentMemoryMeans) {
        EXPECT_LT(grown, std::uint64_t{16} << 20) << "resident memory grew by " << grown << " bytes over 90 reloads";
    }
}

TEST(Threads, ParallelCallersGetTheSingleThreadedResults) {
    Host host;
    host.load_plugin(ZORVAN_PLUGIN_PATH);
    std::vector<float> pixels(2 * 32 * 32);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<float>((i * 29) % 31) - 15.0f;
    const Image complex = host.make_image(host::data_type::complex8, {32, 32}, pixels.data(), pixels.size() * sizeof(float));
    const Image real = host.make_image(host::data_type::real4, {64, 32}, pixels.data(), pixels.size() * sizeof(float));
    const auto spectrum = host.call("FCalculatePowerSpectrumDLL", {complex}).image.bytes();
    const auto smoothed = host.call("FMovingAverage", {real, 2, nullptr}).image.bytes();
    const auto before = Host::object_counts();

    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                if (host.call("FCalculatePowerSpectrumDLL", {complex}).image.bytes() != spectrum) ++mismatches[t];
                if (host.call("FMovingAverage", {real, 2, nullptr}).image.bytes() != smoothed) ++mismatches[t];
                Image mine = host.make_image(host::data_type::real4, {8, 8});
                if (!host.call("FMovingAverage", {mine, 1, mine}).ok()) ++mismatches[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
    EXPECT_EQ(host::to_string(Host::object_counts()), host::to_string(before));
}

}  // namespace
}  // namespace zorvan::testing
