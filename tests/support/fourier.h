#pragma once
// Images over reserved address space, for element counts beyond 32 bits.

#include "tests/support/plugin_test.h"

#include <sys/mman.h>

#include <memory>

namespace zorvan::testing::fourier {

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

}  // namespace zorvan::testing::fourier
