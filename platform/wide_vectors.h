// Marks a hot loop function to be built twice, for AVX2 and for the base instruction set, the
// better one chosen when the program starts. Without contraction (the build forbids it) both
// give the same results bit for bit. ThreadSanitizer builds take the base one only: the choice is
// made by a resolver that runs before that sanitizer's runtime is ready.
#pragma once

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QRV_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define QRV_THREAD_SANITIZER 1
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(QRV_THREAD_SANITIZER)
#define QRV_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define QRV_WIDE_VECTORS
#endif
