// ISBlurImage: Gaussian blur of an image of 8-bit samples.
// Errors: 5 null or shared buffers, 1 no room for the kernel or buffer, 14 stopped.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISFilters.h"

extern "C" BOOL ISBlurImage(const BYTE* source, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD sourceRowBytes,
                            BYTE* destination, DWORD destinationRowBytes, double sigma, DWORD channelMask) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return GaussianBlur(ctx.error, source, destination, width, height, bytesPerPixel, sourceRowBytes,
                        destinationRowBytes, sigma, channelMask)
               ? TRUE
               : FALSE;
  });
}
