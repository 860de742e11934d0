// Truncated and corrupt JPEG streams: every cut and every flipped byte gives a whole picture
// or the reader's error code, never a crash, a hang or a partly decoded picture.
#include <gtest/gtest.h>

#include "jpeg_test_util.h"

namespace {

using jpegtest::Bytes;
using jpegtest::ReadJPG;

// Every 97th cut: before the first scan header the header is incomplete (9); once an eighth of
// the scan data is there the missing data is supplied by libjpeg and the whole picture comes
// back (with less, the data may be too little for the picture: 9). A cut in the scan header's
// last bytes may still pass (libjpeg only warns about their values).
void CheckCuts(const Bytes& jpeg, const std::string& what, bool singleScan) {
  const size_t scan = jpegtest::ScanDataOffset(jpeg);
  ASSERT_GT(scan, 0u) << what;
  for (size_t cut = 1; cut < jpeg.size(); cut += 97) {
    Bytes part(jpeg.begin(), jpeg.begin() + static_cast<long>(cut));
    auto r = ReadJPG(part, 24);
    const size_t scanHeader = 16;  // the largest: marker, length, count, 4 components, 3 bytes
    if (cut + scanHeader < scan) {
      EXPECT_FALSE(r.ok) << what << " cut " << cut;
      EXPECT_EQ(r.error, IS_ERR_BADJPEG) << what << " cut " << cut;
    } else if (singleScan && cut >= scan + (jpeg.size() - scan) / 8) {
      EXPECT_TRUE(r.ok) << what << " cut " << cut << " error " << r.error;
      EXPECT_EQ(r.error, IS_ERR_OK) << what << " cut " << cut;
      // The caller can tell: libjpeg's own words stay behind for ISGetLastWarning.
      EXPECT_EQ(r.warning, "Premature end of JPEG file") << what << " cut " << cut;
    } else if (!r.ok) {
      EXPECT_EQ(r.error, IS_ERR_BADJPEG) << what << " cut " << cut;
    }
    if (r.ok) {
      EXPECT_EQ(r.image.size(), size_t{r.width} * r.height * 3) << what << " cut " << cut;
    }
  }
  EXPECT_EQ(ReadJPG(jpeg, 24).warning, "") << what;
}

// Flips bytes at `step` intervals between `from` and `to`; each read either succeeds whole or
// fails with 9 (header, set-up) or 3 (rows) and hands out nothing.
void CheckFlips(const Bytes& jpeg, size_t from, size_t to, size_t step, const std::string& what) {
  for (size_t at = from; at < to && at < jpeg.size(); at += step) {
    for (uint8_t mask : {uint8_t{0xFF}, uint8_t{0x01}, uint8_t{0x80}}) {
      Bytes bad = jpeg;
      bad[at] ^= mask;
      auto r = ReadJPG(bad, 24);
      if (r.ok) {
        EXPECT_TRUE(r.error == IS_ERR_OK || r.error == IS_ERR_READ) << what << " at " << at;
        EXPECT_EQ(r.image.size(), size_t{r.width} * r.height * 3) << what << " at " << at;
      } else {
        EXPECT_TRUE(r.error == IS_ERR_BADJPEG || r.error == IS_ERR_READ || r.error == IS_ERR_NOMEM)
            << what << " at " << at << " error " << r.error;
        EXPECT_TRUE(r.image.empty());
      }
    }
  }
}

TEST(JPGCorrupt, CutsOfRealAndMadePictures) {
  for (const char* rel : {"jpeg/exif/Canon_40D.jpg", "jpeg/exif/Fujifilm_FinePix_E500.jpg",
                          "jpeg/exif/Nikon_D70.jpg"}) {
    if (qrvtest::TestDataFile(rel).empty()) continue;
    CheckCuts(qrvtest::ReadFileBytes(qrvtest::TestDataFile(rel)), rel, true);
  }
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes rgb = jpegtest::MakePicture(96, 64, 3);
  CheckCuts(jpegtest::Cjpeg(rgb, 96, 64, 3, "-restart 1"), "restart", true);
  CheckCuts(jpegtest::Cjpeg(rgb, 96, 64, 3, "-arithmetic"), "arithmetic", true);
  CheckCuts(jpegtest::Cjpeg(rgb, 96, 64, 3, "-progressive"), "progressive", false);
}

TEST(JPGCorrupt, FlippedHeaderAndEntropyBytes) {
  QRV_REQUIRE_TOOL("cjpeg");
  const Bytes rgb = jpegtest::MakePicture(96, 64, 3);
  for (const char* args : {"-quality 80", "-progressive", "-arithmetic -restart 1"}) {
    const Bytes jpeg = jpegtest::Cjpeg(rgb, 96, 64, 3, args);
    const size_t scan = jpegtest::ScanDataOffset(jpeg);
    ASSERT_GT(scan, 0u);
    CheckFlips(jpeg, 2, scan, 1, std::string(args) + " header");
    CheckFlips(jpeg, scan, jpeg.size(), 13, std::string(args) + " data");
  }
  const char* rel = "jpeg/exif/Nikon_D70.jpg";
  if (qrvtest::TestDataFile(rel).empty()) return;
  const Bytes real = qrvtest::ReadFileBytes(qrvtest::TestDataFile(rel));
  CheckFlips(real, 2, real.size(), 29, rel);
}

// Headers that claim absurd sizes are refused before any large allocation.
TEST(JPGCorrupt, AbsurdFrameSizes) {
  QRV_REQUIRE_TOOL("cjpeg");
  Bytes jpeg = jpegtest::Cjpeg(jpegtest::MakePicture(16, 16, 3), 16, 16, 3, "-progressive");
  size_t sof = 0;
  for (size_t i = 2; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC2 || jpeg[i + 1] == 0xC0)) {
      sof = i;
      break;
    }
  ASSERT_GT(sof, 0u);
  // 65500 x 65500: the picture (about 12 GB) is over the allocation limit: 1, or libjpeg's
  // whole-image buffers are refused first: 9.
  jpeg[sof + 5] = 0xFF, jpeg[sof + 6] = 0xDC, jpeg[sof + 7] = 0xFF, jpeg[sof + 8] = 0xDC;
  auto r = ReadJPG(jpeg, 24);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.error == IS_ERR_NOMEM || r.error == IS_ERR_BADJPEG) << r.error;
  // 23000 x 23000 over a few hundred bytes cannot be coded in them: 9 at once, before libjpeg
  // sizes its whole-image buffers or the picture.
  jpeg[sof + 5] = 0x59, jpeg[sof + 6] = 0xD8, jpeg[sof + 7] = 0x59, jpeg[sof + 8] = 0xD8;
  r = ReadJPG(jpeg, 24);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, IS_ERR_BADJPEG);
  // Height 0 is not a picture.
  jpeg[sof + 5] = 0, jpeg[sof + 6] = 0;
  r = ReadJPG(jpeg, 24);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, IS_ERR_BADJPEG);
}

}  // namespace
