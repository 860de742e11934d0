// JPEG reading: pixels against djpeg (same libjpeg) for every coding and sampling, the output
// layouts and flags, marker capture, density, scaling, and failures with their codes.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISThreadState.h"
#include "imaging/formats/jpeg/CISJPGReader.h"
#include "jpeg_test_util.h"
#include "platform/global_memory.h"

namespace {

using jpegtest::Bytes;
using jpegtest::Cjpeg;
using jpegtest::Djpeg;
using jpegtest::ReadJPG;

uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}

// Reads at the natural depth (8 for grey, 24 otherwise) and compares with djpeg -pnm.
void ExpectSameAsDjpeg(const Bytes& jpeg, const std::string& what, const std::string& djpegArgs = "") {
  uint32_t w = 0, h = 0, c = 0;
  Bytes ref = Djpeg(jpeg, djpegArgs, &w, &h, &c);
  ASSERT_FALSE(ref.empty()) << what;
  auto r = ReadJPG(jpeg, c * 8);
  ASSERT_TRUE(r.ok) << what << " error " << r.error;
  EXPECT_EQ(r.width, w) << what;
  EXPECT_EQ(r.height, h) << what;
  ASSERT_EQ(r.image.size(), ref.size()) << what;
  EXPECT_TRUE(r.image == ref) << what;
}

TEST(JPGRead, PixelsEqualDjpegForEveryCodingAndSampling) {
  QRV_REQUIRE_TOOL("cjpeg");
  QRV_REQUIRE_TOOL("djpeg");
  const Bytes rgb = jpegtest::MakePicture(67, 45, 3);
  const Bytes grey = jpegtest::MakePicture(67, 45, 1);
  const struct {
    const char* args;
    bool grey;
  } cases[] = {
      {"-baseline -quality 85", false},  {"-progressive", false},          {"-grayscale", false},
      {"-quality 90", true},             {"-sample 2x2", false},           {"-sample 2x1", false},
      {"-sample 1x1", false},            {"-restart 1", false},            {"-restart 2B -sample 1x1", false},
      {"-arithmetic", false},            {"-progressive -arithmetic", false}, {"-optimize -quality 30", false},
  };
  for (const auto& c : cases) {
    Bytes jpeg = c.grey ? Cjpeg(grey, 67, 45, 1, c.args) : Cjpeg(rgb, 67, 45, 3, c.args);
    ASSERT_FALSE(jpeg.empty()) << c.args;
    ExpectSameAsDjpeg(jpeg, c.args);
  }
}

TEST(JPGRead, RealCameraPicturesEqualDjpeg) {
  QRV_REQUIRE_TESTDATA("jpeg");
  QRV_REQUIRE_TOOL("djpeg");
  for (const char* folder : {"jpeg/exif", "jpeg/makernotes", "jpeg/orientation"}) {
    for (const auto& path : qrvtest::TestDataFiles(folder)) {
      ExpectSameAsDjpeg(qrvtest::ReadFileBytes(path), path);
    }
  }
}

TEST(JPGRead, ScaledReadsRoundToTheEighthsAndMatchDjpeg) {
  QRV_REQUIRE_TOOL("cjpeg");
  QRV_REQUIRE_TOOL("djpeg");
  const Bytes jpeg = Cjpeg(jpegtest::MakePicture(67, 45, 3), 67, 45, 3, "");
  ASSERT_FALSE(jpeg.empty());
  const struct {
    DWORD num, den;
    const char* djpeg;
    DWORD w, h;
  } cases[] = {{1, 8, "-scale 1/8", 9, 6},  {1, 4, "-scale 1/4", 17, 12}, {3, 8, "-scale 1/2", 34, 23},
               {1, 3, "-scale 1/2", 34, 23}, {2, 3, "", 67, 45},         {1, 0, "", 67, 45},
               {1, 100, "-scale 1/8", 9, 6}, {5, 4, "", 67, 45}};
  for (const auto& c : cases) {
    ISSetJPGReadScale(c.num, c.den);
    auto r = ReadJPG(jpeg, 24);
    ISSetJPGReadScale(1, 1);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.width, c.w) << c.num << "/" << c.den;
    EXPECT_EQ(r.height, c.h) << c.num << "/" << c.den;
    uint32_t w = 0, h = 0, comps = 0;
    Bytes ref = Djpeg(jpeg, c.djpeg, &w, &h, &comps);
    EXPECT_TRUE(r.image == ref) << c.num << "/" << c.den;
  }
}

TEST(JPGRead, GreyFilesAndDepthRequests) {
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes grey = jpegtest::MakePicture(13, 7, 1);
  const Bytes jpeg = Cjpeg(grey, 13, 7, 1, "-quality 95");
  ASSERT_FALSE(jpeg.empty());
  auto g8 = ReadJPG(jpeg, 8);
  ASSERT_TRUE(g8.ok);
  ASSERT_EQ(g8.image.size(), 13u * 7u);
  auto g24 = ReadJPG(jpeg, 24);
  ASSERT_TRUE(g24.ok);
  ASSERT_EQ(g24.image.size(), 13u * 7u * 3u);
  for (size_t i = 0; i < g8.image.size(); ++i) {
    EXPECT_EQ(g24.image[i * 3], g8.image[i]);
    EXPECT_EQ(g24.image[i * 3 + 1], g8.image[i]);
    EXPECT_EQ(g24.image[i * 3 + 2], g8.image[i]);
  }
  auto g32 = ReadJPG(jpeg, 32);
  EXPECT_FALSE(g32.ok);
  EXPECT_EQ(g32.error, IS_ERR_BADJPEG);
  auto keepYCbCr = ReadJPG(jpeg, 24, kJPGReadKeepYCbCr);
  EXPECT_FALSE(keepYCbCr.ok);
  EXPECT_EQ(keepYCbCr.error, IS_ERR_BADJPEG);

  // As stored: an 8-bit bottom-up DIB with a grey palette, rows padded to 4 bytes.
  auto dib = ReadJPG(jpeg, 24, kJPGReadAsStored);
  ASSERT_TRUE(dib.ok);
  ASSERT_EQ(dib.image.size(), 40u + 1024u + 16u * 7u);
  EXPECT_EQ(Get32(dib.image, 0), 40u);
  EXPECT_EQ(Get32(dib.image, 4), 13u);
  EXPECT_EQ(Get32(dib.image, 8), 7u);
  EXPECT_EQ(dib.image[14], 8);
  EXPECT_EQ(Get32(dib.image, 20), 16u * 7u);
  EXPECT_EQ(Get32(dib.image, 32), 256u);
  for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(Get32(dib.image, 40 + i * 4), 0xFF000000u | i * 0x010101u);
  for (uint32_t y = 0; y < 7; ++y)
    EXPECT_EQ(0, std::memcmp(&dib.image[40 + 1024 + (6 - y) * 16], &g8.image[y * 13], 13)) << y;

  // 8-bit output with padded rows.
  auto padded = ReadJPG(jpeg, 8, kJPGReadPaddedBGR);
  ASSERT_TRUE(padded.ok);
  ASSERT_EQ(padded.image.size(), 16u * 7u);
  for (uint32_t y = 0; y < 7; ++y) EXPECT_EQ(0, std::memcmp(&padded.image[y * 16], &g8.image[y * 13], 13));
}

TEST(JPGRead, ColourLayoutsAsStoredPaddedAndYCbCr) {
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes rgb = jpegtest::MakePicture(13, 5, 3);
  const Bytes jpeg = Cjpeg(rgb, 13, 5, 3, "-quality 95");
  ASSERT_FALSE(jpeg.empty());
  auto plain = ReadJPG(jpeg, 24);
  ASSERT_TRUE(plain.ok);
  EXPECT_EQ(ReadJPG(jpeg, 8).error, IS_ERR_BADJPEG);
  EXPECT_EQ(ReadJPG(jpeg, 32).error, IS_ERR_BADJPEG);
  EXPECT_EQ(ReadJPG(jpeg, 8, kJPGReadAsStored).error, IS_ERR_BADJPEG);

  auto dib = ReadJPG(jpeg, 24, kJPGReadAsStored);
  ASSERT_TRUE(dib.ok);
  const uint32_t stride = 40;  // 13 * 3 = 39 padded to 40
  ASSERT_EQ(dib.image.size(), 40u + stride * 5u);
  EXPECT_EQ(dib.image[14], 24);
  EXPECT_EQ(Get32(dib.image, 8), 5u);
  EXPECT_EQ(Get32(dib.image, 32), 0u);
  auto bgr = ReadJPG(jpeg, 24, kJPGReadPaddedBGR);
  ASSERT_TRUE(bgr.ok);
  ASSERT_EQ(bgr.image.size(), stride * 5u);
  for (uint32_t y = 0; y < 5; ++y) {
    for (uint32_t x = 0; x < 13; ++x) {
      const uint8_t* want = &plain.image[(y * 13 + x) * 3];
      const uint8_t* top = &bgr.image[y * stride + x * 3];
      const uint8_t* bottomUp = &dib.image[40 + (4 - y) * stride + x * 3];
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(top[c], want[2 - c]);
        EXPECT_EQ(bottomUp[c], want[2 - c]);
      }
    }
  }

  // One flat colour kept as Y, Cb, Cr.
  Bytes flat(16 * 16 * 3);
  for (size_t i = 0; i < flat.size(); i += 3) flat[i] = 200, flat[i + 1] = 100, flat[i + 2] = 50;
  auto ycc = ReadJPG(Cjpeg(flat, 16, 16, 3, "-quality 100 -sample 1x1"), 24, kJPGReadKeepYCbCr);
  ASSERT_TRUE(ycc.ok);
  EXPECT_NEAR(ycc.image[0], 124, 2);
  EXPECT_NEAR(ycc.image[1], 86, 2);
  EXPECT_NEAR(ycc.image[2], 182, 2);
}

TEST(JPGRead, DensityReachesTheDIBHeaderInPixelsPerMetre) {
  QRV_REQUIRE_TOOL("cjpeg");
  Bytes jpeg = Cjpeg(jpegtest::MakePicture(8, 8, 3), 8, 8, 3, "");
  ASSERT_GE(jpeg.size(), 20u);
  ASSERT_EQ(0, std::memcmp(&jpeg[6], "JFIF", 5));
  const struct {
    uint8_t unit;
    uint16_t x, y;
    uint32_t ppmX, ppmY;
  } cases[] = {{1, 72, 72, 2800, 2800}, {2, 28, 28, 2800, 2800}, {1, 300, 96, 11800, 3700}, {0, 1, 1, 0, 0}};
  for (const auto& c : cases) {
    jpeg[13] = c.unit;
    jpeg[14] = static_cast<uint8_t>(c.x >> 8), jpeg[15] = static_cast<uint8_t>(c.x);
    jpeg[16] = static_cast<uint8_t>(c.y >> 8), jpeg[17] = static_cast<uint8_t>(c.y);
    auto dib = ReadJPG(jpeg, 24, kJPGReadAsStored);
    ASSERT_TRUE(dib.ok);
    EXPECT_EQ(Get32(dib.image, 24), c.ppmX) << int(c.unit) << " " << c.x;
    EXPECT_EQ(Get32(dib.image, 28), c.ppmY) << int(c.unit) << " " << c.y;

    ISIOHandle src = ISOpenMemorySource(jpeg.data(), static_cast<DWORD>(jpeg.size()));
    DWORD w = 0, h = 0, bits = 0, cs = 0, coding = 9;
    ISResolution res{};
    EXPECT_TRUE(ISGetJPGInfo(src, &w, &h, &bits, &res, &cs, &coding));
    ISCloseSource(src);
    EXPECT_EQ(res.x, c.x);
    EXPECT_EQ(res.y, c.y);
    EXPECT_EQ(res.unit, c.unit);
  }
}

TEST(JPGRead, InfoReportsHeaderFields) {
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes rgb = jpegtest::MakePicture(21, 11, 3);
  const struct {
    const char* args;
    DWORD bits, colourSpace, coding;
  } cases[] = {{"", 24, 3, 0},
               {"-progressive", 24, 3, 1},
               {"-arithmetic", 24, 3, 2},
               {"-progressive -arithmetic", 24, 3, 3},
               {"-grayscale", 8, 1, 0},
               {"-rgb", 24, 2, 0}};
  for (const auto& c : cases) {
    Bytes jpeg = Cjpeg(rgb, 21, 11, 3, c.args);
    ASSERT_FALSE(jpeg.empty()) << c.args;
    ISIOHandle src = ISOpenMemorySource(jpeg.data(), static_cast<DWORD>(jpeg.size()));
    DWORD w = 0, h = 0, bits = 0, cs = 0, coding = 0;
    ISResolution res{};
    ASSERT_TRUE(ISGetJPGInfo(src, &w, &h, &bits, &res, &cs, &coding)) << c.args;
    ISCloseSource(src);
    EXPECT_EQ(w, 21u);
    EXPECT_EQ(h, 11u);
    EXPECT_EQ(bits, c.bits) << c.args;
    EXPECT_EQ(cs, c.colourSpace) << c.args;
    EXPECT_EQ(coding, c.coding) << c.args;
    EXPECT_EQ(res.x, 1u);
    EXPECT_EQ(res.unit, 0u);
  }
  // Null size pointers: 5; garbage: 9, with every output zeroed.
  Bytes garbage(100, 0x42);
  ISIOHandle src = ISOpenMemorySource(garbage.data(), 100);
  DWORD w = 7, h = 7, bits = 7;
  EXPECT_FALSE(ISGetJPGInfo(src, nullptr, &h, &bits, nullptr, nullptr, nullptr));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISGetJPGInfo(src, &w, &h, &bits, nullptr, nullptr, nullptr));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADJPEG);
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(bits, 0u);
  ISCloseSource(src);
}

// An APP1 EXIF segment and comments are captured in file order; APP0 is not kept.
TEST(JPGRead, CommentsAndMarkersAreCaptured) {
  QRV_REQUIRE_TESTDATA("jpeg/exif/Canon_40D.jpg");
  const Bytes jpeg = qrvtest::ReadFileBytes(qrvtest::TestDataFile("jpeg/exif/Canon_40D.jpg"));
  ASSERT_TRUE(ReadJPG(jpeg, 24).ok);
  ASSERT_GE(ISGetJPGMarkerCount(), 1u);
  HGLOBAL data = nullptr;
  DWORD length = 0, code = 0;
  ASSERT_TRUE(ISGetJPGMarker(0, &data, &length, &code));
  EXPECT_EQ(code, 225u);
  const auto* p = static_cast<const uint8_t*>(data);
  ASSERT_GT(length, 14u);
  EXPECT_EQ(0, std::memcmp(p + 4, "Exif\0\0", 6));
  EXPECT_TRUE((p[10] == 'I' && p[11] == 'I') || (p[10] == 'M' && p[11] == 'M'));
  // The payload after the four leading bytes is the segment as stored in the file.
  const Bytes needle(p + 4, p + length);
  EXPECT_NE(std::search(jpeg.begin(), jpeg.end(), needle.begin(), needle.end()), jpeg.end());
  GlobalFree(data);

  // A hand-made stream: SOI, COM "hello", APP0 (JFIF, not kept), APP14 "Adobe", COM with a
  // zero inside, then the rest of a real picture.
  QRV_REQUIRE_TOOL("cjpeg");
  Bytes base = Cjpeg(jpegtest::MakePicture(8, 8, 3), 8, 8, 3, "");
  ASSERT_FALSE(base.empty());
  Bytes made = {0xFF, 0xD8, 0xFF, 0xFE, 0, 7, 'h', 'e', 'l', 'l', 'o'};
  made.insert(made.end(), base.begin() + 2, base.begin() + 20);  // APP0 JFIF
  const uint8_t app14[] = {0xFF, 0xEE, 0, 7, 'A', 'd', 'o', 'b', 'e'};
  made.insert(made.end(), app14, app14 + sizeof app14);
  const uint8_t com2[] = {0xFF, 0xFE, 0, 6, 'a', 0, 'b', 'c'};
  made.insert(made.end(), com2, com2 + sizeof com2);
  made.insert(made.end(), base.begin() + 20, base.end());
  DWORD w = 0, h = 0;
  ISIOHandle src = ISOpenMemorySource(made.data(), static_cast<DWORD>(made.size()));
  ASSERT_TRUE(ISGetJPGInfo(src, &w, &h, nullptr, nullptr, nullptr, nullptr));
  ISCloseSource(src);
  ASSERT_EQ(ISGetJPGCommentCount(), 2u);
  HGLOBAL text = ISGetJPGComment(0);
  EXPECT_STREQ(static_cast<const char*>(text), "hello");
  GlobalFree(text);
  text = ISGetJPGComment(1);
  EXPECT_STREQ(static_cast<const char*>(text), "a");
  GlobalFree(text);
  ASSERT_EQ(ISGetJPGMarkerCount(), 1u);
  ASSERT_TRUE(ISGetJPGMarker(0, &data, &length, &code));
  EXPECT_EQ(code, 238u);
  ASSERT_EQ(length, 9u);
  EXPECT_EQ(0, std::memcmp(static_cast<const uint8_t*>(data) + 4, "Adobe", 5));
  GlobalFree(data);

  // The next read empties the lists.
  ASSERT_TRUE(ReadJPG(base, 24).ok);
  EXPECT_EQ(ISGetJPGCommentCount(), 0u);
  EXPECT_EQ(ISGetJPGMarkerCount(), 0u);
}

TEST(JPGRead, EndOfStreamAndSeekBack) {
  QRV_REQUIRE_TOOL("cjpeg");
  QRV_REQUIRE_TOOL("djpeg");
  const Bytes jpeg = Cjpeg(jpegtest::MakePicture(64, 64, 3), 64, 64, 3, "-sample 1x1");
  ASSERT_FALSE(jpeg.empty());

  // Cut in the middle of the entropy-coded data: the rows libjpeg could not decode are filled
  // after the supplied end marker; the read succeeds, as djpeg's does.
  Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2));
  ExpectSameAsDjpeg(cut, "cut");

  // Empty stream: 9.
  qrvtest::TempDir dir;
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("empty.jpg"), {}));
  ISIOHandle src = ISOpenFileSource(dir.File("empty.jpg").c_str());
  ASSERT_NE(src, nullptr);
  DWORD w = 0, h = 0;
  EXPECT_EQ(ISReadJPG(src, &w, &h, 24, 0), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADJPEG);
  ISCloseSource(src);

  // Flag 16 leaves the source just after the end-of-image marker.
  Bytes padded = jpeg;
  for (int i = 0; i < 5000; ++i) padded.push_back(static_cast<uint8_t>(i));
  for (DWORD flags : {DWORD{0}, DWORD{kJPGReadSeekBack}}) {
    src = ISOpenMemorySource(padded.data(), static_cast<DWORD>(padded.size()));
    HGLOBAL image = ISReadJPG(src, &w, &h, 24, flags);
    ASSERT_NE(image, nullptr);
    GlobalFree(image);
    DWORD position = 0;
    ASSERT_TRUE(ISTellSource(src, &position));
    if (flags)
      EXPECT_EQ(position, jpeg.size());
    else
      EXPECT_GT(position, jpeg.size());
    ISCloseSource(src);
  }
}

BOOL StopAtRow(DWORD done, DWORD, uintptr_t user) { return done < user ? 1 : 0; }
BOOL CountRows(DWORD, DWORD total, uintptr_t) { return static_cast<BOOL>(total); }

TEST(JPGRead, ProgressStopsTheReadAndFreesThePicture) {
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes jpeg = Cjpeg(jpegtest::MakePicture(16, 40, 3), 16, 40, 3, "");
  ISThreadState* ts = GetThreadState();
  ASSERT_NE(ts, nullptr);
  ts->progressCallback = StopAtRow;
  ts->progressUser = 10;
  auto stopped = ReadJPG(jpeg, 24);
  EXPECT_FALSE(stopped.ok);
  EXPECT_EQ(stopped.error, IS_ERR_STOPPED);
  // A negative reply does not stop a JPEG read.
  ts->progressCallback = [](DWORD, DWORD, uintptr_t) -> BOOL { return -1; };
  EXPECT_TRUE(ReadJPG(jpeg, 24).ok);
  ts->progressCallback = CountRows;
  EXPECT_TRUE(ReadJPG(jpeg, 24).ok);
  ts->progressCallback = nullptr;
  ts->progressUser = 0;
}

TEST(JPGRead, ArgumentsAndRowsPastTheEnd) {
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes jpeg = Cjpeg(jpegtest::MakePicture(8, 3, 3), 8, 3, 3, "");
  DWORD w = 0, h = 0;
  EXPECT_EQ(ISReadJPG(nullptr, &w, &h, 24, 0), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  ISIOHandle src = ISOpenMemorySource(jpeg.data(), static_cast<DWORD>(jpeg.size()));
  EXPECT_EQ(ISReadJPG(src, &w, &h, 16, 0), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  DWORD position = 1;
  ISTellSource(src, &position);
  EXPECT_EQ(position, 0u);  // refused before reading anything

  // The operations one by one: rows past the last fail with 24; null state or row with 5.
  ISCallDepthGuard depth(GetThreadState());
  CISIO io(src);
  CISJPGReader reader;
  JPGDecodeState* state = reader.Setup(io, &w, &h, 24, 0);
  ASSERT_NE(state, nullptr);
  uint8_t row[8 * 3];
  DWORD index = 99;
  for (DWORD y = 0; y < 3; ++y) {
    ASSERT_TRUE(reader.ReadRow(state, row, &index));
    EXPECT_EQ(index, y);
  }
  EXPECT_FALSE(reader.ReadRow(state, row, &index));
  EXPECT_EQ(reader.error, IS_ERR_SINGLELINE);
  reader.error = IS_ERR_OK;
  EXPECT_FALSE(reader.ReadRow(state, nullptr, &index));
  EXPECT_EQ(reader.error, IS_ERR_BADPARAM);
  reader.error = IS_ERR_OK;
  EXPECT_TRUE(reader.Release(state));
  EXPECT_FALSE(reader.Release(nullptr));
  EXPECT_EQ(reader.error, IS_ERR_BADPARAM);
  ISCloseSource(src);
}

// A second frame header after the scan: every row decodes, finishing fails; the picture is
// still handed out with error 3.
TEST(JPGRead, FailureWhileFinishingKeepsThePicture) {
  QRV_REQUIRE_TOOL("cjpeg");
  Bytes jpeg = Cjpeg(jpegtest::MakePicture(16, 16, 3), 16, 16, 3, "");
  ASSERT_GE(jpeg.size(), 4u);
  jpeg.resize(jpeg.size() - 2);  // drop EOI
  const uint8_t sof[] = {0xFF, 0xC0, 0, 11, 8, 0, 16, 0, 16, 1, 1, 0x11, 0, 0xFF, 0xD9};
  jpeg.insert(jpeg.end(), sof, sof + sizeof sof);
  auto r = ReadJPG(jpeg, 24);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.error, IS_ERR_READ);
  EXPECT_EQ(r.image.size(), 16u * 16u * 3u);
}

}  // namespace
