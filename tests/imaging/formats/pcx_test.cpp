// PCX reader and writer: sample files against ImageMagick, hand-made bit-plane and byte-plane
// files, the encoder's runs, round trips read back by ImageMagick, and damaged files.
#include <gtest/gtest.h>

#include <cstring>

#include "bmp_image_test_util.h"
#include "qrv/imaging.h"

using fmttest::Bytes;
using fmttest::Picture;

namespace {

Picture Read(const Bytes& file, DWORD bits, RGBQUAD* palette = nullptr, DWORD flags = 0, uint64_t bytes = 0) {
  return fmttest::ReadWith(&ISReadPCX, file, bits, palette, flags, bytes);
}

// A 128-byte header of version 5 for w x h, then the data.
Bytes MakePCX(int planeBits, int planes, int w, int h, int bytesPerLine, const Bytes& data, int version = 5) {
  Bytes b(128, 0);
  b[0] = 10;
  b[1] = static_cast<uint8_t>(version);
  b[2] = 1;
  b[3] = static_cast<uint8_t>(planeBits);
  b[8] = static_cast<uint8_t>((w - 1) & 255), b[9] = static_cast<uint8_t>((w - 1) >> 8);
  b[10] = static_cast<uint8_t>((h - 1) & 255), b[11] = static_cast<uint8_t>((h - 1) >> 8);
  for (int i = 0; i < 16; ++i) b[16 + 3 * i] = static_cast<uint8_t>(i * 16), b[17 + 3 * i] = 1, b[18 + 3 * i] = 2;
  b[65] = static_cast<uint8_t>(planes);
  b[66] = static_cast<uint8_t>(bytesPerLine);
  for (uint8_t x : data) b.push_back(x);
  return b;
}

Bytes Data(const Bytes& file) { return Bytes(file.begin() + 128, file.end()); }

}  // namespace

TEST(PcxSamples, ReadsMatchImageMagick) {
  QRV_REQUIRE_TESTDATA("pcx");
  QRV_REQUIRE_TOOL("convert");
  for (const char* name : {"odd_stride.pcx", "p_4_planes.pcx", "pil184.pcx"}) {
    SCOPED_TRACE(name);
    const std::string path = qrvtest::TestDataFile(std::string("pcx/") + name);
    const Bytes file = qrvtest::ReadFileBytes(path);
    const Picture p = Read(file, 24);
    ASSERT_EQ(p.error, IS_ERR_OK);
    DWORD w = 0, h = 0;
    Bytes ref = fmttest::MagickPixels(path, false, &w, &h);
    // A monochrome file reads set bits as white; ImageMagick shows this one the other way
    // round although its header palette also holds black then white.
    if (std::string(name) == "pil184.pcx")
      for (uint8_t& v : ref) v = static_cast<uint8_t>(255 - v);
    EXPECT_EQ(p.pixels, ref);
    EXPECT_EQ(w, p.width);
    EXPECT_EQ(h, p.height);
    // At its own depth: indices (or packed bits) through the palette give the same colours.
    RGBQUAD pal[256];
    const bool mono = std::string(name) == "pil184.pcx";
    const Picture s = Read(file, 0, pal, IS_READ_AS_STORED, mono ? (p.width + 7) / 8 * p.height : p.width * p.height);
    ASSERT_EQ(s.error, IS_ERR_OK);
    bool same = true;
    for (DWORD y = 0; y < p.height; ++y)
      for (DWORD x = 0; x < p.width; ++x) {
        const size_t i = size_t{y} * p.width + x;
        const BYTE index = mono ? (s.pixels[y * ((p.width + 7) / 8) + x / 8] >> (7 - x % 8)) & 1 : s.pixels[i];
        same = same && p.pixels[3 * i] == pal[index].rgbRed && p.pixels[3 * i + 2] == pal[index].rgbBlue;
      }
    EXPECT_TRUE(same);
  }
  // This sample's bytes per line cannot hold its 8-bit lines.
  EXPECT_EQ(Read(qrvtest::ReadFileBytes(qrvtest::TestDataFile("pcx/01r_00.pcx")), 24).error, IS_ERR_BADPCX);
}

TEST(PcxRead, HandMadeFiles) {
  // 4-bit EGA: 4 planes of 1 bit, 3 pixels with indices 1, 2, 15; bytes per line 2.
  // Plane i holds bit i: plane0 = 1 0 1, plane1 = 0 1 1, plane2 = 0 0 1, plane3 = 0 0 1.
  const Bytes ega = MakePCX(1, 4, 3, 1, 2, {0xA0, 0, 0x60, 0, 0x20, 0, 0x20, 0});
  RGBQUAD pal[256];
  const Picture e = Read(ega, 8, pal);
  ASSERT_EQ(e.error, IS_ERR_OK);
  EXPECT_EQ(e.pixels, (Bytes{1, 2, 15}));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(pal[i].rgbRed, i * 16) << i;
  EXPECT_EQ(pal[15].rgbGreen, 1);
  EXPECT_EQ(std::memcmp(&pal[200], &pal[0], 4), 0);
  // 6 bit planes: 64 indices, of which the header holds the first 16 colours.
  const Picture six = Read(MakePCX(1, 6, 1, 1, 2, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0}), 8, pal);
  ASSERT_EQ(six.error, IS_ERR_OK);
  EXPECT_EQ(six.pixels, (Bytes{32}));
  EXPECT_EQ(pal[15].rgbRed, 240);
  EXPECT_EQ(std::memcmp(&pal[32], &pal[0], 4), 0);
  // 8 bits: a run cut at the end of the line; without the palette marker the grey ramp.
  Bytes grey = MakePCX(8, 1, 3, 2, 4, {0xC5, 7, 0xC2, 9, 0xC3, 0xC1});
  for (int i = 0; i < 769; ++i) grey.push_back(5);
  const Picture g = Read(grey, 24);
  ASSERT_EQ(g.error, IS_ERR_OK);
  EXPECT_EQ(g.pixels, (Bytes{7, 7, 7, 7, 7, 7, 7, 7, 7, 9, 9, 9, 9, 9, 9, 0xC1, 0xC1, 0xC1}));
  grey[grey.size() - 769] = 12;  // now a palette of (5, 5, 5)
  EXPECT_EQ(Read(grey, 24).pixels, Bytes(18, 5));
  // A monochrome file: black and white.
  const Picture m = Read(MakePCX(1, 1, 2, 1, 2, {0x40, 0}), 24);
  EXPECT_EQ(m.pixels, (Bytes{0, 0, 0, 255, 255, 255}));
  // 24 bits in three byte planes.
  const Picture c = Read(MakePCX(8, 3, 1, 1, 2, {1, 0, 2, 0, 3, 0}), 24);
  EXPECT_EQ(c.pixels, (Bytes{1, 2, 3}));
  // Refused: a depth above the request, a bad header, lines that cannot hold the width,
  // data ending early, a huge picture in a tiny file.
  EXPECT_EQ(Read(grey, 1, pal).error, IS_ERR_BITDEPTH);
  EXPECT_EQ(Read(grey, 1, pal).warning, "PCX of 8 bits (1 plane of 8) is deeper than the 1 bit asked for");
  // Four byte planes are 32 bits: deeper than any read, as stored too.
  for (DWORD flags : {DWORD{0}, DWORD{IS_READ_AS_STORED}}) {
    const Picture r = Read(MakePCX(8, 4, 1, 1, 2, {1, 0, 2, 0, 3, 0, 4, 0}), 24, pal, flags);
    EXPECT_EQ(r.error, IS_ERR_BITDEPTH);
    EXPECT_EQ(r.warning, "PCX of 32 bits (4 planes of 8) is deeper than the 24 bits asked for");
  }
  EXPECT_EQ(Read(MakePCX(8, 3, 1, 1, 2, {1, 0, 2, 0, 3, 0}), 8, pal).error, IS_ERR_BITDEPTH);
  Bytes bad = ega;
  bad[0] = 11;
  EXPECT_EQ(Read(bad, 24).error, IS_ERR_BADPCX);
  bad = ega;
  bad[1] = 4;
  EXPECT_EQ(Read(bad, 24).error, IS_ERR_BADPCX);
  bad = ega;
  bad[2] = 2;
  EXPECT_EQ(Read(bad, 24).error, IS_ERR_BADPCX);
  bad = ega;
  bad[4] = 5;  // xmin above xmax
  EXPECT_EQ(Read(bad, 24).error, IS_ERR_BADPCX);
  EXPECT_EQ(Read(MakePCX(8, 1, 9, 1, 4, Bytes(10, 1)), 24).error, IS_ERR_BADPCX);
  EXPECT_EQ(Read(MakePCX(8, 2, 1, 1, 2, Bytes(10, 1)), 24).error, IS_ERR_BADPCX);
  const Picture cut = Read(MakePCX(8, 1, 4, 2, 4, {0xC4, 1}), 24);  // only the first line
  EXPECT_EQ(cut.error, IS_ERR_OK);
  EXPECT_EQ(cut.warning, "PCX file ended early: 1 of 2 rows decoded");
  EXPECT_EQ(Bytes(cut.pixels.begin() + 12, cut.pixels.end()), Bytes(12, 128));
  EXPECT_EQ(Read(MakePCX(8, 1, 65535, 65535, 0xFF, {0xFF, 1}), 24).error, IS_ERR_BADPCX);
  EXPECT_EQ(Read(ega, 16).error, IS_ERR_BADPARAM);
  EXPECT_EQ(Read(ega, 8, nullptr).error, IS_ERR_BADPARAM);
}

// Lines stored without run-length coding, as ImageMagick writes them when asked not to
// compress: 24 bits in three planes of an odd line length, and 8-bit indices with the palette.
TEST(PcxRead, UncompressedLinesReadLikeImageMagick) {
  QRV_REQUIRE_TOOL("convert");
  const int w = 9, h = 6;
  Bytes rgb(w * h * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 29 + (i >> 4));
  qrvtest::TempDir dir;
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("in.rgb"), rgb));
  for (const char* type : {"truecolor", "palette"}) {
    SCOPED_TRACE(type);
    const std::string path = dir.File(std::string(type) + ".pcx");
    int status = 0;
    qrvtest::RunCommand("/usr/bin/convert -size 9x6 -depth 8 rgb:" + dir.File("in.rgb") + " -type " + type +
                            " -compress none " + path, &status);
    ASSERT_EQ(status, 0);
    const Bytes file = qrvtest::ReadFileBytes(path);
    ASSERT_GT(file.size(), 128u);
    ASSERT_EQ(file[2], 0);  // stored as it is
    const Picture p = Read(file, 24);
    ASSERT_EQ(p.error, IS_ERR_OK) << p.warning;
    EXPECT_EQ(p.warning, "");
    EXPECT_EQ(p.pixels, fmttest::MagickPixels(path, false));
    // Cut: read as far as it goes down to half the lines (the indices of a file that lost its
    // palette), refused below with what is there.
    const DWORD bits = file[65] == 1 ? 8 : 24;
    const size_t line = (file.size() - 128 - (bits == 8 ? 769 : 0)) / h, row = w * bits / 8;
    RGBQUAD pal[256];
    const Picture whole = Read(file, bits, pal);
    const Picture m = Read(Bytes(file.begin(), file.begin() + 128 + 4 * line + 1), bits, pal);
    EXPECT_EQ(m.warning, "PCX file ended early: 4 of 6 rows decoded");
    EXPECT_TRUE(std::equal(m.pixels.begin(), m.pixels.begin() + 4 * row, whole.pixels.begin()));
    const Picture f = Read(Bytes(file.begin(), file.begin() + 128 + 2 * line), 24);
    EXPECT_EQ(f.warning, "PCX file ends after " + std::to_string(2 * line) + " of the " + std::to_string(h * line) +
                             " bytes its picture needs");
  }
}

TEST(PcxWrite, RunsLayoutsAndRoundTrips) {
  RGBQUAD pal[256];
  for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(i ^ 0x55), BYTE(i), BYTE(255 - i), 0};
  // 200 bytes of 0xC5: runs of 63, 63, 63 and 11 (bytes per line 200).
  {
    const Bytes row(200, 0xC5);
    fmttest::MemorySink s;
    const BOOL n = ISWritePCX(s.handle, row.data(), 200, 1, 8, pal, 0);
    ASSERT_EQ(n, 128 + 8 + 769);
    const Bytes f = s.Take(n);
    EXPECT_EQ(Bytes(f.begin() + 128, f.begin() + 136), (Bytes{0xFF, 0xC5, 0xFF, 0xC5, 0xFF, 0xC5, 0xCB, 0xC5}));
    EXPECT_EQ(f[136], 12);
    EXPECT_EQ(f[137 + 3 * 7], pal[7].rgbRed);
    EXPECT_EQ(f[66], 200);
  }
  // Single bytes: 0x10 stands for itself, 0xD0 takes a run byte. Width 1 pads to 2 bytes.
  {
    const BYTE px[] = {0x10, 0xD0};
    fmttest::MemorySink s;
    const BOOL n = ISWritePCX(s.handle, px, 1, 2, 8, pal, 0);
    const Bytes f = s.Take(n);
    EXPECT_EQ(Bytes(f.begin() + 128, f.begin() + 136), (Bytes{0x10, 0x00, 0xC1, 0xD0, 0x00, 12, 0xFF, 0}));
  }
  // 24 bits of width 3: bytes per line 4, three planes.
  {
    const BYTE px[] = {1, 2, 3, 1, 2, 3, 1, 2, 3};
    fmttest::MemorySink s;
    const BOOL n = ISWritePCX(s.handle, px, 3, 1, 24, nullptr, 0);
    const Bytes f = s.Take(n);
    EXPECT_EQ(f[65], 3);
    EXPECT_EQ(f[66], 4);
    EXPECT_EQ(Data(f), (Bytes{0xC3, 1, 0, 0xC3, 2, 0, 0xC3, 3, 0}));
  }
  // Round trips, and ImageMagick reads what was written.
  const DWORD w = 31, h = 9;
  Bytes rgb(w * h * 3), idx(w * h);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>((i / 5) * 41);
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = static_cast<uint8_t>((i / 4) * 13 + 190);
  qrvtest::TempDir dir;
  for (DWORD bits : {8u, 24u}) {
    fmttest::MemorySink s;
    const BOOL n = ISWritePCX(s.handle, bits == 8 ? idx.data() : rgb.data(), w, h, bits, pal, 0);
    ASSERT_GT(n, 0);
    const Bytes f = s.Take(n);
    Bytes expect = rgb;
    if (bits == 8)
      for (size_t i = 0; i < idx.size(); ++i)
        expect[3 * i] = pal[idx[i]].rgbRed, expect[3 * i + 1] = pal[idx[i]].rgbGreen, expect[3 * i + 2] = pal[idx[i]].rgbBlue;
    EXPECT_EQ(Read(f, 24).pixels, expect) << bits;
    if (bits == 8) {
      RGBQUAD got[256];
      EXPECT_EQ(Read(f, 8, got).pixels, idx);
    }
    if (qrvtest::HasTool("convert")) {
      const std::string path = dir.File("p" + std::to_string(bits) + ".pcx");
      qrvtest::WriteFileBytes(path, f);
      EXPECT_EQ(fmttest::MagickPixels(path, false), expect) << bits;
    }
  }
  fmttest::MemorySink s;
  EXPECT_FALSE(ISWritePCX(s.handle, idx.data(), w, h, 8, nullptr, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISWritePCX(s.handle, idx.data(), w, h, 16, pal, 0));
  EXPECT_FALSE(ISWritePCX(s.handle, idx.data(), 0, h, 24, pal, 0));
}

TEST(PcxRead, DamagedSamplesReadAsFarAsTheyGoOrFailWithTheirCodes) {
  QRV_REQUIRE_TESTDATA("pcx");
  for (const std::string& path : qrvtest::TestDataFiles("pcx")) {
    SCOPED_TRACE(path);
    const Bytes file = qrvtest::ReadFileBytes(path);
    // The lines follow the 128-byte header; a 256-colour palette ends the file.
    const bool paletted = file.size() > 897 && file[file.size() - 769] == 12;
    const size_t dataEnd = paletted ? file.size() - 769 : file.size();
    const bool whole = Read(file, 24).error == IS_ERR_OK;
    for (const Bytes& cut : fmttest::Truncations(file))
      fmttest::ExpectCut(&ISReadPCX, cut, 24, nullptr,
                         whole ? fmttest::CutInData(cut.size(), 128, dataEnd) : fmttest::CutGives::kRefusal,
                         {IS_ERR_BADPCX}, "PCX", dataEnd);
    fmttest::ExpectCorruptionsGiveOnly(&ISReadPCX, file, {24, 8, 1}, {IS_ERR_BADPCX, IS_ERR_BITDEPTH}, true);
  }
}
