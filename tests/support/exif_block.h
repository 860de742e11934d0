// Test helpers for EXIF blocks: taking the APP1 "Exif" marker record out of JPEG file bytes,
// and building small EXIF blocks (TIFF structures in either byte order) entry by entry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qrvtest {

// The first APP1 marker whose payload begins "Exif", as the JPEG reader keeps it: four
// leading bytes (here the marker and its length), then the payload. *filePos receives the
// file offset of the record's first byte. Empty when the file has none.
std::vector<uint8_t> ExifRecordFromJpeg(const std::vector<uint8_t>& file, size_t* filePos = nullptr);

// One IFD entry to build. Values are given in host order and encoded in the block's order;
// `raw` bytes are copied as they are. `link` makes the value the offset of IFD number link;
// `note` produces bytes that depend on where they land (offset from the TIFF header).
struct ExifEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  std::vector<uint64_t> values;  // numbers; rationals as numerator, denominator pairs
  std::vector<uint8_t> raw;      // ASCII, BYTE, UNDEFINED content
  int link = -1;
  std::function<std::vector<uint8_t>(uint32_t at)> note;
  int64_t countOverride = -1;    // a count that differs from the values (malformed blocks)
  int64_t offsetOverride = -1;   // a value offset that differs from the layout
};

ExifEntry Ascii(uint16_t tag, const std::string& s);  // zero added
ExifEntry Short(uint16_t tag, std::vector<uint64_t> v);
ExifEntry Long(uint16_t tag, std::vector<uint64_t> v);
ExifEntry Rational(uint16_t tag, std::vector<uint64_t> numDen, bool isSigned = false);
ExifEntry Undefined(uint16_t tag, std::vector<uint8_t> bytes);
ExifEntry Link(uint16_t tag, int ifd);  // a LONG holding the offset of another IFD

// Encodes `entries` as an IFD at `at` (offset from the TIFF header) with its out-of-line
// values right behind it; offsets are written as position - bias. Returns IFD + values.
std::vector<uint8_t> EncodeIFD(const std::vector<ExifEntry>& entries, bool bigEndian, uint32_t at, uint32_t bias,
                               uint32_t next, const std::vector<uint32_t>& ifdPositions = {});

// A whole block: the 4-byte record prefix, "Exif\0\0", the TIFF header and the IFDs one after
// another. `chain[i]` is the IFD that IFD i's next pointer names (-1: 0). With `spareByte` one
// zero byte follows the last IFD's values.
struct ExifBlock {
  bool bigEndian = false;
  std::vector<std::vector<ExifEntry>> ifds;
  std::vector<int> chain;
  bool spareByte = true;
  std::vector<uint8_t> Build() const;
};

}  // namespace qrvtest
