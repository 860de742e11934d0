#include <gtest/gtest.h>

#include <cstdio>

#include "engine/CRGBImage.h"
#include "support/test_support.h"

namespace {

std::vector<BYTE> Gradient(int w, int h) {
  std::vector<BYTE> p(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      BYTE* q = &p[(static_cast<size_t>(y) * w + x) * 3];
      q[0] = static_cast<BYTE>(x * 40);
      q[1] = static_cast<BYTE>(y * 50);
      q[2] = static_cast<BYTE>(x * 7 + y * 13);
    }
  return p;
}

}  // namespace

TEST(RGBImage, FormatTableByExtension) {
  EXPECT_EQ(FormatFromExtension("/a/b.jpeg"), IFF_JPEG);
  EXPECT_EQ(FormatFromExtension("/a/b.JPG"), IFF_JPEG);
  EXPECT_EQ(FormatFromExtension("x.Tiff"), IFF_TIFF);
  EXPECT_EQ(FormatFromExtension("x.tga"), IFF_TGA);
  EXPECT_EQ(FormatFromExtension("x.psd"), IFF_PSD);
  EXPECT_EQ(FormatFromExtension("x.CR2"), IFF_UNKNOWN);
  EXPECT_EQ(FormatFromExtension("noextension"), IFF_UNKNOWN);
  EXPECT_EQ(FormatFromExtension("dir.jpg/file"), IFF_UNKNOWN);  // text from the last "." is "jpg/file"
  EXPECT_EQ(FormatFromFileContents("/nonexistent/file.jpg"), IFF_UNKNOWN);
}

TEST(RGBImage, CreateAllocateLock) {
  CRGBImage img;
  EXPECT_EQ(img.LockPixels(), nullptr);
  EXPECT_EQ(img.LockCount(), 0);
  EXPECT_EQ(img.Create(nullptr, 4, 4), 1);
  EXPECT_EQ(img.GetWidth(), 0);
  const auto px = Gradient(5, 3);
  ASSERT_EQ(img.Create(px.data(), 5, 3), 0);
  EXPECT_EQ(img.GetSize(), std::make_pair(5, 3));
  BYTE* p = img.LockPixels();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(img.LockCount(), 1);
  EXPECT_EQ(std::vector<BYTE>(p, p + px.size()), px);
  img.UnlockPixels();
  CRGBImage copy;
  ASSERT_EQ(copy.CopyFrom(img), 0);
  EXPECT_EQ(copy.GetSize(), img.GetSize());
  EXPECT_EQ(copy.Allocate({2, 2}), 0);
  EXPECT_EQ(copy.LockPixels()[11], 0);
  copy.UnlockPixels();
  EXPECT_EQ(copy.Allocate({0x7FFFFFF, 0x7FFFFFF}), 1);
  EXPECT_EQ(copy.GetWidth(), 0);
}

// Every lossless writer of the table saves and loads back the same pixels by extension.
TEST(RGBImage, SaveLoadRoundTrips) {
  qrvtest::TempDir dir;
  const auto px = Gradient(7, 5);
  CRGBImage img;
  ASSERT_EQ(img.Create(px.data(), 7, 5), 0);
  const struct {
    const char* name;
    int code;
  } cases[] = {{"a.png", IFF_PNG}, {"a.bmp", IFF_BMP}, {"a.pcx", IFF_PCX}, {"a.tga", IFF_TGA}, {"a.psd", IFF_PSD}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    ASSERT_EQ(img.Save(path, c.code), 0);
    CRGBImage back;
    ASSERT_EQ(back.Load(path), 0);
    ASSERT_EQ(back.GetSize(), std::make_pair(7, 5));
    const BYTE* p = back.LockPixels();
    EXPECT_EQ(std::vector<BYTE>(p, p + px.size()), px);
    back.UnlockPixels();
  }
  // Grey writers: one grey level per pixel, read back as equal R, G, B.
  const std::string grey = dir.File("g.bmp");
  ASSERT_EQ(img.Save(grey, IFF_BMP_GREY), 0);
  CRGBImage back;
  ASSERT_EQ(back.Load(grey), 0);
  const BYTE* p = back.LockPixels();
  for (size_t i = 0; i < px.size(); i += 3) {
    const int expect = (601 * px[i + 1] + 306 * px[i] + 117 * px[i + 2]) >> 10;
    ASSERT_EQ(p[i], expect);
    ASSERT_EQ(p[i + 1], expect);
  }
  back.UnlockPixels();
}

TEST(RGBImage, FailedLoadsLeaveAnEmptyPicture) {
  qrvtest::TempDir dir;
  CRGBImage img;
  EXPECT_NE(img.Load(dir.File("missing.jpg")), 0);
  EXPECT_EQ(img.GetWidth(), 0);
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("empty.png"), {}));
  EXPECT_NE(img.Load(dir.File("empty.png")), 0);
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("trunc.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0x00}));
  EXPECT_NE(img.Load(dir.File("trunc.jpg")), 0);
  EXPECT_EQ(img.GetWidth(), 0);
  // An unlisted extension goes to the RAW decoder, which decodes nothing; content detection
  // then finds no reader: an empty picture with no error.
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("x.cr2"), {1, 2, 3, 4}));
  EXPECT_EQ(img.Load(dir.File("x.cr2")), 0);
  EXPECT_EQ(img.GetWidth(), 0);
  EXPECT_NE(img.Save(dir.File("out.png"), IFF_PNG), 0);  // no pixels: error 5
}

TEST(RGBImage, JpegKeepsCommentAndLastExifMarker) {
  QRV_REQUIRE_TESTDATA("jpeg/exif/Canon_40D.jpg");
  CRGBImage img;
  ASSERT_EQ(img.Load(qrvtest::TestDataFile("jpeg/exif/Canon_40D.jpg")), 0);
  EXPECT_GT(img.GetWidth(), 0);
  const auto& exif = img.ExifBlock();
  ASSERT_GE(exif.size(), 9u);
  EXPECT_EQ(std::string(exif.begin() + 4, exif.begin() + 8), "Exif");
  QRV_REQUIRE_TESTDATA("png");
  // A PNG read after it has no EXIF block of its own; the picture object keeps its JPEG data
  // only from JPEG reads.
}
