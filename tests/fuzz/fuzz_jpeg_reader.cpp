// seeds: jpeg/exif jpeg/makernotes
// Fuzz target of the JPEG reader: the header information, then a full read at one of the
// depths and flag sets (picked from the input's length), for pictures of at most 1 megapixel
// after scaling so that the target explores structure rather than memory.
#include <cstddef>
#include <cstdint>

#include "platform/global_memory.h"
#include "qrv/imaging.h"

namespace {

struct Request {
  DWORD bits;
  DWORD flags;
  DWORD scaleDen;
};
constexpr Request kRequests[] = {
    {24, 0, 1}, {8, 0, 1},  {32, 1, 1}, {24, 2, 1}, {24, 4, 1},
    {24, 8, 2}, {8, 2, 4},  {24, 16, 8}, {32, 3, 1}, {24, 1, 1},
};
constexpr uint64_t kMaxPixels = 1u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 22)) return 0;
  ISIOHandle src = ISOpenMemorySource(data, static_cast<DWORD>(size));
  if (!src) return 0;
  DWORD width = 0, height = 0, bits = 0, colourSpace = 0, coding = 0;
  ISResolution res{};
  const BOOL info = ISGetJPGInfo(src, &width, &height, &bits, &res, &colourSpace, &coding);
  ISCloseSource(src);
  if (!info || uint64_t{width} * height > kMaxPixels) return 0;
  // The colour profile, IPTC record and XMP packets the header's markers gave.
  for (DWORD kind = IS_META_ICC; kind <= IS_META_XMP_EXTENDED; ++kind) {
    HGLOBAL block = nullptr;
    DWORD length = 0;
    if (ISGetReadMetadata(kind, &block, &length)) GlobalFree(block);
    ISGetReadMetadataNote(kind);
  }
  if (ISGetJPGMarkerCount() > 0) {
    HGLOBAL marker = nullptr;
    DWORD length = 0, code = 0;
    if (ISGetJPGMarker(0, &marker, &length, &code)) GlobalFree(marker);
  }

  const Request& r = kRequests[size % (sizeof kRequests / sizeof kRequests[0])];
  ISSetJPGReadScale(1, r.scaleDen);
  src = ISOpenMemorySource(data, static_cast<DWORD>(size));
  if (!src) return 0;
  HGLOBAL image = ISReadJPG(src, &width, &height, r.bits, r.flags);
  ISCloseSource(src);
  ISSetJPGReadScale(1, 1);
  if (image) GlobalFree(image);
  return 0;
}
