// Vertical flips and horizontal mirrors, in place, of 8-bit-sample, 16-bit-sample and 1-bit
// rows. Errors: 5 null buffer, 1 no room for the temporary row, 14 stopped.
#include <algorithm>
#include <cstring>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISRotate.h"

bool FlipVertical(ISErrorCode& error, uint8_t* buffer, uint32_t rowBytes, uint32_t height) {
  error = IS_ERR_OK;
  if (!buffer) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  ISArray<uint8_t> temp;
  if (rowBytes && !ResizeScratch(temp, rowBytes)) {
    error = IS_ERR_NOMEM;
    return false;
  }
  for (uint32_t i = 0; i < (uint64_t(height) + 1) / 2; ++i) {
    uint8_t* a = buffer + size_t(i) * rowBytes;
    uint8_t* b = buffer + size_t(height - 1 - i) * rowBytes;
    if (a != b && rowBytes) {  // the middle row of an odd height stays where it is
      std::memcpy(temp.Data(), a, rowBytes);
      std::memcpy(a, b, rowBytes);
      std::memcpy(b, temp.Data(), rowBytes);
    }
    if (!ProgressOrStop(error, 2 * uint64_t(i), height)) return false;
  }
  return true;
}

namespace {

template <typename T, uint32_t N>
void MirrorRow(T* row, const T* temp, uint32_t w, uint32_t n) {
  const size_t pix = N ? N : n;
  for (uint32_t x = 0; x < w; ++x) {
    const T* s = temp + size_t(w - 1 - x) * pix;
    T* d = row + size_t(x) * pix;
    for (size_t i = 0; i < pix; ++i) d[i] = s[i];
  }
}

// Row stride counts elements of T.
template <typename T>
bool Mirror(ISErrorCode& error, T* buffer, uint32_t w, uint32_t h, uint32_t n, uint32_t stride) {
  error = IS_ERR_OK;
  if (!buffer) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  ISArray<T> temp;
  if (stride && !ResizeScratch(temp, stride)) {
    error = IS_ERR_NOMEM;
    return false;
  }
  // The row copy never reads past the stride, nor the mirror past the pixels.
  const size_t rowElems = std::min<uint64_t>(uint64_t(w) * n, stride);
  if (n && uint64_t(w) * n > stride) w = stride / n;
  for (uint32_t y = 0; y < h; ++y) {
    T* row = buffer + size_t(y) * stride;
    if (rowElems) {
      std::memcpy(temp.Data(), row, rowElems * sizeof(T));
      switch (n) {
        case 1: MirrorRow<T, 1>(row, temp.Data(), w, n); break;
        case 3: MirrorRow<T, 3>(row, temp.Data(), w, n); break;
        case 4: MirrorRow<T, 4>(row, temp.Data(), w, n); break;
        default: MirrorRow<T, 0>(row, temp.Data(), w, n); break;
      }
    }
    if (!ProgressOrStop(error, y, h)) return false;
  }
  return true;
}

}  // namespace

bool MirrorHorizontal(ISErrorCode& error, uint8_t* buffer, uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                      uint32_t rowBytes) {
  return Mirror<uint8_t>(error, buffer, width, height, bytesPerPixel, rowBytes);
}

bool MirrorHorizontal16(ISErrorCode& error, uint16_t* buffer, uint32_t width, uint32_t height,
                        uint32_t samplesPerPixel, uint32_t rowStride) {
  return Mirror<uint16_t>(error, buffer, width, height, samplesPerPixel, rowStride);
}

int ShiftRowBitsLeft(uint8_t* row, uint32_t byteCount, uint32_t bits) {
  uint8_t right = 0;  // the old value of the byte to the right; none right of the last
  for (uint32_t i = byteCount; i-- > 0;) {
    const uint8_t old = row[i];
    row[i] = static_cast<uint8_t>((old << bits) | (right >> (8 - bits)));
    right = old;
  }
  return 1;
}

bool MirrorHorizontal1Bit(ISErrorCode& error, uint8_t* buffer, uint32_t width, uint32_t height, uint32_t rowBytes) {
  error = IS_ERR_OK;
  if (width == 0 || height == 0) return true;
  if (!buffer) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  const uint32_t bytes = static_cast<uint32_t>((uint64_t(width) + 7) / 8);
  {
    ISNestedCall nested;
    if (!MirrorHorizontal(error, buffer, bytes, height, 1, rowBytes)) return false;
  }
  if (bytes > rowBytes) return true;  // a row that cannot hold its pixels: bytes reversed only
  const uint32_t pad = static_cast<uint32_t>(uint64_t(bytes) * 8 - width);
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = buffer + size_t(y) * rowBytes;
    for (uint32_t i = 0; i < bytes; ++i) row[i] = CISOpContext::kBitReverse[row[i]];
    if (pad) ShiftRowBitsLeft(row, bytes, pad);
  }
  return true;
}
