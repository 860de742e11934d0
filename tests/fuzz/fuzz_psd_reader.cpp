// seeds: psd
// The PSD reader on arbitrary bytes: as stored (with and without the CMYK flag), at 24, 32
// and 8 bits, from a memory source; then the image-resource parser on the same bytes.
// Pictures of more than a million pixels are skipped, so runs explore the file structure
// rather than memory.
#include <cstdint>
#include <cstdlib>

#include "imaging/formats/PSDFormat.h"
#include "qrv/imaging.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  CPhotoshopResources parser;
  if (parser.ParsePhotoshopResources(data, static_cast<uint32_t>(size), true)) {
    if (parser.records.empty()) std::abort();
    for (const PSDResource& r : parser.records)
      if (r.dataOffset > r.record.Count()) std::abort();
  }
  if (size < 26) return 0;
  if (uint64_t{ReadBE32(data + 14)} * ReadBE32(data + 18) > (1u << 20)) return 0;
  ISIOHandle src = ISOpenMemorySource(data, static_cast<DWORD>(size));
  if (!src) return 0;
  RGBQUAD palette[256];
  const struct { DWORD bits, flags; } calls[] = {{0, IS_READ_AS_STORED}, {0, IS_READ_AS_STORED | 4}, {24, 0}, {32, 4}, {8, 0}};
  for (const auto& c : calls) {
    ISSeekSource(src, 0, IS_SEEK_SET);
    DWORD width = 0, height = 0;
    HGLOBAL image = ISReadPSD(src, &width, &height, c.bits, palette, c.flags);
    if (image) {
      const uint64_t bytes = uint64_t{width} * height * (c.bits / 8);
      volatile uint8_t sink = 0;
      if (!(c.flags & IS_READ_AS_STORED) && bytes)
        sink = static_cast<uint8_t*>(image)[0] ^ static_cast<uint8_t*>(image)[bytes - 1];
      (void)sink;
      GlobalFree(image);
    } else if (ISGetLastError() == IS_ERR_OK) {
      std::abort();  // a failure must leave its code
    }
  }
  ISCloseSource(src);
  return 0;
}
