// DrawTextIntoImage: a text drawn anti-aliased into an RGB image: the part of it that lies on
// the picture rendered as a 1-bit mask at scale-factor size, unpacked to coverage bytes,
// box-averaged down and blended in its colour.
// Errors: 5 null image or font, 10 GDI steps, 18 font, 1 no memory, 14 stopped.
#include <algorithm>

#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISPixelHelpers.h"
#include "imaging/core/ISResample.h"
#include "imaging/core/ISText.h"
#include "imaging/core/TextGDI.h"

namespace {

// The formats that place the text elsewhere than at the rectangle's top-left corner.
constexpr UINT kPlacedFormats = DT_CENTER | DT_RIGHT | DT_VCENTER | DT_BOTTOM;

bool Stage(ISErrorCode& error, DWORD stage) { return ProgressOrStop(error, stage, 9); }

}  // namespace

bool DrawTextIntoImage(ISErrorCode& error, BYTE* image, DWORD width, DWORD height, DWORD rowBytes, const void* text,
                       const LOGFONTA* font, DWORD scaleFactor, LONG left, LONG top, LONG right, LONG bottom,
                       UINT format, DWORD flags, COLORREF colour) {
  error = IS_ERR_OK;
  if (!image || !font) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  if (!text) return true;
  if (!Stage(error, 0)) return false;

  const int64_t factor = scaleFactor;
  LOGFONTA scaled = *font;
  scaled.lfHeight = static_cast<LONG>(std::clamp<int64_t>(static_cast<int64_t>(font->lfHeight) * factor,
                                                          INT32_MIN + 1, INT32_MAX));
  int64_t dw = static_cast<int64_t>(right) - left;
  int64_t dh = static_cast<int64_t>(bottom) - top;
  if (!Stage(error, 1)) return false;
  if (dw <= 0 || dh <= 0 || factor == 0) return true;
  // Nothing of a rectangle that lies wholly outside the picture can show.
  if (left >= static_cast<int64_t>(width) || top >= static_cast<int64_t>(height) || left + dw <= 0 || top + dh <= 0)
    return true;
  // Only the text's own box needs a mask: the rest of the rectangle would stay 0 and leave the
  // picture unchanged. With text placed at the top-left corner, the box is the measured size.
  if (!(format & kPlacedFormats)) {
    DWORD mw = 0, mh = 0;
    if (!MeasureTextRect(error, text, &scaled, 0, 0, 0, 0, &mw, &mh, format, flags)) return false;
    dw = std::min<int64_t>(dw, (static_cast<int64_t>(mw) + factor - 1) / factor);
    dh = std::min<int64_t>(dh, (static_cast<int64_t>(mh) + factor - 1) / factor);
    if (dw == 0 || dh == 0) return true;
  }
  const int64_t ww = dw * factor, wh = dh * factor;
  if (ww > 0x7FFFFFFF || wh > 0x7FFFFFFF) {
    error = IS_ERR_NOMEM;
    return false;
  }
  // Only the part of the rectangle that lies on the picture is rendered: columns [vx0, vx1)
  // and rows [vy0, vy1) of the rectangle (rows counted from its top whatever the image's row
  // order). The text is still laid out in the whole rectangle, so the part holds the pixels
  // the whole would hold there.
  const int64_t vx0 = std::max<int64_t>(0, -static_cast<int64_t>(left));
  const int64_t vy0 = std::max<int64_t>(0, -static_cast<int64_t>(top));
  const int64_t vx1 = std::min<int64_t>(dw, static_cast<int64_t>(width) - left);
  const int64_t vy1 = std::min<int64_t>(dh, static_cast<int64_t>(height) - top);
  if (vx0 >= vx1 || vy0 >= vy1) return true;
  const int64_t pw = (vx1 - vx0) * factor, ph = (vy1 - vy0) * factor;
  const int64_t partW = vx1 - vx0, partH = vy1 - vy0;

  ISArray<BYTE> bits;
  DWORD mw = 0, mh = 0;
  if (!RenderTextMaskPart(error, text, &scaled, 0, 0, static_cast<LONG>(ww), static_cast<LONG>(wh),
                          static_cast<LONG>(vx0 * factor), static_cast<LONG>(vy0 * factor),
                          static_cast<LONG>(vx1 * factor), static_cast<LONG>(vy1 * factor), format, flags, &mw, &mh,
                          bits))
    return false;
  if (!Stage(error, 3)) return false;

  ISArray<BYTE> working;
  if (!ResizeScratch(working, static_cast<uint64_t>(pw) * static_cast<uint64_t>(ph))) {
    error = IS_ERR_NOMEM;
    return false;
  }
  const uint64_t packedRow = (static_cast<uint64_t>(pw) + 7) / 8;
  for (int64_t r = 0; r < ph; ++r) {
    if (!UnpackBits(error, bits.Data() + r * packedRow, static_cast<DWORD>(pw), 1, 1, working.Data() + r * pw))
      return false;
  }
  ISThreadState* ts = GetThreadState();
  const double intensity = 255.0 * (ts ? ts->textScale : 1.0);
  const BYTE covered = static_cast<BYTE>(intensity >= 255.0 ? 255 : intensity > 0.0 ? static_cast<int>(intensity) : 0);
  BYTE* w = working.Data();
  const size_t n = working.Count();
  for (size_t i = 0; i < n; ++i) w[i] = static_cast<BYTE>(w[i] * covered);
  bits.Free();
  if (!Stage(error, 4)) return false;

  ISArray<BYTE> reduced;
  if (!ResizeScratch(reduced, static_cast<uint64_t>(partW) * static_cast<uint64_t>(partH))) {
    error = IS_ERR_NOMEM;
    return false;
  }
  if (!Stage(error, 5)) return false;
  if (!BoxReduce(working.Data(), static_cast<uint32_t>(pw), static_cast<uint32_t>(ph), reduced.Data(), 1,
                 static_cast<uint32_t>(partW), static_cast<uint32_t>(partH), static_cast<uint32_t>(pw),
                 static_cast<uint32_t>(partW), 255, error))
    return false;
  working.Free();
  if (!Stage(error, 6)) return false;

  const int64_t partTop = top + vy0;
  const int64_t row = (flags & kTextBottomUp) ? static_cast<int64_t>(height) - partH - partTop : partTop;
  CISOpContext ctx;
  if (!BlendColourThroughMask(ctx, image, width, height, 3, rowBytes, reduced.Data(), static_cast<DWORD>(partW),
                              static_cast<DWORD>(partH), static_cast<DWORD>(partW), colour,
                              static_cast<LONG>(left + vx0), static_cast<LONG>(row), 0)) {
    error = ctx.error;
    return false;
  }
  if (!Stage(error, 8)) return false;
  return true;
}
