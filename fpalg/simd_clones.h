// Hot loops get an AVX2 and an x86-64-v4 (AVX-512) clone on x86-64, picked
// at load time. The clones use the same operations in the same order (no
// contraction, no reassociation), so templates and scores stay identical on
// every CPU and on arm64. The v4 clone keeps eight-float vectors (its
// generic tuning prefers them) but has 32 vector registers: the FFT stages
// fused in registers and the verification's three shifts at once fit in
// them without spilling. Building with FPALG_NO_X86_64_V4 defined leaves
// the v4 clone out, to measure on an AVX-512 machine what a CPU without it
// runs.
#pragma once

#if defined(__x86_64__) && !defined(FPALG_NO_X86_64_V4)
#define FPALG_SIMD_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#elif defined(__x86_64__)
#define FPALG_SIMD_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define FPALG_SIMD_CLONES
#endif

namespace fpalg {

// Whether the hot loops run their v4 clone, with 32 vector registers. The
// FFT stages fused in registers (fft.h's first_two_stages) pay only there:
// with 16 registers they spill, and passes that store between the stages
// do without. Both ways compute the same values in the same order. The
// features are those x86-64-v4 adds to AVX2's level (the compilers differ
// in whether they know the level's own name). Checked once.
inline bool wide_registers() {
#if defined(__x86_64__) && !defined(FPALG_NO_X86_64_V4)
    static const bool wide = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
                             __builtin_cpu_supports("avx512vl");
    return wide;
#else
    return false;
#endif
}

}  // namespace fpalg

// Before a loop whose pointers the compiler cannot prove disjoint but are,
// so that GCC vectorises it without run-time overlap checks. Clang (the
// fuzzing build) checks at run time and is left to do so.
#if defined(__clang__)
#define FPALG_DISJOINT
#else
#define FPALG_DISJOINT _Pragma("GCC ivdep")
#endif
