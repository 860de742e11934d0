// ISFlipVertical: turns an image upside down in place (rows i and height - 1 - i exchanged).
// Errors: 5 null buffer, 1 no room for the temporary row, 14 stopped.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISRotate.h"

extern "C" BOOL ISFlipVertical(BYTE* pixels, DWORD rowBytes, DWORD height) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    return FlipVertical(ctx.error, pixels, rowBytes, height) ? TRUE : FALSE;
  });
}
