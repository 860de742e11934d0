// ISWriteWMF: an RGB picture written to the sink as a Windows metafile holding one DIB, after a
// placeable header (1000 units per inch) when placeable is nonzero. Errors: 1, 4, 5, 10, 38, 42.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISMetafile.h"

extern "C" BOOL ISWriteWMF(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, BOOL placeable) {
  return ISRunWriter(sink, [&](CISIO& io, ISErrorCode& error, ISThreadState&) -> BOOL {
    CISMetafileContext ctx;
    const uint32_t written = WriteWMF(ctx, io, pixels, width, height, placeable != 0);
    error = ctx.error;
    return written != 0 && error == IS_ERR_OK ? TRUE : FALSE;
  });
}
