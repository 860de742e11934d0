// seeds: tiff
// The TIFF reader on arbitrary bytes: page information, then each of the first pages read at
// every depth, as stored and as raw CMYK. Pages larger than 256 K pixels are only asked for
// their information, so the target explores structure rather than memory. The camera data a
// read kept is written into a small TIFF and read back from it.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/global_memory.h"
#include "qrv/imaging.h"

namespace {

// The kept EXIF block, at most one JPEG marker's payload, written with a 1 x 1 page and kept
// again when that page is read.
void CarryExifBlock() {
  HGLOBAL block = nullptr;
  DWORD length = 0;
  if (!ISGetReadMetadata(IS_META_EXIF, &block, &length) || !block) return;
  if (length > 65533) std::abort();
  ISSetWriteMetadata(IS_META_EXIF, static_cast<const BYTE*>(block), length);
  GlobalFree(block);
  std::vector<BYTE> out(256 << 10);
  const BYTE pixel[3] = {1, 2, 3};
  ISIOHandle sink = ISOpenMemorySink(out.data(), static_cast<DWORD>(out.size()), 0);
  const BOOL written = sink && ISWriteTIFF(sink, pixel, 1, 1, 24, nullptr, 1, nullptr, 0);
  if (sink) ISCloseSink(sink);
  ISSetWriteMetadata(IS_META_EXIF, nullptr, 0);
  if (!written) return;
  ISIOHandle again = ISOpenMemorySource(out.data(), static_cast<DWORD>(out.size()));
  DWORD w = 0, h = 0;
  if (HGLOBAL image = again ? ISReadTIFF(again, &w, &h, 24, nullptr, 0, 0) : nullptr) GlobalFree(image);
  if (again) ISCloseSource(again);
  if (ISGetReadMetadata(IS_META_EXIF, &block, &length) && block) GlobalFree(block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (4u << 20)) return 0;
  ISIOHandle source = ISOpenMemorySource(data, static_cast<DWORD>(size));
  if (!source) return 0;
  static const struct {
    DWORD bits, flags;
  } kReads[] = {{24, 0}, {32, 4}, {8, 0}, {1, 0}, {16, 0}, {16, 32}, {0, 2}, {24, 1}};
  for (DWORD page = 0; page < 4; ++page) {
    DWORD width = 0, height = 0, bpp = 0;
    ISResolution resolution{};
    if (!ISGetTIFFInfo(source, page, &width, &height, &bpp, &resolution)) break;
    if (width == 0 || height == 0 || uint64_t{width} * height > (256u << 10)) continue;
    for (const auto& read : kReads) {
      RGBQUAD palette[256];
      DWORD w = 0, h = 0;
      HGLOBAL image = ISReadTIFF(source, &w, &h, read.bits, palette, page, read.flags);
      if (!image) continue;
      // A returned picture holds at least its rows.
      uint64_t rowBytes = read.bits == 1 ? (w + 7) / 8 : uint64_t{w} * read.bits / 8;
      if (read.flags & 2) rowBytes = 0;
      if ((read.flags & 32) != 0) rowBytes = (uint64_t{w} + 1) / 2 * 4;
      if (w == 0 || h == 0 || GlobalSize(image) < rowBytes * h) std::abort();
      GlobalFree(image);
      if (page == 0 && read.bits == 24 && read.flags == 0) CarryExifBlock();
    }
  }
  ISCloseSource(source);
  return 0;
}
