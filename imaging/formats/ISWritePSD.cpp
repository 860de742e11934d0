// ISWritePSD: a single-layer Photoshop file (8-bit indexed, RGB or CMYK) carrying the thread's
// image resources; returns the sink's size. Errors: 1, 4, 5, 14, 38.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/PSDFormat.h"

extern "C" BOOL ISWritePSD(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
                           const RGBQUAD* palette, DWORD /*flags*/) {
  return ISRunWriter(sink, [&](CISIO& io, ISErrorCode& error, ISThreadState& ts) -> BOOL {
    switch (bits) {
      case 8: return static_cast<BOOL>(WritePSD8(io, error, pixels, width, height, palette, ts.psdResources));
      case 24: return static_cast<BOOL>(WritePSD24(io, error, pixels, width, height, ts.psdResources));
      case 32: return static_cast<BOOL>(WritePSD32(io, error, pixels, width, height, ts.psdResources));
      default: error = IS_ERR_BADPARAM; return FALSE;
    }
  });
}
