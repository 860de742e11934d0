// ISConvertRGBToGray: one grey byte per pixel from 3- or 4-byte pixels.
// Error codes: 5 null buffer or a depth other than 3 or 4 bytes, 14 stopped by the callback.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISPixelHelpers.h"

extern "C" BOOL ISConvertRGBToGray(const BYTE* src, DWORD width, DWORD height, DWORD bytesPerPixel,
                                   DWORD srcRowBytes, BYTE* dst, DWORD dstRowBytes, DWORD flags) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return RGBToGrey(ctx.error, src, width, height, bytesPerPixel, srcRowBytes, dstRowBytes, flags, dst);
  });
}
