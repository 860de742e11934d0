// seeds: tga
// The TGA reader on arbitrary bytes: as stored, at 24, 32 and 8 bits, from a memory source.
// Pictures of more than a million pixels are skipped, so runs explore the file structure
// rather than memory.
#include <cstdint>

#include "tests/fuzz/reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 18 || size > (1u << 20)) return 0;
  if (uint64_t{ReadLE16(data + 12)} * ReadLE16(data + 14) > (1u << 20)) return 0;
  static const ReaderCall kCalls[] = {{0, IS_READ_AS_STORED}, {24, 0}, {32, 0}, {8, 0}};
  return FuzzReaderCalls(ISReadTGA, data, size, kCalls);
}
