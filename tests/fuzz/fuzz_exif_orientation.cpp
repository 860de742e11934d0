// seeds: jpeg/exif jpeg/orientation
// The output writer's fitting of a carried EXIF block on arbitrary bytes: from the first
// "Exif\0\0" of the input on (a whole JPEG seed), or the input itself. The Orientation fix-up,
// then the pixel size and the IFD1 thumbnail made again from a small picture for an orientation
// picked from the input's length, or the block or its thumbnail left out.
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

  // A fitted block is one marker's payload, or none.
  const int orientation = 1 + static_cast<int>(size % 8);
  std::vector<BYTE> pixels(64 * 48 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<BYTE>(i * 7);
  FitExifToOutput(payload, pixels.data(), 64, 48, orientation, 64 * 48);
  if (payload.size() > kMaxExifPayload) std::abort();
  return 0;
}
