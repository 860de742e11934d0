// The colour profile (34675), IPTC record (33723, else resource 0x0404 of the Photoshop tag
// 34377) and XMP packet (700) of a TIFF directory, read from the file's own bytes whatever
// field type the writer gave them, for ISGetReadMetadata.
#include <algorithm>
#include <vector>

#include "imaging/formats/MetadataRead.h"
#include "imaging/formats/tiff/TIFFRead.h"

namespace {

uint64_t Get(const uint8_t* p, int bytes, bool bigEndian) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint64_t{p[bigEndian ? i : bytes - 1 - i]} << (8 * (bytes - 1 - i));
  return v;
}

uint64_t TypeSize(uint64_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: case 16: case 17: case 18: return 8;
    default: return 0;
  }
}

bool ReadAt(CISIO& source, uint64_t offset, uint64_t size, uint8_t* out) {
  if (offset > INT32_MAX || size > UINT32_MAX) return false;
  return source.Seek(static_cast<int32_t>(offset), IS_SEEK_SET) && source.ReadExact(out, static_cast<uint32_t>(size));
}

}  // namespace

void KeepTIFFMetadataTags(CISIO& source, uint64_t directory, bool bigEndian, bool bigTiff) {
  uint32_t fileSize = 0;
  if (!source.GetSize(&fileSize)) return;
  const int countBytes = bigTiff ? 8 : 2, entryBytes = bigTiff ? 20 : 12, valueBytes = bigTiff ? 8 : 4;
  uint8_t head[8];
  if (directory + countBytes > fileSize || !ReadAt(source, directory, countBytes, head)) return;
  const uint64_t count = Get(head, countBytes, bigEndian);
  if (count == 0 || count > (fileSize - directory - countBytes) / entryBytes) return;
  std::vector<uint8_t> entries(count * entryBytes), photoshop;
  bool iptcTag = false;
  if (!ReadAt(source, directory + countBytes, entries.size(), entries.data())) return;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* e = entries.data() + i * entryBytes;
    const uint64_t tag = Get(e, 2, bigEndian);
    if (tag != 700 && tag != 33723 && tag != 34675 && tag != 34377) continue;
    const uint64_t size = TypeSize(Get(e + 2, 2, bigEndian));
    const uint64_t n = Get(e + 4, bigTiff ? 8 : 4, bigEndian);
    if (size == 0 || n == 0 || n > fileSize / size) continue;
    const uint64_t bytes = n * size;
    const uint8_t* field = e + (bigTiff ? 12 : 8);
    std::vector<uint8_t> data(bytes);
    if (bytes <= static_cast<uint64_t>(valueBytes)) {
      std::copy(field, field + bytes, data.begin());
    } else {
      const uint64_t offset = Get(field, valueBytes, bigEndian);
      if (offset > fileSize || bytes > fileSize - offset || !ReadAt(source, offset, bytes, data.data())) continue;
    }
    if (tag == 34675)
      KeepICCProfileRead(data.data(), bytes, "TIFF profile tag");
    else if (tag == 34377)
      photoshop.swap(data);
    else
      KeepMetadataRead(tag == 700 ? IS_META_XMP : IS_META_IPTC, data.data(), bytes);
    iptcTag = iptcTag || tag == 33723;
  }
  if (!iptcTag && !photoshop.empty())
    KeepPhotoshopResourcesRead(photoshop.data(), static_cast<uint32_t>(photoshop.size()), true, false);
}
