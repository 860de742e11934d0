// The bit tables of the operation context.
#include "imaging/core/ISEntryFrame.h"

namespace {

constexpr uint8_t ReverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b >> 4) | (b << 4));                  // swap nibbles
  b = static_cast<uint8_t>(((b & 0xCC) >> 2) | ((b & 0x33) << 2)); // swap pairs
  b = static_cast<uint8_t>(((b & 0xAA) >> 1) | ((b & 0x55) << 1)); // swap neighbours
  return b;
}

struct ReverseTable {
  uint8_t v[256];
  constexpr ReverseTable() : v() {
    for (int i = 0; i < 256; ++i) v[i] = ReverseBits(static_cast<uint8_t>(i));
  }
};
constexpr ReverseTable kReverse;

}  // namespace

const uint8_t CISOpContext::kBitMasks[8] = {1, 2, 4, 8, 16, 32, 64, 128};
const uint8_t CISOpContext::kBitReverse[256] = {
#define R(i) kReverse.v[i]
#define R8(i) R(i), R(i + 1), R(i + 2), R(i + 3), R(i + 4), R(i + 5), R(i + 6), R(i + 7)
#define R64(i) R8(i), R8(i + 8), R8(i + 16), R8(i + 24), R8(i + 32), R8(i + 40), R8(i + 48), R8(i + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R8
#undef R
};
