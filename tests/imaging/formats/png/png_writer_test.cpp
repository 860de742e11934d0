// PNG writing: round trips through the reader for every colour type and depth, interlaced
// and not; the chunks pngcheck finds; byte order of 16-bit samples; texts and ICC profile;
// failures with their codes.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "imaging/core/ISThreadState.h"
#include "png_test_util.h"
#include "support/callback_file.h"

namespace {

using pngtest::Bytes;
using pngtest::ReadPNG;
using pngtest::WriteArgs;

using pngtest::PNGOptionsGuard;
using qrvtest::RandomBytes;

// Unpacks rows of `bits`-bit samples (most significant first) to one byte each.
Bytes Unpack(const Bytes& packed, uint32_t width, uint32_t height, uint32_t stride, uint32_t bits) {
  Bytes out;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t bit = x * bits;
      out.push_back(static_cast<uint8_t>((packed[y * stride + bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1)));
    }
  return out;
}

TEST(PNGWrite, RoundTripsOfEveryColourTypeAndDepthInterlacedAndNot) {
  const uint32_t w = 13, h = 7;
  RGBQUAD pal[256];
  for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i * 3), 255};
  // Each file is read back at the depth that keeps its samples (flag 4: 16-bit grey as is).
  const struct {
    DWORD type, bits, channels, readBits, readFlags;
  } cases[] = {{0, 1, 1, 8, 0},   {0, 2, 1, 8, 0},   {0, 4, 1, 8, 0},   {0, 8, 1, 8, 0},  {0, 16, 1, 16, 4},
               {2, 8, 3, 24, 0},  {2, 16, 3, 48, 0}, {3, 1, 1, 8, 0},   {3, 2, 1, 8, 0},  {3, 4, 1, 8, 0},
               {3, 8, 1, 8, 0},   {4, 8, 2, 16, 0},  {4, 16, 2, 64, 0}, {6, 8, 4, 32, 0}, {6, 16, 4, 64, 0}};
  for (const auto& c : cases) {
    for (DWORD flags : {0u, 1u}) {
      const std::string what = "type " + std::to_string(c.type) + " bits " + std::to_string(c.bits) +
                               (flags ? " interlaced" : "");
      const uint32_t stride = (w * c.bits * c.channels + 7) / 8 + 3;  // rows with slack between them
      Bytes pixels = RandomBytes(size_t{stride} * h, c.type * 100 + c.bits);
      WriteArgs a;
      a.width = w;
      a.height = h;
      a.stride = stride;
      a.bits = c.bits;
      a.colourType = c.type;
      a.flags = flags;
      if (c.type == 3) {
        a.colours = 1u << c.bits;
        a.palette = pal;
      }
      ISErrorCode error = IS_ERR_OK;
      const Bytes png = pngtest::WritePNG(pixels, a, nullptr, &error);
      ASSERT_FALSE(png.empty()) << what << " error " << error;
      EXPECT_EQ(png[28], flags) << what;  // IHDR interlace method
      const uint32_t rowBytes = (w * c.bits * c.channels + 7) / 8;
      Bytes packed;  // the rows without the slack
      for (uint32_t y = 0; y < h; ++y)
        packed.insert(packed.end(), pixels.begin() + y * stride, pixels.begin() + y * stride + rowBytes);

      auto r = ReadPNG(png, c.readBits, c.readFlags);
      ASSERT_TRUE(r.ok) << what << " error " << r.error;
      Bytes expected = packed;
      if (c.bits < 16 && (c.type == 0 || c.type == 3)) {
        expected = Unpack(pixels, w, h, stride, c.bits);
      } else if (c.type == 4 && c.bits == 16) {  // grey to R, G and B
        expected.clear();
        for (size_t i = 0; i < packed.size(); i += 4)
          expected.insert(expected.end(), {packed[i], packed[i + 1], packed[i], packed[i + 1], packed[i],
                                           packed[i + 1], packed[i + 2], packed[i + 3]});
      }
      EXPECT_EQ(r.image, expected) << what;
      if (c.type == 3) {
        for (int i = 0; i < (1 << c.bits); ++i) EXPECT_EQ(std::memcmp(&r.palette[i], &pal[i], 4), 0) << what << i;
      }
    }
  }
}

TEST(PNGWrite, PngcheckFindsTheChunksOfTheApplicationsThreeKinds) {
  QRV_REQUIRE_TOOL("pngcheck");
  const Bytes rgb = RandomBytes(4 * 3 * 3, 5), rgba = RandomBytes(4 * 3 * 4, 6), idx = RandomBytes(4 * 3, 7);
  RGBQUAD pal[256];
  for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(i), BYTE(i / 2), BYTE(i / 3), BYTE(255 - i)};
  WriteArgs a;
  a.width = 4;
  a.height = 3;
  a.stride = 12;
  int status = 0;
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char year[8];
  std::strftime(year, sizeof year, "%Y", &utc);

  std::string out = pngtest::PngCheck(pngtest::WritePNG(rgb, a), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("24-bit RGB, non-interlaced"), std::string::npos) << out;
  EXPECT_NE(out.find("pHYs"), std::string::npos) << out;
  EXPECT_NE(out.find("1x1 pixels/unit (1:1)"), std::string::npos) << out;
  EXPECT_NE(out.find(std::string(year) + " "), std::string::npos) << out;
  EXPECT_NE(out.find(" UTC"), std::string::npos) << out;
  for (const char* absent : {"gAMA", "bKGD", "tRNS", "tEXt", "zTXt", "PLTE", "iCCP"})
    EXPECT_EQ(out.find(absent), std::string::npos) << absent << "\n" << out;

  a.stride = 16;
  a.colourType = 6;
  a.flags = 1;
  out = pngtest::PngCheck(pngtest::WritePNG(rgba, a), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("32-bit RGB+alpha, interlaced"), std::string::npos) << out;
  EXPECT_NE(out.find("red = 0x0000, green = 0x0000, blue = 0x0000"), std::string::npos) << out;

  a.stride = 4;
  a.colourType = 3;
  a.flags = 0;
  a.colours = 256;
  a.palette = pal;
  a.gamma = 2.0;
  const Bytes paletted = pngtest::WritePNG(idx, a);
  out = pngtest::PngCheck(paletted, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("8-bit palette"), std::string::npos) << out;
  EXPECT_NE(out.find("256 palette entries"), std::string::npos) << out;
  EXPECT_NE(out.find("gAMA at offset"), std::string::npos) << out;
  EXPECT_NE(out.find("2.0000"), std::string::npos) << out;
  EXPECT_NE(out.find("index = 0"), std::string::npos) << out;
  EXPECT_EQ(out.find("tRNS"), std::string::npos) << out;
  // PLTE entries are R, G, B from bytes 2, 1, 0 of each palette entry.
  const size_t plte = pngtest::FindChunk(paletted, "PLTE");
  EXPECT_EQ(Bytes(paletted.begin() + plte + 8 + 3 * 200, paletted.begin() + plte + 8 + 3 * 201),
            (Bytes{66, 100, 200}));
  // Flag bit 1: tRNS with the 256 fourth bytes.
  a.flags = 2;
  const Bytes alpha = pngtest::WritePNG(idx, a);
  out = pngtest::PngCheck(alpha, &status);
  EXPECT_NE(out.find("256 transparency entries"), std::string::npos) << out;
  EXPECT_EQ(alpha[pngtest::FindChunk(alpha, "tRNS") + 8 + 10], 245);
}

TEST(PNGWrite, PaletteAlphasAreNeverWrittenForColourImages) {
  RGBQUAD pal[2] = {{0, 0, 0, 0}, {9, 9, 9, 0}};
  WriteArgs a;
  a.width = 2;
  a.height = 1;
  a.stride = 6;
  a.colours = 2;
  a.palette = pal;
  a.flags = 2;
  const Bytes png = pngtest::WritePNG({0, 0, 0, 9, 9, 9}, a);
  ASSERT_FALSE(png.empty());
  EXPECT_EQ(pngtest::FindChunk(png, "tRNS"), 0u);
  EXPECT_NE(pngtest::FindChunk(png, "PLTE"), 0u);  // a suggested palette
  auto r = ReadPNG(png, 32);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.image, (Bytes{0, 0, 0, 255, 9, 9, 9, 255}));  // black stays opaque
  // A colour count above 256 writes no palette and needs no palette pointer.
  a.colours = 300;
  a.palette = nullptr;
  const Bytes plain = pngtest::WritePNG({0, 0, 0, 9, 9, 9}, a);
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(pngtest::FindChunk(plain, "PLTE"), 0u);
}

TEST(PNGWrite, SixteenBitSamplesGoBigEndianIntoTheFile) {
  QRV_REQUIRE_TOOL("convert");
  const Bytes le = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A};
  WriteArgs a;
  a.width = 1;
  a.height = 1;
  a.stride = 6;
  a.bits = 16;
  const Bytes png = pngtest::WritePNG(le, a);
  qrvtest::TempDir dir;
  qrvtest::WriteFileBytes(dir.File("a.png"), png);
  EXPECT_EQ(pngtest::MagickPixels(dir.File("a.png"), "rgb", "", 16), (Bytes{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}));
}

TEST(PNGWrite, TextsResolutionAndICCProfileFromTheThread) {
  PNGOptionsGuard guard;
  ISThreadState* ts = GetThreadState();
  ts->png.textsToWrite = {ISKeyTextPair("Author", "qrv", 0), ISKeyTextPair("Description", "a picture", 1)};
  // A minimal RGB display profile: header and an empty tag table.
  Bytes icc(132, 0);
  icc[3] = 132;
  std::memcpy(&icc[12], "mntr", 4);
  std::memcpy(&icc[16], "RGB ", 4);
  std::memcpy(&icc[20], "XYZ ", 4);
  icc[8] = 2;
  icc[9] = 0x10;
  std::memcpy(&icc[36], "acsp", 4);
  const uint8_t d50[12] = {0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D};
  std::memcpy(&icc[68], d50, 12);
  ts->iccProfile.Assign(icc.data(), static_cast<uint32_t>(icc.size()));
  const ISResolution res = {2835, 2835, 1};
  WriteArgs a;
  a.width = 2;
  a.height = 2;
  a.stride = 6;
  a.resolution = &res;
  const Bytes png = pngtest::WritePNG(RandomBytes(12, 3), a);
  ASSERT_FALSE(png.empty());
  EXPECT_NE(pngtest::FindChunk(png, "iCCP"), 0u);
  if (qrvtest::HasTool("pngcheck")) {
    int status = 0;
    const std::string out = pngtest::PngCheck(png, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("tEXt"), std::string::npos) << out;
    EXPECT_NE(out.find("Author"), std::string::npos) << out;
    EXPECT_NE(out.find("zTXt"), std::string::npos) << out;
    EXPECT_NE(out.find("2835x2835 pixels/meter"), std::string::npos) << out;
    EXPECT_NE(out.find("icm"), std::string::npos) << out;
  }
  ts->png.textsToWrite.clear();
  ASSERT_TRUE(ReadPNG(png, 24).ok);
  ASSERT_EQ(ts->png.textsRead.size(), 2u);
  EXPECT_EQ(ts->png.textsRead[0].text, "qrv");
  EXPECT_EQ(ts->png.textsRead[1].key, "Description");
  EXPECT_EQ(ts->png.textsRead[1].compressed, 1u);
}

BOOL StopAtTwo(DWORD done, DWORD, uintptr_t) { return done == 2 ? 0 : 1; }

TEST(PNGWrite, FailuresReturnZeroWithTheirCodes) {
  const Bytes px = RandomBytes(4 * 4 * 3, 1);
  ISErrorCode error = IS_ERR_OK;
  BOOL result = 1;
  WriteArgs a;
  a.width = 4;
  a.height = 4;
  a.stride = 12;
  // A sink that refuses every write.
  qrvtest::CallbackFile refusing;
  refusing.failAfter = 0;
  ISIOHandle h = refusing.Open();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ISWritePNG(h, px.data(), 4, 4, 12, 8, 0, nullptr, 2, 0.0, nullptr, 0), 0);
  EXPECT_EQ(ISGetLastError(), IS_ERR_WRITE);
  ISCloseSource(h);
  // A memory sink too small for the stream.
  Bytes small(40);
  h = ISOpenMemorySink(small.data(), 40, 0);
  EXPECT_EQ(ISWritePNG(h, px.data(), 4, 4, 12, 8, 0, nullptr, 2, 0.0, nullptr, 0), 0);
  EXPECT_EQ(ISGetLastError(), IS_ERR_WRITE);
  ISCloseSink(h);
  // Arguments: no pixels; a palette count without a palette; a depth libpng refuses.
  EXPECT_TRUE(pngtest::WritePNG({}, a, &result, &error).empty());
  EXPECT_EQ(error, IS_ERR_BADPARAM);
  a.colours = 16;
  EXPECT_TRUE(pngtest::WritePNG(px, a, &result, &error).empty());
  EXPECT_EQ(error, IS_ERR_BADPARAM);
  a.colours = 0;
  a.bits = 3;
  EXPECT_TRUE(pngtest::WritePNG(px, a, &result, &error).empty());
  EXPECT_EQ(error, IS_ERR_WRITE);
  EXPECT_EQ(result, 0);
  a.bits = 8;
  a.width = 0;
  EXPECT_TRUE(pngtest::WritePNG(px, a, &result, &error).empty());
  EXPECT_EQ(error, IS_ERR_WRITE);
  EXPECT_EQ(ISWritePNG(nullptr, px.data(), 4, 4, 12, 8, 0, nullptr, 2, 0.0, nullptr, 0), 0);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  // A progress stop: error 14 and 0.
  a.width = 4;
  ISThreadState* ts = GetThreadState();
  ts->progressCallback = StopAtTwo;
  EXPECT_TRUE(pngtest::WritePNG(px, a, &result, &error).empty());
  ts->progressCallback = nullptr;
  EXPECT_EQ(error, IS_ERR_STOPPED);
  EXPECT_EQ(result, 0);
}

}  // namespace
