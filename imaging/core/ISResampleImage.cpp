// ISResampleImage: filtered two-pass resampling of an image of 8-bit samples with filter 0..13.
// Errors: 5 bad argument or filter, 68 destination side below the filter's support, 1 no room,
// 14 stopped.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISResample.h"

extern "C" BOOL ISResampleImage(const BYTE* src, DWORD srcWidth, DWORD srcHeight, DWORD srcRowBytes, BYTE* dst,
                                DWORD dstWidth, DWORD dstHeight, DWORD dstRowBytes, DWORD bytesPerPixel,
                                DWORD filter) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return ResampleImage(ctx.error, src, srcWidth, srcHeight, dst, dstWidth, dstHeight, bytesPerPixel, filter,
                         srcRowBytes, dstRowBytes)
               ? TRUE
               : FALSE;
  });
}
