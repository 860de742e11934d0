// ISGetTIFFInfo: width, height, bits per pixel and resolution {x, y, unit} of one page.
// Errors: 5 (null output, missing page), 38, 20.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/tiff/TIFFRead.h"

extern "C" BOOL ISGetTIFFInfo(ISIOHandle source, DWORD page, DWORD* width, DWORD* height, DWORD* bitsPerPixel,
                              ISResolution* resolution) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    if (!ISCheckHandle(source, error)) return FALSE;
    if (!width || !height || !bitsPerPixel) return error = IS_ERR_BADPARAM, FALSE;
    CISIO io(source);
    DWORD x = 0, y = 0, unit = 0;
    if (!GetTIFFInfo(error, io, page, width, height, bitsPerPixel, &x, &y, &unit)) return FALSE;
    if (resolution) *resolution = ISResolution{x, y, unit};
    return TRUE;
  });
}
