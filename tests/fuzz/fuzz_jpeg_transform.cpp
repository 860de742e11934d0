// seeds: jpeg/exif jpeg/makernotes
// Fuzz target of the lossless JPEG transform: one operation with its flags (picked from the
// input's length), a crop rectangle from the last bytes, for pictures of at most 1 megapixel so
// that the target explores structure rather than memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "qrv/imaging.h"

namespace {

constexpr DWORD kModes[] = {0, 1, 2, 3 | 0x200, 4, 5, 6 | 0x400, 7 | 0x100, 8, 8 | 0x100 | 0x400, 5 | 0x200 | 0x100};
constexpr uint64_t kMaxPixels = 1u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > (1u << 22)) return 0;
  ISIOHandle src = ISOpenMemorySource(data, static_cast<DWORD>(size));
  if (!src) return 0;
  DWORD width = 0, height = 0, bits = 0, colourSpace = 0, coding = 0;
  const BOOL info = ISGetJPGInfo(src, &width, &height, &bits, nullptr, &colourSpace, &coding);
  ISCloseSource(src);
  if (!info || uint64_t{width} * height > kMaxPixels) return 0;

  const DWORD mode = kModes[size % (sizeof kModes / sizeof kModes[0])];
  const int32_t x = static_cast<int8_t>(data[size - 1]);
  const int32_t y = static_cast<int8_t>(data[size - 2]);
  const uint32_t w = data[size - 3], h = data[size - 4];

  std::vector<uint8_t> out(size * 4 + 65536);
  src = ISOpenMemorySource(data, static_cast<DWORD>(size));
  ISIOHandle sink = ISOpenMemorySink(out.data(), static_cast<DWORD>(out.size()), 0);
  if (src && sink) {
    const BOOL ok = ISTransformJPG(src, sink, mode, x, y, w, h);
    const ISErrorCode error = ISGetLastError();
    DWORD written = 0;
    ISGetSourceSize(sink, &written);
    // Success writes a stream; a failure is 9 and writes nothing, unless the sink ran full
    // while the finished stream went out in its 4096-byte pieces.
    const bool sinkFull = written + 4096 > out.size();
    if (ok && (error != IS_ERR_OK || written < 4)) std::abort();
    if (!ok && (error != IS_ERR_BADJPEG || (written != 0 && !sinkFull))) std::abort();
  }
  if (src) ISCloseSource(src);
  if (sink) ISCloseSink(sink);
  return 0;
}
