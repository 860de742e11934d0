// ISReadTIFF: one page of a TIFF source as 1, 8 (with a palette), 16, 24 or 32 bits per pixel,
// or as stored (a packed DIB). Errors: 5, 38, 1, 3, 14, 17, 20, 28.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/tiff/TIFFRead.h"

extern "C" HGLOBAL ISReadTIFF(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette,
                              DWORD page, DWORD flags) {
  return ISRunReader(source, [&](CISIO& io, ISErrorCode& error, ISThreadState& ts) -> HGLOBAL {
    if (!width || !height) return error = IS_ERR_BADPARAM, nullptr;
    if (!(flags & kTIFFAsStored) && bits != 1 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
      return error = IS_ERR_BADPARAM, nullptr;
    return ReadTIFF(error, ts, io, width, height, page, bits, (flags & kTIFFAsStored) ? nullptr : palette, flags);
  });
}
