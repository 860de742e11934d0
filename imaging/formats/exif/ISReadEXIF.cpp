// ISReadEXIF: parses an APP1 "Exif" block into a new EXIF data object.
// Errors: 5 null block, 1 no memory, 56 malformed block, 65 a requested copy failed.
#include <memory>
#include <new>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/exif/CISEXIFBase.h"

extern "C" CISEXIFBase* ISReadEXIF(const BYTE* block, DWORD length, DWORD flags) {
  return ISRunEntry<CISEXIFBase*>(nullptr, [&](ISErrorCode& error, ISThreadState&) -> CISEXIFBase* {
    if (!block) {
      error = IS_ERR_BADPARAM;
      return nullptr;
    }
    std::unique_ptr<CISEXIFBase> exif(new (std::nothrow) CISEXIFBase);
    if (!exif) {
      error = IS_ERR_NOMEM;
      return nullptr;
    }
    const bool ok = exif->Read(block, length, flags);
    error = exif->error;
    return ok ? exif.release() : nullptr;
  });
}
