// Files whose headers claim far more picture than their image data could give are refused in
// little memory; files damaged in or after their image data give their picture, the rows
// decoded before the damage as in the whole file and the rest mid grey, with a warning.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <string>

#include "imaging/core/ISDecodeBudget.h"
#include "platform/global_memory.h"
#include "png_test_util.h"
#include "support/callback_file.h"
#include "support/peak_memory.h"

namespace {

using pngtest::Bytes;
using pngtest::ReadPNG;

void Put32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

// Signature, IHDR, a PLTE for paletted files, one IDAT of 4096 zero bytes deflated, IEND.
Bytes Claiming(uint32_t width, uint32_t height, uint8_t bitDepth, uint8_t colourType, uint8_t interlace) {
  Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  Put32(ihdr, width);
  Put32(ihdr, height);
  ihdr.insert(ihdr.end(), {bitDepth, colourType, 0, 0, interlace});
  Bytes zeros(4096, 0), packed(compressBound(zeros.size()));
  uLongf n = packed.size();
  compress(packed.data(), &n, zeros.data(), zeros.size());
  packed.resize(n);
  for (const Bytes& chunk : {pngtest::Chunk("IHDR", ihdr),
                             colourType == 3 ? pngtest::Chunk("PLTE", {0, 0, 0, 255, 255, 255}) : Bytes(),
                             pngtest::Chunk("IDAT", packed), pngtest::Chunk("IEND", {})})
    png.insert(png.end(), chunk.begin(), chunk.end());
  return png;
}

uint32_t Get32(const Bytes& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}

// A valid 1-bit grey PNG of black rows and the bytes of its image data: deflate stores about
// 16,500 such pixels in a byte.
Bytes OneBitPNG(uint32_t width, uint32_t height, size_t& idatBytes) {
  const Bytes row(1 + (width + 7) / 8, 0);
  Bytes raw;
  raw.reserve(row.size() * height);
  for (uint32_t y = 0; y < height; ++y) raw.insert(raw.end(), row.begin(), row.end());
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(size);
  compress2(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9);
  packed.resize(size);
  idatBytes = packed.size();
  Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  Put32(ihdr, width);
  Put32(ihdr, height);
  ihdr.insert(ihdr.end(), {1, 0, 0, 0, 0});
  for (const Bytes& chunk : {pngtest::Chunk("IHDR", ihdr), pngtest::Chunk("IDAT", packed), pngtest::Chunk("IEND", {})})
    png.insert(png.end(), chunk.begin(), chunk.end());
  return png;
}

// ISReadPNG at 24 bits over a source that cannot tell its size.
qrvtest::ReadResult ReadFromUnsizedSource(const Bytes& png) {
  qrvtest::CallbackFile file;
  file.bytes = png;
  const auto noSize = [](uintptr_t, DWORD*) -> BOOL { return FALSE; };
  ISIOHandle source = ISOpenCallbackSource(file.OnOpen, file.OnWrite, file.OnRead, file.OnSeek, file.OnTell, noSize,
                                           file.OnEof, file.OnClose, 0, reinterpret_cast<uintptr_t>(&file));
  qrvtest::ReadResult r;
  DWORD w = 0, h = 0;
  HGLOBAL image = ISReadPNG(source, &w, &h, 24, nullptr, 0);
  r.ok = image != nullptr;
  r.error = ISGetLastError();
  r.warning = ISGetLastWarning();
  if (image) GlobalFree(image);
  ISCloseSource(source);
  return r;
}

Bytes Noise(size_t n, uint8_t mask) {
  Bytes b(n);
  uint32_t x = 12345;
  for (auto& v : b) v = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16) & mask;
  return b;
}

}  // namespace

TEST(PNGDamage, HugeClaimsOverFewBytesAreRefusedInLittleMemory) {
  const std::vector<std::pair<const char*, Bytes>> files = {
      {"8-bit RGB", Claiming(30000, 30000, 8, 2, 0)},
      {"16-bit RGBA", Claiming(30000, 30000, 16, 6, 0)},
      {"1-bit grey", Claiming(30000, 30000, 1, 0, 0)},
      {"8-bit palette", Claiming(30000, 30000, 8, 3, 0)},
      {"Adam7 RGB", Claiming(30000, 30000, 8, 2, 1)},
      {"1-bit grey, 1000000-pixel rows", Claiming(1000000, 300, 1, 0, 0)},
  };
  ASSERT_LT(files[0].second.size(), 100u);
  const qrvtest::ChildRun peak = qrvtest::RunInChild([&] {
    bool all = true;
    for (const auto& f : files) {
      for (const auto& read : {std::make_pair(24u, 0u), std::make_pair(32u, 0u), std::make_pair(8u, 0u),
                               std::make_pair(0u, 2u)}) {
        const auto r = ReadPNG(f.second, read.first, read.second);
        if (r.ok || r.error != IS_ERR_BADPNG ||
            (r.warning.find("could hold") == std::string::npos && r.warning.find("per 16 pixels") == std::string::npos)) {
          std::fprintf(stderr, "%s at %u bits, flags %u: ok %d error %d (%s)\n", f.first, read.first, read.second,
                       r.ok, static_cast<int>(r.error), r.warning.c_str());
          all = false;
        }
      }
    }
    return all ? 0 : 1;
  });
  ASSERT_TRUE(peak.exited);
  EXPECT_EQ(peak.result, 0) << "a file was read or refused with another code";
  EXPECT_LT(peak.peakMB, 64) << "MB of peak memory";
}

TEST(PNGDamage, OneBitPicturesOverSixtyFourMegapixelsNeedAByteFor16Pixels) {
  // Valid files whose few bytes hold 100 megapixels: refused for the bytes of image data they
  // hold, wherever they come from, before anything is allocated for the picture.
  size_t plainBytes = 0;
  const Bytes plain = OneBitPNG(10000, 10000, plainBytes);
  const struct {
    const char* name;
    std::function<qrvtest::ReadResult()> read;
    uint64_t dataBytes;  // asked of the budget
  } cases[] = {
      {"1-bit", [&] { return ReadPNG(plain, 24); }, plainBytes},
      {"1-bit, source of unknown size", [&] { return ReadFromUnsizedSource(plain); }, 0},
  };
  ASSERT_LT(plain.size(), 20000u);
  for (const auto& c : cases) {
    const qrvtest::ReadResult r = c.read();
    EXPECT_FALSE(r.ok) << c.name;
    EXPECT_EQ(r.error, IS_ERR_BADPNG) << c.name;
    EXPECT_NE(r.warning.find("per 16 pixels"), std::string::npos) << c.name << ": " << r.warning;
    const RovIrirev::DecodeBudgetQuery& q = RovIrirev::LastDecodeBudgetQuery();
    EXPECT_EQ(q.width, 10000u) << c.name;
    EXPECT_EQ(q.height, 10000u) << c.name;
    EXPECT_EQ(q.dataBytes, c.dataBytes) << c.name;
    EXPECT_FALSE(q.allowed) << c.name;
  }
  const qrvtest::ChildRun peak = qrvtest::RunInChild([&] {
    for (const auto& c : cases)
      if (c.read().ok) return 1;
    return 0;
  });
  ASSERT_TRUE(peak.exited);
  EXPECT_EQ(peak.result, 0);
  EXPECT_LT(peak.peakMB, 64) << "MB of peak memory";
}

TEST(PNGDamage, DamageInOrAfterTheImageDataKeepsTheDecodedRows) {
  // Noise hardly compresses: the image data spans several IDAT chunks.
  pngtest::WriteArgs rgb;
  rgb.width = 96;
  rgb.height = 80;
  rgb.stride = 96 * 3;
  const Bytes rgbPixels = Noise(96 * 80 * 3, 0xFF);
  pngtest::WriteArgs adam7 = rgb;
  adam7.flags = 1;
  RGBQUAD palette[16];
  for (int i = 0; i < 16; ++i) palette[i] = {BYTE(i * 16), BYTE(255 - i * 16), BYTE(i * 8), 0};
  palette[5] = {120, 130, 125, 0};  // the entry nearest to mid grey
  pngtest::WriteArgs indexed;
  indexed.width = 192;
  indexed.height = 256;
  indexed.stride = 96;
  indexed.bits = 4;
  indexed.colourType = 3;
  indexed.colours = 16;
  indexed.palette = palette;
  const Bytes indices = Noise(96 * 256, 0xFF);

  struct Read {
    DWORD bits, flags;
    size_t header;  // bytes ahead of the pixels
    Bytes fill;     // one pixel (a byte of packed ones) of the filling
  };
  const Read rgb24 = {24, 0, 0, {128, 128, 128}}, rgba = {32, 0, 0, {128, 128, 128, 255}},
             bgr = {0, IS_READ_AS_STORED, 40, {128, 128, 128}};
  const struct {
    const char* name;
    Bytes png;
    std::vector<Read> reads;
  } pictures[] = {
      {"RGB", pngtest::WritePNG(rgbPixels, rgb), {rgb24, rgba, bgr}},
      {"Adam7 RGB", pngtest::WritePNG(rgbPixels, adam7), {rgb24, rgba, bgr}},
      {"4-bit palette", pngtest::WritePNG(indices, indexed), {{8, 0, 0, {5}}, {0, IS_READ_AS_STORED, 104, {0x55}}}},
  };
  const struct {
    const char* name;
    std::function<Bytes(const Bytes&)> damage;
    const char* warning;
    bool whole;  // every row still decodes
  } damages[] = {
      {"no IEND", [](const Bytes& p) { return Bytes(p.begin(), p.end() - 12); }, "PNG file ended early", true},
      {"cut at 90 %", [](const Bytes& p) { return Bytes(p.begin(), p.begin() + p.size() * 9 / 10); },
       "PNG file ended early", false},
      {"cut mid-IDAT at 50 %", [](const Bytes& p) { return Bytes(p.begin(), p.begin() + p.size() / 2); },
       "PNG file ended early", false},
      {"cut between IDATs",
       [](const Bytes& p) {
         const size_t next = pngtest::FindChunk(p, "IDAT") + 12 + Get32(p, pngtest::FindChunk(p, "IDAT"));
         EXPECT_EQ(std::string(p.begin() + next + 4, p.begin() + next + 8), "IDAT");
         return Bytes(p.begin(), p.begin() + next);
       },
       "PNG file ended early", false},
      {"IDAT CRC",
       [](const Bytes& p) {
         Bytes b = p;
         b[pngtest::FindChunk(p, "IDAT") + 11 + Get32(p, pngtest::FindChunk(p, "IDAT"))] ^= 1;
         return b;
       },
       "IDAT: CRC error", true},
  };
  for (const auto& picture : pictures) {
    ASSERT_GT(picture.png.size(), 10000u) << picture.name;
    const size_t idat = pngtest::FindChunk(picture.png, "IDAT");
    ASSERT_LT(idat + 12 + Get32(picture.png, idat), picture.png.size() / 2) << "one IDAT in " << picture.name;
    for (const auto& damage : damages) {
      const Bytes png = damage.damage(picture.png);
      for (const Read& read : picture.reads) {
        const std::string what = std::string(picture.name) + ", " + damage.name + ", " + std::to_string(read.bits);
        const auto whole = ReadPNG(picture.png, read.bits, read.flags);
        const auto r = ReadPNG(png, read.bits, read.flags);
        ASSERT_TRUE(r.ok) << what << ": " << r.error;
        EXPECT_EQ(r.warning, damage.warning) << what;
        ASSERT_EQ(r.image.size(), whole.image.size()) << what;
        EXPECT_TRUE(std::equal(r.image.begin(), r.image.begin() + read.header, whole.image.begin())) << what;
        // Each pixel as in the whole file, or the filling.
        size_t decoded = 0, filled = 0;
        const size_t unit = read.fill.size();
        for (size_t at = read.header; at + unit <= r.image.size(); at += unit) {
          if (std::equal(r.image.begin() + at, r.image.begin() + at + unit, whole.image.begin() + at))
            ++decoded;
          else if (std::equal(read.fill.begin(), read.fill.end(), r.image.begin() + at))
            ++filled;
          else
            ADD_FAILURE() << what << ": pixel at byte " << at;
        }
        EXPECT_GT(decoded, 0u) << what;
        EXPECT_EQ(filled == 0, damage.whole) << what << ": " << filled << " filled";
      }
    }
    // Cut inside the header, or just before the image data: refused.
    for (size_t n : {size_t{20}, idat + 8}) {
      const auto r = ReadPNG(Bytes(picture.png.begin(), picture.png.begin() + static_cast<long>(n)), 24);
      EXPECT_FALSE(r.ok) << picture.name << " cut at " << n;
      EXPECT_EQ(r.error, IS_ERR_BADPNG) << picture.name << " cut at " << n;
    }
  }
}
