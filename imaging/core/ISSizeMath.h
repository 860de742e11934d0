// Checked size arithmetic: every size computed from file data goes through these, from its
// separate factors, so that an overflow or an absurd size is refused before allocation.
#pragma once

#include <cstdint>

#include "platform/global_memory.h"

// out = a * b * c * d when the product fits in 64 bits; false otherwise.
inline bool ISMulSize(uint64_t& out, uint64_t a, uint64_t b, uint64_t c = 1, uint64_t d = 1) {
  uint64_t r = 0;
  if (__builtin_mul_overflow(a, b, &r) || __builtin_mul_overflow(r, c, &r) || __builtin_mul_overflow(r, d, &r))
    return false;
  out = r;
  return true;
}

// out = a + b when the sum fits in 64 bits; false otherwise.
inline bool ISAddSize(uint64_t& out, uint64_t a, uint64_t b) { return !__builtin_add_overflow(a, b, &out); }

// The product of the factors when it is a size the library may allocate (below the global
// allocation limit); false for an overflow or a larger size.
inline bool ISAllocSize(uint64_t& out, uint64_t a, uint64_t b, uint64_t c = 1, uint64_t d = 1) {
  return ISMulSize(out, a, b, c, d) && out < kGlobalAllocLimit;
}

// Row bytes of `width` pixels of `bits` bits, padded to a multiple of `align` bytes.
inline bool ISRowBytes(uint64_t& out, uint64_t width, uint64_t bits, uint64_t align = 1) {
  uint64_t b = 0;
  if (!ISMulSize(b, width, bits)) return false;
  b = (b + 7) / 8;
  if (align > 1) b = (b + align - 1) / align * align;
  out = b;
  return true;
}
