// ISMeasureText: the width and height of the rectangle a text needs in a font.
// Errors: 5 null text or output, 10 device context, 18 font.
#include "imaging/core/ISText.h"

extern "C" BOOL ISMeasureText(const void* text, const LOGFONTA* font, LONG left, LONG top, LONG right, LONG bottom,
                              DWORD* width, DWORD* height, UINT format, DWORD flags) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return MeasureTextRect(ctx.error, text, font, left, top, right, bottom, width, height, format, flags) ? TRUE
                                                                                                         : FALSE;
  });
}
