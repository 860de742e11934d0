// seeds: bmp
// The BMP reader on arbitrary bytes: as stored, at 24 and 32 bits and at 8 and 1 bits, from a
// memory source. Pictures of more than a million pixels are skipped, so runs explore the
// file structure rather than memory.
#include <cstdint>

#include "tests/fuzz/reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 26 || size > (1u << 20)) return 0;
  const bool os2 = data[14] == 12;
  const uint64_t w = os2 ? ReadLE16(data + 18) : ReadLE32(data + 18);
  const int64_t h = os2 ? ReadLE16(data + 20) : static_cast<int32_t>(ReadLE32(data + 22));
  if (w * static_cast<uint64_t>(h < 0 ? -h : h) > (1u << 20)) return 0;
  static const ReaderCall kCalls[] = {{0, IS_READ_AS_STORED}, {24, 0}, {32, 0}, {8, 0}, {1, 0}};
  return FuzzReaderCalls(ISReadBMP, data, size, kCalls);
}
