// RenderTextMask: a text drawn white on black into a monochrome bitmap and read back as 1-bit
// mask rows. Errors: 10 device context, selection, bitmap or brush; 18 font; 1 no memory; and
// those of HBITMAPToDIB.
#include <cstring>

#include "imaging/core/ISDIB.h"
#include "imaging/core/TextGDI.h"

bool RenderTextMask(ISErrorCode& error, const void* text, const LOGFONTA* font, LONG left, LONG top, LONG right,
                    LONG bottom, UINT format, DWORD flags, DWORD* width, DWORD* height, ISArray<BYTE>& mask) {
  error = IS_ERR_OK;
  if (!text || !width || !height) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  const int64_t w = static_cast<int64_t>(right) - left;
  const int64_t h = static_cast<int64_t>(bottom) - top;
  ISGdiObject<HBITMAP> bitmap;
  {
    ISFontContext dc;
    if (!dc.Open(error, font)) return false;
    format &= ~DT_CALCRECT;
    if (w <= 0 || h <= 0 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) {
      error = IS_ERR_DC;
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
    if (!bitmapSelected.Ok() || !black.Get() || !FillRect(dc.Get(), &all, black.Get()) ||
        SetBkColor(dc.Get(), 0) == CLR_INVALID || SetTextColor(dc.Get(), 0xFFFFFF) == CLR_INVALID ||
        !SetBkMode(dc.Get(), TRANSPARENT) || !DrawTextEither(dc.Get(), text, flags, &all, format)) {
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
