// The TIFF writer: round trips through the reader for every depth, compression and layout,
// the tags it writes (checked with libtiff and tiffinfo), the tag list, appending through a
// callback sink, and failures.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <cstring>
#include <string>

#include "imaging/core/ISThreadState.h"
#include "support/callback_file.h"
#include "tiff_test_util.h"

using namespace tifftest;

namespace {

using MemFile = qrvtest::CallbackFile;  // failAfter: bytes that may be written before writes fail

struct WriteResult {
  bool ok = false;
  ISErrorCode error = IS_ERR_OK;
  Bytes file;
};

WriteResult Write(const Bytes& pixels, DWORD w, DWORD h, DWORD bits, const RGBQUAD* palette, DWORD compression,
                  DWORD flags = 0, const ISResolution* res = nullptr, MemFile* file = nullptr) {
  MemFile own;
  MemFile* f = file ? file : &own;
  f->position = 0;
  ISIOHandle sink = f->Open(1);
  WriteResult r;
  if (!sink) return r;
  r.ok = ISWriteTIFF(sink, pixels.data(), w, h, bits, palette, compression, res, flags) != 0;
  r.error = ISGetLastError();
  ISCloseSink(sink);
  r.file = f->bytes;
  return r;
}

// libtiff's view of a written file (first page unless `page`).
struct Tags {
  uint16_t compression = 0, photometric = 0, predictor = 1, samples = 0, bits = 0, orientation = 0, unit = 0,
           inkSet = 0;
  uint32_t rowsPerStrip = 0, tileWidth = 0, strips = 0;
  float xRes = 0, yRes = 0;
  std::string software, artist;
  std::vector<uint16_t> extra, red, green, blue;
  bool hasColourMap = false;
  uint16_t page[2] = {0, 0};
  int directories = 0;
};

Tags ReadTags(const Bytes& file, int page = 0) {
  Tags t;
  qrvtest::TempDir dir;
  qrvtest::WriteFileBytes(dir.File("w.tif"), file);
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(dir.File("w.tif").c_str(), "r");
  if (!tif) return t;
  t.directories = TIFFNumberOfDirectories(tif);
  TIFFSetDirectory(tif, static_cast<tdir_t>(page));
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
  TIFFGetField(tif, TIFFTAG_PREDICTOR, &t.predictor);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t.samples);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
  TIFFGetField(tif, TIFFTAG_ORIENTATION, &t.orientation);
  TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &t.unit);
  TIFFGetField(tif, TIFFTAG_INKSET, &t.inkSet);
  TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &t.rowsPerStrip);
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &t.tileWidth);
  t.strips = TIFFNumberOfStrips(tif);
  TIFFGetField(tif, TIFFTAG_XRESOLUTION, &t.xRes);
  TIFFGetField(tif, TIFFTAG_YRESOLUTION, &t.yRes);
  char* text = nullptr;
  if (TIFFGetField(tif, TIFFTAG_SOFTWARE, &text)) t.software = text;
  if (TIFFGetField(tif, TIFFTAG_ARTIST, &text)) t.artist = text;
  uint16_t n = 0;
  uint16_t* info = nullptr;
  if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &n, &info)) t.extra.assign(info, info + n);
  uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
  if (TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) {
    t.hasColourMap = true;
    const size_t count = size_t{1} << t.bits;
    t.red.assign(r, r + count);
    t.green.assign(g, g + count);
    t.blue.assign(b, b + count);
  }
  TIFFGetField(tif, TIFFTAG_PAGENUMBER, &t.page[0], &t.page[1]);
  TIFFClose(tif);
  return t;
}

Bytes Pixels(size_t n, uint32_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 31 + seed * 7 + (i / 5) * 3) & 0xFF);
  return b;
}

std::vector<RGBQUAD> Palette() {
  std::vector<RGBQUAD> p(256);
  for (int i = 0; i < 256; ++i) p[i] = {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 3), 0};
  return p;
}

BOOL StopAtOnce(DWORD, DWORD, uintptr_t) { return FALSE; }

// Restores the thread's TIFF options after a test changes them.
class OptionsScope {
 public:
  OptionsScope() : saved_(GetThreadState()->tiff) {}
  ~OptionsScope() {
    GetThreadState()->tiff = saved_;
    GetThreadState()->iccProfile.Free();
    GetThreadState()->progressCallback = nullptr;
  }
  ISTIFFOptions& operator*() { return GetThreadState()->tiff; }
  ISTIFFOptions* operator->() { return &GetThreadState()->tiff; }

 private:
  ISTIFFOptions saved_;
};

ISVariant Var(uint16_t type, double v) {
  ISVariant x;
  x.type = type;
  switch (type) {
    case 17: x.value.u8 = static_cast<uint8_t>(v); break;
    case 2: x.value.i16 = static_cast<int16_t>(v); break;
    case 3: x.value.i32 = static_cast<int32_t>(v); break;
    case 4: x.value.f32 = static_cast<float>(v); break;
    default: x.value.f64 = v; break;
  }
  return x;
}

}  // namespace

TEST(TIFFWriter, BaselineRGBPageAndItsTags) {
  const Bytes rgb = Pixels(18, 1);
  WriteResult w = Write(rgb, 3, 2, 24, nullptr, 1);
  ASSERT_TRUE(w.ok) << w.error;
  const Tags t = ReadTags(w.file);
  EXPECT_EQ(t.compression, COMPRESSION_NONE);
  EXPECT_EQ(t.photometric, PHOTOMETRIC_RGB);
  EXPECT_EQ(t.samples, 3);
  EXPECT_EQ(t.bits, 8);
  EXPECT_EQ(t.orientation, 1);
  EXPECT_EQ(t.unit, 1);
  EXPECT_EQ(t.xRes, 1.0f);
  EXPECT_EQ(t.yRes, 1.0f);
  EXPECT_EQ(t.rowsPerStrip, 8192u / 9);  // libtiff's default strip of about 8 KB
  EXPECT_EQ(t.software, std::string("RovIrirev (IS 3.0.48.1), using ") + std::string(TIFFGetVersion()).substr(0, 992));
  ReadResult r = ReadTIFFBytes(w.file, 24);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.image, rgb);
  // A resolution record is written as given.
  const ISResolution res{300, 200, RESUNIT_INCH};
  const Tags t2 = ReadTags(Write(rgb, 3, 2, 24, nullptr, 1, 0, &res).file);
  EXPECT_EQ(t2.xRes, 300.0f);
  EXPECT_EQ(t2.yRes, 200.0f);
  EXPECT_EQ(t2.unit, RESUNIT_INCH);
}

TEST(TIFFWriter, RoundTripsOfEveryDepthAndCompression) {
  const uint32_t w = 37, h = 21;
  const std::vector<RGBQUAD> pal = Palette();
  struct Case {
    DWORD bits, compression, flags, usedCompression;
  };
  const Case cases[] = {
      {1, 1, 0, 1}, {1, 4, 0, 4}, {1, 3, 0, 3}, {1, 32773, 32, 32773}, {1, 7, 0, 1}, {1, 5, 128, 5},
      {4, 1, 0, 1}, {4, 5, 16, 5}, {4, 8, 32, 8}, {4, 7, 0, 1}, {4, 1, 2, 1},
      {8, 1, 0, 1}, {8, 5, 16, 5}, {8, 32946, 16 | 32, 32946}, {8, 32773, 128, 32773}, {8, 1, 2, 1},
      {16, 1, 0, 1}, {16, 5, 16, 5}, {16, 8, 32 | 128, 8}, {16, 7, 0, 1},
      {24, 1, 0, 1}, {24, 5, 16, 5}, {24, 8, 32 | 64, 8}, {24, 4, 128, 1}, {24, 32773, 0, 32773},
      {32, 1, 0, 1}, {32, 5, 16 | 32, 5}, {32, 1, 4, 1}, {32, 8, 4 | 64 | 128, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, compression " << c.compression << ", flags " << c.flags);
    uint64_t rowBytes = c.bits == 1 ? (w + 7) / 8 : c.bits == 4 ? (w + 1) / 2 : uint64_t{w} * c.bits / 8;
    Bytes pixels = Pixels(rowBytes * h, c.bits + c.flags);
    if (c.bits == 4)
      for (auto& b : pixels) b &= (w % 2) ? 0xFF : 0xFF;  // both nibbles used
    if (c.bits == 4 && (w % 2))
      for (uint32_t y = 0; y < h; ++y) pixels[y * rowBytes + rowBytes - 1] &= 0xF0;
    if (c.bits == 1)
      for (uint32_t y = 0; y < h; ++y) pixels[y * rowBytes + rowBytes - 1] &= 0xF8;  // 37 = 4 x 8 + 5
    WriteResult wr = Write(pixels, w, h, c.bits, pal.data(), c.compression, c.flags);
    ASSERT_TRUE(wr.ok) << wr.error;
    const Tags t = ReadTags(wr.file);
    EXPECT_EQ(t.compression, c.usedCompression);
    EXPECT_EQ(t.predictor, (c.flags & 16) && c.bits != 4 ? 2 : 1);
    EXPECT_EQ(t.tileWidth != 0, (c.flags & 32) != 0);
    // The expected picture: top row first, red and blue in file order.
    Bytes expected = pixels;
    if (c.flags & 128)
      for (uint32_t y = 0; y < h; ++y)
        std::memcpy(&expected[y * rowBytes], &pixels[(h - 1 - y) * rowBytes], rowBytes);
    if (c.flags & 64)
      for (uint64_t i = 0; i < uint64_t{w} * h; ++i) std::swap(expected[i * c.bits / 8], expected[i * c.bits / 8 + 2]);
    ReadResult r;
    switch (c.bits) {
      case 1:
        r = ReadTIFFBytes(wr.file, 1);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(Unpack1(r.image, w, h, rowBytes), Unpack1(expected, w, h, rowBytes));
        break;
      case 4: {
        r = ReadTIFFBytes(wr.file, 8);
        ASSERT_TRUE(r.ok) << r.error;
        Bytes indexes;
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < w; ++x) indexes.push_back((expected[y * rowBytes + x / 2] >> (x % 2 ? 0 : 4)) & 15);
        EXPECT_EQ(r.image, indexes);
        if (!(c.flags & 2)) {
          EXPECT_EQ(t.photometric, PHOTOMETRIC_PALETTE);
          EXPECT_EQ(r.palette[5].rgbRed, pal[5].rgbRed);
          EXPECT_EQ(r.palette[5].rgbBlue, pal[5].rgbBlue);
        } else {
          EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISBLACK);
        }
        break;
      }
      case 8:
        r = ReadTIFFBytes(wr.file, 8);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.image, expected);
        EXPECT_EQ(t.hasColourMap, !(c.flags & 2));
        if (!(c.flags & 2)) {
          EXPECT_EQ(r.palette[200].rgbGreen, 55);
        }
        break;
      case 16:
        r = ReadTIFFBytes(wr.file, 16);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.image, expected);
        break;
      default:
        r = ReadTIFFBytes(wr.file, c.bits, 0, 4);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.image, expected);
        break;
    }
  }
}

TEST(TIFFWriter, DepthTagsOfTheLayouts) {
  std::vector<RGBQUAD> pal = Palette();
  pal[1] = {0, 0, 255, 0};  // B, G, R: red
  const Bytes idx = Pixels(12, 3);
  Tags t = ReadTags(Write(idx, 4, 3, 8, pal.data(), 1).file);
  ASSERT_TRUE(t.hasColourMap);
  EXPECT_EQ(t.red[1], 65535);
  EXPECT_EQ(t.green[1], 0);
  EXPECT_EQ(t.blue[1], 0);
  EXPECT_EQ(t.red[7], 21 * 257);  // red of entry 7 is 21
  // JPEG of 8-bit pixels: a grey page in one strip, no colour map.
  const Bytes grey = Pixels(64 * 24, 5);
  WriteResult w = Write(grey, 64, 24, 8, pal.data(), 7);
  ASSERT_TRUE(w.ok) << w.error;
  t = ReadTags(w.file);
  EXPECT_EQ(t.compression, COMPRESSION_JPEG);
  EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISBLACK);
  EXPECT_EQ(t.rowsPerStrip, 24u);
  EXPECT_FALSE(t.hasColourMap);
  ReadResult r = ReadTIFFBytes(w.file, 8);
  ASSERT_TRUE(r.ok) << r.error;
  // A flat picture survives JPEG within a level or two.
  const Bytes flat(64 * 24, 120);
  r = ReadTIFFBytes(Write(flat, 64, 24, 8, nullptr, 7).file, 8);
  ASSERT_TRUE(r.ok);
  for (uint8_t v : r.image) EXPECT_NEAR(v, 120, 2);
  // RGB JPEG.
  const Bytes flatRGB(32 * 16 * 3, 90);
  w = Write(flatRGB, 32, 16, 24, nullptr, 7);
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(ReadTags(w.file).compression, COMPRESSION_JPEG);
  r = ReadTIFFBytes(w.file, 24);
  ASSERT_TRUE(r.ok);
  for (uint8_t v : r.image) EXPECT_NEAR(v, 90, 2);
  // 32 bits: associated alpha, or CMYK with flag 4.
  const Bytes rgba = Pixels(16, 2);
  t = ReadTags(Write(rgba, 2, 2, 32, nullptr, 1).file);
  EXPECT_EQ(t.extra, (std::vector<uint16_t>{EXTRASAMPLE_ASSOCALPHA}));
  EXPECT_EQ(t.photometric, PHOTOMETRIC_RGB);
  t = ReadTags(Write(rgba, 2, 2, 32, nullptr, 1, 4).file);
  EXPECT_EQ(t.inkSet, INKSET_CMYK);
  EXPECT_EQ(t.photometric, PHOTOMETRIC_SEPARATED);
  // 1 bit: white is zero, or with flag 8 black is zero (read back inverted).
  const Bytes bits = {0xA5, 0x3C};
  t = ReadTags(Write(bits, 8, 2, 1, nullptr, 1).file);
  EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISWHITE);
  w = Write(bits, 8, 2, 1, nullptr, 1, 8);
  EXPECT_EQ(ReadTags(w.file).photometric, PHOTOMETRIC_MINISBLACK);
  EXPECT_EQ(ReadTIFFBytes(w.file, 1).image, (Bytes{0x5A, 0xC3}));
}

TEST(TIFFWriter, OptionsStripsTilesSoftwareAndArrays) {
  OptionsScope options;
  const Bytes rgb = Pixels(40 * 30 * 3, 4);
  options->rowsPerStrip = 0;
  EXPECT_EQ(ReadTags(Write(rgb, 40, 30, 24, nullptr, 1).file).rowsPerStrip, 1u);
  options->rowsPerStrip = 7;
  Tags t = ReadTags(Write(rgb, 40, 30, 24, nullptr, 1).file);
  EXPECT_EQ(t.rowsPerStrip, 7u);
  EXPECT_EQ(t.strips, 5u);
  options->tileWidth = 20;
  options->tileLength = 20;
  WriteResult w = Write(rgb, 40, 30, 24, nullptr, 1, 32);
  t = ReadTags(w.file);
  EXPECT_EQ(t.tileWidth, 32u);  // tile sides are multiples of 16
  EXPECT_EQ(ReadTIFFBytes(w.file, 24).image, rgb);
  options->softwareFlag = 1;
  options->software = "own text";
  options->orientation = 3;
  t = ReadTags(Write(rgb, 40, 30, 24, nullptr, 1).file);
  EXPECT_EQ(t.software, "own text");
  EXPECT_EQ(t.orientation, 3);
  options->orientation = 1;
  const unsigned char blob[] = {1, 2, 3, 4, 5};
  options->tag32932.Assign(blob, 5);
  options->xmp.Assign(blob, 4);
  options->photoshopResources.Assign(blob, 3);
  GetThreadState()->iccProfile.Assign(blob, 5);
  w = Write(rgb, 40, 30, 24, nullptr, 1);
  ASSERT_TRUE(w.ok);
  // Read back through the library's own handle, which knows tag 32932.
  ISIOHandle h = ISOpenMemorySource(w.file.data(), static_cast<DWORD>(w.file.size()));
  DWORD width = 0, height = 0, bpp = 0;
  EXPECT_TRUE(ISGetTIFFInfo(h, 0, &width, &height, &bpp, nullptr));
  ISCloseSource(h);
  if (qrvtest::HasTool("tiffinfo")) {
    qrvtest::TempDir dir;
    qrvtest::WriteFileBytes(dir.File("t.tif"), w.file);
    const std::string info = qrvtest::RunCommand("tiffinfo '" + dir.File("t.tif") + "' 2>&1");
    EXPECT_NE(info.find("Software: own text"), std::string::npos) << info;
    EXPECT_NE(info.find("32932"), std::string::npos) << info;
    EXPECT_NE(info.find("XMLPacket"), std::string::npos) << info;
    EXPECT_NE(info.find("ICC Profile"), std::string::npos) << info;
    EXPECT_NE(info.find("Photoshop"), std::string::npos) << info;
  }
}

TEST(TIFFWriter, TagList) {
  OptionsScope options;
  const Bytes rgb = Pixels(4 * 3 * 3, 6);
  auto entry = [](uint32_t tag, uint32_t type, std::vector<ISVariant> values) {
    ISTIFFExtraTag e;
    e.tag = tag;
    e.type = type;
    e.count = static_cast<uint32_t>(values.size());
    e.values = std::move(values);
    return e;
  };
  std::vector<ISVariant> artist;
  for (char ch : std::string("me")) artist.push_back(Var(17, ch));
  options->tags = {
      entry(257, TIFF_SHORT, {Var(2, 99)}),                      // the writer's own: skipped
      entry(TIFFTAG_ARTIST, TIFF_ASCII, artist),                 // text
      entry(TIFFTAG_PAGENUMBER, TIFF_SHORT, {Var(2, 2), Var(2, 5)}),  // two values
      entry(TIFFTAG_WHITEPOINT, TIFF_RATIONAL, {Var(4, 0.3127), Var(4, 0.329)}),  // fixed-count rationals
      entry(TIFFTAG_REFERENCEBLACKWHITE, TIFF_RATIONAL,
            {Var(4, 0), Var(4, 255), Var(4, 128), Var(4, 255), Var(4, 128), Var(4, 255)}),
      entry(TIFFTAG_DOCUMENTNAME, TIFF_SHORT, {Var(2, 1)}),       // wrong type: refused
      entry(34665, TIFF_LONG, {Var(3, 8)}),                       // not libtiff's own: refused
  };
  WriteResult w = Write(rgb, 4, 3, 24, nullptr, 1);
  ASSERT_TRUE(w.ok) << w.error;
  Tags t = ReadTags(w.file);
  EXPECT_EQ(t.artist, "me");
  EXPECT_EQ(t.page[0], 2);
  EXPECT_EQ(t.page[1], 5);
  EXPECT_EQ(ReadTIFFBytes(w.file, 24).image, rgb);
  {
    qrvtest::TempDir dir;
    qrvtest::WriteFileBytes(dir.File("t.tif"), w.file);
    TIFF* tif = TIFFOpen(dir.File("t.tif").c_str(), "r");
    ASSERT_NE(tif, nullptr);
    float* white = nullptr;
    ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_WHITEPOINT, &white));
    EXPECT_NEAR(white[0], 0.3127, 1e-4);
    EXPECT_NEAR(white[1], 0.329, 1e-4);
    float* ref = nullptr;
    ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_REFERENCEBLACKWHITE, &ref));
    EXPECT_EQ(ref[1], 255.0f);
    EXPECT_EQ(ref[2], 128.0f);
    uint32_t width = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    EXPECT_EQ(width, 4u);
    TIFFClose(tif);
  }
  // An SBYTE entry ends the list; the image is still written.
  options->tags = {entry(TIFFTAG_DOCUMENTNAME + 0, 6, {Var(17, 1)}), entry(TIFFTAG_ARTIST, TIFF_ASCII, artist)};
  w = Write(rgb, 4, 3, 24, nullptr, 1);
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(ReadTags(w.file).artist, "");
  // Too few values, a mixed variant list: refused, the page written.
  ISTIFFExtraTag few = entry(TIFFTAG_WHITEPOINT, TIFF_RATIONAL, {Var(4, 0.3)});
  few.count = 2;
  options->tags = {few, entry(TIFFTAG_WHITEPOINT, TIFF_RATIONAL, {Var(4, 0.3), Var(5, 0.3)})};
  EXPECT_TRUE(Write(rgb, 4, 3, 24, nullptr, 1).ok);
}

TEST(TIFFWriter, AppendingThroughACallbackSink) {
  MemFile file;
  const Bytes a = Pixels(5 * 4 * 3, 1), b = Pixels(3 * 2, 2);
  const std::vector<RGBQUAD> pal = Palette();
  ASSERT_TRUE(Write(a, 5, 4, 24, nullptr, 5, 0, nullptr, &file).ok);
  WriteResult w = Write(b, 3, 2, 8, pal.data(), 1, 1, nullptr, &file);
  ASSERT_TRUE(w.ok) << w.error;
  EXPECT_EQ(ReadTags(w.file).directories, 2);
  EXPECT_EQ(ReadTIFFBytes(w.file, 24, 0).image, a);
  EXPECT_EQ(ReadTIFFBytes(w.file, 8, 1).image, b);
}

// A file sink empties its file when it opens: appending to what it held is refused, never
// reported as written. A page appended on the same open sink joins the page before it.
TEST(TIFFWriter, AppendingToAFileSink) {
  qrvtest::TempDir dir;
  const std::string path = dir.File("pages.tif");
  const Bytes a = Pixels(5 * 4 * 3, 1), b = Pixels(3 * 2 * 3, 2);
  ISIOHandle sink = ISOpenFileSink(path.c_str(), 0);
  ASSERT_NE(sink, nullptr);
  ASSERT_TRUE(ISWriteTIFF(sink, a.data(), 5, 4, 24, nullptr, 1, nullptr, 0));
  ASSERT_TRUE(ISSeekSource(sink, 0, IS_SEEK_SET));  // the TIFF header is read from the start
  ASSERT_TRUE(ISWriteTIFF(sink, b.data(), 3, 2, 24, nullptr, 1, nullptr, 1)) << ISGetLastError();
  ISCloseSink(sink);
  EXPECT_EQ(ReadTags(qrvtest::ReadFileBytes(path)).directories, 2);
  for (DWORD flag : {0u, 1u}) {
    SCOPED_TRACE(flag);
    sink = ISOpenFileSink(path.c_str(), flag);
    ASSERT_NE(sink, nullptr);
    EXPECT_FALSE(ISWriteTIFF(sink, b.data(), 3, 2, 24, nullptr, 1, nullptr, 1));
    EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
    ISCloseSink(sink);
  }
}

TEST(TIFFWriter, Failures) {
  const Bytes rgb = Pixels(6 * 5 * 3, 1);
  EXPECT_EQ(Write(rgb, 6, 5, 7, nullptr, 1).error, IS_ERR_BADPARAM);
  EXPECT_EQ(Write(rgb, 0, 5, 24, nullptr, 1).error, IS_ERR_BADPARAM);
  EXPECT_EQ(Write(rgb, 6, 5, 8, nullptr, 1).error, IS_ERR_BADPARAM);  // a palette page needs its palette
  EXPECT_TRUE(Write(rgb, 6, 5, 8, nullptr, 1, 2).ok);                 // grey does not
  EXPECT_FALSE(ISWriteTIFF(nullptr, rgb.data(), 6, 5, 24, nullptr, 1, nullptr, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  // A sink that refuses everything cannot take the header; one that fills up fails the rows
  // or the directory.
  MemFile refusing;
  refusing.failAfter = 0;
  WriteResult w = Write(rgb, 6, 5, 24, nullptr, 1, 0, nullptr, &refusing);
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(w.error, IS_ERR_BADTIFF);
  for (size_t limit : {20, 60, 100}) {
    MemFile full;
    full.failAfter = limit;
    w = Write(rgb, 6, 5, 24, nullptr, 1, 0, nullptr, &full);
    EXPECT_FALSE(w.ok) << limit;
    EXPECT_EQ(w.error, IS_ERR_WRITE) << limit;
  }
  // A stop from the progress callback.
  OptionsScope options;
  GetThreadState()->progressCallback = StopAtOnce;
  EXPECT_EQ(Write(rgb, 6, 5, 24, nullptr, 1).error, IS_ERR_STOPPED);
}
