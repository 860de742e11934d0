// Crop, paste and fill, each checked against a slow per-pixel reference and for clipping.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "imaging/core/ISPixelHelpers.h"

namespace {

std::vector<BYTE> Noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<BYTE> v(n);
  for (auto& b : v) b = static_cast<BYTE>(rng());
  return v;
}

}  // namespace

TEST(RectOps, CropCopiesAndRefusesRectanglesOutside) {
  ISErrorCode err = 0;
  const DWORD w = 5, h = 4, bpp = 3, stride = 16;
  const auto src = Noise(stride * h, 1);
  std::vector<BYTE> dst(2 * 6 + 1, 0xAA);
  ASSERT_TRUE(CropRect(err, src.data(), dst.data(), w, h, bpp, 3, 2, 2, 2, stride, 6));
  for (int r = 0; r < 2; ++r)
    for (int i = 0; i < 6; ++i) EXPECT_EQ(dst[r * 6 + i], src[(2 + r) * stride + 9 + i]);
  EXPECT_EQ(dst.back(), 0xAA);

  struct Bad {
    LONG x, y;
    DWORD rw, rh, srcStride, dstStride;
  } bad[] = {{5, 0, 1, 1, stride, 6}, {0, 4, 1, 1, stride, 6}, {4, 0, 2, 1, stride, 6}, {0, 3, 1, 2, stride, 6},
             {-1, 0, 1, 1, stride, 6}, {0, 0, 6, 1, stride, 18}, {0, 0, 1, 1, 14, 6}, {0, 0, 3, 1, stride, 8}};
  for (const Bad& b : bad) {
    err = 0;
    EXPECT_FALSE(CropRect(err, src.data(), dst.data(), w, h, bpp, b.x, b.y, b.rw, b.rh, b.srcStride, b.dstStride));
    EXPECT_EQ(err, IS_ERR_BADPARAM);
  }
  err = 0;
  EXPECT_FALSE(CropRect(err, src.data(), const_cast<BYTE*>(src.data()), w, h, bpp, 0, 0, 1, 1, stride, 6));
}

TEST(RectOps, PasteClipsCopiesAndBlends) {
  ISErrorCode err = 0;
  // Destination 4 x 3 of one byte per pixel; source 3 x 2 placed at (-1, 2): only source
  // columns 1..2 of source row 0 land, in destination row 2, columns 0..1.
  std::vector<BYTE> dst(4 * 3, 0);
  const BYTE src[] = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(PasteRect8(err, dst.data(), 4, 3, src, 3, 2, -1, 2, 1.0, 1, 4, 3, 0));
  const BYTE want[] = {0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 0, 0};
  EXPECT_EQ(0, memcmp(dst.data(), want, 12));
  // Bottom-up source rows: the first destination row takes the last source row.
  std::fill(dst.begin(), dst.end(), 0);
  ASSERT_TRUE(PasteRect8(err, dst.data(), 4, 3, src, 3, 2, 1, 0, 2.0, 1, 4, 3, kPasteBottomUp));
  const BYTE wantUp[] = {0, 4, 5, 6, 0, 1, 2, 3, 0, 0, 0, 0};
  EXPECT_EQ(0, memcmp(dst.data(), wantUp, 12));
  // Opacity 0 writes nothing; far outside writes nothing.
  const std::vector<BYTE> before = dst;
  ASSERT_TRUE(PasteRect8(err, dst.data(), 4, 3, src, 3, 2, 0, 0, 0.0, 1, 4, 3, 0));
  ASSERT_TRUE(PasteRect8(err, dst.data(), 4, 3, src, 3, 2, -3, 0, 1.0, 1, 4, 3, 0));
  ASSERT_TRUE(PasteRect8(err, dst.data(), 4, 3, src, 3, 2, 0x7FFFFFFF, 0x7FFFFFFF, 1.0, 1, 4, 3, 0));
  ASSERT_TRUE(PasteRect8(err, dst.data(), 4, 3, src, 3, 2, -0x7FFFFFFF - 1, 0, 1.0, 1, 4, 3, 0));
  EXPECT_EQ(dst, before);

  // Opacity 0.25 on 200 over 100: trunc(0.75 * 100) + trunc(0.25 * 200) = 75 + 50.
  BYTE d2[3] = {100, 100, 100};
  const BYTE s2[3] = {200, 3, 255};
  ASSERT_TRUE(PasteRect8(err, d2, 1, 1, s2, 1, 1, 0, 0, 0.25, 3, 3, 3, 0));
  EXPECT_EQ(d2[0], 125);
  EXPECT_EQ(d2[1], 75);   // 75 + trunc(0.75)
  EXPECT_EQ(d2[2], 138);  // 75 + trunc(63.75)
  uint16_t d16[2] = {40000, 0};
  const uint16_t s16[2] = {20000, 65535};
  ASSERT_TRUE(PasteRect16(err, d16, 1, 1, s16, 1, 1, 0, 0, 0.5, 2, 2, 2, 0));
  EXPECT_EQ(d16[0], 30000);
  EXPECT_EQ(d16[1], 32767);

  EXPECT_FALSE(PasteRect8(err, d2, 1, 1, s2, 1, 1, 0, 0, 1.0, 3, 3, 3, 20));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
  err = 0;
  EXPECT_FALSE(PasteRect8(err, d2, 1, 1, d2, 1, 1, 0, 0, 1.0, 3, 3, 3, 0));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
}

TEST(RectOps, PackedPastesMatchAPerPixelReference) {
  ISErrorCode err = 0;
  const DWORD dw = 21, dh = 7, sw = 13, sh = 5;
  for (int bits : {1, 4}) {
    const DWORD dStride = (dw * bits + 7) / 8 + 1, sStride = (sw * bits + 7) / 8;
    const auto src = Noise(sStride * sh, 3);
    auto get = [bits](const BYTE* row, int64_t x) -> int {
      return bits == 1 ? (row[x >> 3] >> (7 - (x & 7))) & 1 : ((x & 1) ? row[x >> 1] & 15 : row[x >> 1] >> 4);
    };
    for (LONG x : {-9, -8, -3, 0, 1, 8, 10, 16, 20}) {
      for (LONG y : {-2, 0, 3}) {
        for (DWORD flags : {0u, kPaste1BitTransparent, kPaste1BitTransparent | kPaste1BitValue, kPaste1BitBottomUp}) {
          if (bits == 4 && flags) continue;
          auto dst = Noise(dStride * dh, 5);
          const auto orig = dst;
          const bool ok = bits == 1 ? PasteRect1Bit(err, dst.data(), dw, dh, dStride, src.data(), sw, sh, sStride, x, y, flags)
                                    : PasteRect4Bit(err, dst.data(), dw, dh, dStride, src.data(), sw, sh, sStride, x, y, 0);
          ASSERT_TRUE(ok);
          for (DWORD r = 0; r < dh; ++r) {
            for (DWORD c = 0; c < dw; ++c) {
              int want = get(&orig[r * dStride], c);
              const int64_t sx = int64_t(c) - x, sy0 = int64_t(r) - y;
              if (sx >= 0 && sx < sw && sy0 >= 0 && sy0 < sh) {
                const int64_t sy = (flags & kPaste1BitBottomUp) ? sh - 1 - sy0 : sy0;
                const int s = get(&src[sy * sStride], sx);
                const int value = (flags & kPaste1BitValue) ? 1 : 0;
                if (!(flags & kPaste1BitTransparent) || s == value) want = s;
              }
              ASSERT_EQ(get(&dst[r * dStride], c), want) << bits << " " << x << "," << y << " f" << flags;
            }
            // Padding bits beyond the width keep their values.
            if (bits == 1) {
              ASSERT_EQ(dst[r * dStride + dStride - 1], orig[r * dStride + dStride - 1]);
            }
          }
        }
      }
    }
  }
  // Transparent with value 1 ORs the source's set bits in.
  BYTE d = 0x0F;
  const BYTE s = 0xA0;
  ASSERT_TRUE(PasteRect1Bit(err, &d, 8, 1, 1, &s, 8, 1, 1, 0, 0, kPaste1BitTransparent | kPaste1BitValue));
  EXPECT_EQ(d, 0xAF);
}

TEST(RectOps, FillClipsToTheBuffer) {
  ISErrorCode err = 0;
  const DWORD w = 4, h = 3, stride = 13;
  std::vector<BYTE> buf(stride * h, 0);
  ASSERT_TRUE(FillRect(err, buf.data(), w, h, stride, 4, 0, 5, 5, RGB(1, 2, 3), 3, 0));  // right of the image
  ASSERT_TRUE(FillRect(err, buf.data(), w, h, stride, 0, 0, 0, 5, RGB(1, 2, 3), 3, 0));
  EXPECT_EQ(buf, std::vector<BYTE>(stride * h, 0));
  // Negative position: only columns 0..1 of rows 0..1 filled.
  ASSERT_TRUE(FillRect(err, buf.data(), w, h, stride, -2, -1, 4, 3, RGB(1, 2, 3), 3, 0));
  for (DWORD r = 0; r < h; ++r)
    for (DWORD c = 0; c < w; ++c) {
      const bool in = r < 2 && c < 2;
      EXPECT_EQ(buf[r * stride + c * 3], in ? 1 : 0);
      EXPECT_EQ(buf[r * stride + c * 3 + 2], in ? 3 : 0);
    }
  EXPECT_EQ(buf[12], 0);  // row padding untouched
  // B, G, R order and the fourth byte.
  BYTE p4[8] = {};
  ASSERT_TRUE(FillRect(err, p4, 2, 1, 8, 1, 0, 9, 9, RGB(1, 2, 3) | 0x44000000u, 4, 1));
  const BYTE want4[] = {0, 0, 0, 0, 3, 2, 1, 0x44};
  EXPECT_EQ(0, memcmp(p4, want4, 8));
  // One grey value over the whole buffer fills the row padding too.
  ASSERT_TRUE(FillRect(err, buf.data(), w, h, stride, 0, 0, w, h, RGB(9, 9, 9), 3, 0));
  EXPECT_EQ(buf, std::vector<BYTE>(stride * h, 9));
  EXPECT_FALSE(FillRect(err, buf.data(), w, h, stride, 0, 0, 1, 1, 0, 2, 0));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
}
