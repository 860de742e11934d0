// Two-buffer quarter and half turns of 8-bit-sample and 16-bit-sample pixels.
// Errors: 5 null buffer or bad mode, 14 stopped by the progress callback.
#include <cstring>

#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISRotate.h"

namespace {

// Copies one pixel of N samples (N = 0: `n` samples given at run time).
template <typename T, uint32_t N>
inline void CopyPixel(T* d, const T* s, uint32_t n) {
  if (N) {
    for (uint32_t i = 0; i < N; ++i) d[i] = s[i];
  } else {
    std::memcpy(d, s, sizeof(T) * n);
  }
}

// Source pixel (x, y) goes to destination column/row by mode: 0 (h-1-y, x), 1 (w-1-x, h-1-y),
// 2 (y, w-1-x). Strides count elements of T.
template <typename T, uint32_t N>
bool RotateRows(ISErrorCode& error, const T* src, uint32_t w, uint32_t h, size_t srcStride, T* dst,
                size_t dstStride, uint32_t mode, uint32_t n, ISStopRule rule) {
  const size_t pix = N ? N : n;
  for (uint32_t y = 0; y < h; ++y) {
    const T* s = src + y * srcStride;
    if (mode == kRotateClockwise) {
      T* d = dst + size_t(h - 1 - y) * pix;
      for (uint32_t x = 0; x < w; ++x, s += pix, d += dstStride) CopyPixel<T, N>(d, s, n);
    } else if (mode == kRotateHalf) {
      T* d = dst + size_t(h - 1 - y) * dstStride;
      for (uint32_t x = 0; x < w; ++x, s += pix) CopyPixel<T, N>(d + size_t(w - 1 - x) * pix, s, n);
    } else {
      T* d = dst + size_t(y) * pix;
      for (uint32_t x = 0; x < w; ++x, s += pix) CopyPixel<T, N>(d + size_t(w - 1 - x) * dstStride, s, n);
    }
    if (!ProgressOrStop(error, y, h, rule)) return false;
  }
  return true;
}

template <typename T>
bool RotateAny(ISErrorCode& error, const T* src, uint32_t w, uint32_t h, size_t srcStride, T* dst,
               size_t dstStride, uint32_t mode, uint32_t n, ISStopRule rule) {
  error = IS_ERR_OK;
  if (!src || !dst || mode > kRotateCounterClockwise) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  if (n == 0) return true;
  switch (n) {
    case 1: return RotateRows<T, 1>(error, src, w, h, srcStride, dst, dstStride, mode, n, rule);
    case 3: return RotateRows<T, 3>(error, src, w, h, srcStride, dst, dstStride, mode, n, rule);
    case 4: return RotateRows<T, 4>(error, src, w, h, srcStride, dst, dstStride, mode, n, rule);
    default: return RotateRows<T, 0>(error, src, w, h, srcStride, dst, dstStride, mode, n, rule);
  }
}

}  // namespace

bool Rotate8(ISErrorCode& error, const uint8_t* source, uint32_t width, uint32_t height, uint32_t sourceRowBytes,
             uint8_t* destination, uint32_t destinationRowBytes, uint32_t mode, uint32_t bytesPerPixel) {
  // The counter-clockwise turn stops only on a reply of exactly 0.
  ISStopRule rule = mode == kRotateCounterClockwise ? ISStopRule::kZeroOnly : ISStopRule::kZeroOrNegative;
  return RotateAny<uint8_t>(error, source, width, height, sourceRowBytes, destination, destinationRowBytes, mode,
                            bytesPerPixel, rule);
}

bool Rotate16(ISErrorCode& error, const uint16_t* source, uint32_t width, uint32_t height, uint32_t sourceStride,
              uint16_t* destination, uint32_t destinationStride, uint32_t mode, uint32_t samplesPerPixel) {
  return RotateAny<uint16_t>(error, source, width, height, sourceStride, destination, destinationStride, mode,
                             samplesPerPixel, ISStopRule::kZeroOrNegative);
}
