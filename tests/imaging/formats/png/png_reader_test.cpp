// PNG reading: the layouts of every requested depth on small hand-made files, compositing and
// gamma, palettes, text chunks, progress over interlaced passes, and failures with their codes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <thread>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISDIB.h"
#include "imaging/formats/png/CISPNGCodec.h"
#include "imaging/core/ISThreadState.h"
#include "png_test_util.h"
#include "support/peak_memory.h"

namespace {

using pngtest::Bytes;
using pngtest::ReadPNG;
using pngtest::WriteArgs;

using pngtest::PNGOptionsGuard;

Bytes Write(const Bytes& pixels, DWORD width, DWORD height, DWORD bytesPerRow, DWORD colourType, DWORD bits = 8,
            double gamma = 0.0, DWORD flags = 0, DWORD colours = 0, const RGBQUAD* palette = nullptr) {
  WriteArgs a;
  a.width = width;
  a.height = height;
  a.stride = bytesPerRow;
  a.colourType = colourType;
  a.bits = bits;
  a.gamma = gamma;
  a.flags = flags;
  a.colours = colours;
  a.palette = palette;
  Bytes png = pngtest::WritePNG(pixels, a);
  EXPECT_FALSE(png.empty());
  return png;
}

Bytes RemoveChunk(const Bytes& png, const char type[4]) {
  const size_t at = pngtest::FindChunk(png, type);
  if (!at) return png;
  const uint32_t n = (uint32_t{png[at]} << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
  Bytes out(png.begin(), png.begin() + static_cast<long>(at));
  out.insert(out.end(), png.begin() + static_cast<long>(at + 12 + n), png.end());
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes ZText(const std::string& key, const std::string& text) {
  Bytes data = Text(key);
  data.push_back(0);
  data.push_back(0);  // deflate
  uLongf n = compressBound(text.size());
  Bytes packed(n);
  compress(packed.data(), &n, reinterpret_cast<const Bytef*>(text.data()), text.size());
  data.insert(data.end(), packed.begin(), packed.begin() + static_cast<long>(n));
  return pngtest::Chunk("zTXt", data);
}

TEST(PNGRead, AlphaIsBlendedOnBlackWithoutBKGDAndOnTheFileColourWithIt) {
  PNGOptionsGuard guard;
  // Half-transparent white, a transparent pixel, an opaque one.
  const Bytes rgba = {255, 255, 255, 128, 10, 20, 30, 0, 40, 50, 60, 255};
  for (double gamma : {0.0, 0.45455}) {  // a gAMA chunk leaves the blend plain
    const Bytes png = RemoveChunk(Write(rgba, 3, 1, 12, 6, 8, gamma), "bKGD");
    auto r = ReadPNG(png, 24);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.image, (Bytes{128, 128, 128, 0, 0, 0, 40, 50, 60})) << gamma;
    // Grey with alpha blends the same way.
    const Bytes ga = RemoveChunk(Write({255, 128, 7, 0}, 2, 1, 4, 4, 8, gamma), "bKGD");
    auto g = ReadPNG(ga, 24);
    ASSERT_TRUE(g.ok) << g.error;
    EXPECT_EQ(g.image, (Bytes{128, 128, 128, 0, 0, 0}));
  }
  // The writer puts the default background into bKGD: that colour is the file's.
  GetThreadState()->png.defaultBackground = ISColor16{0, 200, 100, 50, 0};
  const Bytes png = Write(rgba, 3, 1, 12, 6);
  GetThreadState()->png.defaultBackground = ISColor16();
  auto r = ReadPNG(png, 24);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.image, (Bytes{228, 178, 153, 200, 100, 50, 40, 50, 60}));
  const ISColor16 bg = GetThreadState()->png.fileBackground;
  EXPECT_EQ(bg.red, 200);
  EXPECT_EQ(bg.green, 100);
  EXPECT_EQ(bg.blue, 50);
  // A file without bKGD records a zero background.
  ASSERT_TRUE(ReadPNG(RemoveChunk(png, "bKGD"), 24).ok);
  EXPECT_EQ(GetThreadState()->png.fileBackground.red, 0);
}

TEST(PNGRead, PalettedFilesAtEightAndOneBitsKeepIndicesAndFillThePalette) {
  RGBQUAD pal[3] = {{1, 2, 3, 200}, {4, 5, 6, 0}, {7, 8, 9, 255}};
  const Bytes indices = {0, 1, 2, 2, 1, 0};
  const Bytes png = Write(indices, 3, 2, 3, 3, 8, 2.0, 2, 3, pal);
  auto r = ReadPNG(png, 8);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.image, indices);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(r.palette[i].rgbBlue, pal[i].rgbBlue);
    EXPECT_EQ(r.palette[i].rgbRed, pal[i].rgbRed);
    EXPECT_EQ(r.palette[i].rgbReserved, pal[i].rgbReserved) << i;  // the tRNS alphas
  }
  for (int i = 3; i < 256; ++i) {
    EXPECT_EQ(r.palette[i].rgbBlue, 1);
    EXPECT_EQ(r.palette[i].rgbGreen, 2);
    EXPECT_EQ(r.palette[i].rgbRed, 3);
    EXPECT_EQ(r.palette[i].rgbReserved, 255);
  }
  // Packed 1-bit paletted rows read at 1 bit stay packed; the alphas are not used there.
  RGBQUAD two[2] = {{0, 0, 0, 9}, {255, 128, 0, 9}};
  const Bytes bits1 = Write({0xA5, 0x80, 0x5A, 0x00}, 9, 2, 2, 3, 1, 0.0, 2, 2, two);
  auto b = ReadPNG(bits1, 1);
  ASSERT_TRUE(b.ok) << b.error;
  EXPECT_EQ(b.image, (Bytes{0xA5, 0x80, 0x5A, 0x00}));
  EXPECT_EQ(b.palette[1].rgbGreen, 128);
  EXPECT_EQ(b.palette[1].rgbReserved, 255);
  // A 1-bit file asked for 8 bits: one index per byte.
  auto e = ReadPNG(bits1, 8);
  ASSERT_TRUE(e.ok) << e.error;
  EXPECT_EQ(e.image, (Bytes{1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 1, 0, 1, 1, 0, 1, 0, 0}));
  // An RGB file has no palette layout, and a 16-bit layout cannot come from 1-bit samples.
  EXPECT_EQ(ReadPNG(Write({1, 2, 3}, 1, 1, 3, 2), 8).error, IS_ERR_BITDEPTH);
  EXPECT_EQ(ReadPNG(bits1, 16, 4).error, IS_ERR_BITDEPTH);
  // An 8-bit grey file cannot be delivered packed 8 pixels to a byte.
  EXPECT_EQ(ReadPNG(Write(Bytes(16, 7), 16, 1, 16, 0), 1).error, IS_ERR_INTERNAL);
}

TEST(PNGRead, FourBitGreyAtEightBitsGivesLevelsAndAnEvenRamp) {
  const Bytes png = Write({0x01, 0x23, 0xEF}, 6, 1, 3, 0, 4);
  auto r = ReadPNG(png, 8);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.image, (Bytes{0, 1, 2, 3, 14, 15}));
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(r.palette[i].rgbRed, 17 * i);
    EXPECT_EQ(r.palette[i].rgbGreen, 17 * i);
    EXPECT_EQ(r.palette[i].rgbBlue, 17 * i);
    EXPECT_EQ(r.palette[i].rgbReserved, 255);
  }
  EXPECT_EQ(r.palette[16].rgbRed, 0);
  EXPECT_EQ(r.palette[255].rgbReserved, 255);
}

TEST(PNGRead, SixteenBitLayouts) {
  // Little-endian 16-bit samples in, as the writer takes them.
  const Bytes rgb16 = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0x01, 0xFF, 0x02, 0x80, 0x03, 0x00};
  const Bytes png16 = Write(rgb16, 2, 1, 12, 2, 16);
  auto r24 = ReadPNG(png16, 24);
  ASSERT_TRUE(r24.ok) << r24.error;
  EXPECT_EQ(r24.image, (Bytes{0x12, 0x56, 0x9A, 0xFF, 0x80, 0x00}));
  auto r48 = ReadPNG(png16, 48);
  ASSERT_TRUE(r48.ok) << r48.error;
  EXPECT_EQ(r48.image, rgb16);
  EXPECT_EQ(ReadPNG(Write({1, 2, 3}, 1, 1, 3, 2), 48).error, IS_ERR_INTERNAL);
  // 16 bits without the keep option: grey and alpha; colour files do not have that layout.
  EXPECT_EQ(ReadPNG(png16, 16).error, IS_ERR_BITDEPTH);
  auto ga = ReadPNG(Write({5, 250}, 2, 1, 2, 0), 16);
  ASSERT_TRUE(ga.ok) << ga.error;
  EXPECT_EQ(ga.image, (Bytes{5, 255, 250, 255}));
  const Bytes grey16 = Write({0x34, 0x12, 0xCD, 0xAB}, 2, 1, 4, 0, 16);
  auto cut = ReadPNG(grey16, 16);
  ASSERT_TRUE(cut.ok) << cut.error;
  EXPECT_EQ(cut.image, (Bytes{0x12, 255, 0xAB, 255}));
  // With the keep option: the samples themselves, least significant byte first.
  auto keep = ReadPNG(grey16, 16, 4);
  ASSERT_TRUE(keep.ok) << keep.error;
  EXPECT_EQ(keep.image, (Bytes{0x34, 0x12, 0xCD, 0xAB}));
  // Grey with alpha has no 16-bit grey layout.
  EXPECT_EQ(ReadPNG(Write({1, 2, 3, 4}, 1, 1, 4, 4, 16), 16, 4).error, IS_ERR_BITDEPTH);
  // 64 bits: R, G, B, A of 16 bits, the filler 65535 for files without alpha.
  auto r64 = ReadPNG(png16, 64);
  ASSERT_TRUE(r64.ok) << r64.error;
  EXPECT_EQ(r64.image, (Bytes{0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xFF, 0xFF, 0x01, 0xFF, 0x02, 0x80, 0x03, 0x00,
                              0xFF, 0xFF}));
}

TEST(PNGRead, RGBAOfFilesWithoutAlphaTakesTheFillerOrTheTransparentColour) {
  PNGOptionsGuard guard;
  const Bytes rgb = {1, 2, 3, 9, 9, 9, 1, 2, 3};
  auto plain = ReadPNG(Write(rgb, 3, 1, 9, 2), 32);
  ASSERT_TRUE(plain.ok) << plain.error;
  EXPECT_EQ(plain.image, (Bytes{1, 2, 3, 255, 9, 9, 9, 255, 1, 2, 3, 255}));
  // The thread's transparent colour makes the writer add tRNS.
  ISPNGOptions& o = GetThreadState()->png;
  o.transparencySwitch = 1;
  o.transparentColour = ISColor16{0, 1, 2, 3, 0};
  const Bytes keyed = Write(rgb, 3, 1, 9, 2);
  o = guard.saved;
  ASSERT_NE(pngtest::FindChunk(keyed, "tRNS"), 0u);
  auto r = ReadPNG(keyed, 32);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.image, (Bytes{1, 2, 3, 0, 9, 9, 9, 255, 1, 2, 3, 0}));
  // At 24 bits the keyed pixels take the background (black).
  auto c = ReadPNG(RemoveChunk(keyed, "bKGD"), 24);
  ASSERT_TRUE(c.ok) << c.error;
  EXPECT_EQ(c.image, (Bytes{0, 0, 0, 9, 9, 9, 0, 0, 0}));
}

TEST(PNGRead, AsStoredLayouts) {
  // A 2-bit paletted file becomes a 4-bit DIB with 16 entries, the last 12 copies of entry 0.
  RGBQUAD pal[4] = {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}, {100, 110, 120, 0}};
  const Bytes png = Write({0x1B, 0xC0, 0xE4, 0x40}, 5, 2, 2, 3, 2, 0.0, 0, 4, pal);
  auto r = ReadPNG(png, 0, IS_READ_AS_STORED);
  ASSERT_TRUE(r.ok) << r.error;
  const BITMAPINFOHEADER h = ReadDIBHeader(r.image.data());
  EXPECT_EQ(h.biBitCount, 4);
  EXPECT_EQ(h.biClrUsed, 16u);
  EXPECT_EQ(h.biHeight, 2);
  EXPECT_EQ(h.biSizeImage, 8u);
  ASSERT_EQ(r.image.size(), 40u + 64u + 8u);
  const auto* table = reinterpret_cast<const RGBQUAD*>(r.image.data() + 40);
  EXPECT_EQ(table[3].rgbBlue, 100);
  for (int i = 4; i < 16; ++i) EXPECT_EQ(table[i].rgbBlue, 10) << i;
  // Bottom-up rows: file row 1 first. Pixels 0,1,2,3,3 and 3,2,1,0,1.
  const Bytes rows(r.image.begin() + 104, r.image.end());
  EXPECT_EQ(rows, (Bytes{0x32, 0x10, 0x10, 0, 0x01, 0x23, 0x30, 0}));
  // RGB as B, G, R rows padded to 4 bytes, with pHYs in pixels per metre.
  const ISResolution res = {3780, 2835, 1};
  WriteArgs a;
  a.width = 1;
  a.height = 2;
  a.stride = 3;
  a.resolution = &res;
  const Bytes rgbPng = pngtest::WritePNG({1, 2, 3, 4, 5, 6}, a);
  auto s = ReadPNG(rgbPng, 0, IS_READ_AS_STORED);
  ASSERT_TRUE(s.ok) << s.error;
  const BITMAPINFOHEADER sh = ReadDIBHeader(s.image.data());
  EXPECT_EQ(sh.biBitCount, 24);
  EXPECT_EQ(sh.biXPelsPerMeter, 3780);
  EXPECT_EQ(sh.biYPelsPerMeter, 2835);
  EXPECT_EQ(Bytes(s.image.begin() + 40, s.image.end()), (Bytes{6, 5, 4, 0, 3, 2, 1, 0}));
  // Without a unit the DIB has no resolution.
  EXPECT_EQ(ReadDIBHeader(ReadPNG(Write({1, 2, 3}, 1, 1, 3, 2), 0, 2).image.data()).biXPelsPerMeter, 0);
  // Grey and alpha become B, G, R, A.
  auto ga = ReadPNG(Write({7, 99}, 1, 1, 2, 4), 0, IS_READ_AS_STORED);
  ASSERT_TRUE(ga.ok) << ga.error;
  EXPECT_EQ(Bytes(ga.image.begin() + 40, ga.image.end()), (Bytes{7, 7, 7, 99}));
}

int g_progressCalls = 0;
DWORD g_lastValue = 0;
bool g_inOrder = true;
DWORD g_stopAt = UINT32_MAX;
BOOL CountProgress(DWORD done, DWORD total, uintptr_t user) {
  if (g_progressCalls > 0 && done != g_lastValue + 1) g_inOrder = false;
  if (total != static_cast<DWORD>(user)) g_inOrder = false;
  g_lastValue = done;
  ++g_progressCalls;
  return done == g_stopAt ? 0 : 1;
}

TEST(PNGRead, InterlacedFilesReportProgressOnceFromZeroToTheLastRow) {
  Bytes pixels(11 * 13 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
  const Bytes png = Write(pixels, 11, 13, 33, 2, 8, 0.0, 1);
  ISThreadState* ts = GetThreadState();
  ts->progressCallback = CountProgress;
  ts->progressUser = 13;
  g_progressCalls = 0;
  g_inOrder = true;
  g_stopAt = UINT32_MAX;
  auto r = ReadPNG(png, 24);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.image, pixels);
  EXPECT_EQ(g_progressCalls, 13);
  EXPECT_EQ(g_lastValue, 12u);
  EXPECT_TRUE(g_inOrder);
  // A zero reply stops the read: error 14 and no buffer.
  g_progressCalls = 0;
  g_stopAt = 5;
  auto stopped = ReadPNG(png, 24);
  EXPECT_FALSE(stopped.ok);
  EXPECT_EQ(stopped.error, IS_ERR_STOPPED);
  EXPECT_EQ(g_progressCalls, 6);
  ts->progressCallback = nullptr;
  ts->progressUser = 0;
}

TEST(PNGRead, TextChunksBeforeAndAfterTheImageData) {
  PNGOptionsGuard guard;
  GetThreadState()->png.textsToWrite = {ISKeyTextPair("Title", "before", 0), ISKeyTextPair("Note", "packed", 1)};
  Bytes png = Write({1, 2, 3}, 1, 1, 3, 2);
  GetThreadState()->png.textsToWrite.clear();
  png = pngtest::InsertBefore(png, "IEND", ZText("Comment", "after the pixels"));
  png = pngtest::InsertBefore(png, "IEND", pngtest::Chunk("tEXt", Text(std::string("Plain\0late", 10))));
  Bytes itxt = Text(std::string("Intl\0\0\0en\0\0x", 12));
  png = pngtest::InsertBefore(png, "IEND", pngtest::Chunk("iTXt", itxt));
  ASSERT_TRUE(ReadPNG(png, 24).ok);
  const auto& texts = GetThreadState()->png.textsRead;
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0].key, "Title");
  EXPECT_EQ(texts[0].text, "before");
  EXPECT_EQ(texts[0].compressed, 0u);
  EXPECT_EQ(texts[1].key, "Note");
  EXPECT_EQ(texts[1].text, "packed");
  EXPECT_EQ(texts[1].compressed, 1u);
  EXPECT_EQ(texts[2].key, "Comment");
  EXPECT_EQ(texts[2].text, "after the pixels");
  EXPECT_EQ(texts[2].compressed, 1u);
  EXPECT_EQ(texts[3].key, "Plain");
  EXPECT_EQ(texts[3].text, "late");
  // A failed read (cut before the image data) leaves the list empty.
  Bytes cut(png.begin(), png.begin() + static_cast<long>(pngtest::FindChunk(png, "IDAT") + 8));
  EXPECT_EQ(ReadPNG(cut, 24).error, IS_ERR_BADPNG);
  EXPECT_TRUE(GetThreadState()->png.textsRead.empty());
}

TEST(PNGRead, GammaOnlyOnRequestAndNeverForSRGBFiles) {
  Bytes grey(16);
  for (int i = 0; i < 16; ++i) grey[i] = static_cast<uint8_t>(i * 17);
  const Bytes linear = Write(grey, 16, 1, 16, 0, 8, 1.0);
  auto plain = ReadPNG(linear, 8);
  ASSERT_TRUE(plain.ok);
  EXPECT_EQ(plain.image, grey);
  auto corrected = ReadPNG(linear, 8, 1);
  ASSERT_TRUE(corrected.ok);
  EXPECT_EQ(corrected.image[0], 0);
  EXPECT_EQ(corrected.image[15], 255);
  EXPECT_GT(corrected.image[8], grey[8] + 40);  // 136 raised by the 1 / 2.9 power
  // An sRGB chunk: stored values whatever the option.
  const Bytes srgb = pngtest::InsertBefore(linear, "IDAT", pngtest::Chunk("sRGB", {0}));
  auto s = ReadPNG(srgb, 8, 1);
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.image, grey);
  // Without gAMA the assumed file gamma makes the correction neutral.
  auto none = ReadPNG(Write(grey, 16, 1, 16, 0), 8, 1);
  ASSERT_TRUE(none.ok);
  EXPECT_EQ(none.image, grey);
}

TEST(PNGRead, BadFilesFailWithTheirCodesAndNoBuffer) {
  Bytes pixels(40 * 30 * 3, 77);
  for (size_t i = 0; i < pixels.size(); i += 5) pixels[i] = static_cast<uint8_t>(i);
  const Bytes png = Write(pixels, 40, 30, 120, 2);
  ASSERT_TRUE(ReadPNG(png, 24).ok);
  // Not a PNG; an empty source; every truncation: refused up to the start of the image data,
  // read with a warning once a few bytes of it could give half the picture.
  EXPECT_EQ(ReadPNG(Text("GIF89a not a png at all"), 24).error, IS_ERR_BADPNG);
  EXPECT_EQ(ReadPNG(Bytes(8, 0), 24).error, IS_ERR_BADPNG);
  const size_t dataStart = pngtest::FindChunk(png, "IDAT") + 8;
  for (size_t n = 1; n + 1 < png.size(); n += 7) {
    auto r = ReadPNG(Bytes(png.begin(), png.begin() + static_cast<long>(n)), 24);
    if (n <= dataStart) {
      EXPECT_FALSE(r.ok) << n;
      EXPECT_EQ(r.error, IS_ERR_BADPNG) << n;
    } else if (n >= dataStart + 4) {
      EXPECT_TRUE(r.ok) << n;
      EXPECT_NE(r.warning, "") << n;
    }
  }
  // Damage in IHDR refuses the file; damage in the image data leaves a warning.
  for (const char* type : {"IHDR", "IDAT"}) {
    Bytes bad = png;
    bad[pngtest::FindChunk(png, type) + 9] ^= 0x40;
    auto r = ReadPNG(bad, 24);
    EXPECT_EQ(r.ok, type[1] == 'D') << type;
    EXPECT_EQ(r.error, r.ok ? IS_ERR_OK : IS_ERR_BADPNG) << type;
  }
  // A damaged ancillary chunk is skipped: the picture comes back and the caller is told.
  EXPECT_EQ(ReadPNG(png, 24).warning, "");
  Bytes text = pngtest::InsertBefore(png, "IDAT", pngtest::Chunk("tEXt", Text(std::string("Title\0x", 7))));
  text[pngtest::FindChunk(text, "tEXt") + 9] ^= 0x40;
  auto damaged = ReadPNG(text, 24);
  EXPECT_TRUE(damaged.ok);
  EXPECT_NE(damaged.warning.find("CRC"), std::string::npos) << damaged.warning;
  // A header claiming far more pixels than the stream could hold.
  Bytes huge = png;
  const size_t ihdr = pngtest::FindChunk(huge, "IHDR");
  const Bytes dims = {0x00, 0x0F, 0x42, 0x40, 0x00, 0x0F, 0x42, 0x40};  // 1000000 x 1000000
  std::copy(dims.begin(), dims.end(), huge.begin() + static_cast<long>(ihdr + 8));
  const Bytes ihdrData(huge.begin() + static_cast<long>(ihdr + 8), huge.begin() + static_cast<long>(ihdr + 21));
  const Bytes fixed = pngtest::Chunk("IHDR", ihdrData);
  std::copy(fixed.begin(), fixed.end(), huge.begin() + static_cast<long>(ihdr));
  EXPECT_EQ(ReadPNG(huge, 24).error, IS_ERR_BADPNG);
  // Bad requests.
  EXPECT_EQ(ReadPNG(png, 12).error, IS_ERR_BADPARAM);
  DWORD w = 0, h = 0;
  EXPECT_EQ(ISReadPNG(nullptr, &w, &h, 24, nullptr, 0), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  // An 8-bit request without a palette buffer.
  ISIOHandle src = ISOpenMemorySource(png.data(), static_cast<DWORD>(png.size()));
  EXPECT_EQ(ISReadPNG(src, &w, &h, 8, nullptr, 0), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BITDEPTH);
  ISCloseSource(src);
}

TEST(PNGRead, RefusalsBeforeTheImageDataSayWhy) {
  const RGBQUAD palette[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  const Bytes paletted = Write({0, 1, 1, 0}, 2, 2, 2, 3, 8, 0.0, 0, 2, palette);
  const Bytes grey = Write({10, 20, 30, 40}, 2, 2, 2, 0);
  const size_t ihdr = pngtest::FindChunk(grey, "IHDR");
  // The grey file with IHDR byte `at` (of its data) set to `value`, the CRC made right or not.
  const auto header = [&](size_t at, uint8_t value, bool fixCRC) {
    Bytes png = grey;
    png[ihdr + 8 + at] = value;
    if (fixCRC) {
      const Bytes chunk = pngtest::Chunk("IHDR", Bytes(png.begin() + static_cast<long>(ihdr + 8), png.begin() + static_cast<long>(ihdr + 21)));
      std::copy(chunk.begin(), chunk.end(), png.begin() + static_cast<long>(ihdr));
    }
    return png;
  };
  const struct {
    Bytes file;
    const char* refusal;
  } cases[] = {
      {RemoveChunk(paletted, "PLTE"), "PNG with a palette has no PLTE chunk"},
      {RemoveChunk(grey, "IDAT"), "PNG has no image data (no IDAT chunk)"},
      {Bytes(grey.begin(), grey.begin() + static_cast<long>(pngtest::FindChunk(grey, "IDAT"))),
       "PNG file ended before its image data (no IDAT chunk)"},
      {header(3, 3, false), "PNG header (IHDR chunk) damaged: CRC error"},
      {header(3, 0, true), "PNG header (IHDR chunk) damaged: Image width is zero in IHDR"},
      {header(8, 3, true), "PNG header (IHDR chunk) damaged: Invalid bit depth in IHDR"},
  };
  for (const auto& c : cases) {
    const auto r = ReadPNG(c.file, 24);
    EXPECT_EQ(r.error, IS_ERR_BADPNG) << c.refusal;
    EXPECT_EQ(r.warning, c.refusal);
  }
}

// The corruptions of the PNG suite's x-files, made from a good file: signature bytes, line-end
// translation, header CRC, colour types and depths outside the format, missing image data.
// (Image data with a bad CRC is read with a warning: see the damaged-file tests.)
TEST(PNGRead, CorruptFilesOfEveryKindFailWithFifteen) {
  const Bytes good = Write(Bytes(8 * 8, 0x5A), 8, 8, 8, 0);
  ASSERT_TRUE(ReadPNG(good, 24).ok);
  std::vector<std::pair<std::string, Bytes>> bad;
  for (size_t i : {0u, 1u, 3u, 6u}) {
    Bytes b = good;
    b[i] ^= 0x20;
    bad.emplace_back("signature byte " + std::to_string(i), b);
  }
  Bytes crlf = good;  // the LF of the signature turned into CR LF, as a text transfer would
  crlf.insert(crlf.begin() + 7, 0x0D);
  bad.emplace_back("CR added", crlf);
  Bytes lf = good;
  lf.erase(lf.begin() + 4);  // the CR removed
  bad.emplace_back("CR removed", lf);
  Bytes hdrCrc = good;
  hdrCrc[pngtest::FindChunk(good, "IHDR") + 21] ^= 1;
  bad.emplace_back("IHDR CRC", hdrCrc);
  const size_t ihdr = pngtest::FindChunk(good, "IHDR");
  for (auto field : {std::pair<int, uint8_t>{9, 1}, {9, 9}, {8, 0}, {8, 3}, {8, 99}, {10, 1}, {11, 1}, {12, 2}}) {
    Bytes data(good.begin() + static_cast<long>(ihdr + 8), good.begin() + static_cast<long>(ihdr + 21));
    data[field.first] = field.second;
    Bytes b = good;
    const Bytes chunk = pngtest::Chunk("IHDR", data);
    std::copy(chunk.begin(), chunk.end(), b.begin() + static_cast<long>(ihdr));
    bad.emplace_back("IHDR byte " + std::to_string(field.first) + " = " + std::to_string(field.second), b);
  }
  bad.emplace_back("no IDAT", RemoveChunk(good, "IDAT"));
  for (const auto& [what, png] : bad) {
    for (DWORD bits : {8u, 24u, 32u}) {
      auto r = ReadPNG(png, bits);
      EXPECT_FALSE(r.ok) << what;
      EXPECT_EQ(r.error, IS_ERR_BADPNG) << what << " at " << bits;
    }
    EXPECT_EQ(ReadPNG(png, 0, IS_READ_AS_STORED).error, IS_ERR_BADPNG) << what;
  }
}

TEST(PNGRead, OversizedAndSurplusTextChunksAreSkipped) {
  Bytes png = Write({1, 2, 3}, 1, 1, 3, 2);
  png = pngtest::InsertBefore(png, "IEND", ZText("Bomb", std::string(3u << 20, 'z')));  // 3 MB from a few KB
  for (int i = 0; i < 300; ++i) png = pngtest::InsertBefore(png, "IEND", ZText("Many", std::string(1000, 'm')));
  auto r = ReadPNG(png, 24);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.image, (Bytes{1, 2, 3}));
  const auto& texts = GetThreadState()->png.textsRead;
  ASSERT_FALSE(texts.empty());
  EXPECT_LT(texts.size(), 256u);
  for (const auto& t : texts) EXPECT_EQ(t.key, "Many");
}

TEST(PNGRead, LibpngHoldsNoMoreThanTheCodecLimitOfThePicture) {
  // A 1 x 1 picture followed by a hundred texts of a megabyte each, a kilobyte each when
  // stored: libpng keeps the texts that fit the codec memory limit and skips the others.
  Bytes png = Write({1, 2, 3}, 1, 1, 3, 2);
  for (int i = 0; i < 100; ++i) png = pngtest::InsertBefore(png, "IEND", ZText("Big", std::string(1000000, 'b')));
  ASSERT_LT(png.size(), 400000u);
  const qrvtest::ChildRun peak = qrvtest::RunInChild([&] {
    const auto r = ReadPNG(png, 24);
    const size_t texts = GetThreadState()->png.textsRead.size();
    return r.ok && r.image == Bytes{1, 2, 3} && texts > 0 && texts < 20 ? 0 : 1;
  });
  ASSERT_TRUE(peak.exited);
  EXPECT_EQ(peak.result, 0);
  EXPECT_LT(peak.peakMB, 64) << "MB of peak memory";
  // A side over libpng's own default limit of a million pixels is written, and read when the
  // budget allows it: the most rows of one pixel that weigh no more than 64 megapixels.
  const Bytes tall = Write(Bytes(1u << 20, 77), 1, 1u << 20, 1, 0);
  const auto r = ReadPNG(tall, 24);
  ASSERT_TRUE(r.ok) << r.error << " " << r.warning;
  EXPECT_EQ(r.image, Bytes(3u << 20, 77));
}

TEST(PNGRead, DIBFormOfTheRGBAReader) {
  const Bytes png = Write({1, 2, 3, 4, 5, 6, 7, 8}, 1, 2, 4, 6);
  ISIOHandle h = ISOpenMemorySource(png.data(), static_cast<DWORD>(png.size()));
  CISIO io(h);
  CISPNGCodec codec;
  DWORD w = 0, ht = 0;
  HGLOBAL dib = codec.ReadPNGRGBA(io, &w, &ht, 255, false, kPNGReadAsStored);
  ASSERT_NE(dib, nullptr) << codec.error;
  const auto* p = static_cast<const uint8_t*>(dib);
  EXPECT_EQ(ReadDIBHeader(p).biBitCount, 32);
  EXPECT_EQ(Bytes(p + 40, p + 48), (Bytes{7, 6, 5, 8, 3, 2, 1, 4}));  // bottom-up B, G, R, A
  GlobalFree(dib);
  // 16-bit samples have no DIB form.
  io.Rewind();
  EXPECT_EQ(codec.ReadPNGRGBA(io, &w, &ht, 65535, true, kPNGReadAsStored), nullptr);
  EXPECT_EQ(codec.error, IS_ERR_BADPARAM);
  // The depth reader has no as-stored form.
  io.Rewind();
  RGBQUAD pal[256];
  EXPECT_EQ(codec.ReadPNGToDepth(io, &w, &ht, 8, pal, false, kPNGReadAsStored), nullptr);
  EXPECT_EQ(codec.error, IS_ERR_INTERNAL);
  ISCloseSource(h);
}

TEST(PNGRead, EachThreadKeepsItsOwnTexts) {
  auto textFile = [](const std::string& text) {
    return pngtest::InsertBefore(Write({1, 2, 3}, 1, 1, 3, 2), "IEND",
                                 pngtest::Chunk("tEXt", Text("Key" + std::string(1, '\0') + text)));
  };
  const Bytes a = textFile("first"), b = textFile("second");
  std::string seenA, seenB;
  auto reader = [](const Bytes& png, std::string* seen) {
    for (int i = 0; i < 50; ++i) {
      if (!ReadPNG(png, 24).ok) return;
      const auto& texts = GetThreadState()->png.textsRead;
      *seen = texts.size() == 1 ? texts[0].text : "?";
      if (*seen == "?") return;
    }
  };
  std::thread ta(reader, std::cref(a), &seenA), tb(reader, std::cref(b), &seenB);
  ta.join();
  tb.join();
  EXPECT_EQ(seenA, "first");
  EXPECT_EQ(seenB, "second");
}

}  // namespace
