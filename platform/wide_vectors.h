// Marks a hot loop function to be built twice, for AVX2 and for the base instruction set, the
// better one chosen when the program starts. Without contraction (the build forbids it) both
// give the same results bit for bit.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QRV_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define QRV_WIDE_VECTORS
#endif
