// Row copies between buffers of different strides, and packed RGB rows into bottom-up DIB rows.
// Errors: 5 null buffer or zero size.
#include <algorithm>
#include <cstring>

#include "imaging/core/ISRotate.h"

bool CopyRows(ISErrorCode& error, const uint8_t* source, uint32_t sourceRowBytes, uint32_t rowCount,
              uint32_t destinationRowBytes, uint8_t* destination) {
  error = IS_ERR_OK;
  if (!source || !destination) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  const size_t n = std::min(sourceRowBytes, destinationRowBytes);
  if (n == 0) return true;
  for (uint32_t y = 0; y < rowCount; ++y)
    std::memmove(destination + size_t(y) * destinationRowBytes, source + size_t(y) * sourceRowBytes, n);
  return true;
}

ISErrorCode RGB24ToBottomUpRows(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
                                uint32_t destinationRowBytes, bool keepOrder) {
  if (!width || !height || !source || !destination) return IS_ERR_BADPARAM;
  const size_t rowBytes = size_t(width) * 3;
  for (uint32_t k = 0; k < height; ++k) {
    const uint8_t* s = source + size_t(height - 1 - k) * rowBytes;
    uint8_t* d = destination + size_t(k) * destinationRowBytes;
    if (keepOrder) {
      std::memcpy(d, s, rowBytes);
    } else {
      for (uint32_t x = 0; x < width; ++x, s += 3, d += 3) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
      }
    }
  }
  return IS_ERR_OK;
}
