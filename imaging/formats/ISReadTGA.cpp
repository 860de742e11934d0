// ISReadTGA: a TGA file as R, G, B (A) rows, palette indices or a packed DIB as stored.
// Errors: 1, 3, 5, 14, 28, 32, 38.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/TGAFormat.h"

extern "C" HGLOBAL ISReadTGA(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette,
                             DWORD flags) {
  return ISRunReader(source, [&](CISIO& io, ISErrorCode& error, ISThreadState&) -> HGLOBAL {
    if (flags & IS_READ_AS_STORED) return ReadTGAAsStored(io, error, width, height);
    if (bits == 8) return ReadTGA8(io, error, width, height, palette);
    if (bits == 24 || bits == 32) return ReadTGARGB(io, error, width, height, bits);
    error = IS_ERR_BADPARAM;
    return nullptr;
  });
}
