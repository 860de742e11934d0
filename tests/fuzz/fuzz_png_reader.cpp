// seeds: png
// Fuzz target of the PNG reader: every requested depth, as stored and with gamma, on the input
// as given and with its chunk CRCs made good (so that mutations reach the chunk parsers and
// the image data instead of stopping at the first CRC check). Pictures are capped at 1024
// pixels a side and 2^18 pixels in all.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/global_memory.h"
#include "qrv/imaging.h"

namespace {

uint32_t Get32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

bool SizeAllowed(const std::vector<uint8_t>& png) {
  if (png.size() < 24) return true;  // libpng stops before any image size is known
  const uint32_t w = Get32(&png[16]), h = Get32(&png[20]);
  return w <= 1024 && h <= 1024 && uint64_t{w} * h <= (1u << 18);
}

void FixCRCs(std::vector<uint8_t>& png) {
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t n = Get32(&png[at]);
    if (n > png.size() - at - 12) break;
    const uLong crc = crc32(0, &png[at + 4], n + 4);
    for (int i = 0; i < 4; ++i) png[at + 8 + n + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    at += 12 + n;
  }
}

void ReadAll(const std::vector<uint8_t>& png) {
  static const struct {
    DWORD bits, flags;
  } kReads[] = {{1, 0}, {8, 0}, {16, 0}, {16, 4}, {24, 0}, {24, 1}, {32, 0}, {48, 0}, {64, 0}, {0, 2}};
  RGBQUAD palette[256];
  for (const auto& r : kReads) {
    ISIOHandle src = ISOpenMemorySource(png.data(), static_cast<DWORD>(png.size()));
    if (!src) return;
    DWORD w = 0, h = 0;
    HGLOBAL image = ISReadPNG(src, &w, &h, r.bits, palette, r.flags);
    if (image) GlobalFree(image);
    ISCloseSource(src);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> png(data, data + size);
  if (!SizeAllowed(png)) return 0;
  ReadAll(png);
  FixCRCs(png);
  ReadAll(png);
  return 0;
}
