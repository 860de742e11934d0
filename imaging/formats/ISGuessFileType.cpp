// ISGuessFileType: the format of the bytes of a source, from its position on.
// Errors: 5 null source, 38 a handle that is not live, 3 empty source or failed footer probe.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/formats/CISFileTypeSniffer.h"

extern "C" ISFileType ISGuessFileType(ISIOHandle source) {
  return ISRunEntry<ISFileType>(IS_FT_UNKNOWN, [&](ISErrorCode& error, ISThreadState&) -> ISFileType {
    if (!ISCheckHandle(source, error)) return IS_FT_UNKNOWN;
    CISIO io(source);
    CISFileTypeSniffer sniffer;
    const ISFileType type = sniffer.Detect(io);
    error = sniffer.error;
    return type;
  });
}
