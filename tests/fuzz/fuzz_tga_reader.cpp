// seeds: tga
// The TGA reader on arbitrary bytes: as stored, at 24, 32 and 8 bits, from a memory source.
// Pictures of more than a million pixels are skipped, so runs explore the file structure
// rather than memory.
#include <cstdint>
#include <cstdlib>

#include "qrv/imaging.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 18 || size > (1u << 20)) return 0;
  if (uint64_t{ReadLE16(data + 12)} * ReadLE16(data + 14) > (1u << 20)) return 0;
  ISIOHandle src = ISOpenMemorySource(data, static_cast<DWORD>(size));
  if (!src) return 0;
  RGBQUAD palette[256];
  const struct { DWORD bits, flags; } calls[] = {{0, IS_READ_AS_STORED}, {24, 0}, {32, 0}, {8, 0}};
  for (const auto& c : calls) {
    ISSeekSource(src, 0, IS_SEEK_SET);
    DWORD width = 0, height = 0;
    HGLOBAL image = ISReadTGA(src, &width, &height, c.bits, palette, c.flags);
    if (image) {
      const uint64_t bytes = uint64_t{width} * height * (c.bits / 8);
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
