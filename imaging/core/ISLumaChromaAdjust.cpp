// ISLumaChromaAdjust: adjusts the brightness of 3- or 4-byte pixels through a grey copy, keeping
// their colour differences. Error codes: 1 no memory, 5 bad argument, 14 stopped by the callback.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISPixelHelpers.h"

extern "C" BOOL ISLumaChromaAdjust(BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes,
                                   DWORD method, double low, double high, DWORD flags) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return LumaChromaAdjust(ctx.error, pixels, width, height, bytesPerPixel, rowBytes, method, low, high, flags);
  });
}
