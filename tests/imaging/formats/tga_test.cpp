// TGA reader and writer: sample files against ImageMagick, origins and RLE against raw,
// index and as-stored reads, hand-made packets and maps, writer layouts, round trips and
// damaged files.
#include <gtest/gtest.h>

#include <cstring>

#include "bmp_image_test_util.h"
#include "imaging/core/ISDIB.h"
#include "qrv/imaging.h"

using fmttest::Bytes;
using fmttest::Picture;

namespace {

Picture Read(const Bytes& file, DWORD bits, RGBQUAD* palette = nullptr, DWORD flags = 0) {
  return fmttest::ReadWith(&ISReadTGA, file, bits, palette, flags);
}

// An 18-byte header for a w x h picture of `type` and `depth`, then `rest`.
Bytes MakeTGA(int type, int depth, int w, int h, int descriptor, const Bytes& rest, int mapType = 0,
              int mapFirst = 0, int mapLength = 0, int mapBits = 0) {
  Bytes b = {0, static_cast<uint8_t>(mapType), static_cast<uint8_t>(type),
             static_cast<uint8_t>(mapFirst & 255), static_cast<uint8_t>(mapFirst >> 8),
             static_cast<uint8_t>(mapLength & 255), static_cast<uint8_t>(mapLength >> 8), static_cast<uint8_t>(mapBits),
             0, 0, 0, 0, static_cast<uint8_t>(w & 255), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(h & 255),
             static_cast<uint8_t>(h >> 8), static_cast<uint8_t>(depth), static_cast<uint8_t>(descriptor)};
  for (uint8_t x : rest) b.push_back(x);
  return b;
}

void Append(Bytes& b, std::initializer_list<int> v) {
  for (int x : v) b.push_back(static_cast<uint8_t>(x));
}

std::string Sample(const std::string& name) { return qrvtest::TestDataFile("tga/" + name); }

}  // namespace

TEST(TgaSamples, ReadsMatchImageMagickAndEachOther) {
  QRV_REQUIRE_TESTDATA("tga");
  QRV_REQUIRE_TOOL("convert");
  int checked = 0;
  for (const std::string& path : qrvtest::TestDataFiles("tga")) {
    SCOPED_TRACE(path);
    const Bytes file = qrvtest::ReadFileBytes(path);
    const Picture p = Read(file, 24);
    ASSERT_EQ(p.error, IS_ERR_OK);
    const Picture q = Read(file, 32);
    ASSERT_EQ(q.error, IS_ERR_OK);
    const size_t la = path.find("_la_");
    if (la != std::string::npos) {
      // Grey plus alpha (ImageMagick reads these as colour words): the grey file of the same
      // picture without the alpha, which is kept at 32 bits.
      std::string grey = path;
      grey.replace(la, 4, "_l_");
      EXPECT_EQ(p.pixels, Read(qrvtest::ReadFileBytes(grey), 24).pixels);
      if (path.find("_tl_raw") != std::string::npos) {
        bool alpha = true;
        for (size_t i = 0; i < size_t{q.width} * q.height; ++i) alpha = alpha && q.pixels[4 * i + 3] == file[19 + 2 * i];
        EXPECT_TRUE(alpha);
      }
      ++checked;
      continue;
    }
    DWORD w = 0, h = 0;
    EXPECT_EQ(p.pixels, fmttest::MagickPixels(path, false, &w, &h));
    EXPECT_EQ(w, p.width);
    EXPECT_EQ(h, p.height);
    if (path.find("rgba_") != std::string::npos) {
      EXPECT_EQ(q.pixels, fmttest::MagickPixels(path, true));
    }
    ++checked;
  }
  EXPECT_EQ(checked, 24);
  // Every origin and coding of one picture decodes alike.
  for (const char* kind : {"l", "la", "p", "rgb", "rgba"}) {
    const std::string base = std::string("200x32_") + kind;
    const Picture ref = Read(qrvtest::ReadFileBytes(Sample(base + "_bl_raw.tga")), 32);
    for (const char* v : {"_tl_raw.tga", "_bl_rle.tga", "_tl_rle.tga"})
      EXPECT_EQ(Read(qrvtest::ReadFileBytes(Sample(base + v)), 32).pixels, ref.pixels) << base << v;
  }
}

TEST(TgaSamples, IndexAndAsStoredReads) {
  QRV_REQUIRE_TESTDATA("tga/200x32_p_bl_rle.tga");
  RGBQUAD pal[256];
  // Grey files (raw and RLE) read at 8 bits with the grey ramp.
  for (const char* name : {"200x32_l_bl_raw.tga", "200x32_l_tl_rle.tga"}) {
    const Bytes file = qrvtest::ReadFileBytes(Sample(name));
    const Picture p = Read(file, 8, pal);
    ASSERT_EQ(p.error, IS_ERR_OK) << name;
    EXPECT_EQ(pal[100].rgbRed, 100);
    EXPECT_EQ(pal[100].rgbBlue, 100);
    EXPECT_EQ(pal[100].rgbReserved, 255);
    const Picture g = Read(file, 24);
    for (size_t i = 0; i < p.pixels.size(); ++i) ASSERT_EQ(p.pixels[i], g.pixels[3 * i]);
  }
  // Colour-mapped files: the map comes back, indices through it give the colour read.
  const Bytes pfile = qrvtest::ReadFileBytes(Sample("200x32_p_bl_rle.tga"));
  const Picture pi = Read(pfile, 8, pal);
  ASSERT_EQ(pi.error, IS_ERR_OK);
  const Picture pc = Read(pfile, 24);
  bool same = true;
  for (size_t i = 0; i < pi.pixels.size(); ++i) {
    const RGBQUAD& c = pal[pi.pixels[i]];
    same = same && pc.pixels[3 * i] == c.rgbRed && pc.pixels[3 * i + 1] == c.rgbGreen && pc.pixels[3 * i + 2] == c.rgbBlue;
  }
  EXPECT_TRUE(same);
  // True-colour files are not readable at 8 bits.
  EXPECT_EQ(Read(qrvtest::ReadFileBytes(Sample("200x32_rgb_bl_raw.tga")), 8, pal).error, IS_ERR_BITDEPTH);
  EXPECT_EQ(Read(qrvtest::ReadFileBytes(Sample("200x32_la_bl_raw.tga")), 8, pal).error, IS_ERR_BITDEPTH);
  // As stored: 8 bits with the map, 24 or 32 bits otherwise; the DIB converts back alike.
  for (auto [name, bits] : {std::pair<const char*, int>{"200x32_p_tl_raw.tga", 8}, {"200x32_l_bl_rle.tga", 8},
                            {"200x32_rgb_bl_rle.tga", 24}, {"200x32_rgba_tl_raw.tga", 32}, {"200x32_la_bl_raw.tga", 24}}) {
    const Bytes file = qrvtest::ReadFileBytes(Sample(name));
    ISIOHandle src = ISOpenMemorySource(file.data(), static_cast<DWORD>(file.size()));
    DWORD w = 0, h = 0;
    HGLOBAL dib = ISReadTGA(src, &w, &h, 0, nullptr, IS_READ_AS_STORED);
    ISCloseSource(src);
    ASSERT_NE(dib, nullptr) << name;
    EXPECT_EQ(ReadDIBHeader(dib).biBitCount, bits) << name;
    EXPECT_EQ(w, 200u);
    EXPECT_EQ(h, 32u);
    Bytes rgb(200 * 32 * 3);
    ISErrorCode e = 0;
    ASSERT_TRUE(DIBToRGB(e, dib, rgb.data()));
    EXPECT_EQ(rgb, Read(file, 24).pixels) << name;
    GlobalFree(dib);
  }
}

TEST(TgaRead, HandMadePacketsMapsAndPixels) {
  // 16-bit 0x7FFF is (248, 248, 248).
  EXPECT_EQ(Read(MakeTGA(2, 16, 1, 1, 0x20, {0xFF, 0x7F}), 24).pixels, (Bytes{248, 248, 248}));
  // 16-bit grey plus alpha, raw and RLE: grey levels, the alpha only at 32 bits.
  EXPECT_EQ(Read(MakeTGA(3, 16, 2, 1, 0x20, {200, 0x80, 7, 0xFF}), 24).pixels, (Bytes{200, 200, 200, 7, 7, 7}));
  EXPECT_EQ(Read(MakeTGA(11, 16, 2, 1, 0x20, {0x81, 200, 0x80}), 32).pixels, (Bytes{200, 200, 200, 0x80, 200, 200, 200, 0x80}));
  // 3 x 2 grey: a run packet crosses the row end; the last packet runs past the picture and
  // stops at its end.
  const Bytes raw = MakeTGA(3, 8, 3, 2, 0x20, {5, 5, 5, 5, 9, 9});
  const Bytes rle = MakeTGA(11, 8, 3, 2, 0x20, {0x83, 5, 0x85, 9});
  RGBQUAD pal[256];
  EXPECT_EQ(Read(raw, 8, pal).pixels, (Bytes{5, 5, 5, 5, 9, 9}));
  EXPECT_EQ(Read(rle, 8, pal).pixels, Read(raw, 8, pal).pixels);
  // Bottom-left origin flips the rows.
  EXPECT_EQ(Read(MakeTGA(3, 8, 3, 2, 0, {1, 2, 3, 4, 5, 6}), 8, pal).pixels, (Bytes{4, 5, 6, 1, 2, 3}));
  // A colour map whose first index plus length passes 256: the entries past 255 are skipped.
  Bytes map;
  for (int i = 0; i < 10; ++i)
    for (int k = 0; k < 3; ++k) map.push_back(static_cast<uint8_t>(i + k));
  map.push_back(252);  // the pixel: the third entry of the map
  const Picture mp = Read(MakeTGA(1, 8, 1, 1, 0x20, map, 1, 250, 10, 24), 24);
  ASSERT_EQ(mp.error, IS_ERR_OK);
  EXPECT_EQ(mp.pixels, (Bytes{4, 3, 2}));
  // A colour-mapped file without its map at 8 bits; bad types, sizes and depths; short data.
  EXPECT_EQ(Read(MakeTGA(1, 8, 1, 1, 0, {0}), 8, pal).error, IS_ERR_BADTGA);
  EXPECT_EQ(Read(MakeTGA(4, 8, 1, 1, 0, {0}), 24).error, IS_ERR_BADTGA);
  EXPECT_EQ(Read(MakeTGA(2, 8, 0, 1, 0, {0}), 24).error, IS_ERR_BADTGA);
  EXPECT_EQ(Read(MakeTGA(2, 12, 1, 1, 0, {0, 0}), 24).error, IS_ERR_BADTGA);
  // Short data that could still give half the picture: read as far as it goes.
  for (const Bytes& f : {MakeTGA(2, 24, 2, 1, 0, {1, 2, 3}), MakeTGA(10, 24, 3, 1, 0, {0x82, 1, 2})}) {
    const Picture p = Read(f, 24);
    EXPECT_EQ(p.error, IS_ERR_OK);
    EXPECT_EQ(p.pixels, Bytes(p.width * 3, 128));
    EXPECT_EQ(p.warning, "TGA file ended early: 0 of 1 rows decoded");
  }
  EXPECT_EQ(Read(MakeTGA(10, 24, 65535, 65535, 0, {0xFF, 1, 2, 3}), 24).error, IS_ERR_READ);
  EXPECT_EQ(Read(raw, 16).error, IS_ERR_BADPARAM);
}

TEST(TgaRead, EveryCornerOrderGivesThePicture) {
  // A 5 x 3 picture stored from each corner (descriptor bits 4, right to left, and 5, top
  // to bottom), true colour and plain, and grey and run-length coded with packets that cross
  // the rows: every read gives the picture, top row first and left to right.
  const uint32_t w = 5, h = 3;
  Bytes rgb, grey;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      Append(rgb, {int(x * 40), int(y * 80), int(200 - x * 30)});
      grey.push_back(static_cast<uint8_t>(10 * x + 100 * y));
    }
  const bool magick = qrvtest::HasTool("convert");
  qrvtest::TempDir dir;
  RGBQUAD pal[256];
  for (const int descriptor : {0x00, 0x10, 0x20, 0x30}) {
    SCOPED_TRACE(descriptor);
    Bytes stored, storedGrey;
    for (uint32_t k = 0; k < h; ++k) {
      const uint32_t y = (descriptor & 0x20) ? k : h - 1 - k;
      for (uint32_t j = 0; j < w; ++j) {
        const uint32_t x = (descriptor & 0x10) ? w - 1 - j : j;
        const uint8_t* px = &rgb[3 * (y * w + x)];
        Append(stored, {px[2], px[1], px[0]});
        storedGrey.push_back(grey[y * w + x]);
      }
    }
    // Grey as literal packets of 4 pixels, the last one shorter.
    Bytes rle;
    for (size_t i = 0; i < storedGrey.size(); i += 4) {
      const size_t n = std::min<size_t>(4, storedGrey.size() - i);
      rle.push_back(static_cast<uint8_t>(n - 1));
      rle.insert(rle.end(), storedGrey.begin() + long(i), storedGrey.begin() + long(i + n));
    }
    const Bytes plain = MakeTGA(2, 24, w, h, descriptor, stored), coded = MakeTGA(11, 8, w, h, descriptor, rle);
    EXPECT_EQ(Read(plain, 24).pixels, rgb);
    Bytes rgba;
    for (size_t i = 0; i < rgb.size(); i += 3) Append(rgba, {rgb[i], rgb[i + 1], rgb[i + 2], 255});
    EXPECT_EQ(Read(plain, 32).pixels, rgba);
    EXPECT_EQ(Read(coded, 8, pal).pixels, grey);
    for (const Bytes* f : {&plain, &coded}) {
      ISIOHandle src = ISOpenMemorySource(f->data(), static_cast<DWORD>(f->size()));
      DWORD dw = 0, dh = 0;
      HGLOBAL dib = ISReadTGA(src, &dw, &dh, 0, nullptr, IS_READ_AS_STORED);
      ISCloseSource(src);
      ASSERT_NE(dib, nullptr);
      Bytes back(w * h * 3);
      ISErrorCode e = 0;
      EXPECT_TRUE(DIBToRGB(e, dib, back.data()));
      GlobalFree(dib);
      EXPECT_EQ(back, Read(*f, 24).pixels);
    }
    if (magick) {
      const std::string path = dir.File("o" + std::to_string(descriptor) + ".tga");
      qrvtest::WriteFileBytes(path, plain);
      EXPECT_EQ(fmttest::MagickPixels(path, false), rgb);
    }
  }
}

TEST(TgaWrite, LayoutsRoundTripsAndImageMagick) {
  const BYTE px[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  fmttest::MemorySink sink;
  const BOOL size = ISWriteTGA(sink.handle, px, 3, 2, 24, nullptr, 0);
  ASSERT_EQ(size, 36);
  const Bytes f = sink.Take(size);
  EXPECT_EQ(f[2], 2);
  EXPECT_EQ(f[17], 0x20);
  EXPECT_EQ(Bytes(f.begin() + 18, f.begin() + 24), (Bytes{3, 2, 1, 6, 5, 4}));

  const DWORD w = 17, h = 5;
  Bytes rgba(w * h * 4), idx(w * h);
  for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 29 + 3);
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = static_cast<uint8_t>(i * 7);
  RGBQUAD pal[256];
  for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(i), BYTE(i * 5), BYTE(255 - i), 0};
  qrvtest::TempDir dir;
  const bool magick = qrvtest::HasTool("convert");
  for (DWORD bits : {8u, 24u, 32u}) {
    SCOPED_TRACE(bits);
    const BYTE* in = bits == 8 ? idx.data() : rgba.data();
    fmttest::MemorySink s;
    const BOOL n = ISWriteTGA(s.handle, in, w, h, bits, pal, 0);
    ASSERT_EQ(n, static_cast<BOOL>(18 + (bits == 8 ? 768 : 0) + w * h * bits / 8));
    const Bytes file = s.Take(n);
    Bytes expect(w * h * 4);
    for (DWORD i = 0; i < w * h; ++i) {
      if (bits == 8) {
        expect[4 * i] = pal[idx[i]].rgbRed, expect[4 * i + 1] = pal[idx[i]].rgbGreen;
        expect[4 * i + 2] = pal[idx[i]].rgbBlue, expect[4 * i + 3] = 255;
      } else {
        std::memcpy(&expect[4 * i], &rgba[i * bits / 8], 3);
        expect[4 * i + 3] = bits == 32 ? rgba[4 * i + 3] : 255;
      }
    }
    EXPECT_EQ(Read(file, 32).pixels, expect);
    if (bits == 8) {
      RGBQUAD got[256];
      EXPECT_EQ(Read(file, 8, got).pixels, idx);
      EXPECT_EQ(got[77].rgbRed, pal[77].rgbRed);
    }
    if (magick) {
      const std::string path = dir.File("t" + std::to_string(bits) + ".tga");
      qrvtest::WriteFileBytes(path, file);
      Bytes ref = fmttest::MagickPixels(path, true);
      EXPECT_EQ(ref, expect);
    }
  }
  EXPECT_FALSE(ISWriteTGA(sink.handle, px, 3, 2, 8, nullptr, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISWriteTGA(sink.handle, px, 3, 2, 16, nullptr, 0));
  EXPECT_FALSE(ISWriteTGA(sink.handle, px, 0, 2, 24, nullptr, 0));
}

TEST(TgaRead, DamagedSamplesReadAsFarAsTheyGoOrFailWithTheirCodes) {
  QRV_REQUIRE_TESTDATA("tga");
  RGBQUAD pal[256];
  for (const std::string& path : qrvtest::TestDataFiles("tga")) {
    SCOPED_TRACE(path);
    const Bytes file = qrvtest::ReadFileBytes(path);
    // Pixels follow the header, the id and the colour map, and end at the footer.
    const Bytes footerless(file.begin(), file.end() - 26);
    const size_t dataStart = 18 + file[0] + (file[1] ? (file[5] | (file[6] << 8)) * size_t{(file[7] + 7u) / 8} : 0);
    for (DWORD bits : {24u, 8u}) {
      // True-colour and grey-with-alpha samples are refused at 8 bits however they are cut.
      const bool whole = Read(footerless, bits, pal).error == IS_ERR_OK;
      for (const Bytes& cut : fmttest::Truncations(footerless))
        fmttest::ExpectCut(&ISReadTGA, cut, bits, pal,
                           whole ? fmttest::CutInData(cut.size(), dataStart, footerless.size())
                                 : fmttest::CutGives::kRefusal,
                           bits == 8 ? std::set<ISErrorCode>{IS_ERR_READ, IS_ERR_BITDEPTH}
                                     : std::set<ISErrorCode>{IS_ERR_READ},
                           "TGA", footerless.size());
    }
    fmttest::ExpectCorruptionsGiveOnly(&ISReadTGA, file, {24, 32, 8}, {IS_ERR_READ, IS_ERR_BADTGA, IS_ERR_BITDEPTH});
  }
}
