// Quarter and half turns, flips, mirrors and row copies: hand-worked small images, a plain
// per-pixel reference, the stop rules and, where ImageMagick is installed, a real picture.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/core/ISRotate.h"
#include "qrv/imaging.h"
#include "support/pictures.h"
#include "support/progress_recorder.h"
#include "support/test_support.h"

using qrvtest::ProgressRecorder;
using qrvtest::RandomBytes;

namespace {

// Reference turn of a w x h image of n-byte pixels (packed rows) by destination coordinates.
std::vector<uint8_t> RefTurn(const std::vector<uint8_t>& s, uint32_t w, uint32_t h, uint32_t n, uint32_t mode) {
  const uint32_t dw = mode == 1 ? w : h;
  std::vector<uint8_t> d(s.size());
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint32_t col = mode == 0 ? h - 1 - y : mode == 1 ? w - 1 - x : y;
      uint32_t row = mode == 0 ? x : mode == 1 ? h - 1 - y : w - 1 - x;
      std::memcpy(&d[(size_t(row) * dw + col) * n], &s[(size_t(y) * w + x) * n], n);
    }
  return d;
}

bool GetBit(const uint8_t* img, uint32_t rowBytes, uint32_t x, uint32_t y) {
  return (img[y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
}

}  // namespace

TEST(Rotate8, ThreeByTwoByHandInEveryMode) {
  // 3 x 2, one byte per pixel:  1 2 3 / 4 5 6
  const uint8_t src[6] = {1, 2, 3, 4, 5, 6};
  const uint8_t cw[6] = {4, 1, 5, 2, 6, 3};   // 2 wide, 3 tall
  const uint8_t half[6] = {6, 5, 4, 3, 2, 1};
  const uint8_t ccw[6] = {3, 6, 2, 5, 1, 4};
  const uint8_t* want[3] = {cw, half, ccw};
  for (uint32_t mode = 0; mode < 3; ++mode) {
    uint8_t dst[6] = {};
    ISErrorCode e = 99;
    ASSERT_TRUE(Rotate8(e, src, 3, 2, 3, dst, mode == 1 ? 3 : 2, mode, 1));
    EXPECT_EQ(e, 0u);
    EXPECT_EQ(0, std::memcmp(dst, want[mode], 6)) << "mode " << mode;
  }
}

TEST(Rotate8, MatchesReferenceWithPaddedStridesAndRestores) {
  const uint32_t w = 7, h = 5;
  for (uint32_t n : {1u, 2u, 3u, 4u, 6u}) {
    auto src = RandomBytes(size_t(w) * h * n, n);
    // Padded source rows: 5 spare bytes that must never be read into the result.
    std::vector<uint8_t> padded(size_t(h) * (w * n + 5), 0xEE);
    for (uint32_t y = 0; y < h; ++y) std::memcpy(&padded[y * (w * n + 5)], &src[y * w * n], w * n);
    for (uint32_t mode = 0; mode < 3; ++mode) {
      const uint32_t dw = mode == 1 ? w : h, dh = mode == 1 ? h : w;
      std::vector<uint8_t> dst(size_t(dh) * (dw * n + 3), 0x55);
      ISErrorCode e = 0;
      ASSERT_TRUE(Rotate8(e, padded.data(), w, h, w * n + 5, dst.data(), dw * n + 3, mode, n));
      auto ref = RefTurn(src, w, h, n, mode);
      for (uint32_t y = 0; y < dh; ++y) {
        EXPECT_EQ(0, std::memcmp(&dst[y * (dw * n + 3)], &ref[y * dw * n], dw * n)) << n << " " << mode;
        EXPECT_EQ(dst[y * (dw * n + 3) + dw * n], 0x55);  // destination padding untouched
      }
    }
    // In place: clockwise then counter-clockwise restores; two half turns restore.
    auto buf = src;
    ISErrorCode e = 0;
    ASSERT_TRUE(Rotate8InPlace(e, buf.data(), w, h, 0, n));
    EXPECT_EQ(buf, RefTurn(src, w, h, n, 0));
    ASSERT_TRUE(Rotate8InPlace(e, buf.data(), h, w, 2, n));
    EXPECT_EQ(buf, src);
    ASSERT_TRUE(Rotate8InPlace(e, buf.data(), w, h, 1, n));
    EXPECT_EQ(buf, RefTurn(src, w, h, n, 1));
  }
}

TEST(Rotate16, StridesCountSamples) {
  // 2 x 2 pixels of two 16-bit samples; source stride 5 samples, destination stride 4.
  const uint16_t src[10] = {0x101, 0x102, 0x201, 0x202, 9, 0x301, 0x302, 0x401, 0x402, 9};
  uint16_t dst[8] = {};
  ISErrorCode e = 0;
  ASSERT_TRUE(Rotate16(e, src, 2, 2, 5, dst, 4, 0, 2));
  const uint16_t cw[8] = {0x301, 0x302, 0x101, 0x102, 0x401, 0x402, 0x201, 0x202};
  EXPECT_EQ(0, std::memcmp(dst, cw, sizeof dst));

  std::vector<uint16_t> buf = {1, 2, 3, 4, 5, 6};  // 3 x 1, one sample each
  ASSERT_TRUE(Rotate16InPlace(e, buf.data(), 3, 1, 2, 1));
  EXPECT_EQ(buf, (std::vector<uint16_t>{3, 2, 1, 4, 5, 6}));
  std::vector<uint16_t> two = {1, 2, 3, 4, 5, 6};  // 3 x 2 half turn
  ASSERT_TRUE(Rotate16InPlace(e, two.data(), 3, 2, 1, 1));
  EXPECT_EQ(two, (std::vector<uint16_t>{6, 5, 4, 3, 2, 1}));
}

TEST(Rotate8, BadArgumentsAndDegenerateSizes) {
  uint8_t a[4] = {1, 2, 3, 4}, b[4] = {};
  ISErrorCode e = 0;
  EXPECT_FALSE(Rotate8(e, nullptr, 2, 2, 2, b, 2, 0, 1));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_FALSE(Rotate8(e, a, 2, 2, 2, nullptr, 2, 0, 1));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_FALSE(Rotate8(e, a, 2, 2, 2, b, 2, 3, 1));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_FALSE(Rotate8InPlace(e, a, 2, 2, 3, 1));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_FALSE(Rotate8InPlace(e, nullptr, 2, 2, 0, 1));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  // 1 x 1 is its own turn; a zero-area image has nothing to turn.
  uint8_t one[3] = {7, 8, 9};
  for (uint32_t mode = 0; mode < 3; ++mode) {
    ASSERT_TRUE(Rotate8InPlace(e, one, 1, 1, mode, 3));
    EXPECT_EQ(one[0], 7);
    EXPECT_EQ(one[2], 9);
  }
  EXPECT_TRUE(Rotate8InPlace(e, a, 0, 5, 0, 3));
  // An absurd size is refused as out of memory, not attempted.
  EXPECT_FALSE(Rotate8InPlace(e, a, 0x10000, 0x10000, 0, 4));
  EXPECT_EQ(e, IS_ERR_NOMEM);
  // A half turn of one row is a mirror.
  uint8_t row[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(Rotate8InPlace(e, row, 2, 1, 1, 3));
  EXPECT_EQ(0, std::memcmp(row, "\4\5\6\1\2\3", 6));
}

TEST(Rotate8, ProgressAndStopRules) {
  auto src = RandomBytes(12, 1);
  std::vector<uint8_t> dst(12);
  {
    // Called at depth 0 (no entry point around it) nothing reports.
    ProgressRecorder neg(-1);
    ISErrorCode e = 0;
    EXPECT_TRUE(Rotate8(e, src.data(), 4, 3, 4, dst.data(), 3, 0, 1));
    EXPECT_TRUE(neg.calls.empty());
  }
  // One level, as under an entry point: the counter-clockwise turn goes on after a negative
  // reply; the others stop.
  ISThreadState* ts = GetThreadState();
  ts->callDepth = 1;
  {
    ProgressRecorder neg(-1);
    ISErrorCode e = 0;
    EXPECT_TRUE(Rotate8(e, src.data(), 4, 3, 4, dst.data(), 3, 2, 1));
    EXPECT_EQ(neg.calls.size(), 3u);
    EXPECT_EQ(neg.calls[2], std::make_pair(DWORD(2), DWORD(3)));
    EXPECT_FALSE(Rotate8(e, src.data(), 4, 3, 4, dst.data(), 3, 0, 1));
    EXPECT_EQ(e, IS_ERR_STOPPED);
    EXPECT_EQ(neg.calls.size(), 4u);
  }
  {
    // The in-place turn runs its steps nested: silent, and never stopped by them.
    ProgressRecorder stop(0);
    auto buf = src;
    ISErrorCode e = 0;
    EXPECT_TRUE(Rotate8InPlace(e, buf.data(), 4, 3, 0, 1));
    EXPECT_TRUE(stop.calls.empty());
  }
  ts->callDepth = 0;
  {
    ProgressRecorder rec;
    auto buf = src;
    EXPECT_TRUE(ISRotateImage(buf.data(), 4, 3, 0, 1));
    EXPECT_TRUE(rec.calls.empty());  // the entry's own turn is a step of the in-place rotation
    EXPECT_EQ(buf, RefTurn(src, 4, 3, 1, 0));
    EXPECT_FALSE(ISRotateImage(nullptr, 4, 3, 0, 1));
    EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
    EXPECT_FALSE(ISRotateImage(buf.data(), 4, 3, 7, 1));
    EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  }
}

TEST(Rotate1Bit, MatchesPerPixelTurnAndOrOnlyMode) {
  const uint32_t w = 13, h = 6, srb = 3;
  auto src = RandomBytes(srb * h, 5);
  for (uint32_t mode = 0; mode < 3; ++mode) {
    const uint32_t dw = mode == 1 ? w : h, dh = mode == 1 ? h : w;
    const uint32_t drb = (dw + 7) / 8 + 1;
    std::vector<uint8_t> dst(drb * dh, 0xFF);
    ISErrorCode e = 0;
    ASSERT_TRUE(Rotate1Bit(e, src.data(), dst.data(), w, h, mode, srb, drb));
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        uint32_t col = mode == 0 ? h - 1 - y : mode == 1 ? w - 1 - x : y;
        uint32_t row = mode == 0 ? x : mode == 1 ? h - 1 - y : w - 1 - x;
        ASSERT_EQ(GetBit(dst.data(), drb, col, row), GetBit(src.data(), srb, x, y)) << mode;
      }
    // Bits past the picture's width keep what they held.
    EXPECT_EQ(dst[drb - 1], 0xFF);
  }
  // Bit 3: only set bits are ORed in, so a destination that was not cleared keeps its bits.
  const uint8_t one[1] = {0x80};  // 2 x 1: pixel 0 set, pixel 1 clear
  uint8_t dst[1] = {0x40};
  ISErrorCode e = 0;
  ASSERT_TRUE(Rotate1Bit(e, one, dst, 2, 1, 1 | kRotate1BitDestinationCleared, 1, 1));
  EXPECT_EQ(dst[0], 0x40);  // pixel 1 <- set source pixel 0; pixel 0 keeps its old clear
  dst[0] = 0x80;
  ASSERT_TRUE(Rotate1Bit(e, one, dst, 2, 1, 1 | kRotate1BitDestinationCleared, 1, 1));
  EXPECT_EQ(dst[0], 0xC0);
  ASSERT_TRUE(Rotate1Bit(e, one, dst, 2, 1, 1, 1, 1));
  EXPECT_EQ(dst[0], 0x40);
  EXPECT_FALSE(Rotate1Bit(e, one, dst, 2, 1, 3, 1, 1));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_FALSE(Rotate1Bit(e, dst, dst, 2, 1, 0, 1, 1));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
}

TEST(FlipAndMirror, SmallImagesByHand) {
  ISErrorCode e = 0;
  // Odd height: rows 0 and 2 exchanged, the middle row stays; progress (2i, height).
  uint8_t rows[9] = {1, 1, 9, 2, 2, 9, 3, 3, 9};
  GetThreadState()->callDepth = 1;
  {
    ProgressRecorder rec;
    ASSERT_TRUE(FlipVertical(e, rows, 3, 3));
    ASSERT_EQ(rec.calls.size(), 2u);
    EXPECT_EQ(rec.calls[1], std::make_pair(DWORD(2), DWORD(3)));
  }
  GetThreadState()->callDepth = 0;
  EXPECT_EQ(0, std::memcmp(rows, "\3\3\11\2\2\11\1\1\11", 9));
  EXPECT_TRUE(ISFlipVertical(rows, 3, 0));
  EXPECT_FALSE(ISFlipVertical(nullptr, 3, 3));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);

  // Mirror of 3 two-byte pixels in a 7-byte row: the spare byte is left alone.
  uint8_t px[14] = {1, 2, 3, 4, 5, 6, 0xAA, 7, 8, 9, 10, 11, 12, 0xBB};
  ASSERT_TRUE(ISFlipHorizontal(px, 3, 2, 2, 7));
  const uint8_t want[14] = {5, 6, 3, 4, 1, 2, 0xAA, 11, 12, 9, 10, 7, 8, 0xBB};
  EXPECT_EQ(0, std::memcmp(px, want, 14));
  EXPECT_FALSE(ISFlipHorizontal(nullptr, 3, 2, 2, 7));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);

  uint16_t w16[6] = {1, 2, 3, 4, 99, 98};  // 2 pixels of 2 samples, stride 3
  ASSERT_TRUE(MirrorHorizontal16(e, w16, 1, 2, 2, 3));
  ASSERT_TRUE(MirrorHorizontal16(e, w16, 2, 1, 1, 3));
  EXPECT_EQ(w16[0], 2);
  EXPECT_EQ(w16[1], 1);
  EXPECT_EQ(w16[2], 3);
}

TEST(FlipAndMirror, OneBitRowsAndBitShift) {
  // 10 pixels in 2 bytes (6 padding bits): pixel 9 comes to the first byte's top bit and
  // pixel 0 to bit 6 of the second byte, whose 6 low bits become 0.
  uint8_t row[2] = {0x80, 0x7F};  // pixel 0 set, pixel 9 set, padding bits set
  row[1] = 0x40 | 0x3F;           // pixel 9 = bit 6 of byte 1
  ISErrorCode e = 0;
  ASSERT_TRUE(MirrorHorizontal1Bit(e, row, 10, 1, 2));
  EXPECT_EQ(row[0], 0x80);
  EXPECT_EQ(row[1], 0x40);
  // A full random picture against per-pixel mirroring.
  auto img = RandomBytes(3 * 4, 11);
  auto copy = img;
  ASSERT_TRUE(MirrorHorizontal1Bit(e, img.data(), 19, 4, 3));
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 19; ++x) ASSERT_EQ(GetBit(img.data(), 3, x, y), GetBit(copy.data(), 3, 18 - x, y));
  EXPECT_TRUE(MirrorHorizontal1Bit(e, nullptr, 0, 4, 3));
  EXPECT_FALSE(MirrorHorizontal1Bit(e, nullptr, 5, 4, 3));
  EXPECT_EQ(e, IS_ERR_BADPARAM);

  uint8_t bits[3] = {0x81, 0xC3, 0xFF};
  EXPECT_EQ(ShiftRowBitsLeft(bits, 3, 3), 1);
  EXPECT_EQ(bits[0], 0x0E);  // 1000 0001 1100... << 3
  EXPECT_EQ(bits[1], 0x1F);
  EXPECT_EQ(bits[2], 0xF8);
}

TEST(CopyRows, LesserRowBytesAndBottomUpRows) {
  const uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t dst[9];
  std::memset(dst, 0xEE, sizeof dst);
  ISErrorCode e = 0;
  ASSERT_TRUE(CopyRows(e, src, 4, 2, 3, dst));  // 3 bytes of each 4-byte row
  EXPECT_EQ(0, std::memcmp(dst, "\1\2\3\5\6\7\xEE", 7));
  EXPECT_FALSE(CopyRows(e, nullptr, 4, 2, 3, dst));
  EXPECT_EQ(e, IS_ERR_BADPARAM);

  // 1 x 2 RGB pixels into 4-byte rows, last row first; swapped unless the order is kept.
  const uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
  uint8_t dib[8] = {};
  EXPECT_EQ(RGB24ToBottomUpRows(rgb, dib, 1, 2, 4, false), 0u);
  EXPECT_EQ(0, std::memcmp(dib, "\6\5\4\0\3\2\1\0", 8));
  EXPECT_EQ(RGB24ToBottomUpRows(rgb, dib, 1, 2, 4, true), 0u);
  EXPECT_EQ(0, std::memcmp(dib, "\4\5\6\0\1\2\3\0", 8));
  EXPECT_EQ(RGB24ToBottomUpRows(rgb, dib, 0, 2, 4, true), IS_ERR_BADPARAM);
  EXPECT_EQ(RGB24ToBottomUpRows(nullptr, dib, 1, 2, 4, true), IS_ERR_BADPARAM);
}

TEST(Rotate8, AgreesWithImageMagickOnARealPicture) {
  QRV_REQUIRE_TESTDATA("tiff/hopper.tif");
  const std::string convert = qrvtest::MagickConvert();
  if (convert.empty()) GTEST_SKIP() << "reference tool missing: /usr/bin/convert";
  qrvtest::TempDir dir;
  const std::string in = dir.File("in.ppm");
  const std::string src = qrvtest::TestDataFile("tiff/hopper.tif");
  int status = 0;
  qrvtest::RunCommand(convert + " '" + src + "[0]' -depth 8 " + in, &status);
  ASSERT_EQ(status, 0);
  qrvtest::PNM pic;
  ASSERT_TRUE(qrvtest::ReadPNM(in, pic) && pic.comps == 3);
  struct Case { const char* op; int kind; };
  for (const Case& c : {Case{"-rotate 90", 0}, Case{"-rotate 180", 1}, Case{"-rotate 270", 2},
                        Case{"-flip", 3}, Case{"-flop", 4}}) {
    const std::string out = dir.File("out.ppm");
    qrvtest::RunCommand(convert + " " + in + " " + c.op + " " + out, &status);
    ASSERT_EQ(status, 0);
    qrvtest::PNM ref;
    ASSERT_TRUE(qrvtest::ReadPNM(out, ref));
    auto buf = pic.pixels;
    const uint32_t w = pic.width, h = pic.height;
    if (c.kind < 3) {
      ASSERT_TRUE(ISRotateImage(buf.data(), w, h, c.kind, 3));
    } else if (c.kind == 3) {
      ASSERT_TRUE(ISFlipVertical(buf.data(), w * 3, h));
    } else {
      ASSERT_TRUE(ISFlipHorizontal(buf.data(), w, h, 3, w * 3));
    }
    EXPECT_EQ(buf, ref.pixels) << c.op;
  }
}
