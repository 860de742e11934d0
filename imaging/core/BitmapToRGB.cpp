// BitmapToRGB: a bitmap handle's pixels as R, G, B rows, through a packed DIB.
// Errors: 5 null context, 26 the device cannot transfer DIBs; those of HBITMAPToDIB, DIBToRGB.
#include <vector>

#include "imaging/core/ISDIB.h"
#include "imaging/core/ISGDI.h"

bool BitmapToRGB(ISErrorCode& error, HBITMAP bitmap, HDC dc, HPALETTE palette, BYTE* rgb) {
  error = IS_ERR_OK;
  if (!dc) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  const int caps = GetDeviceCaps(dc, RASTERCAPS);
  if (!(caps & RC_DI_BITMAP)) {
    error = IS_ERR_DEVCAPS;
    return false;
  }
  // A palette-based device without a palette given: its system palette.
  ISGdiObject<HPALETTE> built;
  if ((caps & RC_PALETTE) && !palette) {
    std::vector<BYTE> storage(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(storage.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(GetSystemPaletteEntries(dc, 0, 255, lp->palPalEntry));
    built.Reset(CreatePalette(lp));
    palette = built.Get();
  }
  HGLOBAL dib = HBITMAPToDIB(error, bitmap, BI_RGB, palette);
  if (!dib) return false;
  const bool ok = DIBToRGB(error, dib, rgb);
  GlobalFree(dib);
  return ok;
}
