// Truevision TGA reading and writing behind ISReadTGA and ISWriteTGA: colour-mapped,
// true-colour and grey files, plain or run-length encoded, 8 to 32 bits per pixel.
#pragma once

#include "imaging/core/CISIO.h"
#include "qrv/imaging.h"

// Readers: the image block (global memory, the caller frees it), or null with the code in
// `error` (1 memory, 3 short read, 14 stopped, 28 not readable at 8 bits, 32 bad TGA).

// R, G, B rows (bits 24) or R, G, B, A (bits 32), top row first.
HGLOBAL ReadTGARGB(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, DWORD bits);
// One index a pixel, top row first; the colour map (or the grey ramp) goes to `palette`.
HGLOBAL ReadTGA8(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, RGBQUAD* palette);
// A packed DIB: 24 or 32 bits for deeper files, 8 bits with the 256-entry map otherwise.
HGLOBAL ReadTGAAsStored(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height);

// Writers: the sink's size after writing, or 0 with the code in `error` (1 memory, 4 write
// failure, 5 argument, 14 stopped).
DWORD WriteTGA8(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height, const RGBQUAD* palette);
DWORD WriteTGA24(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height);
DWORD WriteTGA32(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height);
