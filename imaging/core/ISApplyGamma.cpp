// ISApplyGamma: a gamma table on every channel in place (the fourth byte only with flag bit 0).
// Error codes: 5 null buffer, bad depth or a negative gamma, 14 stopped by the callback.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISPixelHelpers.h"

extern "C" BOOL ISApplyGamma(BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes,
                             double gamma, DWORD flags) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return ApplyGamma(ctx.error, pixels, width, height, bytesPerPixel, rowBytes, gamma, flags);
  });
}
