// Windows bitmap reading and writing behind ISReadBMP and ISWriteBMP: the 14-byte file
// header, the info header (the 40-byte one, its 52-, 56-, 108- and 124-byte forms, the 12-byte
// OS/2 core header or the OS/2 2.x header of 16 to 64 bytes), the colour table and rows padded
// to 4 bytes; plain, bit-field, RLE4 and RLE8 data. The writer writes the 40-byte header.
#pragma once

#include "imaging/core/CISIO.h"
#include "qrv/imaging.h"

// Readers: the image block (global memory, the caller frees it), or null with the code in
// `error` (1 memory, 3 short read, 5 argument, 6 not a BMP, 7 RLE variant, 14 stopped, 28 depth
// above the request). Output rows are top row first.

// A packed DIB of the file as stored (any other header converted to a 40-byte one). A read
// keeps a version 5 header's embedded colour profile for ISGetReadMetadata.
HGLOBAL ReadBMPAsStored(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height);
// R, G, B rows (bits 24), or R, G, B, 255 (bits 32).
HGLOBAL ReadBMPRGB(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, DWORD bits);
// One index a pixel (bits 8) or 8 pixels a byte (bits 1); the colour table goes to `palette`
// (256 entries, those past the table copies of entry 0).
HGLOBAL ReadBMP8(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette);

// Writers: the sink's size after writing, or 0 with the code in `error` (1 memory, 4 write
// failure, 5 argument, 14 stopped).
constexpr DWORD kBMPWriteRLE = 1;         // flags bit 0: 8-bit RLE
constexpr DWORD kBMPWritePackedDIB = 2;   // flags bit 1: `pixels` is a packed DIB
constexpr DWORD kBMPWriteStride4x = 0x80000000u;  // flags bit 31: input rows 4 times as long

DWORD WriteBMP(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
               DWORD colourCount, const RGBQUAD* palette, const LONG* resolution, DWORD flags);
DWORD WriteBMPRLE(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height,
                  DWORD colourCount, const RGBQUAD* palette, const LONG* resolution);
