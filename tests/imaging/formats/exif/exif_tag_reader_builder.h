// Builds small EXIF APP1 segments for the tag-reader tests: IFDs of typed entries laid out one
// after the other, each followed by its out-of-line values, in either byte order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace exiftest {

struct Entry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  std::vector<uint64_t> values;  // integers; rationals as numerator, denominator pairs
  std::vector<uint8_t> bytes;    // BYTE, ASCII, UNDEFINED contents
  int ifdRef = -1;               // value is the TIFF offset of this IFD
  bool forceValue = false;       // value field written as `forced`, no data written
  uint32_t forced = 0;
};

struct Ifd {
  std::vector<Entry> entries;
  int next = -1;  // index of the next IFD in the chain, -1 for none
  bool nextForced = false;
  uint32_t nextOffset = 0;  // written as the next-IFD offset when nextForced
};

inline Entry Short(uint16_t tag, std::vector<uint64_t> v) {
  Entry e;
  e.tag = tag;
  e.type = 3;
  e.count = static_cast<uint32_t>(v.size());
  e.values = std::move(v);
  return e;
}
inline Entry Long(uint16_t tag, std::vector<uint64_t> v) {
  Entry e = Short(tag, std::move(v));
  e.type = 4;
  return e;
}
inline Entry Signed(uint16_t tag, uint16_t type, std::vector<int64_t> v) {
  Entry e;
  e.tag = tag;
  e.type = type;
  e.count = static_cast<uint32_t>(v.size());
  for (int64_t x : v) e.values.push_back(static_cast<uint64_t>(x));
  return e;
}
inline Entry Rational(uint16_t tag, std::vector<std::pair<int64_t, int64_t>> v, bool isSigned = false) {
  Entry e;
  e.tag = tag;
  e.type = isSigned ? 10 : 5;
  e.count = static_cast<uint32_t>(v.size());
  for (auto& r : v) {
    e.values.push_back(static_cast<uint64_t>(r.first));
    e.values.push_back(static_cast<uint64_t>(r.second));
  }
  return e;
}
inline Entry Bytes(uint16_t tag, uint16_t type, std::vector<uint8_t> b) {
  Entry e;
  e.tag = tag;
  e.type = type;
  e.count = static_cast<uint32_t>(b.size());
  e.bytes = std::move(b);
  return e;
}
inline Entry Ascii(uint16_t tag, const std::string& s) {
  std::vector<uint8_t> b(s.begin(), s.end());
  b.push_back(0);
  return Bytes(tag, 2, std::move(b));
}
inline Entry IfdPointer(uint16_t tag, int ifd) {
  Entry e = Long(tag, {0});
  e.ifdRef = ifd;
  return e;
}
// An entry whose value field holds `value` as it is, with no data written for it.
inline Entry Raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  Entry e;
  e.tag = tag;
  e.type = type;
  e.count = count;
  e.forceValue = true;
  e.forced = value;
  return e;
}

class BlockBuilder {
 public:
  explicit BlockBuilder(bool bigEndian) : mm_(bigEndian) {}

  // The APP1 segment from its marker: FF E1, length, "Exif\0\0", TIFF header, IFDs.
  std::vector<uint8_t> Build(const std::vector<Ifd>& ifds) {
    std::vector<uint32_t> at(ifds.size());
    uint32_t pos = 8;
    for (size_t k = 0; k < ifds.size(); ++k) {
      at[k] = pos;
      pos += 2 + 12 * static_cast<uint32_t>(ifds[k].entries.size()) + 4;
      for (const Entry& e : ifds[k].entries) pos += Padded(DataSize(e) > 4 && !e.forceValue ? DataSize(e) : 0);
    }
    tiff_.clear();
    tiff_.push_back(mm_ ? 'M' : 'I');
    tiff_.push_back(mm_ ? 'M' : 'I');
    Put16(42);
    Put32(ifds.empty() ? 0 : 8);
    for (size_t k = 0; k < ifds.size(); ++k) {
      const Ifd& ifd = ifds[k];
      uint32_t data = at[k] + 2 + 12 * static_cast<uint32_t>(ifd.entries.size()) + 4;
      std::vector<uint8_t> dataArea;
      Put16(static_cast<uint16_t>(ifd.entries.size()));
      for (const Entry& e : ifd.entries) {
        Put16(e.tag);
        Put16(e.type);
        Put32(e.count);
        if (e.forceValue) {
          Put32(e.forced);
          continue;
        }
        std::vector<uint8_t> v = Serialise(e, at);
        if (v.size() <= 4) {
          v.resize(4, 0);
          tiff_.insert(tiff_.end(), v.begin(), v.end());
        } else {
          Put32(data + static_cast<uint32_t>(dataArea.size()));
          dataArea.insert(dataArea.end(), v.begin(), v.end());
          if (v.size() & 1) dataArea.push_back(0);
        }
      }
      Put32(ifd.nextForced ? ifd.nextOffset : ifd.next >= 0 ? at[static_cast<size_t>(ifd.next)] : 0);
      tiff_.insert(tiff_.end(), dataArea.begin(), dataArea.end());
    }
    static const uint8_t kHead[10] = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    std::vector<uint8_t> block(sizeof kHead + tiff_.size());
    for (size_t i = 0; i < sizeof kHead; ++i) block[i] = kHead[i];
    for (size_t i = 0; i < tiff_.size(); ++i) block[sizeof kHead + i] = tiff_[i];
    size_t len = block.size() - 2 > 0xFFFF ? 0xFFFF : block.size() - 2;
    block[2] = static_cast<uint8_t>(len >> 8);
    block[3] = static_cast<uint8_t>(len);
    return block;
  }

 private:
  static size_t TypeSize(uint16_t type) {
    switch (type) {
      case 3: case 8: return 2;
      case 4: case 9: case 11: return 4;
      case 5: case 10: case 12: return 8;
      default: return 1;
    }
  }
  static size_t DataSize(const Entry& e) { return TypeSize(e.type) * e.count; }
  static uint32_t Padded(size_t n) { return static_cast<uint32_t>((n + 1) & ~size_t(1)); }

  void Put16(uint16_t v) { Append(tiff_, v, 2); }
  void Put32(uint32_t v) { Append(tiff_, v, 4); }
  void Append(std::vector<uint8_t>& out, uint64_t v, int n) const {
    for (int i = 0; i < n; ++i) {
      int shift = mm_ ? 8 * (n - 1 - i) : 8 * i;
      out.push_back(static_cast<uint8_t>(v >> shift));
    }
  }
  std::vector<uint8_t> Serialise(const Entry& e, const std::vector<uint32_t>& at) const {
    std::vector<uint8_t> out;
    if (e.ifdRef >= 0) {
      Append(out, at[static_cast<size_t>(e.ifdRef)], 4);
      return out;
    }
    if (!e.bytes.empty() || e.values.empty()) return e.bytes;
    size_t unit = (e.type == 5 || e.type == 10) ? 4 : TypeSize(e.type);
    for (uint64_t v : e.values) Append(out, v, static_cast<int>(unit));
    return out;
  }

  bool mm_;
  std::vector<uint8_t> tiff_;
};

}  // namespace exiftest
