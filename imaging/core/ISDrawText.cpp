// ISDrawText: a text drawn anti-aliased in a colour into a 3-byte-per-pixel image.
// Errors: 5 null image or font, 10 GDI steps, 18 font, 1 no memory, 14 stopped.
#include "imaging/core/ISText.h"

extern "C" BOOL ISDrawText(BYTE* pixels, DWORD width, DWORD height, DWORD rowBytes, const void* text,
                           const LOGFONTA* font, DWORD scaleFactor, LONG left, LONG top, LONG right, LONG bottom,
                           UINT format, DWORD flags, COLORREF colour) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return DrawTextIntoImage(ctx.error, pixels, width, height, rowBytes, text, font, scaleFactor, left, top, right,
                             bottom, format, flags, colour)
               ? TRUE
               : FALSE;
  });
}
