// MeasureTextRect: the rectangle a text needs in a font (DrawTextEx with DT_CALCRECT).
// Errors: 5 null text or output, 10 device context or selection, 18 font.
#include "imaging/core/TextGDI.h"

bool MeasureTextRect(ISErrorCode& error, const void* text, const LOGFONTA* font, LONG left, LONG top, LONG right,
                     LONG bottom, DWORD* width, DWORD* height, UINT format, DWORD flags) {
  error = IS_ERR_OK;
  if (!width || !height) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  *width = 0;
  *height = 0;
  if (!text) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  if (TextIsEmpty(text, flags)) return true;

  ISFontContext dc;
  if (!dc.Open(error, font)) return false;
  RECT rect{left, top, right, bottom};
  if (!DrawTextEither(dc.Get(), text, flags, &rect, format | DT_CALCRECT)) {
    error = IS_ERR_DC;
    return false;
  }
  dc.Restore();
  *width = static_cast<DWORD>(static_cast<int64_t>(rect.right) - rect.left);
  *height = static_cast<DWORD>(static_cast<int64_t>(rect.bottom) - rect.top);
  return true;
}
