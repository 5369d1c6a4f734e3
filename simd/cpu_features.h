#pragma once
// Which vector kernels this CPU may run. The plug-in is built for any x86-64;
// a kernel's AVX2 body lives in a source of its own (`*_avx2.cpp`, the only
// sources compiled with -mavx2) and is called only when `avx2()` says so.
// Both bodies give the same bits: the choice changes speed, never a result.

namespace zorvan::simd {

// True when the CPU has AVX2 and the environment does not set
// ZORVAN_NO_SIMD (which forces the plain kernels, for comparisons).
// Decided once per process.
bool avx2();

}  // namespace zorvan::simd
