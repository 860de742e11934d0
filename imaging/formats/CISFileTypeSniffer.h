// File-type detection: signatures at the start of a source, then the file extension, the TGA
// footer and the Photo CD signature deep in the file.
#pragma once

#include <cstdint>

#include "imaging/core/CISIO.h"
#include "qrv/imaging.h"

// One row of the signature table: the bytes that must stand at `offset`.
struct ISFileSignature {
  ISFileType type;
  uint32_t offset;
  uint32_t length;
  const char* bytes;
};

// The table in scan order; the first row that matches decides.
extern const ISFileSignature kFileSignatures[26];

// Formats of later years, tried in order when the table above finds nothing (or only the weak
// two-zero-byte WBMP row) and the name says neither TGA nor WBMP, before the TGA footer.
extern const ISFileSignature kLaterFileSignatures[16];

// 13 for ".wbmp"/".wbm", 14 for ".tga" (any case), for a file source with a path; else 0.
ISFileType FileTypeFromExtension(CISIO& source);

class CISFileTypeSniffer {
 public:
  // Reads from the source's current position and leaves it wherever the last read or seek
  // left it. Error 3 for an empty source or a failed footer probe.
  ISFileType Detect(CISIO& source);

  ISErrorCode error = IS_ERR_OK;
};
