// The metadata a read meets, kept for the caller: colour profile checks, the IPTC record, profile
// and XMP packet of Photoshop image resources, and the GUID an XMP packet names its extension by.
#include "imaging/formats/MetadataRead.h"

#include <cctype>
#include <cstdio>
#include <string>

#include "imaging/formats/PSDFormat.h"
#include "platform/gdi_font_face.h"

namespace {

ISThreadState* Record(DWORD kind) {
  if (kind < IS_META_ICC || kind > IS_META_EXIF) return nullptr;
  return GetThreadState();
}

// An XMP packet in UTF-16, which JPEG files must not hold and XML readers of UTF-8 cannot read,
// made UTF-8: the byte-order mark dropped (the packet's begin attribute keeps its own one, now
// in UTF-8) and an encoding="UTF-16" of its leading declarations made "UTF-8". Returns false
// when the packet is UTF-8 already; false with *why set when its UTF-16 is broken.
bool XmpToUtf8(const uint8_t* data, uint64_t size, std::string* utf8, std::string* why) {
  bool big = false;
  uint64_t at = 0;
  if (size >= 2 && ((data[0] == 0xFE && data[1] == 0xFF) || (data[0] == 0xFF && data[1] == 0xFE))) {
    big = data[0] == 0xFE;
    at = 2;
  } else if (size >= 2 && ((data[0] == 0 && data[1] == '<') || (data[0] == '<' && data[1] == 0))) {
    big = data[0] == 0;
  } else {
    return false;
  }
  if (size % 2 != 0) {
    *why = "its UTF-16 text has an odd number of bytes (" + std::to_string(size) + ")";
    return false;
  }
  std::u32string text;
  text.reserve((size - at) / 2);
  const auto unit = [&](uint64_t i) -> char32_t {
    return big ? (data[i] << 8) | data[i + 1] : (data[i + 1] << 8) | data[i];
  };
  for (uint64_t i = at; i < size; i += 2) {
    const char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < size && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
      text.push_back(0x10000 + ((u - 0xD800) << 10) + (unit(i + 2) - 0xDC00));
      i += 2;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      char where[96];
      std::snprintf(where, sizeof where, "its UTF-16 text holds a lone surrogate (0x%04X at byte %llu)",
                    static_cast<unsigned>(u), static_cast<unsigned long long>(i));
      *why = where;
      return false;
    } else {
      text.push_back(u);
    }
  }
  *utf8 = GdiEncodeUtf8(text);
  // The declarations before the first element: <?xpacket ...?>, <?xml ... encoding="UTF-16"?>.
  std::string& t = *utf8;
  size_t pos = 0;
  for (;;) {
    while (pos < t.size() && std::isspace(static_cast<unsigned char>(t[pos]))) ++pos;
    if (t.compare(pos, 2, "<?") != 0) break;
    const size_t end = t.find("?>", pos);
    if (end == std::string::npos) break;
    size_t e = t.find("encoding", pos);
    if (e != std::string::npos && e < end) {
      e += 8;
      while (e < end && (t[e] == ' ' || t[e] == '=' || t[e] == '\t')) ++e;
      const size_t close = e < end && (t[e] == '"' || t[e] == '\'') ? t.find(t[e], e + 1) : std::string::npos;
      if (close != std::string::npos && close < end && close - e - 1 >= 6) {
        std::string value = t.substr(e + 1, close - e - 1);
        for (char& c : value) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (value.compare(0, 6, "UTF-16") == 0) t.replace(e + 1, close - e - 1, "UTF-8");
      }
    }
    pos = t.find("?>", pos) + 2;
  }
  return true;
}

}  // namespace

void ClearMetadataRead() {
  if (ISThreadState* ts = GetThreadState()) ts->metadataRead.Clear();
}

void KeepMetadataRead(DWORD kind, const uint8_t* data, uint64_t size) {
  ISThreadState* ts = Record(kind);
  if (!ts || !data || size == 0 || size > INT32_MAX) return;
  // XMP is kept in UTF-8, the one encoding every output can hold it in.
  std::string utf8, why;
  if ((kind == IS_META_XMP || kind == IS_META_XMP_EXTENDED) && XmpToUtf8(data, size, &utf8, &why)) {
    if (utf8.empty() || utf8.size() > INT32_MAX) return;
    data = reinterpret_cast<const uint8_t*>(utf8.data());
    size = utf8.size();
  } else if (!why.empty()) {
    NoteMetadataLeftOut(kind, why.c_str());
    return;
  }
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

void KeepPhotoshopResourcesRead(const uint8_t* block, uint32_t size, bool iptc, bool profile, bool xmp) {
  if (!block || size == 0) return;
  CPhotoshopResources parser;
  parser.wanted = {0x0404, 1039, 1060};
  const bool parsed = parser.ParsePhotoshopResources(block, size, false);
  // A resource asked for that runs past the block is named as left out, with what it claims.
  const DWORD cutKind = parser.cutId == 0x0404 && iptc ? IS_META_IPTC
                        : parser.cutId == 1039 && profile ? IS_META_ICC
                        : parser.cutId == 1060 && xmp     ? IS_META_XMP
                                                          : 0;
  if (cutKind) {
    char why[160];
    std::snprintf(why, sizeof why, "its Photoshop resource %u claims %llu bytes, but the block holds %llu of them",
                  static_cast<unsigned>(parser.cutId), static_cast<unsigned long long>(parser.cutClaimed),
                  static_cast<unsigned long long>(parser.cutHeld));
    NoteMetadataLeftOut(cutKind, why);
  }
  if (!parsed) return;
  // The first record of each kind is the one kept, as other readers show it.
  bool iptcKept = false, profileKept = false, xmpKept = false;
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
    else if (r.id == 1060 && xmp && !xmpKept)
      KeepMetadataRead(IS_META_XMP, data, length), xmpKept = true;
  }
}

std::string XMPExtendedGUID(const uint8_t* packet, size_t size) {
  constexpr size_t kDigits = 32;
  if (!packet) return {};
  const std::string text(reinterpret_cast<const char*>(packet), size);
  const size_t at = text.find("HasExtendedXMP");
  if (at == std::string::npos) return {};
  size_t p = at + 14;
  // Attribute ="GUID" or element >GUID<.
  while (p < text.size() && (text[p] == ' ' || text[p] == '=' || text[p] == '"' || text[p] == '\'' || text[p] == '>'))
    ++p;
  if (p + kDigits > text.size()) return {};
  const std::string guid = text.substr(p, kDigits);
  for (char c : guid)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
  return guid;
}

bool IsTIFFHeader(const uint8_t* data, uint64_t size) {
  return data && size >= 8 &&
         ((data[0] == 'I' && data[1] == 'I' && data[2] == 42 && data[3] == 0) ||
          (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42));
}
