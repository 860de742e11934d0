// ISWritePCX: an 8-bit colour-mapped or 24-bit PCX file; returns the sink's size.
// Errors: 1, 4, 5, 14, 38.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/PCXFormat.h"

extern "C" BOOL ISWritePCX(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
                           const RGBQUAD* palette, DWORD /*flags*/) {
  return ISRunWriter(sink, [&](CISIO& io, ISErrorCode& error, ISThreadState&) -> BOOL {
    if (bits == 24) return static_cast<BOOL>(WritePCX24(io, error, pixels, width, height));
    if (bits == 8 && palette) return static_cast<BOOL>(WritePCX8(io, error, pixels, width, height, palette));
    error = IS_ERR_BADPARAM;
    return FALSE;
  });
}
