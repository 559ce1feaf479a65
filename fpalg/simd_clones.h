// Hot loops get an AVX2 and an x86-64-v4 (AVX-512) clone on x86-64, picked
// at load time. The clones use the same operations in the same order (no
// contraction, no reassociation), so templates and scores stay identical on
// every CPU and on arm64. The v4 clone keeps eight-float vectors (its
// generic tuning prefers them) but has 32 vector registers: the FFT stages
// fused in registers and the verification's three shifts at once fit in
// them without spilling.
#pragma once

#if defined(__x86_64__)
#define FPALG_SIMD_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define FPALG_SIMD_CLONES
#endif

// Before a loop whose pointers the compiler cannot prove disjoint but are,
// so that GCC vectorises it without run-time overlap checks. Clang (the
// fuzzing build) checks at run time and is left to do so.
#if defined(__clang__)
#define FPALG_DISJOINT
#else
#define FPALG_DISJOINT _Pragma("GCC ivdep")
#endif
