// Photoshop writers: single-layer 8-bit indexed, RGB and CMYK files with raw planar data and
// the thread's image resources. Errors: 1, 4, 5, 14.
#include <cstring>

#include "imaging/core/ISOpSupport.h"
#include "imaging/formats/PSDFormat.h"

namespace {

DWORD Fail(ISErrorCode& error, ISErrorCode code) {
  error = code;
  return 0;
}

DWORD WritePSD(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height, DWORD channels,
               DWORD mode, const RGBQUAD* palette, const ISArray<unsigned char>& resources) {
  if (!pixels || width == 0 || height == 0 || width > 30000 || height > 30000) return Fail(error, IS_ERR_BADPARAM);
  BYTE head[26 + 4 + 768 + 4] = {};
  std::memcpy(head, "8BPS", 4);
  WriteBE16(head + 4, 1);
  WriteBE16(head + 12, static_cast<WORD>(channels));
  WriteBE32(head + 14, height);
  WriteBE32(head + 18, width);
  WriteBE16(head + 22, 8);
  WriteBE16(head + 24, static_cast<WORD>(mode));
  uint32_t n = 26;
  if (palette) {
    WriteBE32(head + n, 768);
    for (int i = 0; i < 256; ++i) {
      head[n + 4 + i] = palette[i].rgbRed;
      head[n + 4 + 256 + i] = palette[i].rgbGreen;
      head[n + 4 + 512 + i] = palette[i].rgbBlue;
    }
    n += 4 + 768;
  } else {
    n += 4;  // colour-mode data length 0
  }
  WriteBE32(head + n, resources.Count());
  n += 4;
  if (!io.Write(head, n)) return Fail(error, IS_ERR_WRITE);
  if (resources.Count() && !io.Write(resources.Data(), resources.Count())) return Fail(error, IS_ERR_WRITE);
  const BYTE tail[6] = {0, 0, 0, 0, 0, 0};  // layer-and-mask length 0, compression 0 (raw)
  if (!io.Write(tail, sizeof tail)) return Fail(error, IS_ERR_WRITE);
  ISArray<BYTE> row;
  if (!ResizeScratch(row, width)) return Fail(error, IS_ERR_NOMEM);
  const uint64_t rows = uint64_t{height} * channels;
  for (DWORD ch = 0; ch < channels; ++ch) {
    for (uint64_t y = 0; y < height; ++y) {
      if (!ProgressOrStop(error, ch * uint64_t{height} + y, rows)) return 0;
      const BYTE* s = pixels + y * width * channels + ch;
      BYTE* d = row.Data();
      for (uint64_t x = 0; x < width; ++x, s += channels) d[x] = *s;
      if (!io.Write(d, width)) return Fail(error, IS_ERR_WRITE);
    }
  }
  uint32_t size = 0;
  return io.GetSize(&size) ? size : 0;
}

}  // namespace

DWORD WritePSD8(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height, const RGBQUAD* palette,
                const ISArray<unsigned char>& resources) {
  if (!palette) return Fail(error, IS_ERR_BADPARAM);
  return WritePSD(io, error, pixels, width, height, 1, 2, palette, resources);
}

DWORD WritePSD24(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height,
                 const ISArray<unsigned char>& resources) {
  return WritePSD(io, error, pixels, width, height, 3, 3, nullptr, resources);
}

DWORD WritePSD32(CISIO& io, ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height,
                 const ISArray<unsigned char>& resources) {
  return WritePSD(io, error, pixels, width, height, 4, 4, nullptr, resources);
}
