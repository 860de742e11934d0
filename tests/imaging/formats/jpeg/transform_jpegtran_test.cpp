// The lossless transform compared byte for byte with jpegtran -copy all: every operation with
// trimming on and off, greyscale and progressive output, crops from either edge, on 4:2:0,
// 4:2:2, 4:4:0, 4:1:1, 4:4:4 and grey pictures of iMCU-multiple and other sizes, and on the
// real camera pictures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transform_support.h"

namespace {

using jpegtest::Bytes;
using xformtest::Jpegtran;
using xformtest::JpegtranArgs;
using xformtest::Transform;

struct Source {
  std::string name;
  Bytes jpeg;
};

std::vector<Source> SyntheticSources() {
  struct Spec {
    const char* name;
    uint32_t w, h, comps;
    const char* args;
  };
  const Spec specs[] = {
      {"420_100x75", 100, 75, 3, "-sample 2x2"},
      {"420_128x96", 128, 96, 3, "-sample 2x2"},
      {"422_97x61", 97, 61, 3, "-sample 2x1"},
      {"422_64x48", 64, 48, 3, "-sample 2x1"},
      {"440_41x50", 41, 50, 3, "-sample 1x2"},
      {"411_70x20", 70, 20, 3, "-sample 4x1"},
      {"444_45x37", 45, 37, 3, "-sample 1x1"},
      {"grey_50x43", 50, 43, 1, ""},
      {"grey_64x64", 64, 64, 1, ""},
      {"progressive_420_77x53", 77, 53, 3, "-progressive"},
      {"markers_restart_420_33x70", 33, 70, 3, "-restart 1"},
  };
  std::vector<Source> out;
  uint32_t seed = 1;
  for (const Spec& s : specs) {
    Bytes jpeg = jpegtest::Cjpeg(jpegtest::MakePicture(s.w, s.h, s.comps, seed++), s.w, s.h, s.comps, s.args);
    if (jpeg.empty()) continue;
    // Extra segments after the JFIF header: a comment, APP3 and APP15.
    if (std::string(s.name).rfind("markers", 0) == 0) {
      jpeg = xformtest::InsertSegment(jpeg, 0xFE, {'h', 'e', 'l', 'l', 'o'});
      jpeg = xformtest::InsertSegment(jpeg, 0xE3, {1, 2, 3});
      jpeg = xformtest::InsertSegment(jpeg, 0xEF, {0, 0xFF, 7});
    }
    out.push_back({s.name, std::move(jpeg)});
  }
  return out;
}

// One transform against jpegtran; both must succeed and agree to the byte.
void ExpectSameAsJpegtran(const Source& s, DWORD mode, int32_t x = 0, int32_t y = 0, uint32_t w = 0,
                          uint32_t h = 0) {
  const std::string args = JpegtranArgs(mode, x, y, w, h);
  SCOPED_TRACE(s.name + " mode " + std::to_string(mode) + " (" + args + ")");
  const Bytes expected = Jpegtran(s.jpeg, args);
  ASSERT_FALSE(expected.empty()) << "jpegtran failed";
  const auto got = Transform(s.jpeg, mode, x, y, w, h);
  ASSERT_TRUE(got.ok) << "error " << got.error;
  EXPECT_EQ(got.error, IS_ERR_OK);
  EXPECT_TRUE(got.out == expected) << "sizes " << got.out.size() << " / " << expected.size();
}

TEST(JPGTransformJpegtran, EveryOperationAndFlagOnSyntheticPictures) {
  QRV_REQUIRE_TOOL("cjpeg");
  QRV_REQUIRE_TOOL("jpegtran");
  const auto sources = SyntheticSources();
  ASSERT_EQ(sources.size(), 11u);
  const DWORD flagSets[] = {0, 0x200, 0x100, 0x400, 0x100 | 0x200 | 0x400};
  for (const Source& s : sources)
    for (DWORD op = 0; op <= 7; ++op)
      for (DWORD flags : flagSets) ExpectSameAsJpegtran(s, op | flags);
}

TEST(JPGTransformJpegtran, CropsFromEitherEdge) {
  QRV_REQUIRE_TOOL("cjpeg");
  QRV_REQUIRE_TOOL("jpegtran");
  for (const Source& s : SyntheticSources()) {
    const auto c = xformtest::ReadCoefficients(s.jpeg);
    ASSERT_TRUE(c.ok);
    const int32_t W = static_cast<int32_t>(c.width), H = static_cast<int32_t>(c.height);
    struct Rect {
      int32_t x, y, w, h;
    };
    const Rect rects[] = {
        {0, 0, W / 2, H / 2},          {5, 3, 20, 17},          {17, 9, W - 17, H - 9}, {-3, -5, 10, 10},
        {-16, 0, 16, H},               {0, -1, W, 1},           {W - 1, H - 1, 1, 1},   {8, 16, W - 8, H - 16},
        {-(W - 9), -(H - 11), 7, 9},   {0, 0, W, H},
    };
    for (const Rect& r : rects) {
      ExpectSameAsJpegtran(s, 8, r.x, r.y, static_cast<uint32_t>(r.w), static_cast<uint32_t>(r.h));
      ExpectSameAsJpegtran(s, 8 | 0x100 | 0x400, r.x, r.y, static_cast<uint32_t>(r.w), static_cast<uint32_t>(r.h));
    }
  }
}

TEST(JPGTransformJpegtran, CMYKWithItsAdobeMarker) {
  QRV_REQUIRE_TOOL("convert");
  QRV_REQUIRE_TOOL("jpegtran");
  qrvtest::TempDir dir;
  const std::string in = dir.File("in.ppm"), out = dir.File("cmyk.jpg");
  ASSERT_TRUE(qrvtest::WriteFileBytes(in, qrvtest::MakePNM(jpegtest::MakePicture(37, 29, 3, 9), 37, 29, 3)));
  int status = -1;
  qrvtest::RunCommand("convert " + in + " -colorspace CMYK " + out + " 2>/dev/null", &status);
  ASSERT_EQ(status, 0);
  const Source s{"cmyk_37x29", qrvtest::ReadFileBytes(out)};
  for (DWORD op = 0; op <= 7; ++op) ExpectSameAsJpegtran(s, op | 0x200);
  ExpectSameAsJpegtran(s, 5 | 0x400);
  ExpectSameAsJpegtran(s, 8, -5, 3, 20, 20);
  // Greyscale output is offered only for YCbCr and grey pictures.
  const auto grey = Transform(s.jpeg, 0x100);
  EXPECT_FALSE(grey.ok);
  EXPECT_EQ(grey.error, IS_ERR_BADJPEG);
}

TEST(JPGTransformJpegtran, RealCameraPictures) {
  QRV_REQUIRE_TESTDATA("jpeg/exif/Canon_40D.jpg");
  QRV_REQUIRE_TOOL("jpegtran");
  const auto files = qrvtest::TestDataFiles("jpeg");
  ASSERT_FALSE(files.empty());
  for (const std::string& path : files) {
    const Source s{path, qrvtest::ReadFileBytes(path)};
    ASSERT_FALSE(s.jpeg.empty());
    for (DWORD op = 1; op <= 7; ++op) ExpectSameAsJpegtran(s, op);
    ExpectSameAsJpegtran(s, 5 | 0x200);
    ExpectSameAsJpegtran(s, 3 | 0x200 | 0x100);
    ExpectSameAsJpegtran(s, 7 | 0x400);
    const auto c = xformtest::ReadCoefficients(s.jpeg);
    ASSERT_TRUE(c.ok);
    if (c.width >= 56 && c.height >= 38) {
      ExpectSameAsJpegtran(s, 8, -16, 8, 40, 30);
    } else {
      // jpegtran enlarges a region that reaches past the picture; here it is refused.
      const auto got = Transform(s.jpeg, 8, -16, 8, 40, 30);
      EXPECT_FALSE(got.ok);
      EXPECT_EQ(got.error, IS_ERR_BADJPEG);
      EXPECT_EQ(got.sinkSize, 0u);
    }
  }
}

}  // namespace
