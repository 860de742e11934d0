// ISUnsharpMask: unsharp mask of an image of 8-bit samples (Gaussian of sigma = radius).
// Errors: 5 null or shared buffers, 1 no room, 14 stopped.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISFilters.h"

extern "C" BOOL ISUnsharpMask(const BYTE* source, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD sourceRowBytes,
                              BYTE* destination, DWORD destinationRowBytes, DWORD threshold, double amount,
                              double radius, DWORD channelMask) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return UnsharpMask(ctx.error, source, destination, width, height, bytesPerPixel, sourceRowBytes,
                       destinationRowBytes, threshold, amount, radius, channelMask)
               ? TRUE
               : FALSE;
  });
}
