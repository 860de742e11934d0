// Small EXIF APP1 segments for the tag-reader tests, built with the shared block builder
// (support/exif_block.h): IFDs of typed entries laid out one after the other, each followed by
// its out-of-line values, in either byte order, with nothing after the last IFD's values.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/exif_block.h"

namespace exiftest {

using Entry = qrvtest::ExifEntry;
using qrvtest::Ascii;
using qrvtest::Long;
using qrvtest::Short;

struct Ifd {
  std::vector<Entry> entries;
  int next = -1;  // index of the next IFD in the chain, -1 for none
};

inline Entry Signed(uint16_t tag, uint16_t type, std::vector<int64_t> v) {
  Entry e = Short(tag, {});
  e.type = type;
  e.count = static_cast<uint32_t>(v.size());
  for (int64_t x : v) e.values.push_back(static_cast<uint64_t>(x));
  return e;
}
inline Entry Rational(uint16_t tag, std::vector<std::pair<int64_t, int64_t>> v, bool isSigned = false) {
  std::vector<uint64_t> numDen;
  for (auto& r : v) numDen.insert(numDen.end(), {static_cast<uint64_t>(r.first), static_cast<uint64_t>(r.second)});
  return qrvtest::Rational(tag, std::move(numDen), isSigned);
}
inline Entry Bytes(uint16_t tag, uint16_t type, std::vector<uint8_t> b) {
  Entry e = qrvtest::Undefined(tag, std::move(b));
  e.type = type;
  return e;
}
inline Entry IfdPointer(uint16_t tag, int ifd) { return qrvtest::Link(tag, ifd); }
// An entry whose value field holds `value` as it is, with no data written for it.
inline Entry Raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  Entry e = Short(tag, {});
  e.type = type;
  e.countOverride = count;
  e.offsetOverride = value;
  return e;
}

class BlockBuilder {
 public:
  explicit BlockBuilder(bool bigEndian) : mm_(bigEndian) {}

  // The APP1 segment from its marker: FF E1, length, "Exif\0\0", TIFF header, IFDs.
  std::vector<uint8_t> Build(const std::vector<Ifd>& ifds) const {
    qrvtest::ExifBlock block;
    block.bigEndian = mm_;
    block.spareByte = false;
    for (const Ifd& ifd : ifds) {
      block.ifds.push_back(ifd.entries);
      block.chain.push_back(ifd.next);
    }
    return block.Build();
  }

 private:
  bool mm_;
};

}  // namespace exiftest
