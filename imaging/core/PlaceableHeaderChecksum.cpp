// PlaceableHeaderChecksum: XOR of the ten little-endian words before the checksum.
#include "imaging/core/ISMetafile.h"

WORD PlaceableHeaderChecksum(const BYTE* header) {
  WORD sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= static_cast<WORD>(header[2 * i] | (header[2 * i + 1] << 8));
  return sum;
}
