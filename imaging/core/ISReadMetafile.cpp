// ISReadMetafile: an enhanced, Windows or placeable Windows metafile rendered into R, G, B rows
// (or a packed DIB with flags bit 1). Errors: 1, 2, 3, 5, 10, 14, 23, 25, 26, 27, 41.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISMetafile.h"

extern "C" HGLOBAL ISReadMetafile(const char* fileName, DWORD* width, DWORD* height, DWORD requestedWidth,
                                  DWORD requestedHeight, COLORREF background, DWORD flags) {
  return ISRunEntry<HGLOBAL>(nullptr, [&](ISErrorCode& error, ISThreadState&) -> HGLOBAL {
    CISMetafileContext ctx;
    HGLOBAL result = LoadMetafileImage(ctx, fileName, width, height, requestedWidth, requestedHeight, background, flags);
    error = ctx.error;
    if (error != IS_ERR_OK && result) {
      GlobalFree(result);
      result = nullptr;
    }
    return result;
  });
}
