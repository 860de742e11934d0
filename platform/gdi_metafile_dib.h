// The player's view of a DIB held in a metafile: its pixels, and the checks that make one from a
// header, a colour table and rows.
#pragma once

#include "platform/gdi_metafile_surface.h"

namespace metafile_player {

// A DIB's pixel (x, y from the DIB's top row) as 0x00BBGGRR.
struct DIBView {
  int32_t width = 0, height = 0;
  bool bottomUp = true;
  uint16_t bpp = 0;
  uint32_t compression = 0;
  const uint8_t* table = nullptr;
  uint32_t tableCount = 0;
  const uint8_t* rows = nullptr;
  uint64_t rowBytes = 0;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  // Each mask's lowest bit and its value shifted down to it (0 for an empty mask).
  int shifts[3] = {10, 5, 0};
  uint32_t tops[3] = {0x1F, 0x1F, 0x1F};

  COLORREF At(int32_t x, int32_t y) const {
    const uint8_t* row = rows + static_cast<uint64_t>(bottomUp ? height - 1 - y : y) * rowBytes;
    uint32_t idx;
    switch (bpp) {
      case 1: idx = (row[x >> 3] >> (7 - (x & 7))) & 1; break;
      case 4: idx = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF; break;
      case 8: idx = row[x]; break;
      case 24: return RGB(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
      case 16:
      case 32: {
        const uint32_t v = bpp == 16 ? MfU16(row + x * 2) : MfU32(row + x * 4);
        if (bpp == 32 && compression == BI_RGB) return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
        BYTE c[3];
        for (int k = 0; k < 3; ++k)
          c[k] = masks[k] ? static_cast<BYTE>(((v & masks[k]) >> shifts[k]) * 255u / tops[k]) : 0;
        return RGB(c[0], c[1], c[2]);
      }
      default: return 0;
    }
    if (idx >= tableCount) return 0;
    const uint8_t* q = table + idx * 4;
    return RGB(q[2], q[1], q[0]);
  }
};

// Reads a DIB's header (info, infoSize bytes) and finds its rows: at bits (bitsSize bytes), or
// after the header and colour table when bits is null. False for an unsupported or short DIB.
bool ParseDIB(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize, DIBView& v);

// GdiDrawDIB onto a surface.
bool DrawDIB(const Surface& surface, double x, double y, double w, double h, int32_t xSrc, int32_t ySrc,
             int32_t srcW, int32_t srcH, const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize,
             GdiDIBSink* sink);

}  // namespace metafile_player
