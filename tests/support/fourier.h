#pragma once
// Shared pieces of the Fourier-family tests through the host: the random
// values, the OpenMP thread count of a call, images over reserved address
// space for element counts beyond 32 bits, and the checks of a silent
// refusal and of a call that an exception ended.

#include "tests/support/plugin_test.h"

#include <omp.h>
#include <sys/mman.h>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <random>

namespace zorvan::testing::fourier {

namespace type = host::data_type;

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
