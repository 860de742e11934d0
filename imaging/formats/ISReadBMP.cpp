// ISReadBMP: a Windows bitmap as R, G, B (A) rows, palette indices or a packed DIB as stored.
// Errors: 1, 3, 5, 6, 7, 14, 28, 38.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/BMPFormat.h"

extern "C" HGLOBAL ISReadBMP(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette,
                             DWORD flags) {
  return ISRunReader(source, [&](CISIO& io, ISErrorCode& error, ISThreadState&) -> HGLOBAL {
    if (flags & IS_READ_AS_STORED) return ReadBMPAsStored(io, error, width, height);
    if (bits == 1 || bits == 8) return ReadBMP8(io, error, width, height, bits, palette);
    if (bits == 24 || bits == 32) return ReadBMPRGB(io, error, width, height, bits);
    error = IS_ERR_BADPARAM;
    return nullptr;
  });
}
