// seeds: pcx
// The PCX reader on arbitrary bytes: at its own depth, at 24, 8 and 1 bits, from a memory
// source. Pictures of more than a million pixels are skipped, so runs explore the file
// structure rather than memory.
#include <cstdint>

#include "tests/fuzz/reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 128 || size > (1u << 20)) return 0;
  const int64_t w = int64_t{ReadLE16(data + 8)} - ReadLE16(data + 4) + 1;
  const int64_t h = int64_t{ReadLE16(data + 10)} - ReadLE16(data + 6) + 1;
  if (w > 0 && h > 0 && w * h > (1 << 20)) return 0;
  static const ReaderCall kCalls[] = {{0, IS_READ_AS_STORED}, {24, 0}, {8, 0}, {1, 0}};
  return FuzzReaderCalls(ISReadPCX, data, size, kCalls);
}
