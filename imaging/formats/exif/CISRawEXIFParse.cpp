// Walks the TIFF structure inside an EXIF block: IFD0, IFD1, the Exif, interoperability and
// GPS IFDs and the maker notes of five makers, making one tag object per entry. Every offset
// and size is checked in 64 bits against the block; no IFD is read twice. Failure: 56.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/core/ISThreadState.h"
#include "imaging/formats/exif/CISEXIFBase.h"

using namespace CISEXIFData;

namespace {

constexpr uint64_t kHeader = 10;      // the TIFF header's place in the block
constexpr uint64_t kMinBlock = 18;    // "Exif" record, byte order, magic and IFD0 offset

int MakerCode(const std::string& make) {
  if (make == "Canon") return kMakerCanon;
  if (make == "NIKON" || make == "NIKON CORPORATION") return kMakerNikon;
  if (make == "FUJIFILM") return kMakerFujifilm;
  if (make == "OLYMPUS OPTICAL CO.,LTD") return kMakerOlympus;
  if (make == "CASIO") return kMakerCasio;
  return kMakerNone;
}

// The first value of a SHORT or LONG tag (the IFD pointers); false for other tags.
bool FirstOffset(const CEXIFTagBase* tag, uint32_t& value) {
  if (auto* l = dynamic_cast<const CEXIFTagU32*>(tag)) {
    if (l->values.empty()) return false;
    value = l->values[0];
    return true;
  }
  if (auto* s = dynamic_cast<const CEXIFTagU16*>(tag)) {
    if (s->values.empty()) return false;
    value = s->values[0];
    return true;
  }
  return false;
}

// A tag's text read as a decimal number; false when the tag is missing.
bool TagNumber(const ISEXIFTagList& list, uint32_t id, long long& value) {
  std::string text;
  if (!FindTagText(list, id, text)) return false;
  value = std::strtoll(text.c_str(), nullptr, 10);
  return true;
}

}  // namespace

void SwapBytes16(uint16_t& v) { v = static_cast<uint16_t>((v >> 8) | (v << 8)); }
void SwapBytes32(uint32_t& v) {
  v = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

bool CISRawEXIFParse::Read16(uint64_t pos, uint16_t& v) const {
  // A value is read only when it ends before the block's last byte.
  if (pos >= length_ || 2 >= length_ - pos) return false;
  std::memcpy(&v, block_ + pos, 2);
  if (swap_) SwapBytes16(v);
  return true;
}

bool CISRawEXIFParse::Read32(uint64_t pos, uint32_t& v) const {
  if (pos >= length_ || 4 >= length_ - pos) return false;
  std::memcpy(&v, block_ + pos, 4);
  if (swap_) SwapBytes32(v);
  return true;
}

bool CISRawEXIFParse::DecodeEntry(uint64_t pos, ISEXIFEntry& e) const {
  if (!Inside(pos, 12)) return false;
  std::memcpy(&e.tag, block_ + pos, 2);
  std::memcpy(&e.type, block_ + pos + 2, 2);
  std::memcpy(&e.count, block_ + pos + 4, 4);
  std::memcpy(&e.value, block_ + pos + 8, 4);
  if (swap_) {
    SwapBytes16(e.tag);
    SwapBytes16(e.type);
    SwapBytes32(e.count);
    SwapBytes32(e.value);
  }
  return true;
}

bool CISRawEXIFParse::MarkVisited(uint64_t pos) {
  for (uint64_t p : visited_)
    if (p == pos) return false;
  visited_.push_back(pos);
  return true;
}

bool CISRawEXIFParse::Parse(const uint8_t* block, uint32_t length, bool makerNote) {
  block_ = block;
  length_ = length;
  swap_ = false;
  parsed_ = false;
  visited_.clear();
  error = IS_ERR_OK;
  auto fail = [this] {
    error = IS_ERR_EXIFPARSE;
    return false;
  };
  if (!block || length < kMinBlock || std::memcmp(block + 4, "Exif", 4) != 0) return fail();
  if (block[10] == 'I' && block[11] == 'I') swap_ = false;
  else if (block[10] == 'M' && block[11] == 'M') swap_ = true;
  else return fail();
  uint16_t magic;
  std::memcpy(&magic, block + 12, 2);  // as stored: either byte order of 42 is accepted
  if (magic != 42 && magic != 10752) return fail();

  uint32_t ifd0 = 0;
  uint16_t count = 0;
  if (!Read32(14, ifd0) || !Read16(kHeader + ifd0, count)) return fail();
  MarkVisited(kHeader + ifd0);
  if (!ReadIFD(kHeader, kHeader + ifd0 + 2, count, *lists_[kListIFD0])) return fail();
  uint32_t next = 0;
  if (!Read32(kHeader + ifd0 + 2 + 12ull * count, next)) return fail();
  if (next != 0 && next < length_) ReadOptionalIFD(next, *lists_[kListIFD1]);

  uint32_t offset = 0;
  if (FirstOffset(FindTag(*lists_[kListIFD0], kTagExifIFD), offset) && offset < length_)
    ReadOptionalIFD(offset, *lists_[kListExif]);
  if (FirstOffset(FindTag(*lists_[kListExif], kTagInteropIFD), offset) && offset < length_)
    ReadOptionalIFD(offset, *lists_[kListInterop]);
  if (FirstOffset(FindTag(*lists_[kListIFD0], kTagGPSIFD), offset) && offset < length_)
    ReadOptionalIFD(offset, *lists_[kListGPS]);

  parsed_ = true;
  if (makerNote) {
    // A maker note that cannot be read leaves the rest of the block usable.
    ISErrorCode kept = error;
    ParseMakerNote();
    error = kept;
  }
  return true;
}

bool CISRawEXIFParse::ReadOptionalIFD(uint32_t offset, ISEXIFTagList& list) {
  const uint64_t pos = kHeader + offset;
  uint16_t count = 0;
  if (!Read16(pos, count)) return false;  // pointer outside the block: the IFD is skipped
  if (!MarkVisited(pos)) return false;    // already read through another pointer
  ReadIFD(kHeader, pos + 2, count, list);  // entries before a bad one are kept
  return true;
}

bool CISRawEXIFParse::ReadIFD(uint64_t header, uint64_t first, uint32_t count, ISEXIFTagList& list) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t pos = first + 12ull * i;
    ISEXIFEntry e;
    if (!DecodeEntry(pos, e)) return false;
    CEXIFTagBase* tag = MakeTag(e, pos + 8, header, 0);
    if (!tag) continue;
    tag->entryOffset = static_cast<int32_t>(pos);
    tag->headerOffset = static_cast<int32_t>(header);
    tag->bigEndian = swap_ ? 1 : 0;
    list.Add(tag);
  }
  return true;
}

CEXIFTagBase* CISRawEXIFParse::MakeTag(const ISEXIFEntry& e, uint64_t valueField, uint64_t base, int mode) {
  if (static_cast<int32_t>(e.count) < 0 || e.count >= length_) return nullptr;
  const uint32_t size = TypeSize(e.type);
  if (size == 0) return nullptr;
  const uint64_t total = static_cast<uint64_t>(e.count) * size;
  const uint64_t at = total <= 4 ? valueField : base + e.value;
  if (!Inside(at, total) || !Inside(valueField, 4)) return nullptr;
  const uint8_t* p = block_ + at;
  const uint8_t* field = block_ + valueField;

  try {
    std::unique_ptr<CEXIFTagBase> tag;
    auto many = [&](CEXIFTagBase* t) {
      tag.reset(t);
      for (uint32_t i = 0; i < e.count; ++i) t->ReadValue(p + static_cast<uint64_t>(i) * size, size, swap_);
    };
    switch (e.type) {
      case kTypeByte: {
        tag.reset(new CEXIFTagU8);
        tag->ReadValue(p, e.count, swap_);
        break;
      }
      case kTypeASCII: {
        tag.reset(new CEXIFTagASCII);
        tag->ReadValue(p, e.count, swap_);
        break;
      }
      case kTypeShort: many(new CEXIFTagU16); break;
      case kTypeLong: many(new CEXIFTagU32); break;
      case kTypeRational: many(new CEXIFTagURat); break;
      case kTypeSByte: many(new CEXIFTagI8); break;
      case kTypeSShort: many(new CEXIFTagI16); break;
      case kTypeSLong: many(new CEXIFTagI32); break;
      case kTypeSRational: many(new CEXIFTagSRat); break;
      case kTypeFloat: many(new CEXIFTagR4); break;
      case kTypeDouble: many(new CEXIFTagR8); break;
      case kTypeUndefined:
        if (mode != 0 || e.tag == 2 || e.tag == 36864 || e.tag == 40960) {
          // Version numbers (and every undefined maker-note entry): the 4 bytes of the field.
          tag.reset(new CEXIFTagASCII);
          tag->ReadValue(field, 4, swap_);
        } else if (e.tag == 41728 || e.tag == 41729) {
          tag.reset(new CEXIFTagU8);
          tag->ReadValue(field, 1, swap_);
        } else if (e.tag == kTagUserComment) {
          // All bytes, character-code prefix included; up to 4 of them lie in the field.
          tag.reset(new CEXIFTagU8);
          tag->ReadValue(p, e.count, swap_);
        } else {
          static const char kUnknown[] = "Unknown Format";
          tag.reset(new CEXIFTagASCII);
          tag->ReadValue(reinterpret_cast<const uint8_t*>(kUnknown), sizeof kUnknown, false);
        }
        break;
      default: return nullptr;
    }
    tag->entry = e;
    return tag.release();
  } catch (...) {
    return nullptr;  // the entry is dropped
  }
}

bool CISRawEXIFParse::ParseMakerNote() {
  const CEXIFTagBase* make = FindTag(*lists_[kListIFD0], kTagMake);
  const CEXIFTagBase* note = FindTag(*lists_[kListExif], kTagMakerNote);
  if (!note) note = FindTag(*lists_[kListIFD0], kTagMakerNote);
  if (!note) note = FindTag(*lists_[kListIFD1], kTagMakerNote);
  if (!make || !note) return true;

  auto fail = [this] {
    error = IS_ERR_EXIFPARSE;
    return false;
  };
  const uint64_t start = kHeader + note->entry.value;
  uint16_t first = 0;
  if (!Read16(start, first)) return fail();
  const int maker = MakerCode(make->GetText());
  if (maker == kMakerNone) return true;

  const bool blockSwap = swap_;
  struct Restore {
    bool& flag;
    bool value;
    ~Restore() { flag = value; }
  } restore{swap_, blockSwap};

  uint64_t ifd = start;
  uint64_t base = kHeader;
  switch (maker) {
    case kMakerOlympus: ifd = start + 8; break;
    case kMakerFujifilm: {
      uint32_t at = 0;
      swap_ = false;  // the note is little-endian whatever the block's order
      if (!Read32(start + 8, at)) return fail();
      ifd = start + at;
      base = start;
      break;
    }
    case kMakerNikon:
      if (Inside(start, 7) && std::memcmp(block_ + start, "Nikon\0\2", 7) == 0) {
        const uint64_t header = start + 10;
        if (!Inside(header, 4)) return fail();
        const uint8_t* h = block_ + header;
        if (std::memcmp(h, "II*\0", 4) == 0) swap_ = false;
        else if (std::memcmp(h, "MM\0*", 4) == 0) swap_ = true;
        else return fail();
        uint32_t at = 0;
        if (!Read32(header + 4, at)) return fail();
        ifd = header + at;
        base = header;
      } else if (Inside(start, 5) && std::memcmp(block_ + start, "Nikon", 5) == 0) {
        ifd = start + 8;
      }
      break;
    default: break;  // Canon, Casio: the IFD starts the note
  }

  uint16_t count = 0;
  if (!Read16(ifd, count)) return fail();
  if (count < 1 || !MarkVisited(ifd)) return true;
  ISEXIFTagList& list = *lists_[kListMakerNote];
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t pos = ifd + 2 + 12ull * i;
    ISEXIFEntry e;
    if (!DecodeEntry(pos, e)) break;
    CEXIFTagBase* tag = MakeTag(e, pos + 8, base, maker);
    if (!tag) continue;
    tag->entryOffset = static_cast<int32_t>(pos);
    tag->headerOffset = static_cast<int32_t>(base);
    tag->bigEndian = swap_ ? 1 : 0;
    list.Add(tag);
  }
  return true;
}

ISErrorCode CISRawEXIFParse::CopyThumbnail(HGLOBAL& copy, uint32_t& size) {
  copy = nullptr;
  size = 0;
  if (!parsed_) return IS_ERR_BADPARAM;
  long long offset = 0, bytes = 0;
  const ISEXIFTagList& ifd1 = *lists_[kListIFD1];
  if (!TagNumber(ifd1, kTagJPEGInterchangeFormat, offset) || offset < 1 ||
      static_cast<unsigned long long>(offset) >= length_)
    return IS_ERR_EXIFTAG;
  if (!TagNumber(ifd1, kTagJPEGInterchangeFormatLength, bytes) || bytes < 1 ||
      static_cast<unsigned long long>(offset) + static_cast<unsigned long long>(bytes) >= length_ ||
      !Inside(kHeader + offset, static_cast<uint64_t>(bytes)))
    return IS_ERR_EXIFTAG;
  HGLOBAL h = SafeGlobalAlloc(static_cast<uint64_t>(bytes));
  if (!h) return IS_ERR_EXIFTAG;
  std::memcpy(h, block_ + kHeader + offset, static_cast<size_t>(bytes));
  copy = h;
  size = static_cast<uint32_t>(bytes);
  return IS_ERR_OK;
}

ISErrorCode CISRawEXIFParse::CopyUserComment(HGLOBAL& copy, uint32_t& size) {
  copy = nullptr;
  size = 0;
  if (!parsed_) return IS_ERR_BADPARAM;
  auto* tag = dynamic_cast<const CEXIFTagU8*>(FindTag(*lists_[kListExif], kTagUserComment));
  if (!tag || tag->values.Count() < 1) return IS_ERR_EXIFTAG;
  HGLOBAL h = SafeGlobalAlloc(tag->values.Count());
  if (!h) return IS_ERR_EXIFTAG;
  std::memcpy(h, tag->values.Data(), tag->values.Count());
  copy = h;
  size = tag->values.Count();
  return IS_ERR_OK;
}
