// ISRotateImage: turns a packed 8-bit-sample image in place by a quarter or half turn.
// Errors: 5 null buffer or bad mode, 1 no room for the temporary copy, 14 stopped.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISRotate.h"

extern "C" BOOL ISRotateImage(BYTE* pixels, DWORD width, DWORD height, DWORD mode, DWORD bytesPerPixel) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return Rotate8InPlace(ctx.error, pixels, width, height, mode, bytesPerPixel) ? TRUE : FALSE;
  });
}
