// seeds: psd
// The PSD reader on arbitrary bytes: as stored (with and without the CMYK flag), at 24, 32
// and 8 bits, from a memory source; then the image-resource parser on the same bytes.
// Pictures of more than a million pixels are skipped, so runs explore the file structure
// rather than memory.
#include <cstdint>

#include "imaging/formats/PSDFormat.h"
#include "tests/fuzz/reader_fuzz.h"

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
  static const ReaderCall kCalls[] = {{0, IS_READ_AS_STORED}, {0, IS_READ_AS_STORED | 4}, {24, 0}, {32, 4}, {8, 0}};
  return FuzzReaderCalls(ISReadPSD, data, size, kCalls);
}
