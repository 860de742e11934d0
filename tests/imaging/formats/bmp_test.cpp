// BMP reader and writer: sample files against ImageMagick, as-stored reads, hand-made files
// (RLE clipping, offsets, OS/2), round trips at every depth, and damaged files.
#include <gtest/gtest.h>

#include <cstring>

#include "bmp_image_test_util.h"
#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISDIB.h"
#include "qrv/imaging.h"
#include "support/progress_recorder.h"

using fmttest::Bytes;
using fmttest::Picture;

namespace {

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = v & 255;
  b[at + 1] = (v >> 8) & 255;
}
void Append(Bytes& b, std::initializer_list<int> v) {
  for (int x : v) b.push_back(static_cast<uint8_t>(x));
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 255;
}

// A BMP with a 40-byte header, `colours` table entries (grey ramp 0, 1, 2...) and the data.
Bytes MakeBMP(int32_t width, int32_t height, uint32_t bits, uint32_t compression, uint32_t colours,
              const Bytes& data, uint32_t clrUsed = UINT32_MAX) {
  Bytes b(54 + 4 * colours);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 10, 54 + 4 * colours);
  Put32(b, 14, 40);
  Put32(b, 18, static_cast<uint32_t>(width));
  Put32(b, 22, static_cast<uint32_t>(height));
  Put16(b, 26, 1);
  Put16(b, 28, bits);
  Put32(b, 30, compression);
  Put32(b, 46, clrUsed == UINT32_MAX ? colours : clrUsed);
  for (uint32_t i = 0; i < colours; ++i) b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = static_cast<uint8_t>(i * 10);
  for (uint8_t x : data) b.push_back(x);
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  return b;
}

Picture Read(const Bytes& file, DWORD bits, RGBQUAD* palette = nullptr, DWORD flags = 0, uint64_t bytes = 0) {
  return fmttest::ReadWith(&ISReadBMP, file, bits, palette, flags, bytes);
}

// A BMP whose info header has `size` bytes: the 40-byte header's fields (cut short for an OS/2
// 2.x header under 40 bytes), then the red, green, blue and alpha masks, then zeros; a table
// of 4-byte entries; the data; then `tail`. `v5` writes bytes from 56 on of the header.
Bytes MakeSizedBMP(uint32_t size, int32_t width, int32_t height, uint32_t bits, uint32_t compression,
                   const Bytes& table, const Bytes& data, std::initializer_list<uint32_t> masks = {},
                   const Bytes& tail = {}, const Bytes& v5 = {}) {
  Bytes h = MakeBMP(width, height, bits, compression, 0, {}, static_cast<uint32_t>(table.size() / 4));
  h.erase(h.begin(), h.begin() + 14);
  h.resize(124, 0);
  size_t at = 40;
  for (uint32_t m : masks) Put32(h, at, m), at += 4;
  std::copy(v5.begin(), v5.end(), h.begin() + 56);
  h.resize(size);
  Put32(h, 0, size);
  Bytes b = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Put32(b, 10, static_cast<uint32_t>(14 + size + table.size()));
  for (const Bytes* part : std::initializer_list<const Bytes*>{&h, &table, &data, &tail})
    for (uint8_t x : *part) b.push_back(x);
  Put32(b, 2, static_cast<uint32_t>(b.size()));
  return b;
}

}  // namespace

TEST(BmpSamples, ReadAt24MatchesImageMagickAndAsStoredKeepsDepth) {
  QRV_REQUIRE_TESTDATA("bmp");
  QRV_REQUIRE_TOOL("convert");
  int checked = 0;
  for (const std::string& path : qrvtest::TestDataFiles("bmp")) {
    SCOPED_TRACE(path);
    const Bytes file = qrvtest::ReadFileBytes(path);
    const uint32_t headerSize = file[14] | (file[15] << 8);
    const Picture p = Read(file, 24);
    ASSERT_EQ(p.error, IS_ERR_OK);
    DWORD w = 0, h = 0;
    const Bytes ref = fmttest::MagickPixels(path, false, &w, &h);
    ASSERT_EQ(w, p.width);
    ASSERT_EQ(h, p.height);
    ASSERT_EQ(ref.size(), p.pixels.size());
    const uint16_t bits = file[28] | (file[29] << 8);
    // 16-bit samples are widened by the library as v * 255 / 31 (or by shifting through the
    // masks), ImageMagick by bit replication: they agree to within one 5- or 6-bit step.
    const int tolerance = (headerSize != 12 && bits == 16) ? 8 : 0;
    int worst = 0;
    for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(int(ref[i]) - int(p.pixels[i])));
    EXPECT_LE(worst, tolerance);

    // 32 bits: the same colours, each followed by 255.
    const Picture q = Read(file, 32);
    ASSERT_EQ(q.error, IS_ERR_OK);
    bool same = true;
    for (size_t i = 0, n = size_t{p.width} * p.height; i < n; ++i)
      same = same && std::memcmp(&q.pixels[4 * i], &p.pixels[3 * i], 3) == 0 && q.pixels[4 * i + 3] == 255;
    EXPECT_TRUE(same);

    // As stored: a packed DIB of the file's own depth; uncompressed ones convert back to the
    // same colours.
    ISIOHandle src = ISOpenMemorySource(file.data(), static_cast<DWORD>(file.size()));
    DWORD sw = 0, sh = 0;
    HGLOBAL dib = ISReadBMP(src, &sw, &sh, 0, nullptr, IS_READ_AS_STORED);
    ISCloseSource(src);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(sw, p.width);
    EXPECT_EQ(sh, p.height);
    const BITMAPINFOHEADER info = ReadDIBHeader(dib);
    EXPECT_EQ(info.biSize, 40u);
    EXPECT_EQ(info.biBitCount, headerSize == 12 ? (file[24] | (file[25] << 8)) : bits);
    if (info.biCompression == BI_RGB || info.biCompression == BI_BITFIELDS) {
      Bytes rgb(p.pixels.size());
      ISErrorCode e = 0;
      ASSERT_TRUE(DIBToRGB(e, dib, rgb.data()));
      EXPECT_EQ(rgb, p.pixels);
    }
    GlobalFree(dib);
    ++checked;
  }
  EXPECT_GE(checked, 20);
}

TEST(BmpSamples, IndexReadsKeepThePaletteAndOrientationsAgree) {
  QRV_REQUIRE_TESTDATA("bmp/pal4.bmp");
  for (const char* name : {"bmp/pal1.bmp", "bmp/pal4.bmp", "bmp/pal4rle.bmp", "bmp/pal8.bmp", "bmp/pal8rle.bmp",
                           "bmp/pal8os2.bmp", "bmp/pal8-0.bmp"}) {
    SCOPED_TRACE(name);
    const Bytes file = qrvtest::ReadFileBytes(qrvtest::TestDataFile(name));
    RGBQUAD pal[256];
    const Picture idx = Read(file, 8, pal);
    ASSERT_EQ(idx.error, IS_ERR_OK);
    const Picture rgb = Read(file, 24);
    ASSERT_EQ(rgb.error, IS_ERR_OK);
    bool same = true;
    for (size_t i = 0; i < idx.pixels.size(); ++i) {
      const RGBQUAD& c = pal[idx.pixels[i]];
      same = same && rgb.pixels[3 * i] == c.rgbRed && rgb.pixels[3 * i + 1] == c.rgbGreen &&
             rgb.pixels[3 * i + 2] == c.rgbBlue;
    }
    EXPECT_TRUE(same);
  }
  // A 4-bit file: 12 colours stored; the rest of the 256 entries repeat entry 0.
  RGBQUAD pal[256];
  const Picture p4 = Read(qrvtest::ReadFileBytes(qrvtest::TestDataFile("bmp/pal4.bmp")), 8, pal);
  ASSERT_EQ(p4.error, IS_ERR_OK);
  for (int i = 12; i < 256; ++i) EXPECT_EQ(std::memcmp(&pal[i], &pal[0], 4), 0) << i;
  // An 8-bit file asked for at 1 bit.
  EXPECT_EQ(Read(qrvtest::ReadFileBytes(qrvtest::TestDataFile("bmp/pal8.bmp")), 1, pal).error, IS_ERR_BITDEPTH);
  // A 1-bit file at 1 bit: packed rows, top first.
  const Picture p1 = Read(qrvtest::ReadFileBytes(qrvtest::TestDataFile("bmp/pal1.bmp")), 1, pal, 0, (127 + 7) / 8 * 64);
  ASSERT_EQ(p1.error, IS_ERR_OK);
  const Picture p1x = Read(qrvtest::ReadFileBytes(qrvtest::TestDataFile("bmp/pal1.bmp")), 8, pal);
  bool same = true;
  for (DWORD y = 0; y < 64; ++y)
    for (DWORD x = 0; x < 127; ++x)
      same = same && ((p1.pixels[y * 16 + x / 8] >> (7 - x % 8)) & 1) == p1x.pixels[y * 127 + x];
  EXPECT_TRUE(same);
  // Bottom-up and top-down files of one picture.
  EXPECT_EQ(Read(qrvtest::ReadFileBytes(qrvtest::TestDataFile("bmp/pal8.bmp")), 24).pixels,
            Read(qrvtest::ReadFileBytes(qrvtest::TestDataFile("bmp/pal8topdown.bmp")), 24).pixels);
}

TEST(BmpRead, HandMadeFiles) {
  // 2 x 2 at 24 bits, bottom-up rows of 6 bytes padded to 8; the data offset leaves a gap.
  Bytes rows = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  Bytes f = MakeBMP(2, 2, 24, 0, 0, rows);
  Bytes gap(f.begin(), f.begin() + 54);
  Append(gap, {0xEE, 0xEE, 0xEE});
  for (size_t i = 54; i < f.size(); ++i) gap.push_back(f[i]);
  Put32(gap, 10, 57);
  for (const Bytes& file : {f, gap}) {
    Picture p = Read(file, 24);
    ASSERT_EQ(p.error, IS_ERR_OK);
    EXPECT_EQ(p.pixels, (Bytes{9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}));
  }
  // Negative height: rows top first as stored.
  Put32(f, 22, static_cast<uint32_t>(-2));
  EXPECT_EQ(Read(f, 24).pixels, (Bytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}));
  // An OS/2 file of the same 8-bit picture as a Windows one.
  Bytes os2 = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 26 + 6, 0, 0, 0, 12, 0, 0, 0, 2, 0, 1, 0, 1, 0, 1, 0};
  Append(os2, {10, 20, 30, 40, 50, 60});  // two 3-byte entries (B, G, R)
  Append(os2, {0x40, 0, 0, 0});
  const Picture po = Read(os2, 24);
  ASSERT_EQ(po.error, IS_ERR_OK);
  EXPECT_EQ(po.pixels, (Bytes{30, 20, 10, 60, 50, 40}));
  // A stored colour count beyond the depth is bounded by it (the entries past it are skipped).
  Bytes many = MakeBMP(1, 1, 1, 0, 2, {0x80, 0, 0, 0}, 5000);
  const Picture pm = Read(many, 24);
  ASSERT_EQ(pm.error, IS_ERR_OK);
  EXPECT_EQ(pm.pixels, (Bytes{10, 10, 10}));
  // Not a bitmap, an unknown header, a zero width, a huge picture in a tiny file.
  Bytes bad = f;
  bad[0] = 'X';
  EXPECT_EQ(Read(bad, 24).error, IS_ERR_NOTBMP);
  bad = f;
  Put32(bad, 14, 66);
  EXPECT_EQ(Read(bad, 24).error, IS_ERR_NOTBMP);
  bad = f;
  Put32(bad, 18, 0);
  EXPECT_EQ(Read(bad, 24).error, IS_ERR_NOTBMP);
  bad = f;
  Put32(bad, 18, 0x7FFFFFFF);
  Put32(bad, 22, 0x7FFFFFFF);
  EXPECT_EQ(Read(bad, 24).error, IS_ERR_READ);
  EXPECT_EQ(Read(bad, 0, nullptr, IS_READ_AS_STORED).error, IS_ERR_READ);
  EXPECT_EQ(Read(f, 16).error, IS_ERR_BADPARAM);
  EXPECT_EQ(Read(f, 4, nullptr).error, IS_ERR_BADPARAM);
  RGBQUAD pal[256];
  EXPECT_EQ(Read(f, 8, pal).error, IS_ERR_BITDEPTH);
}

TEST(BmpRead, RLERunsAreClippedToTheImage) {
  // 4 x 2, RLE8: a run of 9 (clipped at 4), an absolute run of 5 (clipped), a delta far
  // beyond the right edge, then end of bitmap.
  Bytes rle = {9, 3, 0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 0, 2, 200, 0, 0, 1};
  Bytes f = MakeBMP(4, 2, 8, 1, 8, rle);
  RGBQUAD pal[256];
  const Picture p = Read(f, 8, pal);
  ASSERT_EQ(p.error, IS_ERR_OK);
  EXPECT_EQ(p.pixels, (Bytes{1, 2, 3, 4, 3, 3, 3, 3}));
  // RLE4: nibbles alternate in runs; a literal run of 3 takes 2 bytes, padded to 4.
  Bytes rle4 = {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 0, 0, 1};
  const Picture p4 = Read(MakeBMP(5, 2, 4, 2, 16, rle4), 8, pal);
  ASSERT_EQ(p4.error, IS_ERR_OK);
  EXPECT_EQ(p4.pixels, (Bytes{3, 4, 5, 0, 0, 1, 2, 1, 2, 1}));
  // Data ending before the picture is complete: the bottom row decoded, the other mid grey.
  const Picture cut = Read(MakeBMP(4, 2, 8, 1, 8, {2, 1, 0, 0}), 8, pal);
  ASSERT_EQ(cut.error, IS_ERR_OK);
  EXPECT_EQ(cut.pixels, (Bytes{128, 128, 128, 128, 1, 1, 0, 0}));
  EXPECT_EQ(cut.warning, "BMP file ended early: 1 of 2 rows decoded");
  // An RLE8 header on a 4-bit file.
  EXPECT_EQ(Read(MakeBMP(4, 2, 4, 1, 16, {2, 1, 0, 1}), 8, pal).error, IS_ERR_BMPRLE);
  // A huge picture described by a few bytes is refused before anything is allocated.
  EXPECT_EQ(Read(MakeBMP(60000, 60000, 8, 1, 8, {0, 1}), 24).error, IS_ERR_READ);
}

TEST(BmpRead, RLEThatSkipsPixelsIsReadUpToTheCeiling) {
  // An end of line before the row is full, a delta and an end of bitmap before the last pixel
  // pass over pixels without bytes: such data bounds no picture, which is read up to the
  // ceiling, every pixel passed over index 0. Data without them keeps the bound of its bytes.
  struct Run {
    uint32_t x, y, length;  // in stored rows, bottom first
    uint8_t value;
  };
  Bytes tenRuns, runPerRow, deltas;
  std::vector<Run> tenRunsPaint, runPerRowPaint, deltasPaint;
  for (int i = 0; i < 10; ++i) Append(tenRuns, {255, 10 + i});  // the 8th run clipped, two past the row end
  for (uint32_t i = 0; i < 8; ++i) tenRunsPaint.push_back({255 * i, 0, i < 7 ? 255u : 215u, uint8_t(10 + i)});
  const Bytes tenRunsCut = tenRuns;
  Append(tenRuns, {0, 1});
  for (uint32_t y = 0; y < 2000; ++y) {
    Append(runPerRow, {3, int(y % 200) + 1, 0, 0});
    runPerRowPaint.push_back({0, y, 3, uint8_t(y % 200 + 1)});
  }
  Append(runPerRow, {0, 1});
  for (uint32_t i = 0; i < 7; ++i) {
    Append(deltas, {2, int(50 + i), 0, 2, 250, 250});
    deltasPaint.push_back({252 * i, 250 * i, 2, uint8_t(50 + i)});
  }
  Append(deltas, {0, 1});
  const struct {
    const char* name;
    uint32_t width, height;
    Bytes data;
    std::vector<Run> paint;  // what a read gives; nothing when refused
    bool skips, read;
  } cases[] = {
      {"ten runs, then end of bitmap", 2000, 2000, tenRuns, tenRunsPaint, true, true},
      {"a run and end of line per row", 2000, 2000, runPerRow, runPerRowPaint, true, true},
      {"runs and deltas", 2000, 2000, deltas, deltasPaint, true, true},
      {"ten runs, then no more data", 2000, 2000, tenRunsCut, {}, false, false},
      {"ten runs, then end of bitmap, over 64 megapixels", 9000, 9000, tenRuns, {}, true, false},
  };
  RGBQUAD pal[256];
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes file = MakeBMP(int32_t(c.width), int32_t(c.height), 8, 1, 256, c.data);
    EXPECT_LT(file.size(), 1078 + 8200u);
    const Picture p = Read(file, 8, pal);
    const RovIrirev::DecodeBudgetQuery q = RovIrirev::LastDecodeBudgetQuery();
    EXPECT_EQ(q.dataBytes, c.data.size());
    EXPECT_EQ(q.dataPixels == RovIrirev::kUnboundedData, c.skips);
    EXPECT_EQ(q.allowed, c.read);
    if (!c.read) {
      EXPECT_EQ(p.error, IS_ERR_READ);
      continue;
    }
    ASSERT_EQ(p.error, IS_ERR_OK);
    EXPECT_EQ(p.warning, "");
    Bytes expect(size_t{c.width} * c.height, 0);
    for (const Run& r : c.paint)
      std::memset(&expect[(c.height - 1 - r.y) * size_t{c.width} + r.x], r.value, r.length);
    EXPECT_TRUE(p.pixels == expect);
    const Picture rgb = Read(file, 24);
    ASSERT_EQ(rgb.error, IS_ERR_OK);
    for (size_t i = 0; i < expect.size(); i += 997) EXPECT_EQ(rgb.pixels[3 * i], pal[expect[i]].rgbRed) << i;
    EXPECT_EQ(Read(file, 0, nullptr, IS_READ_AS_STORED).error, IS_ERR_OK);
  }
}

// Every info header in use reads as ImageMagick reads it (the OS/2 2.x ones as it reads the
// same picture with the 40-byte header: it refuses 16 bytes and takes a 64-byte header's
// table as 3-byte entries); a version 5 header's embedded profile is kept.
TEST(BmpRead, EveryHeaderSizeReadsLikeImageMagick) {
  QRV_REQUIRE_TOOL("convert");
  const int32_t w = 5, h = 3;
  auto rows = [&](uint32_t bits) {
    const size_t stride = (w * bits + 31) / 32 * 4;
    Bytes d(stride * h, 0);
    for (int32_t y = 0; y < h; ++y)
      for (size_t x = 0; x < w * bits / 8; ++x) d[y * stride + x] = static_cast<uint8_t>(x * 37 + y * 91 + 5);
    return d;
  };
  Bytes table, indices;
  for (int i = 0; i < 256; ++i) Append(table, {i * 15, 255 - i * 5, i * 7, 0});
  for (int32_t y = 0; y < h; ++y) Append(indices, {y, y + 1, y + 7, y + 200, 3, 0, 0, 0});
  // A profile of 132 bytes whose header holds together, embedded after the pixels.
  Bytes profile(132, 7);
  Put32(profile, 0, 0x84000000u);
  std::memcpy(&profile[36], "acsp", 4);
  auto v5 = [](const char* kind, uint32_t offset, uint32_t size) {
    Bytes b(68, 0);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(kind[3 - i]);
    Put32(b, 112 - 56, offset);
    Put32(b, 116 - 56, size);
    return b;
  };
  const uint32_t after24 = 124 + static_cast<uint32_t>(rows(24).size());  // from the info header on
  const std::initializer_list<uint32_t> rgb565 = {0xF800, 0x07E0, 0x001F}, argb = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  const struct {
    const char* name;
    Bytes file;
    Bytes twin;     // what ImageMagick reads instead, when it does not read the file itself
    Bytes profile;  // the profile kept
    bool profileNote;
  } cases[] = {
      {"version 4, 24 bits", MakeSizedBMP(108, w, h, 24, 0, {}, rows(24)), {}, {}, false},
      {"version 5, 8 bits", MakeSizedBMP(124, w, -h, 8, 0, table, indices), {}, {}, false},
      {"version 5, embedded profile",
       MakeSizedBMP(124, w, h, 24, 0, {}, rows(24), {}, profile, v5("MBED", after24, 132)),
       {}, profile, false},
      {"version 5, linked profile", MakeSizedBMP(124, w, h, 24, 0, {}, rows(24), {}, {'a', '.', 'i', 'c', 'c', 0},
                                                 v5("LINK", after24, 6)), {}, {}, true},
      {"version 5, profile past the end",
       MakeSizedBMP(124, w, h, 24, 0, {}, rows(24), {}, {}, v5("MBED", after24, 132)),
       MakeSizedBMP(124, w, h, 24, 0, {}, rows(24)), {}, true},
      {"52 bytes, 5-6-5 bit fields", MakeSizedBMP(52, w, h, 16, 3, {}, rows(16), rgb565), {}, {}, false},
      {"56 bytes, 32 bits with alpha", MakeSizedBMP(56, w, h, 32, 3, {}, rows(32), argb), {}, {}, false},
      {"OS/2 2.x, 16 bytes", MakeSizedBMP(16, w, h, 8, 0, table, indices),
       MakeSizedBMP(40, w, h, 8, 0, table, indices), {}, false},
      {"OS/2 2.x, 64 bytes", MakeSizedBMP(64, w, h, 8, 0, table, indices),
       MakeSizedBMP(40, w, h, 8, 0, table, indices), {}, false},
      {"XBGR bit fields", MakeSizedBMP(108, w, h, 32, 3, {}, rows(32), {0xFF, 0xFF00, 0xFF0000}), {}, {}, false},
      {"4444 with alpha", MakeSizedBMP(108, w, h, 16, 3, {}, rows(16), {0x0F00, 0x00F0, 0x000F, 0xF000}), {}, {},
       false},
      {"version 5, 32 bits with alpha", MakeSizedBMP(124, w, h, 32, 3, {}, rows(32), argb), {}, {}, false},
  };
  qrvtest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("f.bmp");
    ASSERT_TRUE(qrvtest::WriteFileBytes(path, c.twin.empty() ? c.file : c.twin));
    const Bytes ref = fmttest::MagickPixels(path, false);
    ASSERT_EQ(ref.size(), size_t{w} * h * 3);
    const Picture p = Read(c.file, 24);
    ASSERT_EQ(p.error, IS_ERR_OK) << p.warning;
    // 5- and 6-bit samples are widened by shifting, by ImageMagick by bit replication.
    const int tolerance = std::strstr(c.name, "5-6-5") ? 7 : 0;
    for (size_t i = 0; i < ref.size(); ++i) ASSERT_LE(std::abs(int(ref[i]) - int(p.pixels[i])), tolerance) << i;
    EXPECT_EQ(qrvtest::MetadataOfLastRead(IS_META_ICC), c.profile);
    EXPECT_EQ(std::string(ISGetReadMetadataNote(IS_META_ICC)).empty(), !c.profileNote);
    // The packed DIB as stored, with a 40-byte header (and the masks behind it), says the same.
    const uint32_t bits = c.file[28];  // every 16- and 32-bit file here has bit fields
    const Picture dib = Read(c.file, 0, nullptr, IS_READ_AS_STORED,
                             40 + (bits == 8 ? 1024 : bits == 24 ? 0 : 12) + rows(bits).size());
    Bytes rgb(p.pixels.size());
    ISErrorCode e = 0;
    ASSERT_TRUE(dib.error == IS_ERR_OK && DIBToRGB(e, dib.pixels.data(), rgb.data()));
    EXPECT_EQ(ReadDIBHeader(dib.pixels.data()).biSize, 40u);
    EXPECT_EQ(rgb, p.pixels);
  }
}

TEST(BmpRead, RefusalsSayWhatTheFileHolds) {
  const Bytes v5 = MakeSizedBMP(124, 2, 2, 24, 0, {}, {});
  // Cut where its data could give less than half its picture.
  Bytes cut = MakeBMP(160, 120, 24, 0, 0, Bytes(160 * 3 * 120, 1));
  cut.resize(54 + 160 * 3 * 120 * 45 / 100);
  const struct {
    Bytes file;
    const char* refusal;
  } cases[] = {
      {MakeSizedBMP(64, 2, 2, 1, 3, {}, Bytes(16, 0)),
       "OS/2 2.x BMP compression 3 (Huffman 1-D) is not read by this build"},
      {MakeSizedBMP(24, 2, 2, 24, 4, {}, Bytes(16, 0)),
       "OS/2 2.x BMP compression 4 (24-bit RLE) is not read by this build"},
      {MakeSizedBMP(124, 2, 2, 24, 4, {}, Bytes(16, 0)), "BMP compression 4 (JPEG data) is not read by this build"},
      {MakeSizedBMP(108, 2, 2, 24, 5, {}, Bytes(16, 0)), "BMP compression 5 (PNG data) is not read by this build"},
      {MakeSizedBMP(41, 2, 2, 24, 0, {}, Bytes(16, 0)), "BMP header of 41 bytes is not a known BMP header"},
      {Bytes(v5.begin(), v5.begin() + 100), "BMP file of 100 bytes ends within its 124-byte BMP header"},
      {cut, "BMP file ends after 25920 of the 57600 bytes its picture needs"},
  };
  for (const auto& c : cases) {
    for (DWORD flags : {DWORD{0}, DWORD{IS_READ_AS_STORED}}) {
      const Picture r = Read(c.file, 24, nullptr, flags);
      EXPECT_NE(r.error, IS_ERR_OK) << c.refusal;
      EXPECT_EQ(r.warning, c.refusal);
    }
  }
}

TEST(BmpWrite, HandWorkedLayouts) {
  // 24 bits, width 1: rows of 4 bytes, bottom row first, B, G, R.
  const BYTE px[] = {1, 2, 3, 4, 5, 6};
  fmttest::MemorySink sink;
  const BOOL size = ISWriteBMP(sink.handle, px, 1, 2, 24, 0, nullptr, nullptr, 0);
  ASSERT_EQ(size, 54 + 8);
  const Bytes f = sink.Take(size);
  EXPECT_EQ(Bytes(f.begin() + 54, f.end()), (Bytes{6, 5, 4, 0, 3, 2, 1, 0}));
  EXPECT_EQ(f[10], 54);
  // RLE8 of a uniform row of 10 pixels.
  Bytes row(10, 7);
  RGBQUAD pal[256] = {};
  fmttest::MemorySink rs;
  const BOOL rsize = ISWriteBMP(rs.handle, row.data(), 10, 1, 8, 256, pal, nullptr, 1);
  ASSERT_GT(rsize, 0);
  const Bytes r = rs.Take(rsize);
  EXPECT_EQ(Bytes(r.begin() + 1078, r.end()), (Bytes{10, 7, 0, 0, 0, 1}));
  EXPECT_EQ(r[2] | (r[3] << 8), 1078 + 6);
  EXPECT_EQ(r[34], 6);
  // An odd width with an absolute run: the padding byte is no pixel.
  const BYTE odd[] = {1, 2, 3, 9, 9};
  fmttest::MemorySink os;
  const BOOL osize = ISWriteBMP(os.handle, odd, 5, 1, 8, 16, pal, nullptr, 1);
  const Bytes o = os.Take(osize);
  EXPECT_EQ(Bytes(o.begin() + 54 + 64, o.end()), (Bytes{0, 3, 1, 2, 3, 0, 2, 9, 0, 0, 0, 1}));
  // The costliest row for RLE8: a single pixel before every pair (2 bytes a pixel).
  Bytes costly;
  for (int i = 0; i < 60; ++i) costly.push_back(static_cast<uint8_t>(i % 3 == 0 ? i : i - i % 3 + 1));
  fmttest::MemorySink cs;
  const BOOL csize = ISWriteBMP(cs.handle, costly.data(), 60, 1, 8, 256, pal, nullptr, 1);
  ASSERT_GT(csize, 0);
  RGBQUAD got[256];
  EXPECT_EQ(Read(cs.Take(csize), 8, got).pixels, costly);
  // Bad arguments.
  EXPECT_FALSE(ISWriteBMP(sink.handle, px, 1, 1, 8, 0, nullptr, nullptr, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISWriteBMP(sink.handle, px, 1, 1, 12, 0, nullptr, nullptr, 0));
  EXPECT_FALSE(ISWriteBMP(nullptr, px, 1, 1, 24, 0, nullptr, nullptr, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
}

TEST(BmpWrite, RoundTripsAtEveryDepthAndImageMagickAgrees) {
  const DWORD w = 13, h = 7;
  Bytes rgb(w * h * 4), idx(w * h);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 37 + (i >> 3));
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = static_cast<uint8_t>((i / 3) % 6 == 0 ? 5 : i % 11);
  RGBQUAD pal[256];
  for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(i * 3), BYTE(255 - i), BYTE(i * 7), 0};
  qrvtest::TempDir dir;
  const bool magick = qrvtest::HasTool("convert");
  for (DWORD bits : {1u, 4u, 8u, 16u, 24u, 32u, 108u}) {
    SCOPED_TRACE(bits);
    const bool rle = bits == 108;
    const DWORD b = rle ? 8 : bits;
    // Input: packed indices for 1 and 4 bits, 5-5-5 words for 16, pixels otherwise.
    Bytes in;
    const DWORD mask = b < 8 ? (1u << b) - 1 : 255;
    if (b == 1 || b == 4) {
      const DWORD rowBytes = (w * b + 7) / 8;
      in.assign(rowBytes * h, 0);
      for (DWORD y = 0; y < h; ++y)
        for (DWORD x = 0; x < w; ++x)
          in[y * rowBytes + x * b / 8] |= static_cast<uint8_t>((idx[y * w + x] & mask) << (8 - b - (x * b) % 8));
    } else if (b == 8) {
      in = idx;
    } else {
      in.assign(rgb.begin(), rgb.begin() + w * h * (b / 8));
      if (b == 16)
        for (size_t i = 1; i < in.size(); i += 2) in[i] &= 0x7F;
    }
    fmttest::MemorySink sink;
    const BOOL size = ISWriteBMP(sink.handle, in.data(), w, h, b, 0, pal, nullptr, rle ? 1 : 0);
    ASSERT_GT(size, 0);
    const Bytes file = sink.Take(size);
    const Picture back = Read(file, 24);
    ASSERT_EQ(back.error, IS_ERR_OK);
    Bytes expect(w * h * 3);
    for (DWORD i = 0; i < w * h; ++i) {
      BYTE* e = &expect[3 * i];
      if (b <= 8) {
        const RGBQUAD& c = pal[idx[i] & mask];
        e[0] = c.rgbRed, e[1] = c.rgbGreen, e[2] = c.rgbBlue;
      } else if (b == 16) {
        const DWORD v = in[2 * i] | (in[2 * i + 1] << 8);
        e[0] = ((v >> 10) & 31) * 255 / 31, e[1] = ((v >> 5) & 31) * 255 / 31, e[2] = (v & 31) * 255 / 31;
      } else {
        std::memcpy(e, &in[i * (b / 8)], 3);
      }
    }
    EXPECT_EQ(back.pixels, expect);
    if (b <= 8) {
      RGBQUAD got[256];
      const Picture ib = Read(file, 8, got);
      ASSERT_EQ(ib.error, IS_ERR_OK);
      for (DWORD i = 0; i < w * h; ++i) ASSERT_EQ(ib.pixels[i], idx[i] & mask);
    }
    if (magick && b != 16) {
      const std::string path = dir.File("w" + std::to_string(bits) + ".bmp");
      qrvtest::WriteFileBytes(path, file);
      EXPECT_EQ(fmttest::MagickPixels(path, false), expect);
    }
  }
  // A packed DIB given whole becomes the body of the file.
  ISErrorCode e = 0;
  void* dib = RGBToDIB(e, rgb.data(), w, h, nullptr, 0);
  ASSERT_NE(dib, nullptr);
  fmttest::MemorySink ds;
  const BOOL dsize = ISWriteBMP(ds.handle, static_cast<const BYTE*>(dib), 0, 0, 0, 0, nullptr, nullptr, 2);
  GlobalFree(dib);
  ASSERT_GT(dsize, 0);
  const Picture dp = Read(ds.Take(dsize), 24);
  ASSERT_EQ(dp.error, IS_ERR_OK);
  EXPECT_EQ(dp.pixels, Bytes(rgb.begin(), rgb.begin() + w * h * 3));
}

TEST(BmpRead, DamagedSamplesReadAsFarAsTheyGoOrFailWithTheirCodes) {
  QRV_REQUIRE_TESTDATA("bmp");
  RGBQUAD pal[256];
  for (const std::string& path : qrvtest::TestDataFiles("bmp")) {
    SCOPED_TRACE(path);
    const Bytes file = qrvtest::ReadFileBytes(path);
    const size_t dataStart = file[10] | (file[11] << 8) | (file[12] << 16) | (size_t{file[13]} << 24);
    const bool rle = file[14] == 40 && (file[30] == 1 || file[30] == 2);
    for (const auto& [bits, flags] : {std::pair<DWORD, DWORD>{24, 0}, {8, 0}, {0, IS_READ_AS_STORED}}) {
      // A sample refused whole (a header this reader does not take, a depth above the request)
      // is refused however it is cut; as stored, RLE data is handed on whole or not at all.
      const bool whole = Read(file, bits, pal, flags).error == IS_ERR_OK;
      for (const Bytes& cut : fmttest::Truncations(file)) {
        fmttest::CutGives expect = fmttest::CutInData(cut.size(), dataStart, file.size());
        if (!whole || (rle && flags)) expect = fmttest::CutGives::kRefusal;
        fmttest::ExpectCut(&ISReadBMP, cut, bits, flags ? nullptr : pal, expect,
                           {IS_ERR_READ, IS_ERR_NOTBMP, IS_ERR_BITDEPTH}, "BMP", file.size(), flags);
      }
    }
    fmttest::ExpectCorruptionsGiveOnly(&ISReadBMP, file, {24, 8, 1},
                                       {IS_ERR_READ, IS_ERR_NOTBMP, IS_ERR_BMPRLE, IS_ERR_BITDEPTH, IS_ERR_NOMEM});
  }
}

// Progress of the four formats' readers and writers: once per row (per row of each channel
// for PSD), and a stop on the second report fails with 14 and no result.
TEST(FormatProgress, ReportsPerRowAndStops) {
  const DWORD w = 5, h = 4;
  Bytes rgb(w * h * 3, 90);
  RGBQUAD pal[256] = {};
  using Writer = BOOL (*)(ISIOHandle, const BYTE*, DWORD, DWORD, const RGBQUAD*);
  const struct {
    const char* name;
    Writer write;
    fmttest::ReaderFn read;
    size_t reports;
  } formats[] = {
      {"bmp", [](ISIOHandle s, const BYTE* p, DWORD x, DWORD y, const RGBQUAD*) {
         return ISWriteBMP(s, p, x, y, 24, 0, nullptr, nullptr, 0); }, &ISReadBMP, h},
      {"tga", [](ISIOHandle s, const BYTE* p, DWORD x, DWORD y, const RGBQUAD* q) {
         return ISWriteTGA(s, p, x, y, 24, q, 0); }, &ISReadTGA, h},
      {"pcx", [](ISIOHandle s, const BYTE* p, DWORD x, DWORD y, const RGBQUAD* q) {
         return ISWritePCX(s, p, x, y, 24, q, 0); }, &ISReadPCX, h},
      {"psd", [](ISIOHandle s, const BYTE* p, DWORD x, DWORD y, const RGBQUAD* q) {
         return ISWritePSD(s, p, x, y, 24, q, 0); }, &ISReadPSD, 3 * h},
  };
  for (const auto& f : formats) {
    SCOPED_TRACE(f.name);
    Bytes file;
    {
      qrvtest::ProgressRecorder rec;
      fmttest::MemorySink sink;
      const BOOL n = f.write(sink.handle, rgb.data(), w, h, pal);
      ASSERT_GT(n, 0);
      file = sink.Take(n);
      EXPECT_EQ(rec.calls.size(), f.reports);
    }
    {
      qrvtest::ProgressRecorder rec;
      EXPECT_EQ(fmttest::ReadWith(f.read, file, 24).pixels, rgb);
      ASSERT_EQ(rec.calls.size(), f.reports);
      EXPECT_EQ(rec.calls.back().second, f.reports);
    }
    {
      qrvtest::ProgressRecorder rec(1, 1);
      const Picture p = fmttest::ReadWith(f.read, file, 24);
      EXPECT_EQ(p.error, IS_ERR_STOPPED);
      EXPECT_TRUE(p.pixels.empty());
      fmttest::MemorySink sink;
      EXPECT_FALSE(f.write(sink.handle, rgb.data(), w, h, pal));
      EXPECT_EQ(ISGetLastError(), IS_ERR_STOPPED);
    }
  }
}
