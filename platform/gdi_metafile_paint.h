// Brushes and raster operations of the player: what a brush puts on a pixel (solid, hatched or a
// DIB pattern) and the ternary raster operations of DIB transfers and brush blits.
#pragma once

#include "platform/gdi_metafile_dib.h"

namespace metafile_player {

// Hatch styles HS_HORIZONTAL .. HS_DIAGCROSS as 8 x 8 bit patterns (bit 7 is the left pixel).
extern const uint8_t kHatch[6][8];

// What a brush puts on a pixel: a solid colour, a hatch in the colour over the background (left
// alone when the background mode is transparent), or a DIB pattern. Patterns are aligned to the
// bitmap's origin.
struct Paint {
  Paint(COLORREF c = 0) : colour(c) {}  // NOLINT: a solid colour is a paint
  COLORREF colour = 0;
  int hatch = -1;
  const DIBView* pattern = nullptr;
  COLORREF bk = 0xFFFFFF;
  bool opaque = true;
  bool Solid() const { return hatch < 0 && !pattern; }
  // The colour at device pixel (x, y); false for a transparent hatch's background.
  bool At(int32_t x, int32_t y, COLORREF& c) const {
    if (pattern) {
      c = pattern->At(x % pattern->width, y % pattern->height);
      return true;
    }
    if (hatch >= 0 && !((kHatch[hatch][y & 7] << (x & 7)) & 0x80)) {
      c = bk;
      return opaque;
    }
    c = colour;
    return true;
  }
};

// A ternary raster operation (the middle byte of a ROP code) on pattern, source and
// destination, bit by bit: bit (4p + 2s + d) of the code is the result for bits p, s, d.
COLORREF Rop3(uint8_t code, COLORREF p, COLORREF s, COLORREF d);
constexpr uint8_t kRopSrcCopy = 0xCC, kRopPatCopy = 0xF0;
inline uint8_t RopCode(uint32_t rop) { return static_cast<uint8_t>(rop >> 16); }
inline bool RopUsesPattern(uint8_t code) { return (code >> 4) != (code & 0xF); }

}  // namespace metafile_player
