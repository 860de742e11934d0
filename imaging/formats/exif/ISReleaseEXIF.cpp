// ISReleaseEXIF: destroys an EXIF data object (null is accepted). Errors: 5.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/exif/CISEXIFBase.h"

extern "C" BOOL ISReleaseEXIF(CISEXIFBase* exif) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    try {
      delete exif;
      return TRUE;
    } catch (...) {
      error = IS_ERR_BADPARAM;
      return FALSE;
    }
  });
}
