// Hot loops get an AVX2 clone on x86-64, picked at load time. The clones use
// the same operations in the same order (no contraction, no reassociation),
// so templates and scores stay identical on every CPU and on arm64.
#pragma once

#if defined(__x86_64__)
#define FPALG_SIMD_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define FPALG_SIMD_CLONES
#endif
