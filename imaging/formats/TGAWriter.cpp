// Truevision TGA writers: uncompressed 8-bit colour-mapped, 24-bit and 32-bit files with the
// top row first. Errors: 1, 4, 5, 14.
#include <cstring>

#include "imaging/core/ISContainers.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/formats/TGAFormat.h"

namespace {

DWORD Fail(ISErrorCode& error, ISErrorCode code) {
  error = code;
  return 0;
}

DWORD WriteTGA(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
               const RGBQUAD* palette) {
  if (!pixels || width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF || (bits == 8 && !palette))
    return Fail(error, IS_ERR_BADPARAM);
  BYTE head[18 + 768] = {};
  uint32_t headBytes = 18;
  if (bits == 8) {
    head[1] = 1;  // colour map present
    head[2] = 1;  // colour-mapped
    WriteLE16(head + 5, 256);
    head[7] = 24;
    head[17] = 0x28;
    for (int i = 0; i < 256; ++i) {
      head[18 + 3 * i] = palette[i].rgbBlue;
      head[19 + 3 * i] = palette[i].rgbGreen;
      head[20 + 3 * i] = palette[i].rgbRed;
    }
    headBytes += 768;
  } else {
    head[2] = 2;  // true colour
    head[17] = 0x20;
  }
  WriteLE16(head + 12, static_cast<WORD>(width));
  WriteLE16(head + 14, static_cast<WORD>(height));
  head[16] = static_cast<BYTE>(bits);
  if (!io.Write(head, headBytes)) return Fail(error, IS_ERR_WRITE);
  const uint64_t bpp = bits / 8, rowBytes = uint64_t{width} * bpp;
  ISArray<BYTE> row;
  if (!ResizeScratch(row, rowBytes)) return Fail(error, IS_ERR_NOMEM);
  for (uint64_t y = 0; y < height; ++y) {
    if (!ProgressOrStop(error, y, height)) return 0;
    const BYTE* s = pixels + y * rowBytes;
    std::memcpy(row.Data(), s, rowBytes);
    if (bpp > 1)
      for (BYTE* d = row.Data(); d < row.Data() + rowBytes; d += bpp) std::swap(d[0], d[2]);
    if (!io.Write(row.Data(), static_cast<uint32_t>(rowBytes))) return Fail(error, IS_ERR_WRITE);
  }
  uint32_t size = 0;
  return io.GetSize(&size) ? size : 0;
}

}  // namespace

DWORD WriteTGA8(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height, const RGBQUAD* palette) {
  return WriteTGA(io, error, pixels, width, height, 8, palette);
}

DWORD WriteTGA24(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height) {
  return WriteTGA(io, error, pixels, width, height, 24, nullptr);
}

DWORD WriteTGA32(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height) {
  return WriteTGA(io, error, pixels, width, height, 32, nullptr);
}
