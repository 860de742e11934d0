// What the scans of a JPEG cost: each scan counts the blocks of its components in the frame
// (and a block for each restart interval), and a read or transform stops at the scan that
// takes the count past its bound. Kinds of JPEG that libjpeg does not decode are refused
// with libjpeg's words for what was met.
#include <gtest/gtest.h>

#include "imaging/formats/jpeg/JPGCommon.h"
#include "jpeg_test_util.h"
#include "../bmp_image_test_util.h"
#include "support/jpeg_encode.h"

namespace {

using jpegtest::Bytes;

using qrvtest::EncodeJPEG;

TEST(JPGScanBlocks, EachScanCountsTheBlocksOfItsComponents) {
  // 64 x 48 is 8 x 6 blocks at full sampling and 4 x 3 at half; 33 x 17 is 5 x 3, and 3 x 3
  // for a component of half the width. libjpeg's progression codes the grey component 6
  // times, and of YCbCr the Y 6 and Cb and Cr 4 times each.
  const Bytes grey = {0x11}, ycc420 = {0x22, 0x11, 0x11}, ycc422 = {0x21, 0x11, 0x11};
  const Bytes ycc444 = {0x11, 0x11, 0x11}, cmyk = {0x11, 0x11, 0x11, 0x11};
  const struct {
    const char* what;
    Bytes jpeg;
    int scans;
    uint64_t blocks;
  } cases[] = {
      {"grey baseline", EncodeJPEG(64, 48, grey, "baseline"), 1, 48},
      {"grey progressive", EncodeJPEG(64, 48, grey, "simple"), 6, 6 * 48},
      {"4:2:0 baseline", EncodeJPEG(64, 48, ycc420, "baseline"), 1, 48 + 2 * 12},
      {"4:2:0 progressive", EncodeJPEG(64, 48, ycc420, "simple"), 10, 6 * 48 + 8 * 12},
      {"4:4:4 odd size", EncodeJPEG(33, 17, ycc444, "baseline"), 1, 3 * 15},
      {"4:2:2 odd size", EncodeJPEG(33, 17, ycc422, "baseline"), 1, 15 + 2 * 9},
      {"CMYK baseline", EncodeJPEG(64, 48, cmyk, "baseline"), 1, 4 * 48},
      {"grey, restart every block", EncodeJPEG(64, 48, grey, "baseline", 0, 1), 1, 48 + 48},
      {"4:2:0, restart every MCU", EncodeJPEG(64, 48, ycc420, "baseline", 0, 1), 1, 72 + 12},
      {"CMYK arithmetic, 20 scans", EncodeJPEG(64, 48, cmyk, "arithmetic", 20), 20, 4 * 48 + 19 * 48},
  };
  for (const auto& c : cases) {
    const jpegtest::ReadResult r = jpegtest::ReadJPG(c.jpeg, 24);
    EXPECT_EQ(r.error, IS_ERR_OK) << c.what;
    EXPECT_EQ(JPGScansDecoded(), c.scans) << c.what;
    EXPECT_EQ(JPGBlocksDecoded(), c.blocks) << c.what;
  }
}

TEST(JPGScanBlocks, TheScanPastTheBoundIsRefused) {
  // A grey frame of 48 blocks coded 40 times over: the 33rd scan would take the count past 32
  // times the frame. A read and a transform stop there; within the bound both go through.
  const Bytes grey = {0x11}, ycc = {0x11, 0x11, 0x11};
  const std::string refused = "JPEG data codes more than 32 times the frame's 48 blocks in its first 33 scans";
  const auto read = [](const Bytes& f) {
    const jpegtest::ReadResult r = jpegtest::ReadJPG(f, 24);
    return std::make_pair(r.error, r.warning);
  };
  const auto transform = [](const Bytes& f) {
    fmttest::MemorySink sink;
    ISIOHandle source = ISOpenMemorySource(f.data(), static_cast<DWORD>(f.size()));
    ISTransformJPG(source, sink.handle, 5, 0, 0, 0, 0);
    const auto outcome = std::make_pair(ISGetLastError(), std::string(ISGetLastWarning()));
    ISCloseSource(source);
    return outcome;
  };
  const struct {
    const char* what;
    Bytes jpeg;
    bool transformed;
    ISErrorCode error;
    std::string warning;
    int scans;
  } cases[] = {
      {"read, 40 scans", EncodeJPEG(64, 48, grey, "arithmetic", 40), false, IS_ERR_BADJPEG, refused, 32},
      {"transform, 40 scans", EncodeJPEG(64, 48, grey, "arithmetic", 40), true, IS_ERR_BADJPEG, refused, 32},
      {"read, 32 scans", EncodeJPEG(64, 48, grey, "arithmetic", 32), false, IS_ERR_OK, "", 32},
      {"transform, 32 scans", EncodeJPEG(64, 48, grey, "arithmetic", 32), true, IS_ERR_OK, "", 32},
      // The Y component alone: 3 x 48 for the DC, 62 scans of 48.
      {"YCbCr, 63 scans", EncodeJPEG(64, 48, ycc, "arithmetic", 63), false, IS_ERR_OK, "", 63},
  };
  for (const auto& c : cases) {
    const auto outcome = c.transformed ? transform(c.jpeg) : read(c.jpeg);
    EXPECT_EQ(outcome, std::make_pair(c.error, c.warning)) << c.what;
    EXPECT_EQ(JPGScansDecoded(), c.scans) << c.what;
  }
}

TEST(JPGRefusals, KindsLibjpegDoesNotDecodeSayWhich) {
  // A baseline stream whose frame header is changed: its marker, its precision or its height.
  const Bytes base = EncodeJPEG(16, 16, {0x11}, "baseline");
  size_t sof = 0;
  for (size_t i = 2; i + 9 < base.size() && !sof; ++i)
    if (base[i] == 0xFF && base[i + 1] == 0xC0) sof = i;
  ASSERT_GT(sof, 0u);
  const auto with = [&](size_t at, uint8_t value) {
    Bytes b = base;
    b[sof + at] = value;
    return b;
  };
  const struct {
    const char* what;
    Bytes jpeg;
    std::string warning;
  } cases[] = {
      {"lossless", with(1, 0xC3), "Unsupported JPEG process: SOF type 0xc3"},
      {"hierarchical", with(1, 0xC5), "Unsupported JPEG process: SOF type 0xc5"},
      {"lossless arithmetic", with(1, 0xCB), "Unsupported JPEG process: SOF type 0xcb"},
      {"12-bit", with(4, 12), "Unsupported JPEG data precision 12"},
      {"16-bit", with(4, 16), "Unsupported JPEG data precision 16"},
      {"height from a DNL marker", with(6, 0), "Empty JPEG image (DNL not supported)"},
  };
  for (const auto& c : cases) {
    const jpegtest::ReadResult r = jpegtest::ReadJPG(c.jpeg, 24);
    EXPECT_EQ(std::make_pair(r.error, r.warning), std::make_pair(IS_ERR_BADJPEG, c.warning)) << c.what;
    ISIOHandle source = ISOpenMemorySource(c.jpeg.data(), static_cast<DWORD>(c.jpeg.size()));
    DWORD w = 0, h = 0;
    EXPECT_FALSE(ISGetJPGInfo(source, &w, &h, nullptr, nullptr, nullptr, nullptr)) << c.what;
    EXPECT_EQ(std::string(ISGetLastWarning()), c.warning) << c.what;
    ISCloseSource(source);
  }
}

}  // namespace
