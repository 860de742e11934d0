// ISHistogramAdjust: per masked channel, clipped levels stretched over 0..255 in place, with an
// optional midpoint curve. Error codes: 5 null buffer or bad depth, 14 stopped by the callback.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISPixelHelpers.h"

extern "C" BOOL ISHistogramAdjust(BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes,
                                  double lowPercent, double highPercent, DWORD flags, DWORD channelMask) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return HistogramAdjust(ctx.error, pixels, width, height, bytesPerPixel, rowBytes, lowPercent, highPercent,
                           flags, channelMask);
  });
}
