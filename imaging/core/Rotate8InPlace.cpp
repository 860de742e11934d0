// In-place quarter and half turns of packed 8-bit-sample and 16-bit-sample images.
// Errors: 5 null buffer or bad mode, 1 no room for the temporary copy, 14 stopped.
#include <cstring>

#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISRotate.h"

namespace {

template <typename T>
bool RotateInPlace(ISErrorCode& error, T* buffer, uint32_t w, uint32_t h, uint32_t mode, uint32_t n) {
  error = IS_ERR_OK;
  if (!buffer || mode > kRotateCounterClockwise) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  uint64_t samples = 0;
  if (!ISMulSize(samples, w, h, n)) {
    error = IS_ERR_NOMEM;
    return false;
  }
  if (samples == 0) return true;  // nothing to turn
  uint64_t rowSamples = uint64_t(w) * n;
  if (rowSamples * sizeof(T) > 0xFFFFFFFFu || uint64_t(h) * n > 0xFFFFFFFFu) {
    error = IS_ERR_NOMEM;
    return false;
  }
  ISNestedCall nested;  // the steps below report no progress of their own
  if (mode == kRotateHalf) {
    if (!FlipVertical(error, reinterpret_cast<uint8_t*>(buffer), static_cast<uint32_t>(rowSamples * sizeof(T)), h))
      return false;
    if (sizeof(T) == 1)
      return MirrorHorizontal(error, reinterpret_cast<uint8_t*>(buffer), w, h, n, static_cast<uint32_t>(rowSamples));
    return MirrorHorizontal16(error, reinterpret_cast<uint16_t*>(buffer), w, h, n,
                              static_cast<uint32_t>(rowSamples));
  }
  ISArray<T> copy;
  if (!ResizeScratch(copy, samples)) {
    error = IS_ERR_NOMEM;
    return false;
  }
  bool ok;
  if (sizeof(T) == 1)
    ok = Rotate8(error, reinterpret_cast<const uint8_t*>(buffer), w, h, static_cast<uint32_t>(rowSamples),
                 reinterpret_cast<uint8_t*>(copy.Data()), h * n, mode, n);
  else
    ok = Rotate16(error, reinterpret_cast<const uint16_t*>(buffer), w, h, static_cast<uint32_t>(rowSamples),
                  reinterpret_cast<uint16_t*>(copy.Data()), h * n, mode, n);
  // A stopped turn leaves the buffer as it was: the copy goes back only when complete.
  if (ok) std::memcpy(buffer, copy.Data(), samples * sizeof(T));
  return ok;
}

}  // namespace

bool Rotate8InPlace(ISErrorCode& error, uint8_t* buffer, uint32_t width, uint32_t height, uint32_t mode,
                    uint32_t bytesPerPixel) {
  return RotateInPlace<uint8_t>(error, buffer, width, height, mode, bytesPerPixel);
}

bool Rotate16InPlace(ISErrorCode& error, uint16_t* buffer, uint32_t width, uint32_t height, uint32_t mode,
                     uint32_t samplesPerPixel) {
  return RotateInPlace<uint16_t>(error, buffer, width, height, mode, samplesPerPixel);
}
