#pragma once
// Loops over every sample of a load, save or decode are built twice, for AVX2 and for
// the baseline, and the loader picks one (function multiversioning). Both builds give
// the same results: neither contracts products into fused multiply-adds.

// QUILLET_NO_TARGET_CLONES (the ThreadSanitizer build) keeps the baseline copy only.
#if defined(__x86_64__) && !defined(QUILLET_NO_TARGET_CLONES)
#define QUILLET_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define QUILLET_KERNEL
#endif
