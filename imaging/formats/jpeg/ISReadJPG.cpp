// ISReadJPG: decodes a JPEG source into a new global-memory image (8, 24 or 32 bits, or a
// packed DIB as stored). Errors: 5, 38, 1, 9 (set-up), 3 (rows, finishing), 14, 17, 24.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/jpeg/CISJPGReader.h"

extern "C" HGLOBAL ISReadJPG(ISIOHandle source, DWORD* width, DWORD* height, DWORD bits, DWORD flags) {
  return ISRunEntry<HGLOBAL>(nullptr, [&](ISErrorCode& error, ISThreadState&) -> HGLOBAL {
    if (!ISCheckHandle(source, error)) return nullptr;
    if (!(flags & kJPGReadAsStored) && bits != 8 && bits != 24 && bits != 32)
      return error = IS_ERR_BADPARAM, nullptr;
    CISIO io(source);
    CISJPGReader reader;
    HGLOBAL image = reader.Read(io, width, height, bits, flags);
    error = reader.error;
    // A failure to finish after the last row keeps its error with the whole picture; every
    // other failure has freed the picture already.
    return image;
  });
}
