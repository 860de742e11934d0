// ISMedianFilterImage: 3x3 median of an image of 8-bit samples.
// Errors: 5 null or shared buffers or more than 8 bytes per pixel, 14 stopped.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISFilters.h"

extern "C" BOOL ISMedianFilterImage(const BYTE* source, DWORD width, DWORD height, DWORD bytesPerPixel,
                                    DWORD sourceRowBytes, BYTE* destination, DWORD destinationRowBytes,
                                    DWORD channelMask) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return Filter3x3(ctx.error, source, destination, width, height, bytesPerPixel, sourceRowBytes, destinationRowBytes,
                     0, kFilterMedian, channelMask)
               ? TRUE
               : FALSE;
  });
}
