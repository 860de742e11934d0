// ISWriteEMF: an RGB picture written to the sink as an enhanced metafile holding one DIB.
// Errors: 1, 4, 5, 10, 38, 42.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISMetafile.h"

extern "C" BOOL ISWriteEMF(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height) {
  return ISRunWriter(sink, [&](CISIO& io, ISErrorCode& error, ISThreadState&) -> BOOL {
    CISMetafileContext ctx;
    const uint32_t written = WriteEMF(ctx, io, pixels, width, height);
    error = ctx.error;
    return written != 0 && error == IS_ERR_OK ? TRUE : FALSE;
  });
}
