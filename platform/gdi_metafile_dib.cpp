// DIBs in metafiles: their headers and pixels read, and drawn stretched onto a surface or a
// bitmap (GdiDrawDIB).
#include "platform/gdi_metafile_dib.h"

#include <algorithm>
#include <cmath>

namespace metafile_player {

bool ParseDIB(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize, DIBView& v) {
  if (infoSize < 40) return false;
  const uint32_t hs = MfU32(info);
  if (hs < 40 || hs > infoSize) return false;
  const int32_t w = MfI32(info + 4), h = MfI32(info + 8);
  v.bpp = MfU16(info + 14);
  v.compression = MfU32(info + 16);
  const uint32_t clrUsed = MfU32(info + 32);
  if (w <= 0 || h == 0 || h == INT32_MIN || MfU16(info + 12) != 1) return false;
  if (v.bpp != 1 && v.bpp != 4 && v.bpp != 8 && v.bpp != 16 && v.bpp != 24 && v.bpp != 32) return false;
  if (!(v.compression == BI_RGB || (v.compression == BI_BITFIELDS && (v.bpp == 16 || v.bpp == 32)))) return false;
  v.width = w;
  v.bottomUp = h > 0;
  v.height = h > 0 ? h : -h;
  size_t off = hs;
  if (v.compression == BI_BITFIELDS) {
    if (hs == 40) {
      if (infoSize < 52) return false;
      off = 52;
    }
    for (int k = 0; k < 3; ++k) {
      const uint32_t m = MfU32(info + 40 + 4 * k);
      v.masks[k] = m;
      v.shifts[k] = 0;
      while (m && !((m >> v.shifts[k]) & 1)) ++v.shifts[k];
      v.tops[k] = m >> v.shifts[k];
    }
  } else if (v.bpp <= 8) {
    v.tableCount = clrUsed ? std::min<uint32_t>(clrUsed, 1u << v.bpp) : (1u << v.bpp);
    const uint32_t stored = clrUsed ? clrUsed : (1u << v.bpp);
    if (static_cast<uint64_t>(stored) * 4 > infoSize - off) {
      if (bits) return false;
      v.tableCount = static_cast<uint32_t>((infoSize - off) / 4);
    }
    v.table = info + off;
    off += static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(stored) * 4, infoSize - off));
  }
  v.rowBytes = ((static_cast<uint64_t>(w) * v.bpp + 31) / 32) * 4;
  const uint64_t need = v.rowBytes * static_cast<uint64_t>(v.height);
  if (bits) {
    if (need > bitsSize) return false;
    v.rows = bits;
  } else {  // rows follow the header and table in the same block
    if (need > infoSize - off) return false;
    v.rows = info + off;
  }
  return true;
}

bool DrawDIB(const Surface& surface, double x, double y, double w, double h, int32_t xSrc, int32_t ySrc,
             int32_t srcW, int32_t srcH, const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize,
             GdiDIBSink* sink) {
  DIBView v;
  if (!ParseDIB(info, infoSize, bits, bitsSize, v)) return false;
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h)) return false;
  if (srcW == 0 || srcH == 0 || w == 0 || h == 0) return true;
  // Source rectangle in top-down rows: a bottom-up DIB counts ySrc from its lower edge.
  const double sx0 = xSrc, sw = srcW;
  const double sy0 = v.bottomUp ? static_cast<double>(v.height) - ySrc - srcH : ySrc;
  const double sh = srcH;
  const double dx0 = std::min(x, x + w), dx1 = std::max(x, x + w);
  const double dy0 = std::min(y, y + h), dy1 = std::max(y, y + h);
  int32_t px0 = ClampTo(std::ceil(dx0 - 0.5), surface.width);
  int32_t px1 = ClampTo(std::ceil(dx1 - 0.5), surface.width);
  const int32_t py0 = ClampTo(std::ceil(dy0 - 0.5), surface.height);
  const int32_t py1 = ClampTo(std::ceil(dy1 - 0.5), surface.height);
  if (px0 >= px1 || py0 >= py1) return true;
  std::vector<int32_t> colOf(static_cast<size_t>(px1 - px0));
  for (int32_t px = px0; px < px1; ++px) {
    double t = (px + 0.5 - x) / w;  // 0..1 along the (possibly mirrored) destination
    const double s = std::floor(sx0 + t * sw);
    colOf[static_cast<size_t>(px - px0)] = s < 0 || s >= v.width ? -1 : static_cast<int32_t>(s);
  }
  // Columns inside the source form one run (the mapping is monotonic).
  int32_t c0 = 0, c1 = px1 - px0;
  while (c0 < c1 && colOf[static_cast<size_t>(c0)] < 0) ++c0;
  while (c1 > c0 && colOf[static_cast<size_t>(c1 - 1)] < 0) --c1;
  if (c0 >= c1) return true;
  std::vector<COLORREF> line(static_cast<size_t>(c1 - c0));
  for (int32_t py = py0; py < py1; ++py) {
    const double t = (py + 0.5 - y) / h;
    const double s = std::floor(sy0 + t * sh);
    if (s < 0 || s >= v.height) continue;
    const int32_t sy = static_cast<int32_t>(s);
    for (int32_t c = c0; c < c1; ++c) line[static_cast<size_t>(c - c0)] = v.At(colOf[static_cast<size_t>(c)], sy);
    if (!sink) PutRow(surface, py, px0 + c0, px0 + c1, line.data());
    else if (!sink->Row(py, px0 + c0, px0 + c1, line.data())) break;
  }
  return true;
}

}  // namespace metafile_player

bool GdiDrawDIB(GdiBitmap& bitmap, double x, double y, double w, double h, int32_t xSrc, int32_t ySrc, int32_t srcW,
                int32_t srcH, const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize,
                GdiDIBSink* sink) {
  return metafile_player::DrawDIB(metafile_player::SurfaceOf(bitmap), x, y, w, h, xSrc, ySrc, srcW, srcH, info,
                                  infoSize, bits, bitsSize, sink);
}
