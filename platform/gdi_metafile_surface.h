// The pixels the player draws on: a bitmap's rows, or memory of the caller's (the picture a reader
// returns), read and written as COLORREF spans.
#pragma once

#include <cstddef>

#include "platform/gdi_metafile_internal.h"

namespace metafile_player {

// Rows of pixels: row y starts at first + y x stride (a negative stride: the rows are stored
// last first). 1 bit: the leftmost pixel in the most significant bit, set for a light colour;
// 24 bits: B, G, R, or R, G, B with rgb; 32 bits: B, G, R, 0.
struct Surface {
  uint8_t* first = nullptr;
  ptrdiff_t stride = 0;
  int32_t width = 0, height = 0;
  uint16_t bitsPerPixel = 32;
  bool rgb = false;
  uint8_t* Row(int32_t y) const { return first + static_cast<ptrdiff_t>(y) * stride; }
};

// A bitmap's pixels as a surface.
Surface SurfaceOf(GdiBitmap& bitmap);

// Pixels [x0, x1) of row y (inside the surface) set to a colour, set to colours, or read.
void FillSpan(const Surface& s, int32_t y, int32_t x0, int32_t x1, COLORREF colour);
void PutRow(const Surface& s, int32_t y, int32_t x0, int32_t x1, const COLORREF* colours);
void GetRow(const Surface& s, int32_t y, int32_t x0, int32_t x1, COLORREF* colours);

}  // namespace metafile_player
