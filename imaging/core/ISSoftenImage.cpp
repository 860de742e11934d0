// ISSoftenImage: softens an image of 8-bit samples with the 3x3 filter (amount 0..100).
// Errors: 5 null or shared buffers or more than 8 bytes per pixel, 14 stopped.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISFilters.h"

extern "C" BOOL ISSoftenImage(const BYTE* source, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD sourceRowBytes,
                              BYTE* destination, DWORD destinationRowBytes, int32_t amount, DWORD channelMask) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return Filter3x3(ctx.error, source, destination, width, height, bytesPerPixel, sourceRowBytes, destinationRowBytes,
                     amount, kFilterSoften, channelMask)
               ? TRUE
               : FALSE;
  });
}
