// ISBuildPalette: chooses a palette of up to `colours` (limited to 1..256) for an RGB image.
// Error codes: 1 no memory, 5 null image or palette, 14 stopped by the progress callback.
#include "imaging/core/ISColorQuantizer.h"
#include "imaging/core/ISEntryFrame.h"

extern "C" BOOL ISBuildPalette(const BYTE* src, DWORD width, DWORD height, DWORD rowBytes, UINT colours,
                               RGBQUAD* palette, UINT* colourCount, DWORD flags) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    const DWORD n = colours < 1 ? 1 : (colours > 256 ? 256 : colours);
    DWORD used = 0;
    const bool ok = BuildPalette(ctx.error, src, width, height, rowBytes, n, palette, &used, flags);
    if (colourCount) *colourCount = used;
    return ok;
  });
}
