// The output writer's fitting of a carried XMP packet on arbitrary bytes: from the first
// "<x:xmpmeta" or "<?xpacket" of the input on (a whole JPEG seed), or the input itself, turned
// and resized as picked from the input's length. A packet that is fitted must still be fitted
// the same way a second time (the fitting finds what it wrote).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/OutputMetadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::string packet(reinterpret_cast<const char*>(data), size);
  size_t start = packet.find("<?xpacket");
  if (start == std::string::npos) start = packet.find("<x:xmpmeta");
  if (start != std::string::npos) packet.erase(0, start);
  const bool turned = size % 2 == 1, setSize = size % 3 != 0;
  std::string why;
  if (!FitXmpToOutput(packet, turned, setSize, 640, 480, &why)) {
    if (why.empty()) std::abort();
    return 0;
  }
  std::string again = packet;
  if (!FitXmpToOutput(again, turned, setSize, 640, 480, &why) || again != packet) std::abort();
  return 0;
}
