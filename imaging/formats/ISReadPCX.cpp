// ISReadPCX: a PCX file at 1, 8 or 24 bits, or at its own depth (flags bit 1).
// Errors: 1, 5, 14, 22, 28, 38.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/PCXFormat.h"

extern "C" HGLOBAL ISReadPCX(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette,
                             DWORD flags) {
  return ISRunReader(source, [&](CISIO& io, ISErrorCode& error, ISThreadState&) -> HGLOBAL {
    const bool asStored = (flags & IS_READ_AS_STORED) != 0;
    if (!asStored && bits != 1 && bits != 8 && bits != 24) return error = IS_ERR_BADPARAM, nullptr;
    return ReadPCX(io, error, width, height, bits, palette, asStored);
  });
}
