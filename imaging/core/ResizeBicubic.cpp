// Bicubic resize by cubic convolution (a = -1) over the 4 x 4 nearest source samples.
// Errors: 5 bad argument, 1 no room for the tables, 14 stopped (by a reply of exactly 0).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISResample.h"

bool ResizeBicubic(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t sourceRowBytes,
                   uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                   uint32_t destinationRowBytes, uint32_t bytesPerPixel, uint32_t maxValue, ISErrorCode& error) {
  return ResizeBicubicCore(source, sourceWidth, sourceHeight, sourceRowBytes, destination, destinationWidth,
                           destinationHeight, destinationRowBytes, bytesPerPixel, maxValue, error);
}

namespace {

// Four neighbour positions (i - 1 .. i + 2, kept inside 0..size - 1) times `unit`, and their
// cubic-convolution weights, for the destination position t.
void CubicTaps(double t, uint32_t size, uint64_t unit, uint64_t pos[4], double w[4]) {
  const double whole = std::trunc(t);
  const double f = t - whole;
  w[0] = -((1 - f) * (1 - f)) * f;
  w[1] = f * f * f - 2 * f * f + 1;
  w[2] = (f + 1 - f * f) * f;
  w[3] = -(1 - f) * (f * f);
  const int64_t i = static_cast<int64_t>(whole);
  for (int k = 0; k < 4; ++k) {
    const int64_t p = std::min<int64_t>(std::max<int64_t>(i + k - 1, 0), int64_t(size) - 1);
    pos[k] = uint64_t(p) * unit;
  }
}

}  // namespace

bool ResizeBicubicCore(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t sourceRowBytes,
                       uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                       uint32_t destinationRowBytes, uint32_t bytesPerPixel, uint32_t maxValue, ISErrorCode& error) {
  error = IS_ERR_OK;
  const uint32_t sw = sourceWidth, sh = sourceHeight, dw = destinationWidth, dh = destinationHeight;
  const uint32_t n = bytesPerPixel;
  if (!source || !destination || source == destination || !sw || !sh || !dw || !dh) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  if (sw == dw && sh == dh && sourceRowBytes == destinationRowBytes) {
    std::memcpy(destination, source, size_t(sh) * sourceRowBytes);
    return true;
  }
  const double sx = double(sw) / dw, sy = double(sh) / dh;
  // Per destination column: four source byte offsets and four weights.
  ISArray<uint64_t> offsets;
  ISArray<double> weights;
  if (!ResizeScratch(offsets, uint64_t(dw) * 4) || !ResizeScratch(weights, uint64_t(dw) * 4)) {
    error = IS_ERR_NOMEM;
    return false;
  }
  for (uint32_t x = 0; x < dw; ++x) CubicTaps(x * sx, sw, n, &offsets[x * 4], &weights[x * 4]);
  const double top = std::min<uint32_t>(maxValue, 255);
  // Each destination row depends on the source alone, so rows may run side by side.
  auto work = [&](uint32_t y0, uint32_t y1) {
    for (uint32_t y = y0; y < y1; ++y) {
      uint64_t rows[4];
      double wr[4];
      CubicTaps(y * sy, sh, sourceRowBytes, rows, wr);
      uint8_t* out = destination + size_t(y) * destinationRowBytes;
      for (uint32_t x = 0; x < dw; ++x) {
        const uint64_t* o = &offsets[x * 4];
        const double* wc = &weights[x * 4];
        uint8_t* d = out + size_t(x) * n;
        for (uint32_t c = 0; c < n; ++c) {
          double sum = 0.0;
          for (int r = 0; r < 4; ++r) {
            const uint8_t* s = source + rows[r] + c;
            double inner = 0.0;
            for (int k = 0; k < 4; ++k) inner += wc[k] * s[o[k]];
            sum += wr[r] * inner;
          }
          const double v = RoundTiesEven(sum);
          d[c] = static_cast<uint8_t>(!(v > 0.0) ? 0.0 : v >= top ? top : v);
        }
      }
    }
  };
  return RunRowsReported(error, dh, 8, dh, ISStopRule::kZeroOnly, work);
}
