// PCX reading and writing behind ISReadPCX and ISWritePCX: a 128-byte header, run-length
// encoded scan lines of bit planes or byte planes, and the 256-colour palette at the end.
#pragma once

#include "imaging/core/CISIO.h"
#include "qrv/imaging.h"

// The picture at `bits` 1 (8 pixels a byte), 8 (one index a byte) or 24 (R, G, B), rows top
// first; asStored reads at the file's own depth (1 bit, 8 bits up to 8, else 24). Requests of
// 8 bits or fewer receive the 256-entry palette. Null with the code in `error` (1 memory,
// 5 argument, 14 stopped, 22 invalid PCX, 28 depth above the request).
HGLOBAL ReadPCX(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette,
                bool asStored);

// Writers: the sink's size after writing, or 0 with the code in `error` (1 memory, 4 write
// failure, 5 argument, 14 stopped).
DWORD WritePCX8(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height, const RGBQUAD* palette);
DWORD WritePCX24(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height);
