// BlendColourThroughMask: a colour blended into 3- or 4-byte pixels through a coverage mask,
// with the product table. Errors: 5 null image or mask, 14 stopped.
#include <algorithm>

#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISText.h"

bool BlendColourThroughMask(CISOpContext& ctx, BYTE* image, DWORD width, DWORD height, DWORD bytesPerPixel,
                            DWORD rowBytes, const BYTE* mask, DWORD maskWidth, DWORD maskHeight, DWORD maskRowBytes,
                            COLORREF colour, LONG x, LONG y, DWORD flags) {
  ctx.error = IS_ERR_OK;
  if (!image || !mask) return ctx.Fail(IS_ERR_BADPARAM);
  const int64_t x0 = std::clamp<int64_t>(x, 0, width);
  const int64_t x1 = std::clamp<int64_t>(static_cast<int64_t>(x) + maskWidth, 0, width);
  const int64_t y0 = std::clamp<int64_t>(y, 0, height);
  const int64_t y1 = std::clamp<int64_t>(static_cast<int64_t>(y) + maskHeight, 0, height);
  BYTE c[4] = {GetRValue(colour), GetGValue(colour), GetBValue(colour), static_cast<BYTE>(colour >> 24)};
  if (flags & 1) std::swap(c[0], c[2]);
  const bool fourth = bytesPerPixel == 4 && (flags & 2);
  const int channels = fourth ? 4 : 3;
  const uint8_t* P = ProductTable();
  for (int64_t row = y0; row < y1; ++row) {
    if (bytesPerPixel == 3 || bytesPerPixel == 4) {
      BYTE* p = image + static_cast<size_t>(row) * rowBytes + static_cast<size_t>(x0) * bytesPerPixel;
      const BYTE* m = mask + static_cast<size_t>(row - y) * maskRowBytes + static_cast<size_t>(x0 - x);
      for (int64_t col = x0; col < x1; ++col, p += bytesPerPixel, ++m) {
        const uint8_t* keep = P + (255 - *m) * 256;  // weight of the old sample
        const uint8_t* add = P + *m * 256;           // weight of the colour
        for (int k = 0; k < channels; ++k) p[k] = static_cast<BYTE>(keep[p[k]] + add[c[k]]);
      }
    }
    if (!ProgressOrStop(ctx.error, static_cast<uint64_t>(row - y0), static_cast<uint64_t>(y1 - y0))) return false;
  }
  return true;
}
