// ISGetEXIFTagText: the text of a tag, looked for in the lists the mask chooses, as a new
// zero-terminated global-memory block. Errors: 5 null argument, 1 no memory, 17 internal.
#include <cstring>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/exif/CISEXIFBase.h"

extern "C" BOOL ISGetEXIFTagText(CISEXIFBase* exif, DWORD tag, DWORD listMask, HGLOBAL* text, DWORD* length) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    if (text) *text = nullptr;
    if (length) *length = 0;
    if (!exif || !text || !length) {
      error = IS_ERR_BADPARAM;
      return FALSE;
    }
    try {
      std::string s;
      if (!exif->GetTagText(tag, listMask, s)) {
        error = exif->error;  // not found is no failure
        return TRUE;
      }
      HGLOBAL block = SafeGlobalAlloc(static_cast<uint64_t>(s.size()) + 1);
      if (!block) {
        error = IS_ERR_NOMEM;
        return FALSE;
      }
      std::memcpy(block, s.c_str(), s.size() + 1);
      *text = block;
      *length = static_cast<DWORD>(s.size());
      return TRUE;
    } catch (...) {
      error = IS_ERR_INTERNAL;
      return FALSE;
    }
  });
}
