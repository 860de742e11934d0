// PSD reader and writer and the image-resource parser: sample files against ImageMagick,
// hand-made files of every mode, depth and coding, resources and resolution, round trips and
// damaged files.
#include <gtest/gtest.h>

#include <cstring>

#include "bmp_image_test_util.h"
#include "imaging/core/ISDIB.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/ConvertResolution.h"
#include "imaging/formats/PSDFormat.h"
#include "qrv/imaging.h"

using fmttest::Bytes;
using fmttest::Picture;

namespace {

Picture Read(const Bytes& file, DWORD bits, RGBQUAD* palette = nullptr, DWORD flags = 0, uint64_t bytes = 0) {
  return fmttest::ReadWith(&ISReadPSD, file, bits, palette, flags, bytes);
}

void BE16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
void BE32(Bytes& b, uint32_t v) {
  BE16(b, v >> 16);
  BE16(b, v & 0xFFFF);
}

// A PSD file: header, colour-mode data, resources, an empty layer section, the compression
// word and `data` (planar rows, or the PackBits counts then rows).
Bytes MakePSD(int channels, int w, int h, int depth, int mode, int compression, const Bytes& data,
              const Bytes& colourData = {}, const Bytes& resources = {}) {
  Bytes b = {'8', 'B', 'P', 'S'};
  BE16(b, 1);
  for (int i = 0; i < 6; ++i) b.push_back(0);
  BE16(b, channels);
  BE32(b, h);
  BE32(b, w);
  BE16(b, depth);
  BE16(b, mode);
  BE32(b, static_cast<uint32_t>(colourData.size()));
  for (uint8_t x : colourData) b.push_back(x);
  BE32(b, static_cast<uint32_t>(resources.size()));
  for (uint8_t x : resources) b.push_back(x);
  BE32(b, 0);
  BE16(b, compression);
  for (uint8_t x : data) b.push_back(x);
  return b;
}

// PackBits rows: every row as one literal run, preceded by the table of counts.
Bytes PackRows(const std::vector<Bytes>& rows) {
  Bytes counts, body;
  for (const Bytes& r : rows) {
    BE16(counts, static_cast<uint32_t>(r.size() + 1));
    body.push_back(static_cast<uint8_t>(r.size() - 1));
    for (uint8_t x : r) body.push_back(x);
  }
  for (uint8_t x : body) counts.push_back(x);
  return counts;
}

// One resource record.
Bytes Resource(uint16_t id, const std::string& name, const Bytes& data, bool pad = true) {
  Bytes b = {'8', 'B', 'I', 'M'};
  BE16(b, id);
  b.push_back(static_cast<uint8_t>(name.size()));
  for (char c : name) b.push_back(static_cast<uint8_t>(c));
  if ((name.size() + 1) % 2) b.push_back(0);
  BE32(b, static_cast<uint32_t>(data.size()));
  for (uint8_t x : data) b.push_back(x);
  if (pad && data.size() % 2) b.push_back(0);
  return b;
}

}  // namespace

TEST(PsdSamples, ReadsMatchImageMagick) {
  QRV_REQUIRE_TESTDATA("psd");
  QRV_REQUIRE_TOOL("convert");
  for (const std::string& path : qrvtest::TestDataFiles("psd")) {
    SCOPED_TRACE(path);
    const Bytes file = qrvtest::ReadFileBytes(path);
    const Picture p = Read(file, 24);
    ASSERT_EQ(p.error, IS_ERR_OK);
    DWORD w = 0, h = 0;
    EXPECT_EQ(p.pixels, fmttest::MagickPixels(path, false, &w, &h));
    EXPECT_EQ(w, p.width);
    EXPECT_EQ(h, p.height);
    ISIOHandle src = ISOpenMemorySource(file.data(), static_cast<DWORD>(file.size()));
    HGLOBAL dib = ISReadPSD(src, &w, &h, 0, nullptr, IS_READ_AS_STORED);
    ISCloseSource(src);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(ReadDIBHeader(dib).biBitCount, 24);
    Bytes rgb(p.pixels.size());
    ISErrorCode e = 0;
    ASSERT_TRUE(DIBToRGB(e, dib, rgb.data()));
    EXPECT_EQ(rgb, p.pixels);
    GlobalFree(dib);
  }
}

TEST(PsdRead, ModesDepthsAndCodings) {
  // RGB 2 x 2, raw and PackBits.
  const std::vector<Bytes> rows = {{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}, {11, 12}};
  Bytes raw;
  for (const Bytes& r : rows)
    for (uint8_t x : r) raw.push_back(x);
  const Bytes rgbRaw = MakePSD(3, 2, 2, 8, 3, 0, raw);
  const Bytes rgbPacked = MakePSD(3, 2, 2, 8, 3, 1, PackRows(rows));
  const Bytes expect = {1, 5, 9, 2, 6, 10, 3, 7, 11, 4, 8, 12};
  EXPECT_EQ(Read(rgbRaw, 24).pixels, expect);
  EXPECT_EQ(Read(rgbPacked, 24).pixels, expect);
  EXPECT_EQ(Read(rgbRaw, 32).pixels, (Bytes{1, 5, 9, 255, 2, 6, 10, 255, 3, 7, 11, 255, 4, 8, 12, 255}));
  // PackBits repeat runs, a run cut at the row end and the -128 no-op.
  const Bytes greyRuns = MakePSD(1, 4, 1, 8, 1, 1, {0, 3, 0x80, 0xFA, 9});
  EXPECT_EQ(Read(greyRuns, 24).pixels, (Bytes{9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}));
  // CMYK: (C K / 255, M K / 255, Y K / 255), or the four channels with flags bit 2.
  const Bytes cmyk = MakePSD(4, 1, 1, 8, 4, 0, {200, 100, 50, 128});
  EXPECT_EQ(Read(cmyk, 24).pixels, (Bytes{200 * 128 / 255, 100 * 128 / 255, 50 * 128 / 255}));
  EXPECT_EQ(Read(cmyk, 24, nullptr, kPSDReadCMYK, 4).pixels, (Bytes{200, 100, 50, 128}));
  // 16 bits: 65535 reads as 255, 32768 as 127; PackBits rows of 2 x width bytes.
  const Bytes g16 = MakePSD(1, 2, 1, 16, 1, 0, {0xFF, 0xFF, 0x80, 0x00});
  EXPECT_EQ(Read(g16, 24).pixels, (Bytes{255, 255, 255, 127, 127, 127}));
  EXPECT_EQ(Read(MakePSD(1, 2, 1, 16, 1, 1, PackRows({{0xFF, 0xFF, 0x80, 0x00}})), 24).pixels,
            Read(g16, 24).pixels);
  // Bitmap: 10 pixels in rows of 2 bytes, most significant bit first; 1 is black.
  const Bytes bitmap = MakePSD(1, 10, 1, 1, 0, 0, {0xA0, 0x40});
  RGBQUAD pal[256];
  const Picture b8 = Read(bitmap, 8, pal);
  ASSERT_EQ(b8.error, IS_ERR_OK);
  EXPECT_EQ(b8.pixels, (Bytes{1, 0, 1, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(pal[0].rgbRed, 255);
  EXPECT_EQ(pal[0].rgbReserved, 255);
  EXPECT_EQ(pal[1].rgbRed, 0);
  EXPECT_EQ(Read(bitmap, 24).pixels[0], 0);
  EXPECT_EQ(Read(bitmap, 24).pixels[3], 255);
  // Indexed with its 768-byte table; grey through the ramp.
  Bytes table(768);
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i), table[256 + i] = 7, table[512 + i] = 255 - i;
  const Bytes indexed = MakePSD(1, 2, 1, 8, 2, 0, {3, 250}, table);
  EXPECT_EQ(Read(indexed, 24).pixels, (Bytes{3, 7, 252, 250, 7, 5}));
  EXPECT_EQ(Read(indexed, 8, pal).pixels, (Bytes{3, 250}));
  EXPECT_EQ(pal[3].rgbBlue, 252);
  EXPECT_EQ(Read(MakePSD(1, 1, 1, 8, 8, 0, {77}), 24).pixels, (Bytes{77, 77, 77}));
  // As stored: an 8-bit DIB with the palette.
  ISIOHandle src = ISOpenMemorySource(indexed.data(), static_cast<DWORD>(indexed.size()));
  DWORD w = 0, h = 0;
  HGLOBAL dib = ISReadPSD(src, &w, &h, 0, nullptr, IS_READ_AS_STORED);
  ISCloseSource(src);
  ASSERT_NE(dib, nullptr);
  EXPECT_EQ(ReadDIBHeader(dib).biBitCount, 8);
  GlobalFree(dib);

  // Refused files.
  Bytes bad = rgbRaw;
  bad[0] = 'X';
  EXPECT_EQ(Read(bad, 24).error, IS_ERR_NOTPSD);
  bad = rgbRaw;
  bad[5] = 2;
  EXPECT_EQ(Read(bad, 24).error, IS_ERR_NOTPSD);
  EXPECT_EQ(Read(MakePSD(3, 2, 2, 4, 3, 0, raw), 24).error, IS_ERR_PSDMODE);
  EXPECT_EQ(Read(MakePSD(2, 2, 2, 8, 3, 0, raw), 24).error, IS_ERR_PSDMODE);   // too few channels
  EXPECT_EQ(Read(MakePSD(1, 2, 1, 8, 2, 0, {3, 250}, Bytes(700)), 24).error, IS_ERR_PSDMODE);
  EXPECT_EQ(Read(MakePSD(3, 2, 2, 8, 9, 0, raw), 24).error, IS_ERR_PSDMODE);   // Lab
  EXPECT_EQ(Read(MakePSD(3, 2, 2, 8, 9, 0, raw), 0, nullptr, IS_READ_AS_STORED).error, IS_ERR_NOTPSD);
  EXPECT_EQ(Read(rgbRaw, 8, pal).error, IS_ERR_PSDMODE);
  EXPECT_EQ(Read(MakePSD(3, 2, 2, 8, 3, 2, raw), 24).error, IS_ERR_READ);
  // The last row of blue is missing: its samples are mid grey.
  const Picture cut = Read(MakePSD(3, 2, 2, 8, 3, 0, Bytes(raw.begin(), raw.end() - 1)), 24);
  EXPECT_EQ(cut.error, IS_ERR_OK);
  EXPECT_EQ(cut.warning, "PSD file ended early: 5 of 6 channel rows decoded");
  EXPECT_EQ(cut.pixels[3 * 3 + 2], 128);
  EXPECT_EQ(Read(MakePSD(3, 30000, 30000, 8, 3, 1, Bytes(40, 0)), 24).error, IS_ERR_READ);
  // A literal past the data: the row is not decoded.
  EXPECT_EQ(Read(MakePSD(1, 4, 1, 8, 1, 1, {0, 3, 2, 1, 1}), 24).pixels, Bytes(12, 128));
  EXPECT_EQ(Read(rgbRaw, 16).error, IS_ERR_BADPARAM);
  EXPECT_EQ(Read(indexed, 8, nullptr).error, IS_ERR_BADPARAM);
}

TEST(PsdRead, RefusalsSayWhy) {
  const Bytes raw(12, 7);
  Bytes large = MakePSD(3, 2, 2, 8, 3, 0, raw);
  large[5] = 2;
  const struct {
    Bytes file;
    DWORD flags;
    ISErrorCode code;
    const char* refusal;
  } cases[] = {
      {MakePSD(3, 2, 2, 8, 9, 0, raw), 0, IS_ERR_PSDMODE, "PSD in Lab mode is not read by this build"},
      {MakePSD(3, 2, 2, 8, 9, 0, raw), IS_READ_AS_STORED, IS_ERR_NOTPSD, "PSD in Lab mode is not read by this build"},
      {MakePSD(3, 2, 2, 8, 7, 0, raw), 0, IS_ERR_PSDMODE, "PSD in multichannel mode is not read by this build"},
      {MakePSD(3, 2, 2, 32, 3, 0, raw), 0, IS_ERR_PSDMODE, "PSD of 32 bits a channel is not read by this build"},
      {MakePSD(0, 2, 2, 8, 1, 0, raw), 0, IS_ERR_PSDMODE, "PSD of 0 channels (grey mode needs at least 1)"},
      {MakePSD(1, 2, 1, 8, 2, 0, {3, 250}, Bytes(700)), 0, IS_ERR_PSDMODE, "PSD colour table of 700 bytes (768 expected)"},
      {MakePSD(3, 0, 2, 8, 3, 0, raw), 0, IS_ERR_NOTPSD, "PSD of 0 x 2 pixels has no picture"},
      {large, 0, IS_ERR_NOTPSD, "PSD large-document format (version 2) is not read by this build"},
      {MakePSD(3, 2, 2, 8, 3, 3, raw), 0, IS_ERR_READ,
       "PSD channels compressed with ZIP (compression 3) are not read by this build"},
      // One channel of 1024 x 1024 fits the data; the three an RGB read counts do not.
      {MakePSD(3, 1024, 1024, 8, 3, 0, Bytes(1048749, 7)), 0, IS_ERR_READ,
       "1024 x 1024 is more than 1048749 bytes of picture data could hold (3 channels of 8 bits: 3145728 bytes)"},
      {MakePSD(4, 1024, 1024, 16, 4, 1, Bytes(8192 + 40000, 0)), 0, IS_ERR_READ,
       "1024 x 1024 is more than 40000 bytes of picture data could hold (4 channels of 16 bits: 8388608 bytes unpacked)"},
  };
  for (const auto& c : cases) {
    const Picture r = Read(c.file, 24, nullptr, c.flags);
    EXPECT_EQ(r.error, c.code) << c.refusal;
    EXPECT_EQ(r.warning, c.refusal);
  }
}

TEST(PsdResources, ParsingAndResolution) {
  const Bytes one = Resource(1005, "", {0, 72, 0, 0, 0, 1, 0, 1, 0, 72, 0, 0, 0, 1, 0, 1});
  const Bytes odd = Resource(1000, "ab", {1, 2, 3});
  EXPECT_EQ(odd.size(), 4 + 2 + 4 + 4 + 4u);  // name "ab" padded to 4, data 3 padded to 4
  Bytes block = odd;
  for (uint8_t x : one) block.push_back(x);
  // A last resource whose data runs past the block.
  Bytes cut = Resource(2000, "", Bytes(10, 1));
  for (size_t i = 0; i + 4 < cut.size(); ++i) block.push_back(cut[i]);
  CPhotoshopResources all;
  ASSERT_TRUE(all.ParsePhotoshopResources(block.data(), static_cast<uint32_t>(block.size()), true));
  ASSERT_EQ(all.records.size(), 2u);
  EXPECT_EQ(all.records[0].id, 1000);
  EXPECT_EQ(all.records[0].name, "ab");
  EXPECT_EQ(all.records[0].dataOffset, 14u);
  EXPECT_EQ(all.records[0].record.Count(), odd.size());
  ASSERT_NE(all.FindResource(1005), nullptr);
  EXPECT_EQ(all.FindResource(1005)->record[all.FindResource(1005)->dataOffset + 1], 72);
  EXPECT_EQ(all.FindResource(7), nullptr);
  EXPECT_EQ(all.error, IS_ERR_BADPARAM);
  CPhotoshopResources some;
  some.wanted.push_back(1005);
  ASSERT_TRUE(some.ParsePhotoshopResources(block.data(), static_cast<uint32_t>(block.size()), false));
  ASSERT_EQ(some.records.size(), 1u);
  // Garbage before a signature is skipped; no resource, a tiny block, a null block, a name
  // running past the block.
  Bytes junk = {1, 2, 3};
  for (uint8_t x : one) junk.push_back(x);
  EXPECT_TRUE(all.ParsePhotoshopResources(junk.data(), static_cast<uint32_t>(junk.size()), true));
  const Bytes none(20, 0);
  EXPECT_FALSE(all.ParsePhotoshopResources(none.data(), 20, true));
  EXPECT_EQ(all.error, IS_ERR_PSDRESOURCE);
  EXPECT_FALSE(all.ParsePhotoshopResources(one.data(), 4, true));
  EXPECT_EQ(all.error, IS_ERR_PSDRESOURCE);
  EXPECT_FALSE(all.ParsePhotoshopResources(nullptr, 40, true));
  EXPECT_EQ(all.error, IS_ERR_BADPARAM);
  const Bytes badName = {'8', 'B', 'I', 'M', 0, 1, 40, 'x'};
  EXPECT_FALSE(all.ParsePhotoshopResources(badName.data(), static_cast<uint32_t>(badName.size()), true));
  EXPECT_EQ(all.error, IS_ERR_PSDRESOURCE);

  // The resolution resource (72 per inch) fills the as-stored DIB's pixels per metre.
  const Bytes file = MakePSD(3, 1, 1, 8, 3, 0, {1, 2, 3}, {}, block);
  ISIOHandle src = ISOpenMemorySource(file.data(), static_cast<DWORD>(file.size()));
  DWORD w = 0, h = 0;
  HGLOBAL dib = ISReadPSD(src, &w, &h, 0, nullptr, IS_READ_AS_STORED);
  ISCloseSource(src);
  ASSERT_NE(dib, nullptr);
  const BITMAPINFOHEADER info = ReadDIBHeader(dib);
  DWORD expected[3] = {72, 72, 1};
  ASSERT_TRUE(ConvertResolution(expected, kResJFIF, kResPerMetre));
  EXPECT_EQ(info.biXPelsPerMeter, static_cast<LONG>(expected[0]));
  EXPECT_GT(info.biXPelsPerMeter, 2700);
  EXPECT_EQ(info.biXPelsPerMeter, info.biYPelsPerMeter);
  GlobalFree(dib);
}

TEST(PsdWrite, LayoutsRoundTripsAndImageMagick) {
  const DWORD w = 19, h = 6;
  Bytes rgba(w * h * 4), idx(w * h);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 53 + 1);
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = static_cast<uint8_t>(i * 3);
  RGBQUAD pal[256];
  for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(i / 2), BYTE(i), BYTE(255 - i), 0};
  qrvtest::TempDir dir;
  for (DWORD bits : {8u, 24u, 32u}) {
    SCOPED_TRACE(bits);
    fmttest::MemorySink s;
    const BOOL n = ISWritePSD(s.handle, bits == 8 ? idx.data() : rgba.data(), w, h, bits, pal, 0);
    ASSERT_GT(n, 0);
    const Bytes f = s.Take(n);
    EXPECT_EQ(f[13], bits == 8 ? 1 : bits / 8);
    EXPECT_EQ(f[25], bits == 8 ? 2 : bits == 24 ? 3 : 4);
    const size_t colourBytes = bits == 8 ? 768 : 0;
    EXPECT_EQ((f[28] << 8) | f[29], static_cast<int>(colourBytes));
    const size_t comp = 26 + 4 + colourBytes + 4 + 4;
    EXPECT_EQ(f[comp] | f[comp + 1], 0);  // raw data
    Bytes expect(w * h * 3);
    for (DWORD i = 0; i < w * h; ++i) {
      if (bits == 8) {
        expect[3 * i] = pal[idx[i]].rgbRed, expect[3 * i + 1] = pal[idx[i]].rgbGreen, expect[3 * i + 2] = pal[idx[i]].rgbBlue;
      } else {
        std::memcpy(&expect[3 * i], &rgba[i * bits / 8], 3);
      }
    }
    if (bits == 32) {
      EXPECT_EQ(Read(f, 32, nullptr, kPSDReadCMYK).pixels, rgba);
    } else {
      EXPECT_EQ(Read(f, 24).pixels, expect);
      // This ImageMagick refuses every indexed Photoshop file ("improper image header").
      if (bits == 24 && qrvtest::HasTool("convert")) {
        const std::string path = dir.File("w" + std::to_string(bits) + ".psd");
        qrvtest::WriteFileBytes(path, f);
        EXPECT_EQ(fmttest::MagickPixels(path, false), expect);
      }
    }
  }
  // The thread's image resources become the file's resource section.
  ISThreadState* ts = GetThreadState();
  const Bytes res = Resource(1005, "", {0, 96, 0, 0, 0, 1, 0, 1, 0, 96, 0, 0, 0, 1, 0, 1});
  ts->psdResources.Assign(res.data(), static_cast<uint32_t>(res.size()));
  fmttest::MemorySink s;
  const BOOL n = ISWritePSD(s.handle, rgba.data(), w, h, 24, nullptr, 0);
  ts->psdResources.Free();
  const Bytes f = s.Take(n);
  EXPECT_EQ((f[30] << 24) | (f[31] << 16) | (f[32] << 8) | f[33], static_cast<int>(res.size()));
  EXPECT_EQ(Bytes(f.begin() + 34, f.begin() + 34 + res.size()), res);
  EXPECT_EQ(Read(f, 24).pixels.size(), w * h * 3);
  EXPECT_FALSE(ISWritePSD(s.handle, idx.data(), w, h, 8, nullptr, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISWritePSD(s.handle, idx.data(), w, h, 16, pal, 0));
}

TEST(PsdRead, DamagedSamplesReadAsFarAsTheyGoOrFailWithTheirCodes) {
  QRV_REQUIRE_TESTDATA("psd");
  const auto be = [](const Bytes& b, size_t at, int n) {
    size_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | b[at + i];
    return v;
  };
  for (const std::string& path : qrvtest::TestDataFiles("psd")) {
    SCOPED_TRACE(path);
    const Bytes file = qrvtest::ReadFileBytes(path);
    // The channel data follows three sections, the compression word and, for PackBits, the
    // byte count of every channel row; a 24-bit read uses the first three channels only.
    const size_t channels = be(file, 12, 2), rows = be(file, 14, 4), width = be(file, 18, 4);
    size_t at = 26;
    for (int section = 0; section < 3; ++section) at += 4 + be(file, at, 4);
    const bool packBits = be(file, at, 2) == 1;
    at += 2;
    size_t dataStart = at, dataEnd = at + 3 * rows * width;
    if (packBits) {
      dataStart = dataEnd = at + 2 * channels * rows;
      for (size_t i = 0; i < 3 * rows; ++i) dataEnd += be(file, at + 2 * i, 2);
    }
    ASSERT_TRUE(be(file, 22, 2) == 8 && dataEnd <= file.size());
    for (const Bytes& cut : fmttest::Truncations(file))
      fmttest::ExpectCut(&ISReadPSD, cut, 24, nullptr, fmttest::CutInData(cut.size(), dataStart, dataEnd), {IS_ERR_READ},
                         "PSD", dataEnd);
    fmttest::ExpectCorruptionsGiveOnly(&ISReadPSD, file, {24, 8}, {IS_ERR_READ, IS_ERR_NOTPSD, IS_ERR_PSDMODE});
  }
}
