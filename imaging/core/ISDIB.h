// Packed DIBs: one block holding a 40-byte header, the colour table (or three bit-field masks),
// then rows padded to 4 bytes, bottom-up for a positive height. Built from RGB, RGBA and index
// buffers and read back to RGB; used by the BMP and PSD layers and the text drawing.
//
// The header's fields are stored little-endian at their file offsets and are read and written
// through ReadDIBHeader / WriteDIBHeader, so a packed DIB is also a BMP file body as it stands.
// Failures leave their code in `error`: 1 no memory (or a size at or over the allocation
// limit), 5 bad argument.
#pragma once

#include <cstdint>

#include "qrv/imaging.h"

constexpr DWORD kDIBHeaderBytes = 40;

BITMAPINFOHEADER ReadDIBHeader(const void* dib);
void WriteDIBHeader(void* dib, const BITMAPINFOHEADER& header);

// Row bytes of a packed DIB: ((width x bits + 31) >> 5) x 4.
inline uint64_t DIBRowBytes(uint64_t width, uint64_t bits) { return ((width * bits + 31) >> 5) * 4; }

// Entries in the colour table of a 1- to 8-bit DIB: biClrUsed, or 1 << bits when it is 0;
// 0 for deeper pixels.
DWORD DIBColourCount(const BITMAPINFOHEADER& header);

// biWidth / biHeight; false with error 5 and *value 0 for a null pointer or biSize other than 40.
bool GetDIBWidth(ISErrorCode& error, const void* dib, LONG* value);
bool GetDIBHeight(ISErrorCode& error, const void* dib, LONG* value);

// Bytes of a packed DIB: 40 + colour table + row bytes x height. The table is 8 bytes for 1 bit,
// colourCount x 4 (1 << bits entries when colourCount is 0) for 4 and 8 bits, none for 24 and
// 32 bits. Other depths, or more colours than the depth can index: error 5 and 0. A size at or
// over the allocation limit: error 1 and 0.
uint64_t DIBSizeBytes(ISErrorCode& error, DWORD width, DWORD height, DWORD bitsPerPixel, DWORD colourCount);

// The first stored pixel row: after the colour table for 1 to 8 bits, after the three masks
// for bit-field compression, else after the header. Null with error 5 when biSize is not 40.
BYTE* DIBBitsPtr(ISErrorCode& error, void* dib);
const BYTE* DIBBitsPtr(ISErrorCode& error, const void* dib);

// A 24-bit DIB from packed R, G, B pixels (width x height, rows top first); with flag bit 0 the
// pixels' bytes are stored as they stand instead of being turned to B, G, R. Written into
// `destination` when given (DIBSizeBytes bytes), else into a new zero-filled global block;
// returns the DIB, or null.
void* RGBToDIB(ISErrorCode& error, const BYTE* rgb, DWORD width, DWORD height, void* destination, DWORD flags);
// A 32-bit DIB from packed R, G, B, A pixels (stored B, G, R, A), as RGBToDIB.
void* RGBAToDIB(ISErrorCode& error, const BYTE* rgba, DWORD width, DWORD height, void* destination);

// A 1-, 4- or 8-bit DIB from one index byte per pixel (width x height, rows top first), with
// colourCount table entries copied from `table` (1 << bits of them when colourCount is 0).
// Written into `destination` when given (DIBSizeBytes bytes), else into a new zero-filled
// global block; returns the DIB, or null.
void* IndexedToDIB(ISErrorCode& error, const BYTE* indices, DWORD width, DWORD height, DWORD colourCount,
                   DWORD bitsPerPixel, const RGBQUAD* table, void* destination);

// R, G, B rows (width x 3 bytes each, top first) from a packed DIB of 1, 4, 8, 16, 24 or 32 bits,
// uncompressed or with bit fields. A palette index past the table reads entry 0.
bool DIBToRGB(ISErrorCode& error, const void* dib, BYTE* rgb);
// The same from the pieces: the pixel rows, the header and the colour table (for bit fields,
// the three masks right after the header are used instead).
bool DIBRowsToRGB(ISErrorCode& error, const BYTE* rows, const void* header, const RGBQUAD* colourTable, BYTE* rgb);
