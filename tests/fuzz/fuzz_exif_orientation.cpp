// seeds: jpeg/exif jpeg/orientation
// The output writer's fitting of a carried EXIF block on arbitrary bytes: from the first
// "Exif\0\0" of the input on (a whole JPEG seed), or the input itself. The Orientation fix-up,
// then the pixel size and the IFD1 thumbnail turned for an orientation picked from the input's
// length through the library's lossless transform, or left out.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/OutputWriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  static const uint8_t kTag[6] = {'E', 'x', 'i', 'f', 0, 0};
  size_t start = 0;
  for (size_t i = 0; i + 6 <= size; ++i) {
    if (std::memcmp(data + i, kTag, 6) == 0) {
      start = i;
      break;
    }
  }
  std::vector<BYTE> payload(data + start, data + size);
  const std::vector<BYTE> before = payload;
  SetExifOrientationUpright(payload);
  // Only ever two bytes of one entry change, and the length never does.
  if (payload.size() != before.size()) std::abort();
  size_t changed = 0;
  for (size_t i = 0; i < payload.size(); ++i) changed += payload[i] != before[i];
  if (changed > 2) std::abort();

  // A fitted block grows only by a turned thumbnail, and stays one marker's payload then.
  const int orientation = 2 + static_cast<int>(size % 7);
  FitExifToOutput(payload, 640, 480, orientation, 640 * 480);
  if (payload.size() > before.size() && payload.size() > 65533) std::abort();
  return 0;
}
