// ISWriteJPG: encodes 8, 24 or 32-bit rows as a JPEG stream into a sink; the number of bytes
// in the sink afterwards, 0 on failure. Errors: 5, 38, 1, 4, 14, 24.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/jpeg/CISJPGWriter.h"

extern "C" DWORD ISWriteJPG(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD quality,
                            DWORD bits, const ISResolution* resolution, DWORD flags) {
  return ISRunEntry<DWORD>(0, [&](ISErrorCode& error, ISThreadState&) -> DWORD {
    if (!ISCheckHandle(sink, error)) return 0;
    if (!pixels) return error = IS_ERR_BADPARAM, 0;
    CISIO io(sink);
    CISJPGWriter writer;
    if (resolution) {
      writer.xDensity = resolution->x;
      writer.yDensity = resolution->y;
      writer.densityUnit = resolution->unit;
    }
    DWORD size = writer.Write(io, pixels, width, height, quality, bits, flags);
    error = writer.error;
    return error == IS_ERR_OK ? size : 0;
  });
}
