// Red/blue swaps, grey, palette expansion, row unpacking and packing.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "imaging/core/ISPixelHelpers.h"
#include "imaging/core/ISThreadState.h"
#include "support/progress_recorder.h"

namespace {

RGBQUAD Q(BYTE r, BYTE g, BYTE b) { return RGBQUAD{b, g, r, 0}; }

// Reads sample i of a most-significant-first bit stream, the slow way.
unsigned StreamSample(const std::vector<BYTE>& s, uint64_t i, unsigned bits) {
  unsigned v = 0;
  for (unsigned k = 0; k < bits; ++k) {
    const uint64_t bit = i * bits + k;
    v = (v << 1) | ((s[bit / 8] >> (7 - bit % 8)) & 1);
  }
  return v;
}

}  // namespace

TEST(PixelHelpers, GreyOfWhiteRedAndSwappedOrder) {
  ISErrorCode err = 0;
  const BYTE px[] = {255, 255, 255, 255, 0, 0, 0, 0, 255, 10, 20, 30};
  BYTE grey[4] = {};
  ASSERT_TRUE(RGBToGrey(err, px, 4, 1, 3, 12, 4, 0, grey));
  EXPECT_EQ(grey[0], 255);
  EXPECT_EQ(grey[1], 76);  // (306 * 255) >> 10
  EXPECT_EQ(grey[2], (117 * 255) >> 10);
  EXPECT_EQ(grey[3], (601 * 20 + 306 * 10 + 117 * 30) >> 10);
  ASSERT_TRUE(RGBToGrey(err, px, 4, 1, 3, 12, 4, 1, grey));  // B, G, R pixels
  EXPECT_EQ(grey[1], (117 * 255) >> 10);
  EXPECT_EQ(grey[2], 76);

  // 4-byte pixels skip the fourth byte; rows are strided.
  const BYTE px4[] = {255, 0, 0, 9, 0xEE, 0, 0, 255, 9, 0xEE};
  ASSERT_TRUE(RGBToGrey(err, px4, 1, 2, 4, 5, 2, 0, grey));
  EXPECT_EQ(grey[0], 76);
  EXPECT_EQ(grey[2], (117 * 255) >> 10);

  EXPECT_FALSE(RGBToGrey(err, px, 1, 1, 2, 3, 1, 0, grey));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
  err = 0;
  EXPECT_FALSE(RGBToGrey(err, nullptr, 1, 1, 3, 3, 1, 0, grey));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
}

TEST(PixelHelpers, SwapsExchangeFirstAndThirdSample) {
  ISErrorCode err = 0;
  BYTE a[] = {1, 2, 3, 4, 5, 6, 99, 7, 8, 9, 10, 11, 12, 99};  // 2 x 2, row bytes 7
  ASSERT_TRUE(SwapRB24(err, a, 2, 2, 7));
  const BYTE a2[] = {3, 2, 1, 6, 5, 4, 99, 9, 8, 7, 12, 11, 10, 99};
  EXPECT_EQ(0, memcmp(a, a2, sizeof a));
  BYTE b[] = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(SwapRB32(err, b, 2, 1, 8));
  const BYTE b2[] = {3, 2, 1, 4, 7, 6, 5, 8};
  EXPECT_EQ(0, memcmp(b, b2, sizeof b));
  uint16_t c[] = {1000, 2000, 3000, 77};
  ASSERT_TRUE(SwapRB48(err, c, 1, 1, 4));
  EXPECT_EQ(c[0], 3000);
  EXPECT_EQ(c[2], 1000);
  BYTE d[] = {1, 2, 3, 4, 5, 6};
  SwapRB24Run(d, 1, 2);
  const BYTE d2[] = {3, 2, 1, 6, 5, 4};
  EXPECT_EQ(0, memcmp(d, d2, sizeof d));
  SwapRB32Run(b, 2, 1);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[6], 7);
  EXPECT_FALSE(SwapRB24(err, nullptr, 1, 1, 3));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
}

TEST(PixelHelpers, PaletteExpansionChecksIndices) {
  ISErrorCode err = 0;
  const RGBQUAD pal[3] = {Q(1, 2, 3), Q(10, 20, 30), Q(100, 110, 120)};
  const BYTE idx[] = {0, 1, 2, 7, 200, 1};  // 3 x 2, row bytes 3
  BYTE rgb[18];
  ASSERT_TRUE(PaletteToRGB(err, idx, rgb, 3, 2, 3, 9, 3, pal, 0));
  const BYTE want[] = {1, 2, 3, 10, 20, 30, 100, 110, 120, 1, 2, 3, 1, 2, 3, 10, 20, 30};
  EXPECT_EQ(0, memcmp(rgb, want, sizeof want));
  ASSERT_TRUE(PaletteToRGB(err, idx, rgb, 1, 1, 3, 3, 3, pal, 1));  // entries in pixel order
  EXPECT_EQ(rgb[0], 3);
  EXPECT_EQ(rgb[2], 1);
  EXPECT_FALSE(PaletteToRGB(err, idx, rgb, 1, 1, 3, 3, 3, nullptr, 0));
  EXPECT_EQ(err, IS_ERR_BADPARAM);

  BYTE rgba[8];
  const BYTE src[] = {1, 2, 3, 4, 5, 6};
  err = 0;
  ASSERT_TRUE(RGB24ToRGBA32(err, src, 2, 1, 6, 8, 0x80, rgba));
  const BYTE wantA[] = {1, 2, 3, 0x80, 4, 5, 6, 0x80};
  EXPECT_EQ(0, memcmp(rgba, wantA, 8));
}

TEST(PixelHelpers, IndexedRowsOfEveryDepth) {
  const RGBQUAD pal[4] = {Q(1, 2, 3), Q(10, 20, 30), Q(100, 110, 120), Q(200, 210, 220)};
  BYTE out[64];
  // 1 bit: 1,0,1 then padding.
  const BYTE row1[] = {0xA0};
  ASSERT_TRUE(IndexedRowToRGB(row1, out, 3, 1, pal, 2, nullptr, false, 0));
  const BYTE w1[] = {10, 20, 30, 1, 2, 3, 10, 20, 30};
  EXPECT_EQ(0, memcmp(out, w1, 9));
  // 4 bit: high nibble first; index 9 is past the 4 entries and reads entry 0.
  const BYTE row4[] = {0x39, 0x20};
  ASSERT_TRUE(IndexedRowToRGB(row4, out, 3, 4, pal, 4, nullptr, true, 0x55));
  const BYTE w4[] = {200, 210, 220, 0x55, 1, 2, 3, 0x55, 100, 110, 120, 0x55};
  EXPECT_EQ(0, memcmp(out, w4, 12));
  // 8 bit, no palette: black.
  const BYTE row8[] = {2, 0};
  ASSERT_TRUE(IndexedRowToRGB(row8, out, 1, 8, pal, 4, nullptr, false, 0));
  EXPECT_EQ(out[0], 100);
  ASSERT_TRUE(IndexedRowToRGB(row8, out, 1, 8, nullptr, 0, nullptr, false, 0));
  EXPECT_EQ(out[0], 0);

  // 16 bit 5-5-5: 31 -> 255, 16 -> 131, 0 -> 0.
  BYTE row16[2];
  WriteLE16(row16, static_cast<WORD>((31 << 10) | (16 << 5) | 0));
  ASSERT_TRUE(IndexedRowToRGB(row16, out, 1, 16, nullptr, 0, nullptr, false, 0));
  EXPECT_EQ(out[0], 255);
  EXPECT_EQ(out[1], 131);
  EXPECT_EQ(out[2], 0);
  // 16 bit 5-6-5 masks: each run's top bit lands on bit 7.
  const DWORD m565[3] = {0xF800, 0x07E0, 0x001F};
  WriteLE16(row16, static_cast<WORD>((31 << 11) | (32 << 5) | 1));
  ASSERT_TRUE(IndexedRowToRGB(row16, out, 1, 16, nullptr, 0, m565, false, 0));
  EXPECT_EQ(out[0], 31 << 3);
  EXPECT_EQ(out[1], 32 << 2);
  EXPECT_EQ(out[2], 1 << 3);

  // 24 bit: B, G, R stored.
  const BYTE row24[] = {3, 2, 1};
  ASSERT_TRUE(IndexedRowToRGB(row24, out, 1, 24, nullptr, 0, nullptr, true, 9));
  const BYTE w24[] = {1, 2, 3, 9};
  EXPECT_EQ(0, memcmp(out, w24, 4));

  // 32 bit without masks: B, G, R, A bytes; with masks R, G, B, x bytes decode through them.
  const BYTE row32[] = {30, 20, 10, 77};
  ASSERT_TRUE(IndexedRowToRGB(row32, out, 1, 32, nullptr, 0, nullptr, true, 0));
  const BYTE w32[] = {10, 20, 30, 77};
  EXPECT_EQ(0, memcmp(out, w32, 4));
  const DWORD mRGBx[3] = {0x000000FF, 0x0000FF00, 0x00FF0000};
  ASSERT_TRUE(IndexedRowToRGB(row32, out, 1, 32, nullptr, 0, mRGBx, false, 0));
  const BYTE wm[] = {30, 20, 10};
  EXPECT_EQ(0, memcmp(out, wm, 3));
  const DWORD m101010[3] = {0x3FF00000, 0x000FFC00, 0x000003FF};
  BYTE row30[4];
  WriteLE32(row30, (1023u << 20) | (512u << 10) | 3u);
  ASSERT_TRUE(IndexedRowToRGB(row30, out, 1, 32, nullptr, 0, m101010, false, 0));
  EXPECT_EQ(out[0], 255);
  EXPECT_EQ(out[1], 128);
  EXPECT_EQ(out[2], 0);

  EXPECT_FALSE(IndexedRowToRGB(row24, out, 1, 2, pal, 4, nullptr, false, 0));

  int shifts[3];
  EXPECT_EQ(ColourMaskShifts(nullptr, shifts), 0);
  const DWORD odd[3] = {0x00F0, 0x0003, 0xFFFF0000};  // the last has no bits in the low 16
  EXPECT_EQ(ColourMaskShifts(odd, shifts), 1);
  EXPECT_EQ(shifts[0], 0);
  EXPECT_EQ(shifts[1], -6);
  EXPECT_EQ(shifts[2], 0);
}

TEST(PixelHelpers, UnpackAndPackEveryDepth) {
  // UnpackRowTo8 for 1, 4 and 8 bits.
  BYTE out[16];
  const BYTE r1[] = {0xB1, 0x80};
  UnpackRowTo8(r1, out, 9, 1);
  const BYTE w1[] = {1, 0, 1, 1, 0, 0, 0, 1, 1};
  EXPECT_EQ(0, memcmp(out, w1, 9));
  const BYTE r4[] = {0xAB, 0xC0};
  UnpackRowTo8(r4, out, 3, 4);
  EXPECT_EQ(out[0], 0xA);
  EXPECT_EQ(out[1], 0xB);
  EXPECT_EQ(out[2], 0xC);

  // Pack2BitTo4Bit: 3,2,1,0, 1 -> 0x32 0x10 0x10 (the last half-byte's low nibble 0).
  const BYTE r2[] = {0xE4, 0x40};
  BYTE p4[3] = {0xFF, 0xFF, 0xFF};
  Pack2BitTo4Bit(r2, p4, 2, 5);
  EXPECT_EQ(p4[0], 0x32);
  EXPECT_EQ(p4[1], 0x10);
  EXPECT_EQ(p4[2], 0x10);

  // UnpackBits with 3 bits: the third sample takes the last two bits of the first byte and the
  // first bit of the second.
  ISErrorCode err = 0;
  const BYTE s3[] = {0b10100111, 0b01000000};
  ASSERT_TRUE(UnpackBits(err, s3, 4, 1, 3, out));
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(out[2], 6);
  EXPECT_EQ(out[3], 4);

  // Every depth: PackRowBits then UnpackBits gives back the low bits, compared with a slow
  // reader of the stream; rows are not padded and a final byte is left-aligned.
  std::mt19937 rng(7);
  for (unsigned bits = 1; bits <= 8; ++bits) {
    const DWORD w = 13, h = 3, stride = 16;
    std::vector<BYTE> src(stride * h);
    for (auto& v : src) v = static_cast<BYTE>(rng());
    std::vector<BYTE> packed((w * h * bits + 7) / 8 + 1, 0xCC);
    ASSERT_TRUE(PackRowBits(err, src.data(), w, h, stride, packed.data(), bits)) << bits;
    const unsigned mask = (1u << bits) - 1;
    for (DWORD y = 0; y < h; ++y)
      for (DWORD x = 0; x < w; ++x)
        ASSERT_EQ(StreamSample(packed, y * w + x, bits), src[y * stride + x] & mask) << bits;
    const uint64_t used = w * h * bits;
    if (used % 8) {
      EXPECT_EQ(packed[used / 8] & ((1u << (8 - used % 8)) - 1), 0u) << bits;
    }
    EXPECT_EQ(packed.back(), 0xCC) << bits;  // nothing written past the stream
    std::vector<BYTE> back(w * h);
    ASSERT_TRUE(UnpackBits(err, packed.data(), w, h, bits, back.data()));
    for (DWORD y = 0; y < h; ++y)
      for (DWORD x = 0; x < w; ++x) ASSERT_EQ(back[y * w + x], src[y * stride + x] & mask) << bits;
  }
  EXPECT_FALSE(UnpackBits(err, s3, 1, 1, 9, out));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
  err = 0;
  EXPECT_FALSE(PackRowBits(err, s3, 1, 1, 1, out, 0));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
}

TEST(PixelHelpers, ProgressStopsOnlyAtTheOuterCall) {
  ISThreadState* ts = GetThreadState();
  ASSERT_NE(ts, nullptr);
  qrvtest::ProgressRecorder stop(0);
  const BYTE px[6] = {1, 2, 3, 4, 5, 6};
  BYTE grey[2];
  ISErrorCode err = 0;
  {
    ISCallDepthGuard outer(ts);  // depth 1: reports, and the reply 0 stops
    EXPECT_FALSE(RGBToGrey(err, px, 1, 2, 3, 3, 1, 0, grey));
    EXPECT_EQ(err, IS_ERR_STOPPED);
    EXPECT_EQ(stop.calls.size(), 1u);
    ISCallDepthGuard inner(ts);  // depth 2: silent
    err = 0;
    EXPECT_TRUE(RGBToGrey(err, px, 1, 2, 3, 3, 1, 0, grey));
    EXPECT_EQ(stop.calls.size(), 1u);
  }
}
