// Pages whose headers claim far more picture than their few stored bytes can decode to are
// refused before anything is allocated; real pages compressed as tightly as their codecs allow
// still read.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstdio>
#include <string>

#include "support/peak_memory.h"
#include "tiff_test_util.h"

using namespace tifftest;

namespace {

struct Tag {
  uint16_t id;
  std::vector<uint32_t> values;  // LONG; StripOffsets and TileOffsets count from the data
};

void Put16(Bytes& b, uint32_t v) { b.insert(b.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}); }
void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A little-endian file: header, one IFD of LONG tags (ascending ids), their arrays, then the data.
Bytes HandMadeTIFF(const std::vector<Tag>& tags, const Bytes& data) {
  uint32_t arrays = 8 + 2 + 12 * static_cast<uint32_t>(tags.size()) + 4;
  uint32_t dataOffset = arrays;
  for (const Tag& t : tags)
    if (t.values.size() > 1) dataOffset += 4 * static_cast<uint32_t>(t.values.size());
  Bytes file = {'I', 'I', 42, 0};
  Put32(file, 8);
  Put16(file, static_cast<uint32_t>(tags.size()));
  Bytes tail;
  for (const Tag& t : tags) {
    const uint32_t shift = (t.id == TIFFTAG_STRIPOFFSETS || t.id == TIFFTAG_TILEOFFSETS) ? dataOffset : 0;
    Put16(file, t.id);
    Put16(file, TIFF_LONG);
    Put32(file, static_cast<uint32_t>(t.values.size()));
    if (t.values.size() == 1) {
      Put32(file, t.values[0] + shift);
    } else {
      Put32(file, arrays + static_cast<uint32_t>(tail.size()));
      for (uint32_t v : t.values) Put32(tail, v + shift);
    }
  }
  Put32(file, 0);
  file.insert(file.end(), tail.begin(), tail.end());
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

// 17 bytes of zlib data: 778 zero bytes.
const Bytes kZlib = {0x78, 0xda, 0x63, 0x60, 0x18, 0x05, 0xa3, 0x60, 0x14, 0x30, 0x30, 0x00, 0x00, 0x03, 0x0a, 0x00, 0x01};

// A grey page of `bits` claiming width x height, its strips (or tiles) all over the same data.
Bytes Claiming(uint32_t width, uint32_t height, uint32_t bits, uint32_t compression, uint32_t rowsPerStrip = 0,
               uint32_t tile = 0, uint32_t byteCount = 0) {
  const uint32_t count = byteCount ? byteCount : static_cast<uint32_t>(kZlib.size());
  std::vector<Tag> tags = {{256, {width}},
                           {257, {height}},
                           {258, {bits}},
                           {259, {compression}},
                           {262, {bits == 1 ? 0u : 1u}}};
  if (tile) {
    const uint32_t n = ((width + tile - 1) / tile) * ((height + tile - 1) / tile);
    tags.push_back({277, {1}});
    tags.push_back({322, {tile}});
    tags.push_back({323, {tile}});
    tags.push_back({324, std::vector<uint32_t>(n, 0)});
    tags.push_back({325, std::vector<uint32_t>(n, count)});
  } else {
    const uint32_t rps = rowsPerStrip ? rowsPerStrip : height;
    const uint32_t n = (height + rps - 1) / rps;
    tags.insert(tags.end(), {{273, std::vector<uint32_t>(n, 0)}, {277, {1}}, {278, {rps}},
                             {279, std::vector<uint32_t>(n, count)}});
  }
  return HandMadeTIFF(tags, kZlib);
}

}  // namespace

TEST(TIFFDataBound, HugeClaimsOverFewBytesAreRefusedInLittleMemory) {
  const Bytes deflate = Claiming(23000, 23000, 8, COMPRESSION_ADOBE_DEFLATE);
  EXPECT_EQ(deflate.size(), 139u);
  const std::vector<std::pair<const char*, Bytes>> files = {
      {"deflate strip", deflate},
      {"deflate", Claiming(23000, 23000, 8, COMPRESSION_DEFLATE)},
      {"LZW", Claiming(23000, 23000, 8, COMPRESSION_LZW)},
      {"PackBits", Claiming(23000, 23000, 8, COMPRESSION_PACKBITS)},
      {"JPEG", Claiming(23000, 23000, 8, COMPRESSION_JPEG)},
      {"none", Claiming(23000, 23000, 8, COMPRESSION_NONE)},
      {"none, a byte count past the end", Claiming(23000, 23000, 8, COMPRESSION_NONE, 0, 0, 0xFFFFFFF0u)},
      {"CCITT G4", Claiming(23000, 23000, 1, COMPRESSION_CCITTFAX4)},
      {"16-bit deflate", Claiming(23000, 23000, 16, COMPRESSION_ADOBE_DEFLATE)},
      {"strips sharing their bytes", Claiming(23000, 23000, 8, COMPRESSION_ADOBE_DEFLATE, 64)},
      {"tiles sharing their bytes", Claiming(23000, 23000, 8, COMPRESSION_ADOBE_DEFLATE, 0, 4096)},
      {"LZMA", Claiming(23000, 23000, 8, COMPRESSION_LZMA)},
  };
  // Each read in a child process whose peak resident size starts at its current size.
  const qrvtest::ChildPeak peak = qrvtest::PeakInChild([&] {
    long refusedWrongly = 0;
    for (const auto& f : files) {
      for (const auto& read : {std::make_pair(24u, 0u), std::make_pair(32u, 0u), std::make_pair(8u, 0u),
                               std::make_pair(16u, 0u), std::make_pair(24u, 2u)}) {
        const ReadResult r = ReadTIFFBytes(f.second, read.first, 0, read.second);
        if (r.ok || r.error != IS_ERR_BADTIFF) {
          std::fprintf(stderr, "%s at %u bits, flags %u: ok %d error %d\n", f.first, read.first, read.second, r.ok,
                       static_cast<int>(r.error));
          ++refusedWrongly;
        }
      }
    }
    return refusedWrongly;
  });
  ASSERT_TRUE(peak.ran);
  EXPECT_EQ(peak.failures, 0) << "a page was read or refused with another code";
  EXPECT_LT(peak.growthMB, 64) << "MB of peak memory";
}

TEST(TIFFDataBound, TightlyCompressedRealPagesStillRead) {
  // Flat pages compress about as far as each codec goes; they decode within its bound.
  struct Case {
    uint16_t compression;
    uint16_t bits;
    uint32_t rowsPerStrip;
    uint32_t tile;
  };
  const Case cases[] = {
      {COMPRESSION_ADOBE_DEFLATE, 8, 1200, 0}, {COMPRESSION_LZW, 8, 1200, 0},       {COMPRESSION_PACKBITS, 8, 0, 0},
      {COMPRESSION_JPEG, 8, 16, 0},            {COMPRESSION_CCITTFAX4, 1, 1200, 0}, {COMPRESSION_CCITTFAX3, 1, 0, 0},
      {COMPRESSION_ADOBE_DEFLATE, 8, 0, 256},
  };
  for (const Case& c : cases) {
    Page p;
    p.width = 1600;
    p.height = 1200;
    p.bits = c.bits;
    p.photometric = c.bits == 1 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
    p.compression = c.compression;
    p.rowsPerStrip = c.rowsPerStrip;
    p.tileWidth = p.tileLength = c.tile;
    p.data.assign(p.RowBytes() * p.height, 0);
    const Bytes file = WriteTIFFPages({p});
    ASSERT_FALSE(file.empty()) << c.compression;
    const ReadResult r = ReadTIFFBytes(file, 8);
    EXPECT_TRUE(r.ok) << "compression " << c.compression << ": " << file.size() << " bytes, error " << r.error;
    EXPECT_EQ(r.width, 1600u);
  }
}
