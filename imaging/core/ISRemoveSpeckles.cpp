// ISRemoveSpeckles: one pass of Crimmins speckle reduction, in place, on the masked channels.
// Errors: 5 null image, 1 no room for the work buffers, 14 stopped.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISFilters.h"

extern "C" BOOL ISRemoveSpeckles(BYTE* image, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes,
                                 DWORD channelMask) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    ISSpeckleContext speckle;
    const bool ok = ReduceSpeckle(speckle, image, width, height, bytesPerPixel, rowBytes, channelMask);
    ctx.error = speckle.error;
    return ok ? TRUE : FALSE;
  });
}
