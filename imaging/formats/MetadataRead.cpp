// The metadata a read meets, kept for the caller: colour profile checks and the IPTC record and
// profile of Photoshop image resources.
#include "imaging/formats/MetadataRead.h"

#include <cstdio>

#include "imaging/formats/PSDFormat.h"

namespace {

ISThreadState* Record(DWORD kind) {
  if (kind < IS_META_ICC || kind > IS_META_EXIF) return nullptr;
  return GetThreadState();
}

}  // namespace

void ClearMetadataRead() {
  if (ISThreadState* ts = GetThreadState()) ts->metadataRead.Clear();
}

void KeepMetadataRead(DWORD kind, const uint8_t* data, uint64_t size) {
  ISThreadState* ts = Record(kind);
  if (!ts || !data || size == 0 || size > INT32_MAX) return;
  ISArray<unsigned char>& block = ts->metadataRead.blocks[kind - 1];
  if (!block.Assign(data, static_cast<uint32_t>(size))) block.Free();
}

void NoteMetadataLeftOut(DWORD kind, const char* why) {
  ISThreadState* ts = Record(kind);
  if (!ts || !why) return;
  std::string& note = ts->metadataRead.notes[kind - 1];
  if (note.empty()) note = why;
}

void KeepICCProfileRead(const uint8_t* data, uint64_t size, const char* where) {
  char why[200];
  if (!data || size < 128) {
    std::snprintf(why, sizeof why, "the %s holds %llu bytes, too few for an ICC profile", where,
                  static_cast<unsigned long long>(size));
  } else if (ReadBE32(data) != size) {
    std::snprintf(why, sizeof why, "the profile of the %s says it has %u bytes, but %llu are there", where,
                  static_cast<unsigned>(ReadBE32(data)), static_cast<unsigned long long>(size));
  } else if (data[36] != 'a' || data[37] != 'c' || data[38] != 's' || data[39] != 'p') {
    std::snprintf(why, sizeof why, "the %s holds no ICC profile (no \"acsp\" signature)", where);
  } else {
    KeepMetadataRead(IS_META_ICC, data, size);
    return;
  }
  NoteMetadataLeftOut(IS_META_ICC, why);
}

void KeepPhotoshopResourcesRead(const uint8_t* block, uint32_t size, bool iptc, bool profile) {
  if (!block || size == 0) return;
  CPhotoshopResources parser;
  parser.wanted = {0x0404, 1039};
  if (!parser.ParsePhotoshopResources(block, size, false)) return;
  // The first record of each kind is the one kept, as other readers show it.
  bool iptcKept = false, profileKept = false;
  for (const PSDResource& r : parser.records) {
    if (r.record.Count() < r.dataOffset + 4) continue;
    // The data's own size; the record pads it to an even count.
    const uint32_t length = ReadBE32(r.record.Data() + r.dataOffset - 4);
    if (length == 0 || length > r.record.Count() - r.dataOffset) continue;
    const uint8_t* data = r.record.Data() + r.dataOffset;
    if (r.id == 0x0404 && iptc && !iptcKept)
      KeepMetadataRead(IS_META_IPTC, data, length), iptcKept = true;
    else if (r.id == 1039 && profile && !profileKept)
      KeepICCProfileRead(data, length, "PSD profile resource"), profileKept = true;
  }
}
