// seeds: metafile
// The metafile reader on arbitrary bytes: the bytes are copied to a temporary file (the reader
// takes a file name) and rendered at a requested 64 x 48 pixels, as R, G, B rows and as a packed
// DIB, so runs explore the records rather than the picture size.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "qrv/imaging.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  char path[] = "/tmp/qrv_fuzz_metafile_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 0;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  if (done == size) {
    for (DWORD flags : {1u, 3u}) {
      DWORD width = 0, height = 0;
      HGLOBAL image = ISReadMetafile(path, &width, &height, 64, 48, 0x808080, flags);
      if (image) {
        if (flags == 1 && (width != 64 || height != 48)) std::abort();
        volatile uint8_t sink = static_cast<uint8_t*>(image)[0];
        (void)sink;
        GlobalFree(image);
      } else if (ISGetLastError() == IS_ERR_OK) {
        std::abort();  // a failure must leave its code
      }
    }
  }
  unlink(path);
  return 0;
}
