#pragma once
// When the Fourier-space family's parallel loops start threads. Every loop
// carries `if (kernels::worth_threads(work))`, or a threshold of its own
// where one thread was measured to do as well at 4096 x 4096 (below, and
// the linear rescale's): the runtime then declines the
// parallel region for small loops, which run on the calling thread over the
// whole range with the same static-schedule arithmetic, so no value changes.
//
// Why a threshold: a loop of T ms on one thread takes T/2 ms plus the wait
// for the second thread on two, and that wait is what a busy machine costs:
// measured on 2 cores at a load of 7, the 2x rescale into 1000 x 1000 took
// 1.1 ms on the calling thread and into 1024 x 1024 10.4 ms on two threads
// (the invert-rotate of 1024 x 1024 floats: 27 ms on two, 0.75 ms on one).
// On an idle machine a region costs tens of microseconds, but it saves at
// most half of a loop that is bound by memory. So threads start only where
// half the loop is worth a stall of several milliseconds: from 2^23
// elements of plain work (about 8 ms on one thread; 4096 x 4096 images).

#include <algorithm>
#include <cstdint>

namespace zorvan::kernels {

// Elements of plain work (one element read and written) from which a loop
// runs in parallel. A loop of heavier work counts its elements times its
// cost (for example a square root and an interpolation per pixel).
inline constexpr std::int64_t parallel_from = std::int64_t{1} << 23;

inline bool worth_threads(std::int64_t elements, std::int64_t cost = 1) { return elements * cost >= parallel_from; }

// Loops that only move memory (a reflected copy, the sum or the product of
// two images, the sum of one) and so wait for memory on either thread. On
// this 2-core machine at 4096 x 4096, best of 15, one thread against two
// (load 3.5): the reflection of floats 9.5-10.3 ms against 12.0-14.0, the
// sum of two complex64 images 19.4-19.6 against 20.2-32.1, the complex
// mean 12.7-12.9 against 20.0-21.6, the complex-by-real product 23.4-24.0
// against 20.9-24.2; on an idle machine the copy bandwidth is 6.6 GB/s on
// one thread and 7.1 on two. So they start threads only beyond 4096 x 4096,
// where a second thread's share of the bandwidth (larger on machines with
// more memory channels) is worth the wait for it.
inline constexpr std::int64_t memory_bound_parallel_from = std::int64_t{1} << 25;

inline bool worth_threads_bound_by_memory(std::int64_t elements) { return elements >= memory_bound_parallel_from; }

namespace detail {

// Element range [begin, end) of team t of `teams` under the static schedule
// without a chunk size: contiguous blocks in thread order, the first n mod
// teams blocks one element longer.
struct block {
    std::int32_t begin;
    std::int32_t end;
};
inline block static_block(std::int32_t n, int teams, int t) {
    const std::int32_t share = n / teams;
    const std::int32_t extra = n % teams;
    const std::int32_t begin = t * share + std::min<std::int32_t>(t, extra);
    return {begin, begin + share + (t < extra ? 1 : 0)};
}

}  // namespace detail

}  // namespace zorvan::kernels
