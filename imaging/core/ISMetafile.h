// Metafile reading and writing of the library over the GDI stand-in's metafiles: a file (enhanced,
// plain Windows or placeable Windows metafile) played into a picture, and an RGB picture written
// as an enhanced or a (placeable) Windows metafile holding one DIB.
#pragma once

#include <cstdint>

#include "platform/gdi.h"
#include "platform/gdi_metafile.h"
#include "qrv/imaging.h"

class CISIO;

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr uint32_t kPlaceableHeaderBytes = 22;

// The operation context: the error word, then the first 22 bytes of the placeable file last
// read (the key, the bounds and the units per inch are read from them by the render).
struct CISMetafileContext {
  ISErrorCode error = IS_ERR_OK;
  BYTE placeable[kPlaceableHeaderBytes] = {};
  bool Fail(ISErrorCode code) {
    error = code;
    return false;
  }
};

// The drawing work a render may do (MetafilePlayback's work, in pixels painted): the picture
// painted kMetafileDrawingPasses times over, and never less than kMetafileDrawingFloor. Real
// drawings paint their picture a few times; past the budget the picture is returned as drawn,
// with a warning.
constexpr uint64_t kMetafileDrawingPasses = 32;
constexpr uint64_t kMetafileDrawingFloor = uint64_t{1} << 28;
constexpr uint64_t MetafileDrawingBudget(uint64_t pixels) {
  return pixels > kMetafileDrawingFloor / kMetafileDrawingPasses ? pixels * kMetafileDrawingPasses
                                                                : kMetafileDrawingFloor;
}

// Flags of LoadMetafileImage / RenderEnhMetafile.
constexpr DWORD kMetafileRequestedSize = 1;  // bit 0: the requested width and height in pixels
constexpr DWORD kMetafileAsDIB = 2;          // bit 1: a packed DIB instead of R, G, B rows
constexpr DWORD kMetafilePercent = 4;        // bit 2: the requested sizes are percentages

// XOR of the first ten 16-bit words of a 22-byte placeable header.
WORD PlaceableHeaderChecksum(const BYTE* header);

// Renders the named file; errors 1, 2, 3, 5, 10, 14, 23, 25, 26, 27, 41.
HGLOBAL LoadMetafileImage(CISMetafileContext& ctx, const char* name, DWORD* outWidth, DWORD* outHeight,
                          DWORD reqWidth, DWORD reqHeight, COLORREF background, DWORD flags);
HENHMETAFILE OpenMetafileByName(CISMetafileContext& ctx, const char* name, DWORD reqWidth, DWORD reqHeight);
HENHMETAFILE ReadPlaceableWMFFile(CISMetafileContext& ctx, const char* name, DWORD reqWidth, DWORD reqHeight);
HENHMETAFILE ReadPlaceableWMF(CISMetafileContext& ctx, CISIO& source, DWORD reqWidth, DWORD reqHeight);
HGLOBAL RenderEnhMetafile(CISMetafileContext& ctx, HENHMETAFILE emf, DWORD* outWidth, DWORD* outHeight,
                          DWORD reqWidth, DWORD reqHeight, COLORREF background, DWORD flags);

// Writers: the sink's byte count, 0 on failure (errors 1, 4, 5, 10, 42).
uint32_t WriteEMF(CISMetafileContext& ctx, CISIO& sink, const BYTE* rgb, DWORD width, DWORD height);
uint32_t WriteWMF(CISMetafileContext& ctx, CISIO& sink, const BYTE* rgb, DWORD width, DWORD height, bool placeable);
