// ISFlipHorizontal: mirrors an 8-bit-sample image left to right in place.
// Errors: 5 null buffer, 1 no room for the temporary row, 14 stopped.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISRotate.h"

extern "C" BOOL ISFlipHorizontal(BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return MirrorHorizontal(ctx.error, pixels, width, height, bytesPerPixel, rowBytes) ? TRUE : FALSE;
  });
}
