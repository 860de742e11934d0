// ISResizeBicubic: bicubic (cubic convolution) resize of an image of 8-bit samples.
// Errors: 5 bad argument, 1 no room for the tables, 14 stopped.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISResample.h"

extern "C" BOOL ISResizeBicubic(const BYTE* src, DWORD srcWidth, DWORD srcHeight, DWORD srcRowBytes, BYTE* dst,
                                DWORD dstWidth, DWORD dstHeight, DWORD dstRowBytes, DWORD bytesPerPixel) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return ResizeBicubic(src, srcWidth, srcHeight, srcRowBytes, dst, dstWidth, dstHeight, dstRowBytes, bytesPerPixel,
                         255, ctx.error)
               ? TRUE
               : FALSE;
  });
}
