// Box reduction: each destination sample is the integer mean of an n x n block of the source.
// Errors: 5 bad argument or overflowing block sums, 14 stopped by the progress callback.
#include <algorithm>
#include <cmath>
#include <vector>

#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISResample.h"
#include "imaging/core/ISRotate.h"

bool BoxReduce(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint8_t* destination,
               uint32_t bytesPerPixel, uint32_t destinationWidth, uint32_t destinationHeight,
               uint32_t sourceRowBytes, uint32_t destinationRowBytes, uint32_t maxValue, ISErrorCode& error) {
  error = IS_ERR_OK;
  const uint32_t sw = sourceWidth, sh = sourceHeight, dw = destinationWidth, dh = destinationHeight;
  const uint32_t n = bytesPerPixel;
  if (!source || !destination || dw == 0 || dh == 0 || dw > sw || dh > sh) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  if (dw == sw && dh == sh) {
    ISNestedCall nested;
    return CopyRows(error, source, sourceRowBytes, sh, destinationRowBytes, destination);
  }
  const double sx = double(sw) / dw;
  const double sy = double(sh) / dh;
  // Block sums are 32-bit: a block may hold at most (2^32 - 1) / maxValue samples.
  if (maxValue == 0 || double(0xFFFFFFFFu / maxValue) < sx * sy) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  const uint32_t block = static_cast<uint32_t>(std::min(std::trunc(sx), std::trunc(sy)));
  const uint32_t area = block * block;

  // Block start columns, from the same repeated addition as the rows; a start is kept so
  // that its block stays inside the source whatever the rounding of the additions.
  std::vector<uint32_t> startX(dw);
  double px = 0.0;
  for (uint32_t x = 0; x < dw; ++x, px += sx)
    startX[x] = std::min(static_cast<uint32_t>(px), sw - block);
  std::vector<uint32_t> sums(size_t(dw) * n);

  double py = 0.0;
  for (uint32_t y = 0; y < dh; ++y, py += sy) {
    const uint32_t top = std::min(static_cast<uint32_t>(py), sh - block);
    std::fill(sums.begin(), sums.end(), 0u);
    for (uint32_t r = 0; r < block; ++r) {
      const uint8_t* row = source + size_t(top + r) * sourceRowBytes;
      uint32_t* acc = sums.data();
      for (uint32_t x = 0; x < dw; ++x, acc += n) {
        const uint8_t* s = row + size_t(startX[x]) * n;
        for (uint32_t k = 0; k < block; ++k, s += n)
          for (uint32_t c = 0; c < n; ++c) acc[c] += s[c];
      }
    }
    uint8_t* d = destination + size_t(y) * destinationRowBytes;
    for (size_t i = 0; i < sums.size(); ++i) d[i] = static_cast<uint8_t>(sums[i] / area);
    if (!ProgressOrStop(error, y, dh)) return false;
  }
  return true;
}
