// ISReduceColors: a palette of up to `colours` (limited to 1..256) and one index byte per pixel
// with error diffusion. Error codes: 1 no memory, 5 null buffer or palette, 14 stopped.
#include "imaging/core/ISColorQuantizer.h"
#include "imaging/core/ISEntryFrame.h"

extern "C" BOOL ISReduceColors(const BYTE* src, DWORD width, DWORD height, DWORD srcRowBytes, BYTE* dst,
                               DWORD dstRowBytes, UINT colours, RGBQUAD* palette, DWORD diffusionMode,
                               BYTE ditherLimit, DWORD flags) {
  return ISRunOperation([&](CISOpContext& ctx) -> BOOL {
    const DWORD n = colours < 1 ? 1 : (colours > 256 ? 256 : colours);
    return ReduceColours(ctx.error, src, dst, width, height, srcRowBytes, dstRowBytes, n, palette, diffusionMode,
                         ditherLimit, flags);
  });
}
