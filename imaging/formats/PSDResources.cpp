// Photoshop image-resource blocks: {"8BIM", id, Pascal name, data size, data} records parsed
// into a list, all of them or only wanted ids, and found again by id. Errors: 5, 67.
#include <algorithm>
#include <cstring>

#include "imaging/formats/PSDFormat.h"

BOOL CPhotoshopResources::ParsePhotoshopResources(const BYTE* block, uint32_t size, bool keepAll) {
  error = IS_ERR_OK;
  records.clear();
  cutId = 0;
  cutClaimed = cutHeld = 0;
  if (!block) return error = IS_ERR_BADPARAM, FALSE;
  if (size < 5) return error = IS_ERR_PSDRESOURCE, FALSE;
  const uint64_t end = size;
  uint64_t pos = 0;
  size_t good = 0;
  bool badField = false;
  for (;;) {
    // The next signature, searched byte by byte.
    while (pos + 4 <= end && std::memcmp(block + pos, "8BIM", 4) != 0) ++pos;
    if (pos + 4 > end) break;
    const uint64_t start = pos;
    pos += 4;
    if (pos + 2 > end) { badField = true; break; }
    const uint16_t id = ReadBE16(block + pos);
    pos += 2;
    if (pos + 1 > end) { badField = true; break; }
    const uint64_t nameLength = block[pos];
    const uint64_t nameField = nameLength == 0 ? 2 : ((1 + nameLength + 1) & ~uint64_t{1});
    if (pos + nameField > end) { badField = true; break; }
    std::string name(reinterpret_cast<const char*>(block + pos + 1), nameLength);
    pos += nameField;
    if (pos + 4 > end) { badField = true; break; }
    const uint64_t dataSize = (uint64_t{ReadBE32(block + pos)} + 1) & ~uint64_t{1};
    pos += 4;
    if (pos + dataSize > end) {  // a resource running past the block ends the scan
      cutId = id;
      cutClaimed = ReadBE32(block + pos - 4);
      cutHeld = end - pos;
      break;
    }
    const uint64_t dataOffset = pos - start;
    pos += dataSize;
    ++good;
    if (keepAll || std::find(wanted.begin(), wanted.end(), id) != wanted.end()) {
      PSDResource r;
      r.id = id;
      r.dataOffset = static_cast<uint32_t>(dataOffset);
      r.name = std::move(name);
      if (!r.record.Assign(block + start, static_cast<uint32_t>(pos - start))) return error = IS_ERR_NOMEM, FALSE;
      records.push_back(std::move(r));
    }
  }
  if (badField || good == 0) return error = IS_ERR_PSDRESOURCE, FALSE;
  return TRUE;
}

const PSDResource* CPhotoshopResources::FindResource(uint16_t id) {
  for (const PSDResource& r : records)
    if (r.id == id) return &r;
  error = IS_ERR_BADPARAM;
  return nullptr;
}
