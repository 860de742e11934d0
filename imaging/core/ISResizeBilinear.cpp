// ISResizeBilinear: bilinear resize of an image of 8-bit samples into a second buffer.
// Errors: 5 bad argument, 1 no room for the column tables, 14 stopped.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISResample.h"

extern "C" BOOL ISResizeBilinear(const BYTE* src, DWORD srcWidth, DWORD srcHeight, DWORD srcRowBytes, BYTE* dst,
                                 DWORD dstWidth, DWORD dstHeight, DWORD dstRowBytes, DWORD bytesPerPixel) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return ResizeBilinear(ctx.error, src, srcWidth, srcHeight, dst, dstWidth, dstHeight, bytesPerPixel, srcRowBytes,
                          dstRowBytes)
               ? TRUE
               : FALSE;
  });
}
