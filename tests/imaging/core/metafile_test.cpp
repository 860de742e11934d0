// Metafiles: the sample drawings rendered and compared with an outside renderer, pictures written
// as enhanced, Windows and placeable Windows metafiles and read back, the placeable header's
// arithmetic, and truncated, corrupt and hostile files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISMetafile.h"
#include "platform/gdi_metafile.h"
#include "qrv/imaging.h"
#include "support/emf_records.h"
#include "support/peak_memory.h"
#include "support/test_support.h"

namespace {

struct Picture {
  DWORD width = 0, height = 0;
  std::vector<uint8_t> rgb;
  ISErrorCode error = IS_ERR_OK;
};

Picture Read(const std::string& path, DWORD reqW = 0, DWORD reqH = 0, COLORREF bg = 0xFFFFFF, DWORD flags = 0) {
  Picture p;
  HGLOBAL block = ISReadMetafile(path.c_str(), &p.width, &p.height, reqW, reqH, bg, flags);
  p.error = ISGetLastError();
  if (block) {
    const auto* b = static_cast<const uint8_t*>(block);
    p.rgb.assign(b, b + static_cast<size_t>(p.width) * p.height * 3);
    GlobalFree(block);
  }
  return p;
}

// Bounding box of the pixels that are not the background (x0, y0, x1, y1 inclusive), and their count.
struct Box {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
  long count = 0;
};
Box RedBox(const std::vector<uint8_t>& rgb, DWORD w, DWORD h) {
  Box b;
  for (DWORD y = 0; y < h; ++y)
    for (DWORD x = 0; x < w; ++x) {
      const uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      if (p[0] > 200 && p[1] < 60 && p[2] < 60) {
        b.x0 = std::min<int>(b.x0, x), b.y0 = std::min<int>(b.y0, y);
        b.x1 = std::max<int>(b.x1, x), b.y1 = std::max<int>(b.y1, y);
        ++b.count;
      }
    }
  return b;
}

// Bounding box of everything that is not white.
Box InkBox(const std::vector<uint8_t>& rgb, DWORD w, DWORD h) {
  Box b;
  for (DWORD y = 0; y < h; ++y)
    for (DWORD x = 0; x < w; ++x) {
      const uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      if (p[0] < 230 || p[1] < 230 || p[2] < 230) {
        b.x0 = std::min<int>(b.x0, x), b.y0 = std::min<int>(b.y0, y);
        b.x1 = std::max<int>(b.x1, x), b.y1 = std::max<int>(b.y1, y);
        ++b.count;
      }
    }
  return b;
}

// A P6 file's pixels (8-bit).
bool ReadPPM(const std::string& path, DWORD& w, DWORD& h, std::vector<uint8_t>& rgb) {
  std::vector<uint8_t> f = qrvtest::ReadFileBytes(path);
  unsigned ww = 0, hh = 0, mx = 0;
  int used = 0;
  std::string head(f.begin(), f.begin() + std::min<size_t>(f.size(), 64));
  if (std::sscanf(head.c_str(), "P6 %u %u %u%n", &ww, &hh, &mx, &used) != 3 || mx != 255) return false;
  const size_t start = static_cast<size_t>(used) + 1, n = static_cast<size_t>(ww) * hh * 3;
  if (f.size() < start + n) return false;
  w = ww;
  h = hh;
  rgb.assign(f.begin() + start, f.begin() + start + n);
  return true;
}

// A test picture with colour in every channel and along both axes.
std::vector<uint8_t> Pattern(DWORD w, DWORD h) {
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  for (DWORD y = 0; y < h; ++y)
    for (DWORD x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = static_cast<uint8_t>(x * 255 / (w - 1));
      p[1] = static_cast<uint8_t>(y * 255 / (h - 1));
      p[2] = static_cast<uint8_t>((x * 7 + y * 13) & 0xFF);
    }
  return rgb;
}

enum class Kind { Emf, Wmf, PlaceableWmf };

bool Write(const std::string& path, Kind kind, const std::vector<uint8_t>& rgb, DWORD w, DWORD h) {
  ISIOHandle sink = ISOpenFileSink(path.c_str(), 0);
  if (!sink) return false;
  const BOOL ok = kind == Kind::Emf ? ISWriteEMF(sink, rgb.data(), w, h)
                                    : ISWriteWMF(sink, rgb.data(), w, h, kind == Kind::PlaceableWmf);
  ISCloseSink(sink);
  return ok != FALSE;
}

}  // namespace

// The circle of the sample drawing: red inside a thin black outline on white.
TEST(MetafileSamples, EnhancedDrawingMatchesOutsideRenderer) {
  QRV_REQUIRE_TESTDATA("metafile/drawing.emf");
  QRV_REQUIRE_TESTDATA("metafile/drawing.wmf");
  // Natural size from the header's frame and reference device: 2899 x 2899 (0.01 mm) on a
  // device of 10205 x 13181 pixels over 216 x 279 mm.
  Picture e = Read(qrvtest::TestDataFile("metafile/drawing.emf"));
  ASSERT_EQ(e.error, IS_ERR_OK);
  EXPECT_EQ(e.width, 1369u);
  EXPECT_EQ(e.height, 1369u);
  // ImageMagick renders the same drawing (its WMF twin) at 96 dpi, 110 x 110; ours at that size
  // must put the circle within 2 pixels and fill it alike.
  QRV_REQUIRE_TOOL("convert");
  qrvtest::TempDir dir;
  const std::string ppm = dir.File("im.ppm");
  int status = 0;
  qrvtest::RunCommand("convert -density 96 '" + qrvtest::TestDataFile("metafile/drawing.wmf") +
                          "' -depth 8 '" + ppm + "' 2>/dev/null",
                      &status);
  DWORD iw = 0, ih = 0;
  std::vector<uint8_t> im;
  if (status != 0 || !ReadPPM(ppm, iw, ih, im)) GTEST_SKIP() << "ImageMagick cannot render the sample";
  // ImageMagick frames a WMF on its drawn extent, the enhanced file has a page around it: both
  // are compared within their drawn extent (anything not white), scaled to ImageMagick's size.
  Picture s = Read(qrvtest::TestDataFile("metafile/drawing.emf"), iw, ih, 0xFFFFFF, kMetafileRequestedSize);
  ASSERT_EQ(s.error, IS_ERR_OK);
  ASSERT_EQ(s.width, iw);
  const Box ia = InkBox(e.rgb, e.width, e.height), ib = InkBox(im, iw, ih);
  const Box a = RedBox(e.rgb, e.width, e.height), b = RedBox(im, iw, ih);
  const double sx = (ib.x1 - ib.x0 + 1.0) / (ia.x1 - ia.x0 + 1.0), sy = (ib.y1 - ib.y0 + 1.0) / (ia.y1 - ia.y0 + 1.0);
  EXPECT_NEAR(ib.x0 + (a.x0 - ia.x0) * sx, b.x0, 2);
  EXPECT_NEAR(ib.y0 + (a.y0 - ia.y0) * sy, b.y0, 2);
  EXPECT_NEAR(ib.x0 + (a.x1 - ia.x0) * sx, b.x1, 2);
  EXPECT_NEAR(ib.y0 + (a.y1 - ia.y0) * sy, b.y1, 2);
  EXPECT_NEAR(a.count * sx * sy / b.count, 1.0, 0.04);
  // Centre red, corners white, the outline dark.
  const auto px = [&](DWORD x, DWORD y) { return &s.rgb[(static_cast<size_t>(y) * s.width + x) * 3]; };
  EXPECT_EQ(px(iw / 2, ih / 2)[0], 255);
  EXPECT_EQ(px(iw / 2, ih / 2)[1], 0);
  EXPECT_EQ(px(0, 0)[1], 255);
  const Box sr = RedBox(s.rgb, s.width, s.height);
  EXPECT_LT(px(iw / 2, static_cast<DWORD>(sr.y0 > 0 ? sr.y0 - 1 : 0))[0], 128);
}

// The placeable sample: 1369 x 1369 units at 1200 per inch is 109 x 109 pixels at 96 dpi. Its
// circle is drawn at 263..1587 in a window of 0..1369, so the picture shows it cut at the right
// and the bottom (ImageMagick re-frames WMF drawings on their drawn extent instead).
TEST(MetafileSamples, PlaceableDrawingHandChecked) {
  QRV_REQUIRE_TESTDATA("metafile/drawing.wmf");
  Picture w = Read(qrvtest::TestDataFile("metafile/drawing.wmf"), 0, 0, 0x808080);
  ASSERT_EQ(w.error, IS_ERR_OK);
  ASSERT_EQ(w.width, 109u);
  ASSERT_EQ(w.height, 109u);
  const Box b = RedBox(w.rgb, w.width, w.height);
  EXPECT_NEAR(b.x0, 263 * 109 / 1369, 2);
  EXPECT_NEAR(b.y0, 264 * 109 / 1369, 2);
  EXPECT_EQ(b.x1, 108);
  EXPECT_EQ(b.y1, 108);
  EXPECT_EQ(w.rgb[0], 0x80);  // background colour in the corner
  // As a packed DIB: 32 bits, bottom-up, the same size.
  DWORD dw = 0, dh = 0;
  HGLOBAL dib = ISReadMetafile(qrvtest::TestDataFile("metafile/drawing.wmf").c_str(), &dw, &dh, 0, 0, 0, 2);
  ASSERT_NE(dib, nullptr);
  const auto* hdr = static_cast<const BITMAPINFOHEADER*>(dib);
  EXPECT_EQ(hdr->biWidth, 109);
  EXPECT_EQ(hdr->biHeight, 109);
  EXPECT_EQ(hdr->biBitCount, 32);
  GlobalFree(dib);
}

// Pictures written as metafiles read back with the same pixels.
TEST(MetafileWriters, RoundTrip) {
  qrvtest::TempDir dir;
  // 48 x 27 makes the frame's integer 0.01 mm come back to whole pixels on the 96-dpi screen.
  const DWORD w = 48, h = 27;
  const std::vector<uint8_t> rgb = Pattern(w, h);
  for (Kind k : {Kind::Emf, Kind::Wmf, Kind::PlaceableWmf}) {
    SCOPED_TRACE(static_cast<int>(k));
    const std::string path = dir.File("out.mf");
    ASSERT_TRUE(Write(path, k, rgb, w, h));
    // Read at the requested size: a plain Windows metafile has no size of its own, and an
    // enhanced one's natural size truncates its frame (1270 x 714 in 0.01 mm) to 47 x 26.
    Picture p = Read(path, w, h, 0, kMetafileRequestedSize);
    ASSERT_EQ(p.error, IS_ERR_OK);
    ASSERT_EQ(p.width, w);
    ASSERT_EQ(p.height, h);
    EXPECT_EQ(p.rgb, rgb);
    // Half size in percentages: every second pixel.
    if (k == Kind::PlaceableWmf) {  // natural size: 48 x 27 pixels are 500 x 281 thousandths of an inch
      Picture n = Read(path);
      ASSERT_EQ(n.error, IS_ERR_OK);
      EXPECT_EQ(n.width, 48u);
      EXPECT_EQ(n.height, 26u);  // 715 (0.01 mm) is 281 thousandths: 26.98 pixels
      Picture half = Read(path, 50, 50, 0, kMetafilePercent);
      ASSERT_EQ(half.width, 24u);
      ASSERT_EQ(half.height, 13u);
    } else if (k == Kind::Emf) {
      Picture n = Read(path);
      EXPECT_EQ(n.width, 47u);
      EXPECT_EQ(n.height, 27u);
    }
  }
}

TEST(MetafileWriters, PlaceableHeader) {
  qrvtest::TempDir dir;
  const DWORD w = 96, h = 54;
  const std::string path = dir.File("p.wmf");
  ASSERT_TRUE(Write(path, Kind::PlaceableWmf, Pattern(w, h), w, h));
  const std::vector<uint8_t> f = qrvtest::ReadFileBytes(path);
  ASSERT_GT(f.size(), 22u + 18u);
  const auto u16 = [&](size_t o) { return static_cast<unsigned>(f[o] | (f[o + 1] << 8)); };
  EXPECT_EQ(u16(0) | (u16(2) << 16), kPlaceableKey);
  EXPECT_EQ(u16(14), 1000u);  // units per inch
  unsigned x = 0;
  for (int i = 0; i < 10; ++i) x ^= u16(2 * i);
  EXPECT_EQ(u16(20), x);
  EXPECT_EQ(PlaceableHeaderChecksum(f.data()), x);
  // 96 pixels on the 96-dpi screen: 2540 (0.01 mm) wide, 1000 thousandths of an inch.
  EXPECT_EQ(u16(10), 1000u);
  // The Windows metafile header: type 1, 9 words, size in words = the bytes after the header.
  EXPECT_EQ(u16(22), 1u);
  EXPECT_EQ(u16(24), 9u);
  EXPECT_EQ((u16(28) | (u16(30) << 16)) * 2u, f.size() - 22);
}

// Outside readers accept the written files.
TEST(MetafileWriters, ReadableByImageMagick) {
  QRV_REQUIRE_TOOL("convert");
  qrvtest::TempDir dir;
  const DWORD w = 40, h = 30;
  const std::string path = dir.File("p.wmf");
  ASSERT_TRUE(Write(path, Kind::PlaceableWmf, Pattern(w, h), w, h));
  const std::vector<uint8_t> rgb = Pattern(w, h);
  int status = 0;
  const std::string ppm = dir.File("p.ppm");
  const std::string out =
      qrvtest::RunCommand("convert -density 96 '" + path + "' -depth 8 '" + ppm + "' 2>&1", &status);
  ASSERT_EQ(status, 0) << out;
  DWORD iw = 0, ih = 0;
  std::vector<uint8_t> im;
  ASSERT_TRUE(ReadPPM(ppm, iw, ih, im));
  // One inch is 96 pixels; the picture is 40 x 30 pixels (416 x 312 thousandths of an inch).
  EXPECT_NEAR(iw, w, 1);
  EXPECT_NEAR(ih, h, 1);
  // Mean colours of the picture and of the outside rendering agree.
  for (int c = 0; c < 3; ++c) {
    double a = 0, b = 0;
    for (size_t i = c; i < rgb.size(); i += 3) a += rgb[i];
    for (size_t i = c; i < im.size(); i += 3) b += im[i];
    EXPECT_NEAR(a / (rgb.size() / 3), b / (im.size() / 3), 6) << c;
  }
}

// The placeable header arithmetic: 1440 x 720 units at 1440 per inch is 1 x 0.5 inch, 96 x 48
// pixels; bad units per inch and empty bounds are refused before anything is made.
TEST(MetafileReader, PlaceableHeaders) {
  qrvtest::TempDir dir;
  const auto make = [&](int l, int t, int r, int b, int upi) {
    std::vector<uint8_t> f(22);
    const auto put = [&](size_t o, unsigned v) { f[o] = static_cast<uint8_t>(v), f[o + 1] = static_cast<uint8_t>(v >> 8); };
    put(0, 0xCDD7), put(2, 0x9AC6), put(6, l), put(8, t), put(10, r), put(12, b), put(14, upi);
    put(20, PlaceableHeaderChecksum(f.data()));
    // A Windows metafile: header, a window, a rectangle, the end.
    const uint16_t words[] = {1, 9, 0x300, 0, 0, 1, 0, 0, 0,   5, 0, 0x20C, static_cast<uint16_t>(b - t),
                              static_cast<uint16_t>(r - l), 7, 0, 0x41B, 720, 1440, 0, 0, 3, 0, 0};
    for (uint16_t v : words) f.push_back(static_cast<uint8_t>(v)), f.push_back(static_cast<uint8_t>(v >> 8));
    const std::string path = dir.File("h.wmf");
    qrvtest::WriteFileBytes(path, f);
    return path;
  };
  Picture p = Read(make(0, 0, 1440, 720, 1440));
  ASSERT_EQ(p.error, IS_ERR_OK);
  EXPECT_EQ(p.width, 96u);
  EXPECT_EQ(p.height, 48u);
  EXPECT_EQ(Read(make(0, 0, 1440, 720, 0)).error, IS_ERR_BADWMF);
  EXPECT_EQ(Read(make(100, 0, 100, 720, 1440)).error, IS_ERR_BADWMF);
  EXPECT_EQ(Read(make(0, 720, 1440, 0, 1440)).error, IS_ERR_BADWMF);
  EXPECT_EQ(Read(make(-32768, -32768, 32767, 32767, 1)).error, IS_ERR_BADWMF);  // absurd size
}

// Truncated and corrupt files fail with the reader's codes and never crash.
TEST(MetafileReader, BadFiles) {
  qrvtest::TempDir dir;
  EXPECT_EQ(Read(dir.File("missing.wmf")).error, IS_ERR_OPEN);
  EXPECT_EQ(ISReadMetafile(nullptr, nullptr, nullptr, 0, 0, 0, 0), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  const std::string junk = dir.File("junk.wmf");
  qrvtest::WriteFileBytes(junk, std::vector<uint8_t>(100, 0x41));
  const ISErrorCode e = Read(junk, 10, 10).error;
  EXPECT_TRUE(e == IS_ERR_BADWMF || e == IS_ERR_SETWINMETAFILE) << e;
  qrvtest::WriteFileBytes(junk, {});
  EXPECT_EQ(Read(junk).error, IS_ERR_BADWMF);
  // Every prefix of written files and of the samples: an error or a picture, nothing else.
  std::vector<std::vector<uint8_t>> files;
  const std::string path = dir.File("w.mf");
  for (Kind k : {Kind::Emf, Kind::PlaceableWmf}) {
    ASSERT_TRUE(Write(path, k, Pattern(8, 6), 8, 6));
    files.push_back(qrvtest::ReadFileBytes(path));
  }
  for (const char* s : {"metafile/drawing.wmf", "metafile/drawing.emf"})
    if (!qrvtest::TestDataFile(s).empty()) files.push_back(qrvtest::ReadFileBytes(qrvtest::TestDataFile(s)));
  const size_t live = GdiLiveObjectCount(), liveMf = GdiLiveMetafileCount();
  for (const auto& f : files) {
    for (size_t n = 0; n < f.size(); n += 1 + n / 6) {
      qrvtest::WriteFileBytes(junk, std::vector<uint8_t>(f.begin(), f.begin() + n));
      Picture p = Read(junk, 20, 20, 0, kMetafileRequestedSize);
      EXPECT_EQ(p.rgb.empty(), p.error != IS_ERR_OK);
    }
    // Corrupt bytes all through.
    std::vector<uint8_t> c = f;
    for (size_t i = 8; i < c.size(); i += 29) {
      c[i] ^= 0xA5;
      qrvtest::WriteFileBytes(junk, c);
      Picture p = Read(junk, 20, 20, 0, kMetafileRequestedSize);
      EXPECT_EQ(p.rgb.empty(), p.error != IS_ERR_OK);
    }
  }
  EXPECT_EQ(GdiLiveObjectCount(), live);
  EXPECT_EQ(GdiLiveMetafileCount(), liveMf);
}

TEST(MetafileWriters, BadArguments) {
  qrvtest::TempDir dir;
  ISIOHandle sink = ISOpenFileSink(dir.File("x").c_str(), 0);
  ASSERT_NE(sink, nullptr);
  EXPECT_FALSE(ISWriteEMF(sink, nullptr, 4, 4));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  const std::vector<uint8_t> rgb(48);
  EXPECT_FALSE(ISWriteWMF(sink, rgb.data(), 0, 4, TRUE));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  ISCloseSink(sink);
  EXPECT_FALSE(ISWriteEMF(nullptr, rgb.data(), 4, 4));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
}

namespace {

// A small enhanced metafile built record by record: device of 100 x 100 pixels on 100 x 100 mm,
// frame 0..10000 (0.01 mm), so one logical unit is one pixel at 100 x 100.
struct EmfBuilder : qrvtest::EmfRecords {
  // EXTTEXTOUTW of ASCII text with its reference point at (x, y).
  void Text(int32_t x, int32_t y, const std::string& text) {
    const uint32_t n = static_cast<uint32_t>(text.size()), strWords = (n + 1) / 2;
    std::vector<uint32_t> w = {0, 0, 0, 0, 1, 0, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y), n, 76, 0,
                               0, 0, 0, 0, 76 + 4 * strWords};
    for (uint32_t i = 0; i < strWords; ++i)
      w.push_back(static_cast<uint8_t>(text[2 * i]) | (2 * i + 1 < n ? static_cast<uint8_t>(text[2 * i + 1]) << 16 : 0));
    for (uint32_t i = 0; i < n; ++i) w.push_back(12);
    Rec(84, w);
  }
  // STRETCHDIBITS of a 1 x 1 24-bit DIB (pixel 0x00RRGGBB) onto (x, y, w, h) with rop.
  void Dib1(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rgb, uint32_t rop = 0xCC0020) {
    auto u = [](int32_t v) { return static_cast<uint32_t>(v); };
    Rec(81, {0, 0, 0, 0, u(x), u(y), 0, 0, 1, 1, 80, 40, 120, 4, 0, rop, u(w), u(h),  //
             40, 1, 1, 1 | 24 << 16, 0, 4, 0, 0, 0, 0, rgb});
  }
  // EXTSELECTCLIPRGN with rectangles (left, top, right, bottom each); none: no region.
  void ClipRegion(uint32_t mode, const std::vector<uint32_t>& rects) {
    const uint32_t n = static_cast<uint32_t>(rects.size() / 4);
    std::vector<uint32_t> w = {n ? 32 + 16 * n : 0, mode};
    if (n) {
      for (uint32_t v : {32u, 1u, n, 16 * n, 0u, 0u, 100u, 100u}) w.push_back(v);
      w.insert(w.end(), rects.begin(), rects.end());
    }
    Rec(75, w);
  }
  // Font `index`: lfHeight `height`, normal weight, default face.
  void Font(uint32_t index, int32_t height) {
    std::vector<uint32_t> w = {index, static_cast<uint32_t>(height), 0, 0, 0, 400};
    w.resize(24, 0);
    Rec(82, w);
  }
  EmfBuilder() {
    Rec(1, {0, 0, 99, 99, 0, 0, 10000, 10000, 0x464D4520u, 0x10000, 0, 0, 4, 0, 0, 0, 100, 100, 100, 100});
  }
  std::vector<uint8_t> Finish() {
    Rec(14, {0, 16, 20});
    return b;
  }
};

// A small plain Windows metafile: window 0..100 x 0..100 (100 x 100 pixels when read).
struct WmfBuilder {
  std::vector<uint8_t> b;
  void U16(uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  void Rec(uint32_t fn, const std::vector<uint32_t>& params) {
    const uint32_t words = static_cast<uint32_t>(3 + params.size());
    U16(words & 0xFFFF);
    U16(words >> 16);
    U16(fn);
    for (uint32_t p : params) U16(p);
  }
  explicit WmfBuilder(uint16_t objects = 4) {
    for (uint32_t v : {1u, 9u, 0x300u, 0u, 0u, static_cast<uint32_t>(objects), 0u, 0u, 0u}) U16(v);
    Rec(0x020B, {0, 0});      // SETWINDOWORG
    Rec(0x020C, {100, 100});  // SETWINDOWEXT
  }
  std::vector<uint8_t> Finish() {
    Rec(0, {});
    const uint32_t words = static_cast<uint32_t>(b.size() / 2);
    b[6] = static_cast<uint8_t>(words), b[7] = static_cast<uint8_t>(words >> 8);
    b[8] = static_cast<uint8_t>(words >> 16), b[9] = static_cast<uint8_t>(words >> 24);
    return b;
  }
};

// A hand-made metafile read at 100 x 100 pixels; colours as 0xRRGGBB.
struct Played {
  Picture p;
  uint32_t At(int x, int y) const {
    const uint8_t* q = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
    return static_cast<uint32_t>(q[0] << 16 | q[1] << 8 | q[2]);
  }
  // Bounding box of one colour.
  Box Of(uint32_t rgb) const {
    Box b;
    for (int y = 0; y < static_cast<int>(p.height); ++y)
      for (int x = 0; x < static_cast<int>(p.width); ++x)
        if (At(x, y) == rgb) {
          b.x0 = std::min(b.x0, x), b.y0 = std::min(b.y0, y);
          b.x1 = std::max(b.x1, x), b.y1 = std::max(b.y1, y);
          ++b.count;
        }
    return b;
  }
};

Played Play(const std::vector<uint8_t>& bytes, const char* name) {
  qrvtest::TempDir dir;
  const std::string path = dir.File(name);
  qrvtest::WriteFileBytes(path, bytes);
  Played r;
  r.p = Read(path, 100, 100, 0xFFFFFF, kMetafileRequestedSize);
  EXPECT_EQ(r.p.error, IS_ERR_OK) << name;
  EXPECT_EQ(r.p.width, 100u) << name;
  EXPECT_EQ(r.p.height, 100u) << name;
  if (r.p.width != 100 || r.p.height != 100) r.p.rgb.assign(100 * 100 * 3, 0xFF), r.p.width = r.p.height = 100;
  return r;
}

}  // namespace

// Shapes, pens, brushes, stock objects and mapping drawn by the player, checked by hand.
TEST(MetafilePlayer, ShapesByHand) {
  EmfBuilder e;
  e.Rec(17, {8});                        // MM_ANISOTROPIC
  e.Rec(9, {200, 200});                  // window 200 x 200 onto
  e.Rec(11, {100, 100});                 // a viewport of 100 x 100: half scale
  e.Rec(39, {1, 0, 0xFF0000, 0});        // brush 1: solid blue
  e.Rec(37, {1});
  e.Rec(37, {0x80000008u});              // NULL_PEN
  e.Rec(43, {20, 20, 100, 60});          // rectangle -> pixels 10..49 x 10..29
  e.Rec(39, {2, 0, 0x0000FF, 0});        // brush 2: red
  e.Rec(37, {2});
  e.Rec(42, {100, 100, 180, 180});       // ellipse -> centre (70, 70), radius 20
  e.Rec(37, {0x80000007u});              // BLACK_PEN
  e.Rec(27, {0, 190});                   // MoveTo (0, 95) .. LineTo (99, 95)
  e.Rec(54, {198, 190});
  qrvtest::TempDir dir;
  const std::string path = dir.File("s.emf");
  qrvtest::WriteFileBytes(path, e.Finish());
  Picture p = Read(path, 0, 0, 0xFFFFFF, 0);
  ASSERT_EQ(p.error, IS_ERR_OK);
  ASSERT_EQ(p.width, 100u);
  ASSERT_EQ(p.height, 100u);
  const auto at = [&](int x, int y) {
    const uint8_t* q = &p.rgb[(static_cast<size_t>(y) * 100 + x) * 3];
    return static_cast<uint32_t>(q[0] << 16 | q[1] << 8 | q[2]);
  };
  EXPECT_EQ(at(10, 10), 0x0000FFu);
  EXPECT_EQ(at(49, 29), 0x0000FFu);
  EXPECT_EQ(at(50, 20), 0xFFFFFFu);
  EXPECT_EQ(at(30, 30), 0xFFFFFFu);
  EXPECT_EQ(at(9, 15), 0xFFFFFFu);
  EXPECT_EQ(at(70, 70), 0xFF0000u);
  EXPECT_EQ(at(70, 52), 0xFF0000u);
  EXPECT_EQ(at(52, 52), 0xFFFFFFu);  // outside the circle, inside its box
  EXPECT_EQ(at(70, 48), 0xFFFFFFu);
  EXPECT_EQ(at(0, 95), 0u);
  EXPECT_EQ(at(98, 95), 0u);
  EXPECT_EQ(at(50, 94), 0xFFFFFFu);
}

// Text placed by its alignment: red text on an opaque blue cell, so the blue-and-red box is the
// text's cell and the red box its ink.
TEST(MetafilePlayer, TextAlignment) {
  struct Case {
    uint32_t align;
    int x, y;
    int texts;  // how many times "H" is drawn
  };
  auto emf = [](const Case& c) {
    EmfBuilder e;
    e.Font(1, -20);
    e.Rec(37, {1});
    e.Rec(18, {2});                     // SETBKMODE OPAQUE
    e.Rec(25, {0xFF0000});              // background blue
    e.Rec(24, {0x0000FF});              // text red
    e.Rec(27, {static_cast<uint32_t>(c.x), static_cast<uint32_t>(c.y)});  // MoveTo
    e.Rec(22, {c.align});
    for (int i = 0; i < c.texts; ++i) e.Text(c.align & 1 ? 0 : c.x, c.align & 1 ? 0 : c.y, "H");
    return Play(e.Finish(), "t.emf");
  };
  auto cell = [](const Played& p) {
    Box b = p.Of(0x0000FF), r = p.Of(0xFF0000);
    b.x0 = std::min(b.x0, r.x0), b.y0 = std::min(b.y0, r.y0), b.x1 = std::max(b.x1, r.x1), b.y1 = std::max(b.y1, r.y1);
    return b;
  };
  // Left, top: the cell starts at the reference point.
  const Played lt = emf({0, 10, 10, 1});
  const Box a = cell(lt);
  ASSERT_GT(lt.Of(0xFF0000).count, 10);
  EXPECT_EQ(a.x0, 10);
  EXPECT_EQ(a.y0, 10);
  const int w = a.x1 - a.x0 + 1, h = a.y1 - a.y0 + 1;
  EXPECT_GE(w, 8);
  EXPECT_GE(h, 18);
  // Right, bottom: the cell ends just before it.
  const Box b = cell(emf({2 | 8, 90, 90, 1}));
  EXPECT_EQ(b.x1, 89);
  EXPECT_EQ(b.y1, 89);
  EXPECT_EQ(b.x1 - b.x0 + 1, w);
  // Centre, baseline: the cell is centred on x and "H" stands on the baseline.
  const Played cb = emf({6 | 24, 50, 60, 1});
  EXPECT_EQ(cell(cb).x0, 50 - w / 2);
  EXPECT_EQ(cb.Of(0xFF0000).y1, 59);
  EXPECT_LT(cell(cb).y0, 50);
  EXPECT_GT(cell(cb).y1, 60);
  // Current position: the reference points are ignored, texts follow one another from the
  // MoveTo point rightwards (left-aligned) or leftwards (right-aligned).
  const Box cp = cell(emf({1, 10, 30, 2}));
  EXPECT_EQ(cp.x0, 10);
  EXPECT_EQ(cp.y0, 30);
  EXPECT_EQ(cp.x1, 10 + 2 * w - 1);
  const Box cpr = cell(emf({1 | 2, 90, 30, 2}));
  EXPECT_EQ(cpr.x1, 89);
  EXPECT_EQ(cpr.x0, 90 - 2 * w);

  // The same through a Windows metafile's records: right, bottom at (90, 90).
  WmfBuilder m;
  std::vector<uint32_t> font = {static_cast<uint16_t>(-20), 0, 0, 0, 400, 0, 0, 0, 0};
  m.Rec(0x02FB, font);          // CREATEFONTINDIRECT -> object 0
  m.Rec(0x012D, {0});
  m.Rec(0x0102, {2});           // SETBKMODE OPAQUE
  m.Rec(0x0201, {0x0000, 0x00FF});  // SETBKCOLOR blue
  m.Rec(0x0209, {0x00FF, 0x0000});  // SETTEXTCOLOR red
  m.Rec(0x012E, {2 | 8});       // SETTEXTALIGN
  m.Rec(0x0521, {1, 'H', 90, 90});  // TEXTOUT "H" at y 90, x 90
  const Box wb = cell(Play(m.Finish(), "t.wmf"));
  EXPECT_EQ(wb.x1, 89);
  EXPECT_EQ(wb.y1, 89);
  EXPECT_EQ(wb.x1 - wb.x0 + 1, w);
  EXPECT_EQ(wb.y1 - wb.y0 + 1, h);
}

// Rectangular clipping: intersect, exclude, regions (copy, or, none), saved and restored, and
// every kind of drawing held to it. Hostile clip records change nothing.
TEST(MetafilePlayer, Clipping) {
  const uint32_t kRed = 0xFF0000, kBlue = 0x0000FF, kGreen = 0x00FF00;
  EmfBuilder e;
  e.Rec(37, {0x80000008u});                 // NULL_PEN
  e.Rec(39, {1, 0, 0x0000FF, 0});           // brush 1: red
  e.Rec(39, {2, 0, 0xFF0000, 0});           // brush 2: blue
  e.Rec(37, {1});
  e.Rec(30, {10, 10, 60, 60});              // INTERSECTCLIPRECT
  e.Rec(29, {20, 20, 30, 30});              // EXCLUDECLIPRECT: a hole
  e.Rec(33, {});                            // SAVEDC
  e.Rec(30, {0, 0, 40, 100});
  e.Rec(43, {0, 0, 100, 100});              // red: x 10..39, y 10..59 less the hole
  e.Rec(34, {0xFFFFFFFFu});                 // RESTOREDC -1
  e.Rec(37, {2});
  e.Rec(43, {50, 0, 100, 100});             // blue: x 50..59, y 10..59
  e.ClipRegion(5, {70, 5, 90, 15, 70, 20, 75, 40});
  e.Dib1(60, 0, 40, 50, kGreen);            // green: the two rectangles, 200 + 100 pixels
  e.ClipRegion(2, {0, 70, 5, 100});         // RGN_OR a strip at the left edge
  e.Font(3, -20);
  e.Rec(37, {3});
  e.Rec(25, {0x00FFFF});                    // yellow opaque background, black text
  e.Text(0, 70, "H");                       // its cell is cut to x 0..4
  e.Rec(75, {48, 5, 32, 1, 0x10000000u, 0, 0, 0, 100, 100});  // count beyond the record: ignored
  e.Rec(30, {0x80000000u, 0x80000000u, 0x7FFFFFFFu, 0x7FFFFFFFu});  // absurd but harmless
  e.Rec(37, {0x80000007u});                 // BLACK_PEN
  e.Rec(27, {0, 95});
  e.Rec(54, {100, 95});                     // black: x 0..4 only
  e.ClipRegion(5, {});                      // no region: clipping ends
  e.Rec(27, {0, 99});
  e.Rec(54, {100, 99});                     // black: the whole row
  const Played p = Play(e.Finish(), "c.emf");
  const Box red = p.Of(kRed), blue = p.Of(kBlue), green = p.Of(kGreen), yellow = p.Of(0xFFFF00);
  EXPECT_EQ(red.count, 30 * 50 - 100);
  EXPECT_EQ(red.x0, 10);
  EXPECT_EQ(red.x1, 39);
  EXPECT_EQ(red.y0, 10);
  EXPECT_EQ(red.y1, 59);
  EXPECT_EQ(p.At(25, 25), 0xFFFFFFu);
  EXPECT_EQ(blue.count, 10 * 50);
  EXPECT_EQ(blue.x0, 50);
  EXPECT_EQ(blue.y1, 59);
  EXPECT_EQ(green.count, 20 * 10 + 5 * 20);
  EXPECT_EQ(green.x0, 70);
  EXPECT_EQ(green.x1, 89);
  EXPECT_GT(yellow.count, 20);
  EXPECT_EQ(yellow.x0, 0);
  EXPECT_EQ(yellow.x1, 4);
  EXPECT_EQ(yellow.y0, 70);
  int black95 = 0, black99 = 0;
  for (int x = 0; x < 100; ++x) black95 += p.At(x, 95) == 0, black99 += p.At(x, 99) == 0;
  EXPECT_EQ(black95, 5);
  EXPECT_EQ(black99, 100);  // no gaps: steps of whole pixels stay whole

  // Windows metafile: intersect, exclude, and a narrowing undone by RestoreDC.
  WmfBuilder m;
  m.Rec(0x02FA, {5, 0, 0, 0, 0});           // null pen -> object 0
  m.Rec(0x012D, {0});
  m.Rec(0x02FC, {0, 0x00FF, 0x0000, 0});    // red brush -> object 1
  m.Rec(0x012D, {1});
  m.Rec(0x0416, {60, 60, 10, 10});          // INTERSECTCLIPRECT (bottom, right, top, left)
  m.Rec(0x0415, {30, 30, 20, 20});          // EXCLUDECLIPRECT
  m.Rec(0x001E, {});                        // SAVEDC
  m.Rec(0x0416, {100, 40, 0, 0});
  m.Rec(0x0127, {0xFFFF});                  // RESTOREDC
  m.Rec(0x041B, {100, 100, 0, 0});          // RECTANGLE
  const Box w = Play(m.Finish(), "c.wmf").Of(kRed);
  EXPECT_EQ(w.count, 50 * 50 - 100);
  EXPECT_EQ(w.x0, 10);
  EXPECT_EQ(w.x1, 59);
  EXPECT_EQ(w.y1, 59);
}

// Hatched and DIB pattern brushes (aligned to the picture's origin), and raster operations of
// DIB transfers and brush blits, each checked against the colours worked by hand.
TEST(MetafilePlayer, BrushesAndRasterOperations) {
  // A 2 x 2 24-bit DIB, bottom-up: top row red, green; bottom row blue, black.
  const std::vector<uint32_t> dib2 = {40, 2, 2, 1 | 24 << 16, 0, 16, 0, 0, 0, 0, 0x000000FF, 0, 0x00FF0000, 0x000000FF};
  const uint32_t kPattern[2][2] = {{0xFF0000, 0x00FF00}, {0x0000FF, 0x000000}};
  const uint32_t D = 0x336699, S = 0x0F0FF0, P = 0xC0A050;  // as 0xRRGGBB
  auto colorref = [](uint32_t rgb) { return (rgb >> 16) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16); };

  EmfBuilder e;
  e.Rec(37, {0x80000008u});                   // NULL_PEN
  e.Rec(39, {1, 2, 0x0000FF, 4});             // red HS_CROSS
  e.Rec(39, {2, 2, 0x00FF00, 2});             // green HS_FDIAGONAL
  e.Rec(18, {2});                             // OPAQUE
  e.Rec(25, {0xFF0000});                      // blue background
  e.Rec(37, {1});
  e.Rec(43, {0, 0, 40, 40});
  e.Rec(18, {1});                             // TRANSPARENT
  e.Rec(37, {2});
  e.Rec(43, {50, 0, 90, 40});
  std::vector<uint32_t> pat = {3, 0, 32, 40, 72, 16};
  pat.insert(pat.end(), dib2.begin(), dib2.end());
  e.Rec(94, pat);                             // CREATEDIBPATTERNBRUSHPT
  pat[0] = 1, pat[5] = 8;                     // bits shorter than the DIB needs: no brush
  e.Rec(94, pat);
  e.Rec(37, {3});
  e.Rec(37, {1});                             // the refused brush: the pattern stays
  e.Rec(43, {0, 50, 40, 90});
  e.Rec(39, {1, 0, colorref(D), 0});          // the destination colour
  e.Rec(37, {1});
  e.Rec(43, {50, 50, 100, 100});
  e.Rec(39, {2, 0, colorref(P), 0});          // the pattern colour
  e.Rec(37, {2});
  const uint32_t rops[] = {0x00000042, 0x00FF0062, 0x00F00021, 0x008800C6, 0x00EE0086,
                           0x00660046, 0x00550009, 0x00CC0020, 0x00C000CA};
  for (int k = 0; k < 9; ++k) e.Dib1(50 + 5 * k, 50, 5, 50, S, rops[k]);
  std::vector<uint32_t> blt = {0, 0, 0, 0, 95, 50, 5, 50, 0x005A0049, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  e.Rec(76, blt);                             // BITBLT without a source: PATINVERT
  const Played p = Play(e.Finish(), "b.emf");
  int wrong = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      wrong += p.At(x, y) != ((x & 7) == 4 || (y & 7) == 3 ? 0xFF0000u : 0x0000FFu);
      wrong += p.At(50 + x, y) != ((((50 + x) & 7) == (y & 7)) ? 0x00FF00u : 0xFFFFFFu);
      wrong += p.At(x, 50 + y) != kPattern[(50 + y) & 1][x & 1];
    }
  EXPECT_EQ(wrong, 0);
  const uint32_t expect[10] = {0, 0xFFFFFF, P, S & D, S | D, S ^ D, ~D & 0xFFFFFF, S, P & S, P ^ D};
  for (int k = 0; k < 10; ++k) {
    EXPECT_EQ(p.At(50 + 5 * k, 50), expect[k]) << k;
    EXPECT_EQ(p.At(54 + 5 * k, 99), expect[k]) << k;
  }

  // Windows metafile: a hatched brush blitted, a destination inverted, a DIB pattern brush.
  WmfBuilder m;
  m.Rec(0x02FA, {5, 0, 0, 0, 0});             // null pen -> object 0
  m.Rec(0x012D, {0});
  m.Rec(0x02FC, {2, 0x00FF, 0x0000, 1});      // red HS_VERTICAL -> object 1
  m.Rec(0x012D, {1});
  m.Rec(0x0201, {0x0000, 0x00FF});            // blue background (opaque by default)
  m.Rec(0x061D, {0x0021, 0x00F0, 16, 16, 0, 0});  // PATBLT PATCOPY (height, width, y, x)
  m.Rec(0x061D, {0x0009, 0x0055, 10, 10, 0, 20});  // DSTINVERT on white
  std::vector<uint32_t> wp = {5, 0};            // DIBCREATEPATTERNBRUSH: style, usage, DIB
  for (uint32_t v : dib2) wp.push_back(v & 0xFFFF), wp.push_back(v >> 16);
  m.Rec(0x0142, wp);                           // -> object 2
  m.Rec(0x012D, {2});
  m.Rec(0x041B, {100, 100, 50, 50});           // RECTANGLE (bottom, right, top, left)
  const Played w = Play(m.Finish(), "b.wmf");
  wrong = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) wrong += w.At(x, y) != ((x & 7) == 4 ? 0xFF0000u : 0x0000FFu);
  for (int y = 50; y < 100; ++y)
    for (int x = 50; x < 100; ++x) wrong += w.At(x, y) != kPattern[y & 1][x & 1];
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(w.Of(0).count, 100 + 50 * 50 / 4);
}

// Every word of a file holding one of each clip, brush, raster-operation and text record set to
// hostile values: playing never crashes, and a failure leaves its code.
TEST(MetafilePlayer, HostileRecords) {
  EmfBuilder e;
  e.Rec(22, {6 | 24 | 1});
  e.Rec(30, {10, 10, 60, 60});
  e.ClipRegion(2, {70, 5, 90, 15, 0, 0, 5, 5});
  e.Rec(39, {1, 2, 0x0000FF, 5});
  e.Rec(94, {2, 0, 32, 40, 72, 4, 40, 1, 1, 1 | 24 << 16, 0, 4, 0, 0, 0, 0, 0x00FF00});
  e.Rec(37, {2});
  e.Rec(43, {0, 0, 100, 100});
  e.Dib1(0, 0, 100, 100, 0x123456, 0x00660046);
  e.Rec(76, {0, 0, 0, 0, 5, 5, 90, 90, 0x005A0049, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  e.Text(50, 50, "Hi");
  WmfBuilder m;
  m.Rec(0x02FC, {2, 0x00FF, 0x0000, 3});
  m.Rec(0x012D, {0});
  m.Rec(0x0416, {60, 60, 10, 10});
  m.Rec(0x0415, {30, 30, 20, 20});
  m.Rec(0x061D, {0x0021, 0x00F0, 50, 50, 0, 0});
  m.Rec(0x0142, {5, 0, 40, 0, 1, 0, 1, 0, 1, 24, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF00, 0});
  m.Rec(0x012E, {8});
  m.Rec(0x0521, {1, 'H', 90, 90});
  qrvtest::TempDir dir;
  const std::string path = dir.File("h.emf");
  int played = 0;
  for (std::vector<uint8_t> good : {e.Finish(), m.Finish()}) {
    const bool emf = good[2] == 0;
    for (size_t at = emf ? 88 : 18; at + 4 <= good.size(); at += emf ? 4 : 2)  // past the header
      for (uint32_t v : {0xFFFFFFFFu, 0x80000000u, 0x7FFF7FFFu, 0x00010000u}) {
        std::vector<uint8_t> bad = good;
        for (int i = 0; i < 4; ++i) bad[at + i] = static_cast<uint8_t>(v >> (8 * i));
        qrvtest::WriteFileBytes(path, bad);
        const Picture p = Read(path, 64, 48, 0xFFFFFF, kMetafileRequestedSize);
        if (p.rgb.empty()) EXPECT_NE(p.error, IS_ERR_OK);
        else ++played;
      }
  }
  EXPECT_GT(played, 100);
}

// Nothing bounds what a metafile draws: a render over 64 megapixels is refused before its
// bitmap is made (error 23), with the reason, whatever the file or the caller asks for.
TEST(MetafileReader, HugeRendersRefusedInLittleMemory) {
  // 46 bytes: a placeable header of 23000 x 23000 units at 96 per inch, an empty metafile.
  std::vector<uint8_t> placeable(22);
  const auto put = [&](size_t o, unsigned v) {
    placeable[o] = static_cast<uint8_t>(v), placeable[o + 1] = static_cast<uint8_t>(v >> 8);
  };
  put(0, 0xCDD7), put(2, 0x9AC6), put(6, static_cast<uint16_t>(-11500)), put(8, static_cast<uint16_t>(-11500));
  put(10, 11500), put(12, 11500), put(14, 96);
  put(20, PlaceableHeaderChecksum(placeable.data()));
  for (uint16_t v : {1, 9, 0x300, 12, 0, 0, 3, 0, 0, 3, 0, 0})
    placeable.push_back(static_cast<uint8_t>(v)), placeable.push_back(static_cast<uint8_t>(v >> 8));
  // 108 bytes: a frame of 229.8 mm square on a device of one pixel per millimetre, 22980 x 22980.
  EmfBuilder e;
  for (size_t at : {32u, 36u})
    for (int i = 0; i < 4; ++i) e.b[at + i] = static_cast<uint8_t>(2298000u >> (8 * i));
  const std::vector<uint8_t> emf = e.Finish();
  const std::vector<uint8_t> small = EmfBuilder().Finish();  // 100 x 100
  struct Row {
    const char* name;
    std::vector<uint8_t> file;
    DWORD reqW, reqH, flags;
  };
  const Row rows[] = {
      {"placeable.wmf", placeable, 0, 0, 0},
      {"placeable as DIB.wmf", placeable, 0, 0, kMetafileAsDIB},
      {"huge.emf", emf, 0, 0, 0},
      {"asked 9000 x 8000.emf", small, 9000, 8000, kMetafileRequestedSize},
      {"asked 9000 percent.emf", small, 9000, 9000, kMetafilePercent | kMetafileAsDIB},
  };
  ASSERT_EQ(placeable.size(), 46u);
  ASSERT_EQ(emf.size(), 108u);
  qrvtest::TempDir dir;
  const qrvtest::ChildRun peak = qrvtest::RunInChild([&] {
    int failures = 0;
    for (const Row& r : rows) {
      const std::string path = dir.File(r.name);
      qrvtest::WriteFileBytes(path, r.file);
      DWORD w = 1, h = 1;
      HGLOBAL block = ISReadMetafile(path.c_str(), &w, &h, r.reqW, r.reqH, 0x808080, r.flags);
      const std::string warning = ISGetLastWarning();
      if (block || ISGetLastError() != IS_ERR_COMPATBITMAP || w != 0 || h != 0 ||
          warning.find("64 megapixels") == std::string::npos) {
        std::fprintf(stderr, "%s: error %d, %u x %u, \"%s\"\n", r.name, static_cast<int>(ISGetLastError()), w, h,
                     warning.c_str());
        ++failures;
      }
      if (block) GlobalFree(block);
    }
    return failures;
  });
  ASSERT_TRUE(peak.exited);
  EXPECT_EQ(peak.result, 0);
  EXPECT_LT(peak.peakMB, 64) << "MB of peak memory";
}

// libwmf's wmf2gd (72 dpi) reads the placeable files written here at the size their header
// gives, and draws the picture (mean colours, through ImageMagick when it is there).
TEST(MetafileWriters, ReadableByLibwmf) {
  QRV_REQUIRE_TOOL("wmf2gd");
  qrvtest::TempDir dir;
  for (const DWORD w : {40u, 96u}) {
    const DWORD h = w * 3 / 4;
    const std::vector<uint8_t> rgb = Pattern(w, h);
    const std::string path = dir.File("p.wmf"), png = dir.File("p.png"), ppm = dir.File("p.ppm");
    ASSERT_TRUE(Write(path, Kind::PlaceableWmf, rgb, w, h));
    const std::vector<uint8_t> wmf = qrvtest::ReadFileBytes(path);
    ASSERT_GE(wmf.size(), 22u);
    const auto u16 = [&](size_t o) { return static_cast<DWORD>(wmf[o] | (wmf[o + 1] << 8)); };
    int status = 0;
    const std::string out = qrvtest::RunCommand("wmf2gd -t png -o '" + png + "' '" + path + "' 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    const std::vector<uint8_t> f = qrvtest::ReadFileBytes(png);
    ASSERT_GE(f.size(), 24u);
    const auto be32 = [&](size_t o) { return static_cast<DWORD>(f[o] << 24 | f[o + 1] << 16 | f[o + 2] << 8 | f[o + 3]); };
    EXPECT_EQ(be32(16), (u16(10) - u16(6)) * 72 / u16(14)) << w;  // 40 x 30: 416 x 312 units -> 29 x 22
    EXPECT_EQ(be32(20), (u16(12) - u16(8)) * 72 / u16(14)) << w;
    if (!qrvtest::HasTool("convert")) continue;
    qrvtest::RunCommand("convert '" + png + "' -depth 8 '" + ppm + "' 2>/dev/null", &status);
    DWORD iw = 0, ih = 0;
    std::vector<uint8_t> im;
    ASSERT_TRUE(status == 0 && ReadPPM(ppm, iw, ih, im));
    for (int c = 0; c < 3; ++c) {
      double a = 0, b = 0;
      for (size_t i = c; i < rgb.size(); i += 3) a += rgb[i];
      for (size_t i = c; i < im.size(); i += 3) b += im[i];
      EXPECT_NEAR(a / (rgb.size() / 3), b / (im.size() / 3), 8) << w << " " << c;
    }
  }
}

// Written enhanced metafiles hold together as the format requires (no outside EMF reader on
// Debian): a header record with the signature, the byte and record counts of the file, records
// of whole 32-bit words inside the file, and an end-of-file record closing it.
TEST(MetafileWriters, EnhancedFileStructure) {
  qrvtest::TempDir dir;
  for (const DWORD w : {13u, 48u}) {
    const DWORD h = w / 2 + 1;
    const std::string path = dir.File("s.emf");
    ASSERT_TRUE(Write(path, Kind::Emf, Pattern(w, h), w, h));
    const std::vector<uint8_t> f = qrvtest::ReadFileBytes(path);
    ASSERT_GE(f.size(), 108u);
    const auto u32 = [&](size_t o) {
      return static_cast<uint32_t>(f[o] | f[o + 1] << 8 | f[o + 2] << 16 | static_cast<uint32_t>(f[o + 3]) << 24);
    };
    EXPECT_EQ(u32(0), 1u);                 // EMR_HEADER
    EXPECT_GE(u32(4), 88u);
    EXPECT_EQ(u32(40), 0x464D4520u);       // " EMF"
    EXPECT_EQ(u32(48), f.size());          // nBytes
    EXPECT_GE(f[56] | f[57] << 8, 1);      // nHandles counts the reserved handle 0
    size_t at = 0, records = 0;
    uint32_t last = 0, lastSize = 0;
    while (at + 8 <= f.size()) {
      const uint32_t size = u32(at + 4);
      ASSERT_TRUE(size >= 8 && size % 4 == 0 && size <= f.size() - at) << "record " << records << " at " << at;
      last = u32(at), lastSize = size;
      at += size;
      ++records;
    }
    EXPECT_EQ(at, f.size());
    EXPECT_EQ(u32(52), records);           // nRecords
    EXPECT_EQ(last, 14u);                  // EMR_EOF
    EXPECT_EQ(lastSize, 20u);
    EXPECT_EQ(u32(f.size() - 4), lastSize);  // its nSizeLast
  }
}

namespace {

// The placeable header of a Windows metafile whose bounds of side x side units at 96 per inch
// make side x side pixels.
std::vector<uint8_t> PlaceableHeader(uint16_t side) {
  std::vector<uint8_t> h(22);
  const auto put = [&](size_t o, unsigned v) { h[o] = static_cast<uint8_t>(v), h[o + 1] = static_cast<uint8_t>(v >> 8); };
  put(0, 0xCDD7), put(2, 0x9AC6), put(10, side), put(12, side), put(14, 96);
  put(20, PlaceableHeaderChecksum(h.data()));
  return h;
}

// Puts the header's byte and record counts, as writers do.
std::vector<uint8_t> Counted(std::vector<uint8_t> emf) {
  uint32_t records = 0;
  for (size_t at = 0; at + 8 <= emf.size(); ++records)
    at += emf[at + 4] | emf[at + 5] << 8 | emf[at + 6] << 16 | static_cast<uint32_t>(emf[at + 7]) << 24;
  for (const auto& [at, v] : {std::pair<size_t, uint32_t>{48, static_cast<uint32_t>(emf.size())}, {52, records}})
    for (int i = 0; i < 4; ++i) emf[at + i] = static_cast<uint8_t>(v >> (8 * i));
  return emf;
}

}  // namespace

// A metafile drawn at the ceiling (8000 x 8000) costs one picture: the records are played into
// the picture returned, and the budget is asked for that one area. A busy one stops at the
// drawing budget and says so; an empty one is whole.
TEST(MetafileReader, CeilingRendersCostOnePictureAndStopAtTheDrawingBudget) {
  const uint16_t kSide = 8000;
  EmfBuilder emptyEmf, busyEmf;
  for (EmfBuilder* e : {&emptyEmf, &busyEmf})  // a frame of 8 m on a device of a pixel a millimetre
    for (size_t at : {32u, 36u})
      for (int i = 0; i < 4; ++i) e->b[at + i] = static_cast<uint8_t>(uint32_t{kSide} * 100 >> (8 * i));
  busyEmf.Rec(39, {1, 0, 0x0000FF, 0});  // red brush, no pen, 200 rectangles over the picture
  busyEmf.Rec(37, {1});
  busyEmf.Rec(37, {0x80000008u});
  for (int i = 0; i < 200; ++i) busyEmf.Rec(43, {0, 0, kSide, kSide});
  const std::vector<uint8_t> busy = busyEmf.Finish();
  WmfBuilder busyWmf;
  busyWmf.Rec(0x02FC, {0, 0x00FF, 0x0000, 0});
  busyWmf.Rec(0x012D, {0});
  for (int i = 0; i < 200; ++i) busyWmf.Rec(0x041B, {100, 100, 0, 0});
  const auto placeable = [&](WmfBuilder& w) {
    std::vector<uint8_t> f = PlaceableHeader(kSide);
    const std::vector<uint8_t> records = w.Finish();
    f.insert(f.end(), records.begin(), records.end());
    return f;
  };
  WmfBuilder emptyWmf;
  struct Row {
    const char* name;
    std::vector<uint8_t> file;
    DWORD flags;
    const char* warning;  // the end of the warning; null: none
  };
  const Row rows[] = {
      {"empty.emf", emptyEmf.Finish(), 0, nullptr},
      {"empty.wmf", placeable(emptyWmf), 0, nullptr},
      {"busy.emf", busy, 0, " of 205 records"},
      {"busy.wmf", placeable(busyWmf), 0, " of 205 records"},
      {"busy as DIB.emf", Counted(busy), kMetafileAsDIB, " of 205 records"},
  };
  qrvtest::TempDir dir;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string path = dir.File(r.name);
    ASSERT_TRUE(qrvtest::WriteFileBytes(path, r.file));
    const uint64_t pictureMB = uint64_t{kSide} * kSide * (r.flags & kMetafileAsDIB ? 4 : 3) >> 20;
    const qrvtest::ChildRun run = qrvtest::RunInChild([&] {
      DWORD w = 0, h = 0;
      HGLOBAL block = ISReadMetafile(path.c_str(), &w, &h, 0, 0, 0x808080, r.flags);
      const std::string warning = ISGetLastWarning();
      const RovIrirev::DecodeBudgetQuery asked = RovIrirev::LastDecodeBudgetQuery();
      int failures = 0;
      const auto check = [&](bool ok, const char* what) {
        if (!ok) std::fprintf(stderr, "%s: %s (warning \"%s\")\n", r.name, what, warning.c_str()), ++failures;
      };
      check(block && w == kSide && h == kSide, "no picture");
      check(asked.width == kSide && asked.height == kSide && asked.allowed, "asked other than the picture");
      if (r.warning) {
        check(warning.rfind("drawing stopped after ", 0) == 0, "no stop");
        check(warning.size() > std::strlen(r.warning) &&
                  warning.compare(warning.size() - std::strlen(r.warning), std::string::npos, r.warning) == 0,
              "not the file's records");
        if (block && !(r.flags & kMetafileAsDIB)) check(static_cast<uint8_t*>(block)[0] == 0xFF, "not drawn");
      } else {
        check(warning.empty(), "a warning");
      }
      if (block) GlobalFree(block);
      return failures;
    });
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.result, 0);
    // The picture, and room for the sanitizer's shadow of it.
    EXPECT_LT(static_cast<uint64_t>(run.peakMB), pictureMB * 5 / 4 + 16) << "MB of peak memory";
  }
}

// Files cut short are drawn as far as their records go, with the reason; cut inside their
// header they are refused.
TEST(MetafileReader, TruncatedFilesAreDrawnAsFarAsTheyGo) {
  // Ten bands of ten rows, each in a colour of its own (red 10 x band), through a brush each.
  EmfBuilder e;
  e.Rec(37, {0x80000008u});
  WmfBuilder m(12);
  m.Rec(0x02FA, {5, 0, 0, 0, 0});  // null pen
  m.Rec(0x012D, {0});
  for (uint32_t k = 0; k < 10; ++k) {
    e.Rec(39, {1, 0, 10 * (k + 1), 0});
    e.Rec(37, {1});
    e.Rec(43, {0, 10 * k, 100, 10 * k + 10});
    m.Rec(0x02FC, {0, 10 * (k + 1), 0, 0});
    m.Rec(0x012D, {1 + k});
    m.Rec(0x041B, {10 * k + 10, 100, 10 * k, 0});
  }
  const std::vector<uint8_t> emf = Counted(e.Finish()), wmf = m.Finish();
  const uint32_t emfRecords = emf[52] | emf[53] << 8;
  struct Row {
    bool windows;
    size_t cut;  // bytes kept
  };
  const Row rows[] = {{false, emf.size() / 10}, {false, emf.size() / 2}, {false, emf.size() * 9 / 10},
                      {false, 60},               {true, wmf.size() / 10}, {true, wmf.size() / 2},
                      {true, wmf.size() * 9 / 10}, {true, 12}};
  qrvtest::TempDir dir;
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.windows ? "WMF cut at " : "EMF cut at ") + std::to_string(r.cut));
    const std::vector<uint8_t>& whole = r.windows ? wmf : emf;
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(r.cut));
    // The records whole in the cut file: their count and bytes, and the bands they draw.
    size_t at = r.windows ? 18 : 0, records = 0;
    while (at + 8 <= cut.size()) {
      const size_t size = r.windows ? 2 * (cut[at] | cut[at + 1] << 8) : (cut[at + 4] | cut[at + 5] << 8);
      if (at + size > cut.size()) break;
      at += size, ++records;
    }
    const size_t bands = r.windows ? (records > 4 ? (records - 4) / 3 : 0) : (records > 2 ? (records - 2) / 3 : 0);
    const std::string path = dir.File(r.windows ? "cut.wmf" : "cut.emf");
    ASSERT_TRUE(qrvtest::WriteFileBytes(path, cut));
    Picture p = Read(path, 100, 100, 0xFFFFFF, kMetafileRequestedSize);
    const std::string warning = ISGetLastWarning();
    if (r.cut < (r.windows ? 18u : 88u)) {
      EXPECT_NE(p.error, IS_ERR_OK);
      EXPECT_TRUE(p.rgb.empty());
      continue;
    }
    ASSERT_EQ(p.error, IS_ERR_OK);
    ASSERT_EQ(p.rgb.size(), 100u * 100 * 3);
    const std::string expected =
        r.windows ? "WMF file ended early: " + std::to_string(at) + " of " + std::to_string(wmf.size()) + " bytes decoded"
                  : "EMF file ended early: " + std::to_string(records) + " of " + std::to_string(emfRecords) +
                        " records decoded";
    EXPECT_EQ(warning, expected);
    for (size_t k = 0; k < 10; ++k)
      EXPECT_EQ(p.rgb[(k * 10 + 5) * 300], k < bands ? 10 * (k + 1) : 0xFF) << "band " << k;
  }
}
