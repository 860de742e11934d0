// EXIF test blocks: the APP1 scan of JPEG bytes and a small TIFF-structure builder.
#include "support/exif_block.h"

#include <cstring>

namespace qrvtest {

std::vector<uint8_t> ExifRecordFromJpeg(const std::vector<uint8_t>& f, size_t* filePos) {
  if (f.size() < 4 || f[0] != 0xFF || f[1] != 0xD8) return {};
  size_t p = 2;
  while (p + 4 <= f.size()) {
    if (f[p] != 0xFF) return {};
    const uint8_t m = f[p + 1];
    if (m == 0xFF) {
      ++p;
      continue;
    }
    if (m == 0xD9 || m == 0xDA) return {};
    const size_t len = (static_cast<size_t>(f[p + 2]) << 8) | f[p + 3];
    if (len < 2 || p + 2 + len > f.size()) return {};
    if (m == 0xE1 && len >= 8 && std::memcmp(&f[p + 4], "Exif", 4) == 0) {
      if (filePos) *filePos = p;
      return std::vector<uint8_t>(f.begin() + p, f.begin() + p + 2 + len);
    }
    p += 2 + len;
  }
  return {};
}

namespace {

uint32_t TypeSize(uint16_t type) {
  static const uint32_t k[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type < 13 ? k[type] : 1;
}

void Put(std::vector<uint8_t>& out, uint64_t v, int size, bool big) {
  for (int i = 0; i < size; ++i) {
    int shift = big ? 8 * (size - 1 - i) : 8 * i;
    out.push_back(static_cast<uint8_t>(v >> shift));
  }
}

std::vector<uint8_t> ValueBytes(const ExifEntry& e, bool big, uint32_t at) {
  if (e.note) return e.note(at);
  if (!e.raw.empty() || e.values.empty()) return e.raw;
  std::vector<uint8_t> out;
  const uint32_t size = TypeSize(e.type);
  const int word = (e.type == 5 || e.type == 10) ? 4 : static_cast<int>(size);
  for (uint64_t v : e.values) Put(out, v, word, big);
  return out;
}

uint32_t DataSize(const ExifEntry& e) {
  size_t n = e.note ? e.note(0).size() : (!e.raw.empty() || e.values.empty()) ? e.raw.size()
                                                                              : e.values.size() * ((e.type == 5 || e.type == 10) ? 4 : TypeSize(e.type));
  return n > 4 ? static_cast<uint32_t>((n + 1) & ~size_t(1)) : 0;
}

uint32_t IFDSize(const std::vector<ExifEntry>& entries) {
  uint32_t n = 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
  for (const ExifEntry& e : entries) n += DataSize(e);
  return n;
}

}  // namespace

ExifEntry Ascii(uint16_t tag, const std::string& s) {
  ExifEntry e;
  e.tag = tag;
  e.type = 2;
  e.raw.assign(s.begin(), s.end());
  e.raw.push_back(0);
  e.count = static_cast<uint32_t>(e.raw.size());
  return e;
}
ExifEntry Short(uint16_t tag, std::vector<uint64_t> v) {
  ExifEntry e;
  e.tag = tag;
  e.type = 3;
  e.count = static_cast<uint32_t>(v.size());
  e.values = std::move(v);
  return e;
}
ExifEntry Long(uint16_t tag, std::vector<uint64_t> v) {
  ExifEntry e = Short(tag, std::move(v));
  e.type = 4;
  return e;
}
ExifEntry Rational(uint16_t tag, std::vector<uint64_t> numDen, bool isSigned) {
  ExifEntry e;
  e.tag = tag;
  e.type = isSigned ? 10 : 5;
  e.count = static_cast<uint32_t>(numDen.size() / 2);
  e.values = std::move(numDen);
  return e;
}
ExifEntry Undefined(uint16_t tag, std::vector<uint8_t> bytes) {
  ExifEntry e;
  e.tag = tag;
  e.type = 7;
  e.count = static_cast<uint32_t>(bytes.size());
  e.raw = std::move(bytes);
  return e;
}
ExifEntry Link(uint16_t tag, int ifd) {
  ExifEntry e = Long(tag, {0});
  e.link = ifd;
  return e;
}

std::vector<uint8_t> EncodeIFD(const std::vector<ExifEntry>& entries, bool big, uint32_t at, uint32_t bias,
                               uint32_t next, const std::vector<uint32_t>& ifdPositions) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> data;
  Put(out, entries.size(), 2, big);
  uint32_t dataAt = at + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
  for (const ExifEntry& e : entries) {
    Put(out, e.tag, 2, big);
    Put(out, e.type, 2, big);
    Put(out, e.countOverride >= 0 ? static_cast<uint32_t>(e.countOverride) : e.count, 4, big);
    if (e.link >= 0) {
      Put(out, e.link < static_cast<int>(ifdPositions.size()) ? ifdPositions[e.link] : 0, 4, big);
      continue;
    }
    const uint32_t here = dataAt + static_cast<uint32_t>(data.size());
    std::vector<uint8_t> v = ValueBytes(e, big, here);
    if (v.size() <= 4) {
      v.resize(4, 0);
      out.insert(out.end(), v.begin(), v.end());
      if (e.offsetOverride >= 0) {
        out.resize(out.size() - 4);
        Put(out, static_cast<uint64_t>(e.offsetOverride), 4, big);
      }
    } else {
      Put(out, e.offsetOverride >= 0 ? static_cast<uint64_t>(e.offsetOverride) : here - bias, 4, big);
      data.insert(data.end(), v.begin(), v.end());
      if (data.size() & 1) data.push_back(0);
    }
  }
  Put(out, next, 4, big);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::vector<uint8_t> ExifBlock::Build() const {
  std::vector<uint32_t> pos;
  uint32_t at = 8;
  for (const auto& ifd : ifds) {
    pos.push_back(at);
    at += IFDSize(ifd);
  }
  std::vector<uint8_t> out = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
  if (bigEndian) out.insert(out.end(), {'M', 'M', 0, 42});
  else out.insert(out.end(), {'I', 'I', 42, 0});
  Put(out, ifds.empty() ? 0 : 8, 4, bigEndian);
  for (size_t i = 0; i < ifds.size(); ++i) {
    int n = i < chain.size() ? chain[i] : -1;
    uint32_t next = n >= 0 && n < static_cast<int>(pos.size()) ? pos[n] : 0;
    std::vector<uint8_t> b = EncodeIFD(ifds[i], bigEndian, pos[i], 0, next, pos);
    out.insert(out.end(), b.begin(), b.end());
  }
  // One spare byte: the EXIF parser reads a value only when it ends before the block's last byte.
  if (spareByte) out.push_back(0);
  const size_t len = out.size() - 2;
  out[2] = static_cast<uint8_t>(len >> 8);
  out[3] = static_cast<uint8_t>(len);
  return out;
}

}  // namespace qrvtest
