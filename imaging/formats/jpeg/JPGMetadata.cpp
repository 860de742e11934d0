// The metadata of a JPEG file's markers, kept for ISGetReadMetadata: the EXIF block of its APP1
// "Exif" segments, the ICC profile of its APP2 chunks put together in sequence order, the IPTC
// record of its APP13 Photoshop resources, and its XMP packet with the extended packet that the
// main one names.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "imaging/formats/MetadataRead.h"
#include "imaging/formats/exif/CISEXIFBase.h"
#include "imaging/formats/jpeg/JPGCommon.h"

namespace {

constexpr char kExifName[] = "Exif\0";  // "Exif", 0, 0: 6 bytes
constexpr size_t kExifHeader = 6;
constexpr char kICCName[] = "ICC_PROFILE";  // 12 bytes with its zero
constexpr size_t kICCHeader = 14;
constexpr char kPhotoshop[] = "Photoshop 3.0";  // 14 bytes with its zero
constexpr char kXMP[] = "http://ns.adobe.com/xap/1.0/";  // 29 bytes with its zero
constexpr char kXMPExtension[] = "http://ns.adobe.com/xmp/extension/";  // 35 bytes with its zero
constexpr size_t kGUID = 32;

bool Starts(jpeg_saved_marker_ptr m, const char* name, size_t bytes) {
  return m->data && m->data_length >= bytes && std::memcmp(m->data, name, bytes) == 0;
}

// Whether an APP1 "Exif" segment begins an EXIF block: a TIFF header follows its name.
bool BeginsExif(jpeg_saved_marker_ptr m) {
  return Starts(m, kExifName, 4) && m->data_length >= kExifHeader &&
         IsTIFFHeader(m->data + kExifHeader, m->data_length - kExifHeader);
}

// Whether the EXIF parser reads a block (an APP1 payload, "Exif" and the TIFF structure).
bool ExifParses(const std::vector<uint8_t>& block) {
  std::vector<uint8_t> record(4, 0);  // as a marker record: four leading bytes, then the payload
  record.insert(record.end(), block.begin(), block.end());
  if (record.size() > UINT32_MAX) return false;
  CISEXIFBase exif;
  return exif.Read(record.data(), static_cast<uint32_t>(record.size()), 0);
}

// The EXIF block: a segment whose name a TIFF header follows, and the segments right after it
// that carry only the name: a block too large for one segment goes on in them, each under the
// name again. Where a file holds two whole blocks the last one the parser reads is kept (the
// last one when it reads none): a damaged copy does not hide a sound one.
void KeepExif(j_decompress_ptr cinfo) {
  std::vector<uint8_t> block, kept;
  bool keptParses = false;
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && BeginsExif(m)) {
      block.assign(m->data, m->data + m->data_length);
      // Its continuations follow it directly.
      for (jpeg_saved_marker_ptr c = m->next;
           c && c->marker == JPEG_APP0 + 1 && Starts(c, kExifName, kExifHeader) && !BeginsExif(c); c = c->next) {
        block.insert(block.end(), c->data + kExifHeader, c->data + c->data_length);
        m = c;
      }
      const bool parses = ExifParses(block);
      if (parses || !keptParses) kept.swap(block), keptParses = parses;
    } else if (m->marker == JPEG_APP0 + 1 && Starts(m, kExifName, kExifHeader)) {
      // A continuation that follows no block (another segment came between) goes nowhere.
      char why[160];
      std::snprintf(why, sizeof why,
                    "an APP1 \"Exif\" segment of %u bytes without a TIFF header follows no EXIF block",
                    static_cast<unsigned>(m->data_length));
      NoteMetadataLeftOut(IS_META_EXIF, why);
    }
  }
  if (!kept.empty()) KeepMetadataRead(IS_META_EXIF, kept.data(), kept.size());
}

void KeepProfile(j_decompress_ptr cinfo) {
  std::vector<jpeg_saved_marker_ptr> chunks;
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
    if (m->marker == JPEG_APP0 + 2 && Starts(m, kICCName, sizeof kICCName) && m->data_length >= kICCHeader)
      chunks.push_back(m);
  if (chunks.empty()) return;
  const unsigned count = chunks.front()->data[13];
  char why[200] = {};
  std::vector<jpeg_saved_marker_ptr> bySequence(count + 1u, nullptr);
  for (jpeg_saved_marker_ptr m : chunks) {
    const unsigned k = m->data[12];
    if (m->data[13] != count) {
      std::snprintf(why, sizeof why, "its ICC_PROFILE chunks disagree on their count (%u and %u)", count,
                    static_cast<unsigned>(m->data[13]));
    } else if (k == 0 || k > count) {
      std::snprintf(why, sizeof why, "an ICC_PROFILE chunk is numbered %u of %u", k, count);
    } else if (bySequence[k]) {
      std::snprintf(why, sizeof why, "ICC_PROFILE chunk %u of %u is there twice", k, count);
    } else {
      bySequence[k] = m;
      continue;
    }
    break;
  }
  if (!why[0] && chunks.size() != count)
    std::snprintf(why, sizeof why, "only %zu of its %u ICC_PROFILE chunks are there", chunks.size(), count);
  if (why[0]) {
    NoteMetadataLeftOut(IS_META_ICC, why);
    return;
  }
  std::vector<uint8_t> profile;
  for (unsigned k = 1; k <= count; ++k)
    profile.insert(profile.end(), bySequence[k]->data + kICCHeader,
                   bySequence[k]->data + bySequence[k]->data_length);
  KeepICCProfileRead(profile.data(), profile.size(), "JPEG ICC_PROFILE chunks");
}

void KeepIPTC(j_decompress_ptr cinfo) {
  // Photoshop splits a resource block over APP13 markers as it goes.
  std::vector<uint8_t> resources;
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
    if (m->marker == JPEG_APP0 + 13 && Starts(m, kPhotoshop, sizeof kPhotoshop))
      resources.insert(resources.end(), m->data + sizeof kPhotoshop, m->data + m->data_length);
  if (!resources.empty())
    KeepPhotoshopResourcesRead(resources.data(), static_cast<uint32_t>(resources.size()), true, false);
}

void KeepXMP(j_decompress_ptr cinfo) {
  jpeg_saved_marker_ptr main = nullptr;
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m && !main; m = m->next)
    if (m->marker == JPEG_APP0 + 1 && Starts(m, kXMP, sizeof kXMP)) main = m;
  if (!main) return;
  const uint8_t* packet = main->data + sizeof kXMP;
  const size_t packetSize = main->data_length - sizeof kXMP;
  KeepMetadataRead(IS_META_XMP, packet, packetSize);
  const std::string guid = XMPExtendedGUID(packet, packetSize);
  // Extension chunks of another GUID than the one the main packet names belong to no packet of
  // this file that a reader would put together.
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
    if (m->marker != JPEG_APP0 + 1 || !Starts(m, kXMPExtension, sizeof kXMPExtension) ||
        m->data_length < sizeof kXMPExtension + kGUID ||
        (!guid.empty() && std::memcmp(m->data + sizeof kXMPExtension, guid.data(), kGUID) == 0))
      continue;
    const std::string other(reinterpret_cast<const char*>(m->data + sizeof kXMPExtension), kGUID);
    const std::string why = "its extended XMP chunks of GUID " + other +
                            (guid.empty() ? " belong to no packet: the main packet names none"
                                          : " are not the extension the main packet names (" + guid + ")");
    NoteMetadataLeftOut(IS_META_XMP_EXTENDED, why.c_str());
    break;
  }
  if (guid.empty()) return;
  // The chunks of that GUID: {offset, data, size}; together they must fill the full length once.
  struct Piece {
    uint32_t offset;
    const uint8_t* data;
    uint32_t size;
  };
  std::vector<Piece> pieces;
  uint64_t full = 0, sum = 0;
  bool agree = true;
  constexpr size_t kHead = sizeof kXMPExtension + kGUID + 8;
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
    if (m->marker != JPEG_APP0 + 1 || !Starts(m, kXMPExtension, sizeof kXMPExtension) || m->data_length < kHead ||
        std::memcmp(m->data + sizeof kXMPExtension, guid.data(), kGUID) != 0)
      continue;
    const uint8_t* h = m->data + sizeof kXMPExtension + kGUID;
    const uint32_t length = ReadBE32(h), offset = ReadBE32(h + 4);
    if (!pieces.empty() && length != full) agree = false;
    full = length;
    pieces.push_back({offset, m->data + kHead, static_cast<uint32_t>(m->data_length - kHead)});
    sum += m->data_length - kHead;
  }
  if (pieces.empty()) return;
  std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.offset < b.offset; });
  uint64_t next = 0;
  for (const Piece& p : pieces) {
    if (p.offset != next) agree = false;
    next += p.size;
  }
  if (!agree || sum != full || next != full) {
    NoteMetadataLeftOut(IS_META_XMP_EXTENDED, "the chunks of its extended XMP packet do not make it whole");
    return;
  }
  std::vector<uint8_t> extended;
  extended.reserve(full);
  for (const Piece& p : pieces) extended.insert(extended.end(), p.data, p.data + p.size);
  KeepMetadataRead(IS_META_XMP_EXTENDED, extended.data(), extended.size());
}

}  // namespace

void JPGKeepMetadata(j_decompress_ptr cinfo) {
  try {
    KeepExif(cinfo);
    KeepProfile(cinfo);
    KeepIPTC(cinfo);
    KeepXMP(cinfo);
  } catch (const std::bad_alloc&) {
    // What could not be put together is not kept.
  }
}
