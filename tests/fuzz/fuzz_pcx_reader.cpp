// seeds: pcx
// The PCX reader on arbitrary bytes: at its own depth, at 24, 8 and 1 bits, from a memory
// source. Pictures of more than a million pixels are skipped, so runs explore the file
// structure rather than memory.
#include <cstdint>
#include <cstdlib>

#include "qrv/imaging.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 128 || size > (1u << 20)) return 0;
  const int64_t w = int64_t{ReadLE16(data + 8)} - ReadLE16(data + 4) + 1;
  const int64_t h = int64_t{ReadLE16(data + 10)} - ReadLE16(data + 6) + 1;
  if (w > 0 && h > 0 && w * h > (1 << 20)) return 0;
  ISIOHandle src = ISOpenMemorySource(data, static_cast<DWORD>(size));
  if (!src) return 0;
  RGBQUAD palette[256];
  const struct { DWORD bits, flags; } calls[] = {{0, IS_READ_AS_STORED}, {24, 0}, {8, 0}, {1, 0}};
  for (const auto& c : calls) {
    DWORD width = 0, height = 0;
    HGLOBAL image = ISReadPCX(src, &width, &height, c.bits, palette, c.flags);
    if (image) {
      const uint64_t bytes = c.bits == 1 ? (width + 7) / 8 * uint64_t{height} : uint64_t{width} * height * (c.bits / 8);
      volatile uint8_t sink = 0;
      if (!c.flags && bytes) sink = static_cast<uint8_t*>(image)[0] ^ static_cast<uint8_t*>(image)[bytes - 1];
      (void)sink;
      GlobalFree(image);
    } else if (ISGetLastError() == IS_ERR_OK) {
      std::abort();  // a failure must leave its code
    }
  }
  ISCloseSource(src);
  return 0;
}
