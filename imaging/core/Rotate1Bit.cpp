// Quarter and half turns of 1-bit images (leftmost pixel in the top bit), two buffers.
// Errors: 5 null or shared buffers or rotation field 3, 14 stopped by the progress callback.
#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISRotate.h"

bool Rotate1Bit(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
                uint32_t modeWord, uint32_t sourceRowBytes, uint32_t destinationRowBytes) {
  error = IS_ERR_OK;
  const uint32_t mode = modeWord & 3;
  if (!source || !destination || source == destination || mode == 3) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  const bool orOnly = (modeWord & kRotate1BitDestinationCleared) != 0;
  const ISStopRule rule = mode == kRotateCounterClockwise ? ISStopRule::kZeroOnly : ISStopRule::kZeroOrNegative;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* s = source + size_t(y) * sourceRowBytes;
    for (uint32_t x = 0; x < width; ++x) {
      const bool set = (s[x >> 3] & (0x80u >> (x & 7))) != 0;
      uint32_t col, row;
      if (mode == kRotateClockwise) {
        col = height - 1 - y;
        row = x;
      } else if (mode == kRotateHalf) {
        col = width - 1 - x;
        row = height - 1 - y;
      } else {
        col = y;
        row = width - 1 - x;
      }
      uint8_t& d = destination[size_t(row) * destinationRowBytes + (col >> 3)];
      const uint8_t mask = static_cast<uint8_t>(0x80u >> (col & 7));
      if (set)
        d |= mask;
      else if (!orOnly)
        d &= static_cast<uint8_t>(~mask);
    }
    if (!ProgressOrStop(error, y, height, rule)) return false;
  }
  return true;
}
