// Bilinear resize: every destination sample mixes the four nearest source samples.
// Errors: 5 bad argument, 1 no room for the column tables, 14 stopped.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISResample.h"

bool ResizeBilinear(ISErrorCode& error, const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight,
                    uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                    uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes) {
  return ResizeBilinearCore(error, source, sourceWidth, sourceHeight, destination, destinationWidth,
                            destinationHeight, bytesPerPixel, sourceRowBytes, destinationRowBytes);
}

namespace {

// The step between destination positions in source units; an enlargement steps by
// (source - source / destination) / destination so that the last position stays inside.
double BilinearStep(uint32_t src, uint32_t dst) {
  double s = double(src) / dst;
  if (src < dst) s = (src - s) / dst;
  return s;
}

}  // namespace

bool ResizeBilinearCore(ISErrorCode& error, const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight,
                        uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                        uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes) {
  error = IS_ERR_OK;
  const uint32_t sw = sourceWidth, sh = sourceHeight, dw = destinationWidth, dh = destinationHeight;
  const uint32_t n = bytesPerPixel;
  if (!source || !destination || !sw || !sh || !dw || !dh || !n || !sourceRowBytes || !destinationRowBytes ||
      sourceRowBytes < uint64_t(sw) * n || destinationRowBytes < uint64_t(dw) * n) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  if (sw == dw && sh == dh && sourceRowBytes == destinationRowBytes) {
    std::memmove(destination, source, size_t(sh) * sourceRowBytes);
    return true;
  }
  const double sx = BilinearStep(sw, dw), sy = BilinearStep(sh, dh);
  ISArray<uint32_t> columns;
  ISArray<double> fractions;
  if (!ResizeScratch(columns, dw) || !ResizeScratch(fractions, dw)) {
    error = IS_ERR_NOMEM;
    return false;
  }
  for (uint32_t x = 0; x < dw; ++x) {
    const double t = x * sx;
    const double whole = std::trunc(t);
    columns[x] = static_cast<uint32_t>(std::min(whole, double(sw - 1)));
    fractions[x] = t - whole;
  }
  // Each destination row depends on the source alone, so rows may run side by side.
  auto work = [&](uint32_t y0, uint32_t y1) {
    for (uint32_t y = y0; y < y1; ++y) {
      const double t = y * sy;
      const double whole = std::trunc(t);
      const double fy = t - whole;
      const uint32_t r0 = static_cast<uint32_t>(std::min(whole, double(sh - 1)));
      const uint32_t r1 = static_cast<uint32_t>(std::min(whole + 1.0, double(sh - 1)));
      const uint8_t* row0 = source + size_t(r0) * sourceRowBytes;
      const uint8_t* row1 = source + size_t(r1) * sourceRowBytes;
      uint8_t* out = destination + size_t(y) * destinationRowBytes;
      const double gy = 1.0 - fy;
      for (uint32_t x = 0; x < dw; ++x) {
        const uint32_t c0 = columns[x];
        const uint32_t c1 = std::min(c0 + 1, sw - 1);
        const double fx = fractions[x], gx = 1.0 - fx;
        const double w00 = gx * gy, w01 = fx * gy, w10 = gx * fy, w11 = fx * fy;
        const uint8_t* p00 = row0 + size_t(c0) * n;
        const uint8_t* p01 = row0 + size_t(c1) * n;
        const uint8_t* p10 = row1 + size_t(c0) * n;
        const uint8_t* p11 = row1 + size_t(c1) * n;
        uint8_t* d = out + size_t(x) * n;
        for (uint32_t c = 0; c < n; ++c) {
          const double v = RoundTiesEven(w00 * p00[c] + w01 * p01[c] + w10 * p10[c] + w11 * p11[c]);
          d[c] = static_cast<uint8_t>(v <= 0.0 ? 0.0 : v >= 255.0 ? 255.0 : v);
        }
      }
    }
  };
  return RunRowsReported(error, dh, 8, dh, ISStopRule::kZeroOrNegative, work);
}
