// PCX writers: version 5, run-length encoded, 8-bit colour-mapped (with the 256-colour
// palette at the end) and 24-bit (R, G and B planes). Errors: 1, 4, 5, 14.
#include <cstring>

#include "imaging/core/ISContainers.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/formats/PCXFormat.h"

namespace {

DWORD Fail(ISErrorCode& error, ISErrorCode code) {
  error = code;
  return 0;
}

// Runs of equal bytes up to 63: a single byte below 0xC0 stands for itself, any other run is
// (0xC0 | count, value). Returns the end of the encoded bytes.
BYTE* EncodePlane(const BYTE* plane, uint64_t n, BYTE* o) {
  uint64_t i = 0;
  while (i < n) {
    const BYTE v = plane[i];
    uint64_t run = 1;
    while (i + run < n && run < 63 && plane[i + run] == v) ++run;
    if (run == 1 && v < 0xC0) {
      *o++ = v;
    } else {
      *o++ = static_cast<BYTE>(0xC0 | run);
      *o++ = v;
    }
    i += run;
  }
  return o;
}

DWORD WritePCX(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
               const RGBQUAD* palette) {
  if (!pixels || width == 0 || height == 0 || width > 0x10000 || height > 0x10000) return Fail(error, IS_ERR_BADPARAM);
  const DWORD planes = bits == 24 ? 3 : 1;
  const uint64_t bytesPerLine = (width + 1ull) & ~1ull;
  BYTE h[128] = {};
  h[0] = 10;
  h[1] = 5;
  h[2] = 1;
  h[3] = 8;
  WriteLE16(h + 8, static_cast<WORD>(width - 1));
  WriteLE16(h + 10, static_cast<WORD>(height - 1));
  WriteLE16(h + 12, 96);
  WriteLE16(h + 14, 96);
  h[65] = static_cast<BYTE>(planes);
  WriteLE16(h + 66, static_cast<WORD>(bytesPerLine));
  WriteLE16(h + 68, 1);
  if (!io.Write(h, sizeof h)) return Fail(error, IS_ERR_WRITE);
  ISArray<BYTE> plane, encoded;
  if (!ResizeScratch(plane, bytesPerLine) || !ResizeScratch(encoded, 2 * bytesPerLine * planes))
    return Fail(error, IS_ERR_NOMEM);
  std::memset(plane.Data(), 0, bytesPerLine);
  const uint64_t inRow = uint64_t{width} * planes;
  for (uint64_t y = 0; y < height; ++y) {
    if (!ProgressOrStop(error, y, height)) return 0;
    const BYTE* row = pixels + y * inRow;
    BYTE* o = encoded.Data();
    for (DWORD p = 0; p < planes; ++p) {
      BYTE* d = plane.Data();
      for (uint64_t x = 0; x < width; ++x) d[x] = row[x * planes + p];
      o = EncodePlane(d, bytesPerLine, o);
    }
    if (!io.Write(encoded.Data(), static_cast<uint32_t>(o - encoded.Data()))) return Fail(error, IS_ERR_WRITE);
  }
  if (bits == 8) {
    BYTE tail[769];
    tail[0] = 12;
    for (int i = 0; i < 256; ++i) {
      tail[1 + 3 * i] = palette[i].rgbRed;
      tail[2 + 3 * i] = palette[i].rgbGreen;
      tail[3 + 3 * i] = palette[i].rgbBlue;
    }
    if (!io.Write(tail, sizeof tail)) return Fail(error, IS_ERR_WRITE);
  }
  uint32_t size = 0;
  return io.GetSize(&size) ? size : 0;
}

}  // namespace

DWORD WritePCX8(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height, const RGBQUAD* palette) {
  if (!palette) return Fail(error, IS_ERR_BADPARAM);
  return WritePCX(io, error, pixels, width, height, 8, palette);
}

DWORD WritePCX24(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height) {
  return WritePCX(io, error, pixels, width, height, 24, nullptr);
}
