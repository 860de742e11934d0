// Shared body of the fuzz targets for the readers called as
// (source, width, height, bits, palette, flags): each call reads the bytes from the start of
// a memory source; a returned picture has its first and last byte touched, and a failure must
// leave an error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "qrv/imaging.h"

struct ReaderCall {
  DWORD bits, flags;
};

using ReaderEntry = HGLOBAL (*)(ISIOHandle, DWORD*, DWORD*, DWORD, RGBQUAD*, DWORD);

template <size_t N>
int FuzzReaderCalls(ReaderEntry read, const uint8_t* data, size_t size, const ReaderCall (&calls)[N]) {
  ISIOHandle src = ISOpenMemorySource(data, static_cast<DWORD>(size));
  if (!src) return 0;
  RGBQUAD palette[256];
  for (const ReaderCall& c : calls) {
    ISSeekSource(src, 0, IS_SEEK_SET);
    DWORD width = 0, height = 0;
    HGLOBAL image = read(src, &width, &height, c.bits, palette, c.flags);
    if (image) {
      // Touch the first and last byte of the image the reader claims to have made.
      const uint64_t bytes = c.bits == 1 ? (width + 7) / 8 * uint64_t{height} : uint64_t{width} * height * (c.bits / 8);
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
