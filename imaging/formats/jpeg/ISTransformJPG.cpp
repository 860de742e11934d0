// ISTransformJPG: lossless flip, transpose, rotation or crop of a JPEG source into a sink, its
// markers carried over. Errors: 5, 38 (handles), 9 (libjpeg or request), 14 (stopped).
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/jpeg/CISJPGReader.h"

extern "C" BOOL ISTransformJPG(ISIOHandle source, ISIOHandle sink, DWORD mode, int32_t x, int32_t y,
                               uint32_t width, uint32_t height) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    if (!ISCheckHandle(source, error) || !ISCheckHandle(sink, error)) return FALSE;
    CISIO in(source);
    CISIO out(sink);
    CISJPGReader reader;
    BOOL ok = reader.Transform(in, out, mode, x, y, width, height);
    error = reader.error;
    return error == IS_ERR_OK ? ok : FALSE;
  });
}
