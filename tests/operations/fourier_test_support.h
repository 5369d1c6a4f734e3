#pragma once
// Shared pieces of the Fourier-family tests through the host: the random
// values, the OpenMP thread count of a call, images over reserved address
// space for element counts beyond 32 bits, and the checks of a silent
// refusal and of a call that an exception ended.

#include "tests/host_test_support.h"

#include <omp.h>
#include <sys/mman.h>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <random>

namespace zorvan::testing::fourier {

namespace type = host::data_type;

// Both signs over six decades, so that rounding shows in the low bits.
template <class F>
std::vector<F> random_values(std::size_t count, std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_int_distribution<int> decade(-3, 2);
    std::vector<F> values(count);
    for (F& v : values) v = static_cast<F>(unit(rng) * std::pow(10.0, decade(rng)));
    return values;
}

// Runs `call` with the runtime's default team size set to `threads`; the
// plug-in shares the test process's OpenMP runtime.
template <class Call>
auto with_threads(int threads, Call&& call) {
    const int before = omp_get_max_threads();
    omp_set_num_threads(threads);
    struct Restore {
        int threads;
        ~Restore() { omp_set_num_threads(threads); }
    } restore{before};
    return call();
}

template <class F>
::testing::AssertionResult same_values(const std::vector<F>& got, const std::vector<F>& want) {
    if (got.size() != want.size()) return ::testing::AssertionFailure() << got.size() << " values, not " << want.size();
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (!same_bits(got[i], want[i])) {
            return ::testing::AssertionFailure() << "value " << i << " is " << got[i] << ", not " << want[i];
        }
    }
    return ::testing::AssertionSuccess();
}

// An image whose w*h does not fit 32 bits, over address space that is only
// reserved: any read of it would fault, so a refusal shows that nothing was
// read. Null when the space cannot be reserved.
inline Image reserved_image(Host& host, std::int32_t code, std::vector<std::uint64_t> sizes) {
    std::uint64_t bytes = dm::bytes_of(code);
    for (const std::uint64_t size : sizes) bytes *= size;
    void* reserved = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED) return Image();
    const std::shared_ptr<void> mapping(reserved, [bytes](void* p) { munmap(p, bytes); });
    host.set_allocation_limit(bytes);
    return host.wrap_image(code, std::move(sizes), reserved, mapping);
}
// 2^31 + 2^16 elements.
inline const std::vector<std::uint64_t> kBeyondInt32 = {65536, 32769};

inline std::uint64_t counter_additions(const char* counter) {
    const auto found = Host::counter(counter);
    return found ? found->additions : 0;
}

// What a call left behind, taken before it, for the checks below.
struct Before {
    const char* counter;
    std::uint64_t additions = counter_additions(counter);
    std::int64_t images = Host::object_counts().images;
};

// A silent refusal: no error, no image created or returned, 0, and the
// counter added once.
inline void expect_refusal(const CallResult& result, const Before& before) {
    EXPECT_TRUE(result.ok()) << result.error->message;
    EXPECT_EQ(result.raised, 0);
    EXPECT_FALSE(result.image);
    EXPECT_EQ(result.number, 0);
    EXPECT_EQ(counter_additions(before.counter), before.additions + 1) << "refusals are timed";
    EXPECT_EQ(Host::object_counts().images, before.images) << "an image was created";
}

// A call an exception ended: one script error, a null or 0 result, no image
// left behind and no counter.
inline void expect_exception(const CallResult& result, const Before& before) {
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.raised, 1);
    EXPECT_FALSE(result.image);
    EXPECT_EQ(result.number, 0);
    EXPECT_EQ(counter_additions(before.counter), before.additions) << "no counter when an exception ends the call";
    EXPECT_EQ(Host::object_counts().images, before.images) << "an image was left behind";
}

}  // namespace zorvan::testing::fourier
