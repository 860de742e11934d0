// The TIFF reader: every depth on small hand-made pages, the orientation step against a plain
// upright reference, the as-stored DIBs, page selection, progress and stop, the alpha override
// and raw CMYK, failures, and the sample files against tiff2rgba.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstring>

#include "imaging/core/ISDIB.h"
#include "imaging/core/ISThreadState.h"
#include "support/progress_recorder.h"
#include "tiff_test_util.h"

using namespace tifftest;

namespace {

// A w x h page of `samples` 8-bit samples whose values differ everywhere.
Page Page8(uint32_t w, uint32_t h, uint16_t samples, uint16_t photometric) {
  Page p;
  p.width = w;
  p.height = h;
  p.samples = samples;
  p.photometric = photometric;
  p.data.resize(size_t{w} * h * samples);
  for (size_t i = 0; i < p.data.size(); ++i) p.data[i] = static_cast<uint8_t>(i * 37 + 11);
  return p;
}

Page Page16(uint32_t w, uint32_t h) {
  Page p;
  p.width = w;
  p.height = h;
  p.bits = 16;
  p.data.resize(size_t{w} * h * 2);
  for (size_t i = 0; i < size_t{w} * h; ++i) {
    const auto v = static_cast<uint16_t>(i * 4099 + 7);
    std::memcpy(&p.data[i * 2], &v, 2);
  }
  return p;
}

Page Page1(uint32_t w, uint32_t h, uint16_t photometric, const Bytes& bits) {
  Page p;
  p.width = w;
  p.height = h;
  p.bits = 1;
  p.photometric = photometric;
  p.data = Pack1(bits, w, h);
  return p;
}

Bytes Pattern1(uint32_t w, uint32_t h) {
  Bytes b(size_t{w} * h);
  for (size_t i = 0; i < b.size(); ++i) b[i] = (i * 7 + i / 3) % 5 < 2;
  return b;
}

// Pixels of 3 bytes from 1-byte grey.
Bytes GreyToRGB(const Bytes& g) {
  Bytes out;
  for (uint8_t v : g) out.insert(out.end(), {v, v, v});
  return out;
}

class AlphaOverrideScope {
 public:
  explicit AlphaOverrideScope(int32_t v) { GetThreadState()->tiff.alphaOverride = v; }
  ~AlphaOverrideScope() { GetThreadState()->tiff.alphaOverride = -1; }
};

}  // namespace

TEST(TIFFReader, GreyPageAtEveryDepthThatTakesIt) {
  Page p = Page8(3, 2, 1, PHOTOMETRIC_MINISBLACK);
  const Bytes file = WriteTIFFPages({p});
  ASSERT_FALSE(file.empty());
  ReadResult rgb = ReadTIFFBytes(file, 24);
  ASSERT_TRUE(rgb.ok) << rgb.error;
  EXPECT_EQ(rgb.width, 3u);
  EXPECT_EQ(rgb.height, 2u);
  EXPECT_EQ(rgb.image, GreyToRGB(p.data));
  ReadResult rgba = ReadTIFFBytes(file, 32);
  ASSERT_TRUE(rgba.ok);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(rgba.image[i * 4 + 3], 255);
  ReadResult idx = ReadTIFFBytes(file, 8);
  ASSERT_TRUE(idx.ok);
  EXPECT_EQ(idx.image, p.data);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(idx.palette[i].rgbRed, i);
  // Min-is-white: the ramp runs the other way.
  p.photometric = PHOTOMETRIC_MINISWHITE;
  idx = ReadTIFFBytes(WriteTIFFPages({p}), 8);
  ASSERT_TRUE(idx.ok);
  EXPECT_EQ(idx.palette[0].rgbGreen, 255);
  EXPECT_EQ(idx.palette[200].rgbBlue, 55);
  // 16 bits and bilevel are other depths.
  ReadResult r16 = ReadTIFFBytes(file, 16);
  EXPECT_FALSE(r16.ok);
  EXPECT_EQ(r16.error, IS_ERR_BITDEPTH);
  EXPECT_EQ(ReadTIFFBytes(file, 1).error, IS_ERR_BITDEPTH);
}

TEST(TIFFReader, OrientationStepAgainstUprightReference) {
  const uint32_t w = 5, h = 3;
  Page grey = Page8(w, h, 1, PHOTOMETRIC_MINISBLACK);
  Page rgb = Page8(w, h, 3, PHOTOMETRIC_RGB);
  Page deep = Page16(w, h);
  const Bytes bits = Pattern1(w, h);
  Page bilevel = Page1(w, h, PHOTOMETRIC_MINISWHITE, bits);
  for (uint16_t o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    uint32_t W = 0, H = 0;
    grey.orientation = rgb.orientation = deep.orientation = bilevel.orientation = o;
    const Bytes greyFile = WriteTIFFPages({grey});
    ReadResult r = ReadTIFFBytes(greyFile, 8);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.image, Upright(grey.data, w, h, 1, o, &W, &H));
    EXPECT_EQ(r.width, W);
    EXPECT_EQ(r.height, H);
    r = ReadTIFFBytes(greyFile, 24);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.image, GreyToRGB(Upright(grey.data, w, h, 1, o, &W, &H)));
    r = ReadTIFFBytes(WriteTIFFPages({rgb}), 24);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.image, Upright(rgb.data, w, h, 3, o, &W, &H));
    r = ReadTIFFBytes(WriteTIFFPages({deep}), 16);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.image, Upright(deep.data, w, h, 2, o, &W, &H));
    r = ReadTIFFBytes(WriteTIFFPages({bilevel}), 1);
    ASSERT_TRUE(r.ok);
    const Bytes expected = Upright(bits, w, h, 1, o, &W, &H);
    EXPECT_EQ(Unpack1(r.image, W, H, (W + 7) / 8), expected);
    // Flag bit 0 reads every page as stored top-left.
    r = ReadTIFFBytes(WriteTIFFPages({rgb}), 24, 0, 1);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.image, rgb.data);
  }
}

TEST(TIFFReader, OrientationMatchesImageMagick) {
  QRV_REQUIRE_TESTDATA("tiff/hopper.tif");
  QRV_REQUIRE_TOOL("tiffset");
  QRV_REQUIRE_TOOL("convert");
  qrvtest::TempDir dir;
  for (int o : {3, 6, 8}) {
    SCOPED_TRACE(o);
    const std::string path = dir.File("o" + std::to_string(o) + ".tif");
    qrvtest::WriteFileBytes(path, qrvtest::ReadFileBytes(qrvtest::TestDataFile("tiff/hopper.tif")));
    int status = 0;
    qrvtest::RunCommand("tiffset -s 274 " + std::to_string(o) + " '" + path + "'", &status);
    ASSERT_EQ(status, 0);
    const std::string magick =
        qrvtest::RunCommand("convert '" + path + "' -auto-orient -depth 8 rgb:- 2>/dev/null", &status);
    ASSERT_EQ(status, 0);
    ReadResult r = ReadTIFFBytes(qrvtest::ReadFileBytes(path), 24);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.image, Bytes(magick.begin(), magick.end()));
  }
}

TEST(TIFFReader, BilevelPagesComeBackWithOneForBlack) {
  const uint32_t w = 11, h = 4;
  const Bytes bits = Pattern1(w, h);
  const Bytes packed = Pack1(bits, w, h);
  // Min-is-white stores 1 for black: unchanged. Min-is-black is inverted.
  ReadResult r = ReadTIFFBytes(WriteTIFFPages({Page1(w, h, PHOTOMETRIC_MINISWHITE, bits)}), 1);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(Unpack1(r.image, w, h, 2), bits);
  EXPECT_EQ(r.palette[0].rgbRed, 255);
  EXPECT_EQ(r.palette[1].rgbRed, 0);
  r = ReadTIFFBytes(WriteTIFFPages({Page1(w, h, PHOTOMETRIC_MINISBLACK, bits)}), 1);
  ASSERT_TRUE(r.ok);
  Bytes inverted = bits;
  for (uint8_t& b : inverted) b ^= 1;
  EXPECT_EQ(Unpack1(r.image, w, h, 2), inverted);
  // CCITT Group 4 and a tiled page give the same pixels.
  Page g4 = Page1(w, h, PHOTOMETRIC_MINISWHITE, bits);
  g4.compression = COMPRESSION_CCITTFAX4;
  r = ReadTIFFBytes(WriteTIFFPages({g4}), 1);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(Unpack1(r.image, w, h, 2), bits);
  Page tiled = Page1(40, 35, PHOTOMETRIC_MINISWHITE, Pattern1(40, 35));
  tiled.tileWidth = 16;
  tiled.tileLength = 16;
  r = ReadTIFFBytes(WriteTIFFPages({tiled}), 1);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(Unpack1(r.image, 40, 35, 5), Pattern1(40, 35));
  // Flag bit 3 puts the rows top first before the step: orientation 1 then leaves them
  // bottom first.
  r = ReadTIFFBytes(WriteTIFFPages({Page1(w, h, PHOTOMETRIC_MINISWHITE, bits)}), 1, 0, 8);
  ASSERT_TRUE(r.ok);
  for (uint32_t y = 0; y < h; ++y) EXPECT_EQ(r.image[y * 2], packed[(h - 1 - y) * 2]);
  // A null palette is refused; so is a deeper page.
  EXPECT_EQ(ReadTIFFBytes(WriteTIFFPages({Page1(w, h, 0, bits)}), 1, 0, 0, false).error, IS_ERR_BADPARAM);
  EXPECT_EQ(ReadTIFFBytes(WriteTIFFPages({Page8(3, 3, 1, 1)}), 1).error, IS_ERR_BITDEPTH);
}

TEST(TIFFReader, BilevelWithoutPhotometricFollowsTheCompression) {
  const uint32_t w = 9, h = 3;
  const Bytes bits = Pattern1(w, h);
  Page plain = Page1(w, h, kNoTag, bits);
  Page g4 = plain;
  g4.compression = COMPRESSION_CCITTFAX4;
  ReadResult r = ReadTIFFBytes(WriteTIFFPages({g4}), 1);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(Unpack1(r.image, w, h, 2), bits);
  r = ReadTIFFBytes(WriteTIFFPages({plain}), 1);
  ASSERT_TRUE(r.ok) << r.error;
  Bytes inverted = bits;
  for (uint8_t& b : inverted) b ^= 1;
  EXPECT_EQ(Unpack1(r.image, w, h, 2), inverted);
}

TEST(TIFFReader, IndexPagesOfFewBitsAndColourMaps) {
  // 4-bit grey: indexes 0 to 15 and a ramp that spans 0..255.
  Page p;
  p.width = 16;
  p.height = 2;
  p.bits = 4;
  p.photometric = PHOTOMETRIC_MINISBLACK;
  Bytes values;
  for (int i = 0; i < 32; ++i) values.push_back(static_cast<uint8_t>((i * 7) % 16));
  for (int i = 0; i < 32; i += 2) p.data.push_back(static_cast<uint8_t>(values[i] << 4 | values[i + 1]));
  ReadResult r = ReadTIFFBytes(WriteTIFFPages({p}), 8);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.image, values);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(r.palette[i].rgbRed, i * 17);
  // 2-bit grey: 0, 85, 170, 255.
  p.bits = 2;
  p.width = 4;
  p.height = 1;
  p.data = {0x1B};  // 0 1 2 3
  r = ReadTIFFBytes(WriteTIFFPages({p}), 8);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.image, (Bytes{0, 1, 2, 3}));
  EXPECT_EQ(r.palette[2].rgbGreen, 170);
  EXPECT_EQ(ReadTIFFBytes(WriteTIFFPages({p}), 24).image, (Bytes{0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}));
  // An 8-bit colour map of 16-bit values, tiled.
  Page map = Page8(20, 18, 1, PHOTOMETRIC_PALETTE);
  map.colourMap.assign(768, 0);
  for (int i = 0; i < 256; ++i) {
    map.colourMap[i] = static_cast<uint16_t>(i * 257);
    map.colourMap[256 + i] = static_cast<uint16_t>((255 - i) * 257);
    map.colourMap[512 + i] = 0x8080;
  }
  map.tileWidth = 16;
  map.tileLength = 16;
  r = ReadTIFFBytes(WriteTIFFPages({map}), 8);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.image, map.data);
  EXPECT_EQ(r.palette[1].rgbRed, 1);
  EXPECT_EQ(r.palette[1].rgbGreen, 254);
  EXPECT_EQ(r.palette[1].rgbBlue, 0x8080 * 255 / 65535);
  // An RGB page and a grey page with an extra sample have no index form.
  EXPECT_EQ(ReadTIFFBytes(WriteTIFFPages({Page8(3, 2, 3, PHOTOMETRIC_RGB)}), 8).error, IS_ERR_BITDEPTH);
  Page greyAlpha = Page8(3, 2, 2, PHOTOMETRIC_MINISBLACK);
  greyAlpha.extraSamples = {EXTRASAMPLE_ASSOCALPHA};
  EXPECT_EQ(ReadTIFFBytes(WriteTIFFPages({greyAlpha}), 8).error, IS_ERR_BITDEPTH);
  EXPECT_TRUE(ReadTIFFBytes(WriteTIFFPages({greyAlpha}), 32).ok);
}

TEST(TIFFReader, SixteenBitGreyRowsAndScaling) {
  Page p = Page16(3, 4);
  const Bytes file = WriteTIFFPages({p});
  ReadResult r = ReadTIFFBytes(file, 16);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.image, p.data);
  // Flag 32: rows padded to 4 bytes ((3 + 1) / 2 x 4 = 8), Orientation ignored.
  p.orientation = 3;
  r = ReadTIFFBytes(WriteTIFFPages({p}), 16, 0, 32);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.image.size(), 32u);
  for (uint32_t y = 0; y < 4; ++y) EXPECT_EQ(0, std::memcmp(&r.image[y * 8], &p.data[y * 6], 6));
  // Flag 16: rows top first before the step, which then turns them bottom first.
  r = ReadTIFFBytes(file, 16, 0, 16);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(0, std::memcmp(&r.image[0], &p.data[3 * 6], 6));
  // Read at 8 bits the samples scale to v x 255 / 65535; tiled pages read the same.
  r = ReadTIFFBytes(file, 8);
  ASSERT_TRUE(r.ok);
  for (size_t i = 0; i < 12; ++i) {
    uint16_t v = 0;
    std::memcpy(&v, &p.data[i * 2], 2);
    EXPECT_EQ(r.image[i], v * 255 / 65535);
  }
  Page tiled = Page16(20, 17);
  tiled.tileWidth = tiled.tileLength = 16;
  r = ReadTIFFBytes(WriteTIFFPages({tiled}), 16);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.image, tiled.data);
}

TEST(TIFFReader, AsStoredPagesArePackedDIBs) {
  Page rgb = Page8(5, 3, 3, PHOTOMETRIC_RGB);
  rgb.xResolution = rgb.yResolution = 72.0f;
  rgb.resolutionUnit = RESUNIT_INCH;
  ReadResult r = ReadTIFFBytes(WriteTIFFPages({rgb}), 0, 0, 2);
  ASSERT_TRUE(r.ok) << r.error;
  const BITMAPINFOHEADER h = ReadDIBHeader(r.image.data());
  EXPECT_EQ(h.biBitCount, 24);
  EXPECT_EQ(h.biWidth, 5);
  EXPECT_EQ(h.biHeight, 3);
  EXPECT_EQ(h.biSizeImage, 16u * 3);
  EXPECT_EQ(h.biXPelsPerMeter, 2800);  // 72 per inch: 28 per centimetre
  ASSERT_EQ(r.image.size(), 40u + 48);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 5; ++x) {
      const uint8_t* d = &r.image[40 + y * 16 + x * 3];
      const uint8_t* s = &rgb.data[((2 - y) * 5 + x) * 3];
      EXPECT_EQ(d[0], s[2]);
      EXPECT_EQ(d[1], s[1]);
      EXPECT_EQ(d[2], s[0]);
    }
  // A turned page keeps bottom-up rows of the new width.
  rgb.orientation = 6;
  r = ReadTIFFBytes(WriteTIFFPages({rgb}), 0, 0, 2);
  ASSERT_TRUE(r.ok);
  uint32_t W = 0, H = 0;
  const Bytes up = Upright(rgb.data, 5, 3, 3, 6, &W, &H);
  EXPECT_EQ(ReadDIBHeader(r.image.data()).biWidth, 3);
  for (uint32_t y = 0; y < H; ++y)
    for (uint32_t x = 0; x < W; ++x) EXPECT_EQ(r.image[40 + y * 12 + x * 3], up[((H - 1 - y) * W + x) * 3 + 2]);
  // Grey: 8-bit DIB with the 256-entry ramp; bilevel: 1-bit DIB; RGBA: 32-bit B, G, R, A.
  r = ReadTIFFBytes(WriteTIFFPages({Page8(3, 2, 1, PHOTOMETRIC_MINISBLACK)}), 0, 0, 2);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(ReadDIBHeader(r.image.data()).biBitCount, 8);
  EXPECT_EQ(ReadDIBHeader(r.image.data()).biClrUsed, 256u);
  EXPECT_EQ(r.image.size(), 40u + 1024 + 8);
  EXPECT_EQ(ReadDIBHeader(r.image.data()).biXPelsPerMeter, 0);
  r = ReadTIFFBytes(WriteTIFFPages({Page1(9, 2, 0, Pattern1(9, 2))}), 0, 0, 2);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(ReadDIBHeader(r.image.data()).biBitCount, 1);
  EXPECT_EQ(r.image.size(), 40u + 8 + 8);
  Page rgba = Page8(2, 2, 4, PHOTOMETRIC_RGB);
  rgba.extraSamples = {EXTRASAMPLE_ASSOCALPHA};
  r = ReadTIFFBytes(WriteTIFFPages({rgba}), 0, 0, 2);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(ReadDIBHeader(r.image.data()).biBitCount, 32);
  EXPECT_EQ(r.image[40], rgba.data[8 + 2]);
  EXPECT_EQ(r.image[43], rgba.data[8 + 3]);
}

TEST(TIFFReader, PagesAndInformation) {
  const Bytes file = WriteTIFFPages({Page8(3, 2, 1, 1), Page8(4, 5, 3, 2), Page16(2, 7)});
  for (DWORD page = 0; page < 3; ++page) {
    ReadResult r = ReadTIFFBytes(file, 24, page);
    ASSERT_TRUE(r.ok || page == 2);
  }
  ReadResult r = ReadTIFFBytes(file, 16, 2);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.width, 2u);
  EXPECT_EQ(r.height, 7u);
  EXPECT_EQ(ReadTIFFBytes(file, 24, 1).width, 4u);
  EXPECT_EQ(ReadTIFFBytes(file, 24, 3).error, IS_ERR_BADPARAM);
  EXPECT_EQ(ReadTIFFBytes(file, 24, 3).warning, "TIFF page 3 asked for, but the file holds 3 page(s)");

  ISIOHandle h = ISOpenMemorySource(file.data(), static_cast<DWORD>(file.size()));
  DWORD w = 9, ht = 9, bpp = 9;
  ISResolution res{9, 9, 9};
  EXPECT_TRUE(ISGetTIFFInfo(h, 1, &w, &ht, &bpp, &res));
  EXPECT_EQ(w, 4u);
  EXPECT_EQ(ht, 5u);
  EXPECT_EQ(bpp, 24u);
  EXPECT_EQ(res.x, 0u);
  EXPECT_EQ(res.unit, 0u);
  EXPECT_TRUE(ISGetTIFFInfo(h, 2, &w, &ht, &bpp, nullptr));
  EXPECT_EQ(bpp, 16u);
  EXPECT_FALSE(ISGetTIFFInfo(h, 3, &w, &ht, &bpp, &res));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_STREQ(ISGetLastWarning(), "TIFF page 3 asked for, but the file holds 3 page(s)");
  EXPECT_EQ(w, 0u);
  ISCloseSource(h);

  Page withRes = Page8(3, 2, 1, 1);
  withRes.xResolution = 300.7f;
  withRes.yResolution = 150.2f;
  withRes.resolutionUnit = RESUNIT_CENTIMETER;
  const Bytes one = WriteTIFFPages({withRes});
  h = ISOpenMemorySource(one.data(), static_cast<DWORD>(one.size()));
  EXPECT_TRUE(ISGetTIFFInfo(h, 0, &w, &ht, &bpp, &res));
  EXPECT_EQ(res.x, 300u);
  EXPECT_EQ(res.y, 150u);
  EXPECT_EQ(res.unit, 3u);
  EXPECT_FALSE(ISGetTIFFInfo(h, 1, &w, &ht, &bpp, &res));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  ISCloseSource(h);
}

TEST(TIFFReader, BadArgumentsAndBadFiles) {
  const Bytes file = WriteTIFFPages({Page8(6, 5, 3, PHOTOMETRIC_RGB)});
  DWORD w = 0, h = 0;
  RGBQUAD pal[256];
  EXPECT_EQ(ISReadTIFF(nullptr, &w, &h, 24, nullptr, 0, 0), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_EQ(ReadTIFFBytes(file, 7).error, IS_ERR_BADPARAM);
  EXPECT_EQ(ReadTIFFBytes(file, 8, 0, 0, false).error, IS_ERR_BADPARAM);
  ISIOHandle src = ISOpenMemorySource(file.data(), static_cast<DWORD>(file.size()));
  EXPECT_EQ(ISReadTIFF(src, nullptr, &h, 24, pal, 0, 0), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  ISCloseSource(src);
  EXPECT_EQ(ReadTIFFBytes(Bytes(64, 0x41), 24).error, IS_ERR_BADTIFF);
  EXPECT_EQ(ReadTIFFBytes(Bytes{'I', 'I', 42, 0}, 24).error, IS_ERR_BADTIFF);
  // Every truncation either fails with 20 or returns the page with missing rows.
  for (size_t n = 1; n < file.size(); n += 7) {
    const Bytes cut(file.begin(), file.begin() + static_cast<long>(n));
    for (DWORD bits : {24u, 8u}) {
      ReadResult r = ReadTIFFBytes(cut, bits);
      if (!r.ok) {
        EXPECT_TRUE(r.error == IS_ERR_BADTIFF || r.error == IS_ERR_BITDEPTH) << n << " " << r.error;
      }
    }
  }
  // Raw readers keep a page whose strips do not decode: its rows come back mid grey.
  Page grey = Page8(4, 4, 1, PHOTOMETRIC_MINISBLACK);
  grey.rowsPerStrip = 2;
  grey.compression = COMPRESSION_ADOBE_DEFLATE;
  Bytes broken = WriteTIFFPages({grey});
  uint64_t offsets[2] = {};
  {
    qrvtest::TempDir dir;
    qrvtest::WriteFileBytes(dir.File("g.tif"), broken);
    TIFF* tif = TIFFOpen(dir.File("g.tif").c_str(), "r");
    ASSERT_NE(tif, nullptr);
    uint64_t* off = nullptr;
    TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &off);
    offsets[0] = off[0];
    offsets[1] = off[1];
    TIFFClose(tif);
  }
  std::fill(broken.begin() + static_cast<long>(offsets[1]), broken.begin() + static_cast<long>(offsets[1]) + 4, 0xFF);
  ReadResult r = ReadTIFFBytes(broken, 8);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(0, std::memcmp(r.image.data(), grey.data.data(), 8));
  EXPECT_EQ(r.image[12], 128);
}

TEST(TIFFReader, ProgressPerBandAndStop) {
  Page p = Page8(4, 10, 3, PHOTOMETRIC_RGB);
  p.rowsPerStrip = 3;
  const Bytes file = WriteTIFFPages({p});
  {
    qrvtest::ProgressRecorder rec;
    ASSERT_TRUE(ReadTIFFBytes(file, 24).ok);
    // Bands of 3 rows: 3, 6, 9, 10 of 10.
    EXPECT_EQ(rec.calls, (std::vector<std::pair<DWORD, DWORD>>{{3, 10}, {6, 10}, {9, 10}, {10, 10}}));
  }
  qrvtest::ProgressRecorder stop(0);
  EXPECT_EQ(ReadTIFFBytes(file, 24).error, IS_ERR_STOPPED);
  Page grey = Page8(4, 10, 1, PHOTOMETRIC_MINISBLACK);
  grey.rowsPerStrip = 3;
  EXPECT_EQ(ReadTIFFBytes(WriteTIFFPages({grey}), 8).error, IS_ERR_STOPPED);
}

TEST(TIFFReader, AlphaOverrideOfAnUnspecifiedExtraSample) {
  Page p = Page8(2, 1, 4, PHOTOMETRIC_RGB);
  p.data = {200, 100, 50, 128, 10, 20, 30, 255};
  p.extraSamples = {EXTRASAMPLE_UNSPECIFIED};
  const Bytes file = WriteTIFFPages({p});
  ReadResult r = ReadTIFFBytes(file, 32);  // taken as associated alpha: copied
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.image, p.data);
  {
    AlphaOverrideScope scope(0);  // no alpha: opaque
    r = ReadTIFFBytes(file, 32);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.image, (Bytes{200, 100, 50, 255, 10, 20, 30, 255}));
  }
  {
    AlphaOverrideScope scope(2);  // unassociated: colours multiplied by alpha
    r = ReadTIFFBytes(file, 32);
    ASSERT_TRUE(r.ok);
    EXPECT_NEAR(r.image[0], 100, 1);
    EXPECT_EQ(r.image[3], 128);
    EXPECT_EQ(r.image[4], 10);
  }
}

TEST(TIFFReader, RawCMYKSamples) {
  Page p = Page8(3, 2, 4, PHOTOMETRIC_SEPARATED);
  p.inkSet = INKSET_CMYK;
  const Bytes file = WriteTIFFPages({p});
  ReadResult raw = ReadTIFFBytes(file, 32, 0, 4);
  ASSERT_TRUE(raw.ok) << raw.error;
  EXPECT_EQ(raw.image, p.data);
  ReadResult rgb = ReadTIFFBytes(file, 32);
  ASSERT_TRUE(rgb.ok);
  const uint8_t c = p.data[0], k = p.data[3];
  EXPECT_EQ(rgb.image[0], (255 - c) * (255 - k) / 255);
  EXPECT_EQ(rgb.image[3], 255);
}

TEST(TIFFReader, SampleFilesEqualTiff2rgba) {
  QRV_REQUIRE_TESTDATA("tiff/hopper.tif");
  QRV_REQUIRE_TOOL("tiff2rgba");
  for (const std::string& path : qrvtest::TestDataFiles("tiff")) {
    SCOPED_TRACE(path);
    std::vector<uint32_t> widths, heights;
    const std::vector<Bytes> pages = Tiff2RGBAPages(path, &widths, &heights);
    ASSERT_FALSE(pages.empty());
    const Bytes file = qrvtest::ReadFileBytes(path);
    for (DWORD page = 0; page < pages.size(); ++page) {
      ReadResult r = ReadTIFFBytes(file, 32, page);
      ASSERT_TRUE(r.ok) << r.error;
      EXPECT_EQ(r.width, widths[page]);
      EXPECT_EQ(r.height, heights[page]);
      EXPECT_TRUE(r.image == pages[page]);
      ReadResult r24 = ReadTIFFBytes(file, 24, page);
      ASSERT_TRUE(r24.ok);
      size_t differ = 0;
      for (size_t i = 0; i < size_t{r.width} * r.height; ++i)
        differ += std::memcmp(&r24.image[i * 3], &pages[page][i * 4], 3) != 0;
      EXPECT_EQ(differ, 0u);
    }
    ISIOHandle h = ISOpenMemorySource(file.data(), static_cast<DWORD>(file.size()));
    DWORD w = 0, ht = 0, bpp = 0;
    EXPECT_FALSE(ISGetTIFFInfo(h, static_cast<DWORD>(pages.size()), &w, &ht, &bpp, nullptr));
    ISCloseSource(h);
  }
}

TEST(TIFFReader, GreySampleFilesAtEightBits) {
  QRV_REQUIRE_TESTDATA("tiff/hopper_gray4.tif");
  QRV_REQUIRE_TOOL("tiff2rgba");
  for (const char* name : {"tiff/hopper_gray2.tif", "tiff/hopper_gray4.tif", "tiff/hopper_g4.tif"}) {
    SCOPED_TRACE(name);
    const std::string path = qrvtest::TestDataFile(name);
    std::vector<uint32_t> widths, heights;
    const std::vector<Bytes> pages = Tiff2RGBAPages(path, &widths, &heights);
    ASSERT_EQ(pages.size(), 1u);
    ReadResult r = ReadTIFFBytes(qrvtest::ReadFileBytes(path), 8);
    ASSERT_TRUE(r.ok) << r.error;
    size_t differ = 0;
    for (size_t i = 0; i < r.image.size(); ++i) differ += r.palette[r.image[i]].rgbRed != pages[0][i * 4];
    EXPECT_EQ(differ, 0u);
  }
}

// A strip that does not decode leaves its rows as they are and the read goes on; the decoder's
// words stay behind for the caller. A sound page leaves none.
TEST(TIFFReader, DamagedStripIsToldToTheCaller) {
  QRV_REQUIRE_TESTDATA("tiff/hopper_g4.tif");
  Bytes file = qrvtest::ReadFileBytes(qrvtest::TestDataFile("tiff/hopper_g4.tif"));
  ReadResult r = ReadTIFFBytes(file, 24);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.warning, "");
  for (size_t i = 200; i < 600; i += 3) file[i] ^= 0xA5;  // inside the CCITT strip
  r = ReadTIFFBytes(file, 24);
  ASSERT_TRUE(r.ok);
  EXPECT_NE(r.warning.find("Bad code word"), std::string::npos) << r.warning;
}
