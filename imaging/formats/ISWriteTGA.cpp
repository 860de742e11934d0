// ISWriteTGA: an uncompressed 8-bit colour-mapped, 24-bit or 32-bit TGA file; returns the
// sink's size. Errors: 1, 4, 5, 14, 38.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/TGAFormat.h"

extern "C" BOOL ISWriteTGA(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
                           const RGBQUAD* palette, DWORD /*flags*/) {
  return ISRunWriter(sink, [&](CISIO& io, ISErrorCode& error, ISThreadState&) -> BOOL {
    switch (bits) {
      case 8: return static_cast<BOOL>(WriteTGA8(io, error, pixels, width, height, palette));
      case 24: return static_cast<BOOL>(WriteTGA24(io, error, pixels, width, height));
      case 32: return static_cast<BOOL>(WriteTGA32(io, error, pixels, width, height));
      default: error = IS_ERR_BADPARAM; return FALSE;
    }
  });
}
