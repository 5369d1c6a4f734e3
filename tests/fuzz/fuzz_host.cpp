// Fuzzes every registered function through the host: the input decodes into
// a sequence of actions (make an image, call a function with chosen
// arguments, drop an image). After each call the target checks that nothing
// was left behind, that a failure raised exactly one known script error,
// and that a silent refusal of the Fourier-space family left its inputs as
// they were. Any broken rule traps, so the fuzzer reports it.

#include "host/host.h"
#include "tests/fuzz/known_messages.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using zorvan::host::Arg;
using zorvan::host::Host;
using zorvan::host::Image;
using zorvan::host::ScriptType;

Host* g_host = nullptr;
std::vector<std::string> g_functions;
std::vector<std::uint64_t> g_calls;  // per function, printed at exit

void print_calls() {
    std::fprintf(stderr, "calls per function:");
    for (std::size_t i = 0; i < g_functions.size(); ++i) {
        std::fprintf(stderr, " %s %llu", g_functions[i].c_str(), static_cast<unsigned long long>(g_calls[i]));
    }
    std::fprintf(stderr, "\n");
}

[[noreturn]] void broken(const char* rule, const std::string& detail) {
    std::fprintf(stderr, "broken rule: %s: %s\n", rule, detail.c_str());
    __builtin_trap();
}

constexpr std::int32_t kTypes[] = {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};

template <class T>
T special(FuzzedDataProvider& data) {
    using limits = std::numeric_limits<T>;
    if constexpr (std::is_floating_point_v<T>) {
        switch (data.ConsumeIntegralInRange(0, 9)) {
            case 0: return limits::quiet_NaN();
            case 1: return limits::infinity();
            case 2: return -limits::infinity();
            case 3: return limits::denorm_min();
            case 4: return limits::max();
            case 5: return limits::lowest();
            case 6: return T(0);
            case 7: return T(-0.0);
            default: return data.ConsumeFloatingPoint<T>();
        }
    } else {
        switch (data.ConsumeIntegralInRange(0, 3)) {
            case 0: return limits::max();
            case 1: return limits::min();
            default: return data.ConsumeIntegral<T>();
        }
    }
}

template <class T>
void fill(FuzzedDataProvider& data, std::vector<std::byte>& bytes, std::size_t values) {
    for (std::size_t i = 0; i < values; ++i) {
        const T value = special<T>(data);
        std::memcpy(bytes.data() + i * sizeof(T), &value, sizeof(T));
    }
}

Image make_image(FuzzedDataProvider& data) {
    const std::int32_t type = data.PickValueInArray(kTypes);
    const int dimensions = data.ConsumeIntegralInRange(1, 4);
    std::vector<std::uint64_t> sizes;
    std::uint64_t count = 1;
    for (int k = 0; k < dimensions; ++k) {
        sizes.push_back(data.ConsumeIntegralInRange<std::uint64_t>(1, k < 2 ? 12 : 3));
        count *= sizes.back();
    }
    const std::uint32_t bytes_per = zorvan::dm::bytes_of(type);
    std::vector<std::byte> bytes(count * bytes_per);
    switch (type) {
        case 1: fill<std::int16_t>(data, bytes, count); break;
        case 2: fill<float>(data, bytes, count); break;
        case 3: case 5: fill<float>(data, bytes, 2 * count); break;
        case 6: case 14: fill<std::uint8_t>(data, bytes, count); break;
        case 7: fill<std::int32_t>(data, bytes, count); break;
        case 8: case 11: fill<std::uint32_t>(data, bytes, count); break;
        case 9: fill<std::int8_t>(data, bytes, count); break;
        case 10: fill<std::uint16_t>(data, bytes, count); break;
        case 12: fill<double>(data, bytes, count); break;
        case 13: fill<double>(data, bytes, 2 * count); break;
    }
    return g_host->make_image(type, sizes, bytes.data(), bytes.size(), "fuzz");
}

double number(FuzzedDataProvider& data) {
    switch (data.ConsumeIntegralInRange(0, 12)) {
        case 0: return std::nan("");
        case 1: return INFINITY;
        case 2: return -INFINITY;
        case 3: return 0.0;
        case 4: return -1.0;
        case 5: return 1.0;
        case 6: return 2.0;
        case 7: return 2147483647.0;
        case 8: return -2147483648.0;
        case 9: return 1e300;
        case 10: return data.ConsumeIntegralInRange(-3, 40);
        case 11: return data.ConsumeFloatingPointInRange(-50.0, 50.0);
        default: return data.ConsumeFloatingPoint<double>();
    }
}

Image pick(FuzzedDataProvider& data, const std::vector<Image>& pool) {
    if (pool.empty() || data.ConsumeIntegralInRange(0, 5) == 0) return Image();
    return pool[data.ConsumeIntegralInRange<std::size_t>(0, pool.size() - 1)];
}

void call(FuzzedDataProvider& data, const std::vector<Image>& pool) {
    const std::size_t chosen = data.ConsumeIntegralInRange<std::size_t>(0, g_functions.size() - 1);
    const std::string& name = g_functions[chosen];
    ++g_calls[chosen];
    const auto prototype = g_host->prototype_of(name);
    std::vector<Arg> args;
    for (const auto& parameter : prototype->parameters) {
        switch (parameter.script_type) {
            case ScriptType::long_:
            case ScriptType::double_:
            case ScriptType::float_: {
                const double value = number(data);
                if (parameter.script_type == ScriptType::long_ &&
                    !(value >= -2147483648.0 && value < 2147483648.0)) {
                    args.emplace_back(static_cast<std::int32_t>(data.ConsumeIntegral<std::int32_t>()));
                } else {
                    args.emplace_back(value);
                }
                break;
            }
            case ScriptType::double_ref: args.push_back(Arg::out(number(data))); break;
            case ScriptType::image: args.emplace_back(pick(data, pool)); break;
            case ScriptType::image_ref: args.push_back(Arg::slot(pick(data, pool))); break;
            default: broken("every parameter can be given", name);
        }
    }

    std::vector<std::vector<std::byte>> before;
    for (const auto& image : pool) before.push_back(image.bytes());
    const auto counts = Host::object_counts();

    auto result = g_host->call(name, args);
    const bool family = name.size() > 3 && name.compare(name.size() - 3, 3, "DLL") == 0;
    if (!result.ok()) {
        if (result.raised == 0) {
            // Refused by the host before the call: arguments it cannot convert.
            if (result.error->message.find(" of " + name) == std::string::npos) {
                broken("a host refusal names the function", result.error->message);
            }
        } else {
            if (result.raised != 1) broken("one script error per failure", name + ": " + result.error->message);
            if (!zorvan::fuzz::is_known_message(result.error->message)) {
                broken("failures carry a known message", name + ": " + result.error->message);
            }
        }
    } else if (family) {
        const bool refused = (prototype->result == ScriptType::image && !result.image) ||
                             (prototype->result != ScriptType::image && result.number == 0);
        if (refused) {
            for (std::size_t i = 0; i < pool.size(); ++i) {
                const auto after = pool[i].bytes();
                if (after.size() != before[i].size() || std::memcmp(after.data(), before[i].data(), after.size()) != 0) {
                    broken("a refusal leaves its inputs unchanged", name);
                }
            }
        }
    }
    result = {};
    args.clear();
    const auto after = Host::object_counts();
    if (!(after == counts)) {
        broken("objects and locks back to where they were",
               name + ": before " + zorvan::host::to_string(counts) + "; after " + zorvan::host::to_string(after));
    }
    if (Host::bad_handle_uses() != 0) broken("no bad handle is used", name);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static Host host;
    host.load_plugin(ZORVAN_PLUGIN_PATH);
    host.set_allocation_limit(std::uint64_t{64} << 20);  // keep the fuzzer's memory bounded
    g_host = &host;
    for (const auto& prototype : host.published_prototypes()) {
        g_functions.push_back(zorvan::host::parse_prototype(prototype)->name);
    }
    g_calls.assign(g_functions.size(), 0);
    std::atexit(print_calls);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    std::vector<Image> pool;
    for (int action = 0; action < 12 && data.remaining_bytes() > 0; ++action) {
        switch (data.ConsumeIntegralInRange(0, 3)) {
            case 0:
                if (pool.size() < 6) pool.push_back(make_image(data));
                break;
            case 1:
            case 2:
                call(data, pool);
                break;
            case 3:
                if (!pool.empty()) pool.erase(pool.begin() + data.ConsumeIntegralInRange<std::size_t>(0, pool.size() - 1));
                break;
        }
    }
    return 0;
}
