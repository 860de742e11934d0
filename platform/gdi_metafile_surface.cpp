// The player's surfaces: spans of COLORREF pixels written to and read from bitmap rows or the
// caller's memory, in each surface's own layout.
#include "platform/gdi_metafile_surface.h"

#include <algorithm>

namespace metafile_player {

Surface SurfaceOf(GdiBitmap& bitmap) {
  Surface s;
  s.first = bitmap.bits.data();
  s.stride = static_cast<ptrdiff_t>(bitmap.rowBytes);
  s.width = bitmap.width;
  s.height = bitmap.height;
  s.bitsPerPixel = bitmap.bitsPerPixel;
  return s;
}

void FillSpan(const Surface& s, int32_t y, int32_t x0, int32_t x1, COLORREF colour) {
  GdiFillRow(s.Row(y), s.bitsPerPixel, s.rgb, x0, x1, colour);
}

void PutRow(const Surface& s, int32_t y, int32_t x0, int32_t x1, const COLORREF* colours) {
  uint8_t* row = s.Row(y);
  switch (s.bitsPerPixel) {
    case 1:
      for (int32_t x = x0; x < x1; ++x) {
        const uint8_t bit = static_cast<uint8_t>(0x80u >> (x & 7));
        if (GdiColourIsLight(colours[x - x0])) row[x >> 3] |= bit;
        else row[x >> 3] &= static_cast<uint8_t>(~bit);
      }
      break;
    case 24:
      for (int32_t x = x0; x < x1; ++x) {
        uint8_t* q = row + static_cast<size_t>(x) * 3;
        const COLORREF c = colours[x - x0];
        q[0] = s.rgb ? GetRValue(c) : GetBValue(c), q[1] = GetGValue(c), q[2] = s.rgb ? GetBValue(c) : GetRValue(c);
      }
      break;
    case 32:
      for (int32_t x = x0; x < x1; ++x) {
        uint8_t* q = row + static_cast<size_t>(x) * 4;
        const COLORREF c = colours[x - x0];
        q[0] = GetBValue(c), q[1] = GetGValue(c), q[2] = GetRValue(c), q[3] = 0;
      }
      break;
    default:
      break;
  }
}

void GetRow(const Surface& s, int32_t y, int32_t x0, int32_t x1, COLORREF* colours) {
  const uint8_t* row = s.Row(y);
  switch (s.bitsPerPixel) {
    case 1:
      for (int32_t x = x0; x < x1; ++x) colours[x - x0] = (row[x >> 3] & (0x80u >> (x & 7))) ? 0xFFFFFFu : 0u;
      break;
    case 24:
      for (int32_t x = x0; x < x1; ++x) {
        const uint8_t* q = row + static_cast<size_t>(x) * 3;
        colours[x - x0] = s.rgb ? RGB(q[0], q[1], q[2]) : RGB(q[2], q[1], q[0]);
      }
      break;
    case 32:
      for (int32_t x = x0; x < x1; ++x) {
        const uint8_t* q = row + static_cast<size_t>(x) * 4;
        colours[x - x0] = RGB(q[2], q[1], q[0]);
      }
      break;
    default:
      std::fill(colours, colours + (x1 - x0), 0u);
      break;
  }
}

}  // namespace metafile_player
