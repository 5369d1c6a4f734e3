#include "simd/cpu_features.h"

#include <cstdlib>

namespace zorvan::simd {

namespace {

bool detect_avx2() {
    const char* off = std::getenv("ZORVAN_NO_SIMD");
    if (off != nullptr && off[0] != '\0' && off[0] != '0') {
        return false;
    }
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

}  // namespace

bool avx2() {
    static const bool available = detect_avx2();
    return available;
}

}  // namespace zorvan::simd
