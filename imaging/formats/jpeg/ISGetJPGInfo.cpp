// ISGetJPGInfo: the header of a JPEG source (size, components, density, colour space, coding)
// without decoding; captures comments and markers like a read. Errors: 5, 38, 9.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/jpeg/CISJPGReader.h"

extern "C" BOOL ISGetJPGInfo(ISIOHandle source, DWORD* width, DWORD* height, DWORD* bits, ISResolution* resolution,
                             DWORD* colourSpace, DWORD* codingFlags) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    if (!ISCheckHandle(source, error)) return FALSE;
    CISIO io(source);
    CISJPGReader reader;
    DWORD x = 0, y = 0, unit = 0;
    BOOL ok = reader.GetInfo(io, width, height, bits, &x, &y, &unit, colourSpace, codingFlags);
    if (resolution) {
      resolution->x = x;
      resolution->y = y;
      resolution->unit = unit;
    }
    error = reader.error;
    return ok;
  });
}
