// seeds: jpeg
// EXIF parser: the input is an EXIF marker record, or a JPEG whose APP1 "Exif" record is
// taken out first. Every read flag is tried, and the text of every tag in every list asked.
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/formats/exif/CISEXIFBase.h"
#include "qrv/imaging.h"

namespace {

// The APP1 "Exif" record of a JPEG (marker, length, payload), or the input itself.
std::vector<uint8_t> Record(const uint8_t* d, size_t n) {
  if (n > 4 && d[0] == 0xFF && d[1] == 0xD8) {
    size_t p = 2;
    while (p + 4 <= n && d[p] == 0xFF && d[p + 1] != 0xDA) {
      size_t len = (static_cast<size_t>(d[p + 2]) << 8) | d[p + 3];
      if (len < 2) break;
      size_t end = p + 2 + len < n ? p + 2 + len : n;
      if (d[p + 1] == 0xE1 && end - p >= 8 && std::memcmp(d + p + 4, "Exif", 4) == 0)
        return std::vector<uint8_t>(d + p, d + end);
      p += 2 + len;
    }
  }
  return std::vector<uint8_t>(d, d + n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> block = Record(data, size);
  if (block.empty()) block.push_back(0);
  const DWORD flags = size ? data[size - 1] & 7u : 7u;
  CISEXIFBase* exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), flags | 2u);
  if (exif) {
    for (const ISEXIFTagList& list : exif->lists) {
      for (size_t i = 0; i < list.Size() && i < 512; ++i) {
        HGLOBAL text = nullptr;
        DWORD length = 0;
        if (ISGetEXIFTagText(exif, list[i]->entry.tag, 63, &text, &length) && text) GlobalFree(text);
      }
    }
    ISReleaseEXIF(exif);
  }
  return 0;
}
