// RenderTextMask: a text drawn white on black into a monochrome bitmap and read back as 1-bit
// mask rows; RenderTextMaskPart: only a part of that mask, the text laid out as for the whole.
// Errors: 10 device context, selection, bitmap or brush; 18 font; 5 a part outside the
// rectangle; 1 no memory; and those of HBITMAPToDIB.
#include <cstring>

#include "imaging/core/ISDIB.h"
#include "imaging/core/TextGDI.h"

bool RenderTextMask(ISErrorCode& error, const void* text, const LOGFONTA* font, LONG left, LONG top, LONG right,
                    LONG bottom, UINT format, DWORD flags, DWORD* width, DWORD* height, ISArray<BYTE>& mask) {
  const int64_t w = static_cast<int64_t>(right) - left;
  const int64_t h = static_cast<int64_t>(bottom) - top;
  const LONG partRight = static_cast<LONG>(w > 0 && w <= 0x7FFFFFFF ? w : 0);
  const LONG partBottom = static_cast<LONG>(h > 0 && h <= 0x7FFFFFFF ? h : 0);
  return RenderTextMaskPart(error, text, font, left, top, right, bottom, 0, 0, partRight, partBottom, format, flags,
                            width, height, mask);
}

bool RenderTextMaskPart(ISErrorCode& error, const void* text, const LOGFONTA* font, LONG left, LONG top, LONG right,
                        LONG bottom, LONG partLeft, LONG partTop, LONG partRight, LONG partBottom, UINT format,
                        DWORD flags, DWORD* width, DWORD* height, ISArray<BYTE>& mask) {
  error = IS_ERR_OK;
  if (!text || !width || !height) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  const int64_t fullW = static_cast<int64_t>(right) - left;
  const int64_t fullH = static_cast<int64_t>(bottom) - top;
  const int64_t w = static_cast<int64_t>(partRight) - partLeft;
  const int64_t h = static_cast<int64_t>(partBottom) - partTop;
  ISGdiObject<HBITMAP> bitmap;
  {
    ISFontContext dc;
    if (!dc.Open(error, font)) return false;
    format &= ~DT_CALCRECT;
    if (fullW <= 0 || fullH <= 0 || fullW > 0x7FFFFFFF || fullH > 0x7FFFFFFF) {
      error = IS_ERR_DC;
      return false;
    }
    if (partLeft < 0 || partTop < 0 || w <= 0 || h <= 0 || partRight > fullW || partBottom > fullH) {
      error = IS_ERR_BADPARAM;
      return false;
    }
    bitmap.Reset(CreateBitmap(static_cast<int>(w), static_cast<int>(h), 1, 1, nullptr));
    if (!bitmap.Get()) {
      error = IS_ERR_DC;
      return false;
    }
    ISSelection bitmapSelected(dc.Get(), bitmap.Get());
    ISGdiObject<HBRUSH> black(CreateSolidBrush(0));
    RECT all{0, 0, static_cast<LONG>(w), static_cast<LONG>(h)};
    // The whole rectangle, placed so that the part falls on the bitmap; the drawing clips the
    // rest and does not render the glyphs that lie wholly outside.
    RECT layout{-partLeft, -partTop, static_cast<LONG>(fullW - partLeft), static_cast<LONG>(fullH - partTop)};
    if (!bitmapSelected.Ok() || !black.Get() || !FillRect(dc.Get(), &all, black.Get()) ||
        SetBkColor(dc.Get(), 0) == CLR_INVALID || SetTextColor(dc.Get(), 0xFFFFFF) == CLR_INVALID ||
        !SetBkMode(dc.Get(), TRANSPARENT) || !DrawTextEither(dc.Get(), text, flags, &layout, format)) {
      error = IS_ERR_DC;
      return false;
    }
  }  // font and bitmap deselected, context deleted
  *width = static_cast<DWORD>(w);
  *height = static_cast<DWORD>(h);

  HGLOBAL dib = HBITMAPToDIB(error, bitmap.Get(), BI_RGB, nullptr);
  if (!dib) return false;
  const uint64_t dibRow = DIBRowBytes(static_cast<uint64_t>(w), 1);
  const uint64_t maskRow = (static_cast<uint64_t>(w) + 7) / 8;
  const uint64_t total = maskRow * static_cast<uint64_t>(h);
  if (total > 0x7FFFFFFFu) {
    GlobalFree(dib);
    error = IS_ERR_NOMEM;
    return false;
  }
  mask.Resize(static_cast<uint32_t>(total));
  if (!mask.Data()) {
    GlobalFree(dib);
    error = IS_ERR_NOMEM;
    return false;
  }
  // The DIB's rows follow the header and its two-entry colour table, bottom row first.
  const BYTE* rows = static_cast<const BYTE*>(dib) + kDIBHeaderBytes + 8;
  for (int64_t r = 0; r < h; ++r) {
    const int64_t stored = (flags & kTextBottomUp) ? r : h - 1 - r;
    std::memcpy(mask.Data() + r * maskRow, rows + stored * dibRow, static_cast<size_t>(maskRow));
  }
  GlobalFree(dib);
  return true;
}
