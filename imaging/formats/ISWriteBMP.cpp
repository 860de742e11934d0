// ISWriteBMP: 1- to 32-bit Windows bitmaps, 8-bit RLE (flags bit 0) or a packed DIB given
// whole (flags bit 1); returns the sink's size. Errors: 1, 4, 5, 14, 38.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/BMPFormat.h"

extern "C" BOOL ISWriteBMP(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
                           DWORD colourCount, const RGBQUAD* palette, const LONG* resolution, DWORD flags) {
  return ISRunWriter(sink, [&](CISIO& io, ISErrorCode& error, ISThreadState&) -> BOOL {
    if ((flags & kBMPWriteRLE) && !(flags & kBMPWritePackedDIB)) {
      if (bits != 8) return error = IS_ERR_BADPARAM, FALSE;
      return static_cast<BOOL>(WriteBMPRLE(io, error, pixels, width, height, colourCount, palette, resolution));
    }
    return static_cast<BOOL>(WriteBMP(io, error, pixels, width, height, bits, colourCount, palette, resolution, flags));
  });
}
