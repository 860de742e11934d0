// Tone adjustments and their entry points, with hand-worked tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "imaging/core/ISPixelHelpers.h"
#include "imaging/core/ISThreadState.h"
#include "qrv/imaging.h"
#include "support/progress_recorder.h"

TEST(ToneOps, GammaTable) {
  std::vector<BYTE> px = {0, 64, 128, 255, 64, 64, 64, 64};  // two 4-byte pixels
  const std::vector<BYTE> orig = px;
  ASSERT_TRUE(ISApplyGamma(px.data(), 2, 1, 4, 8, 1.0, 1));  // gamma 1: identity
  EXPECT_EQ(px, orig);
  ASSERT_TRUE(ISApplyGamma(px.data(), 2, 1, 4, 8, 2.0, 0));
  EXPECT_EQ(px[1], 128);  // 256 * sqrt(64 / 256)
  EXPECT_EQ(px[2], static_cast<BYTE>(256 * std::sqrt(0.5)));
  EXPECT_EQ(px[3], 255);  // fourth byte untouched without flag bit 0
  EXPECT_EQ(px[7], 64);
  ASSERT_TRUE(ISApplyGamma(px.data(), 2, 1, 4, 8, 0.0, 1));  // 0: exponent 1
  EXPECT_EQ(px[1], 128);
  EXPECT_FALSE(ISApplyGamma(px.data(), 2, 1, 4, 8, -1.0, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISApplyGamma(nullptr, 2, 1, 4, 8, 1.0, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
}

TEST(ToneOps, RangeEqualisation) {
  // Channel 0 values 10, 10, 20, 30, 200 with range [30, 10] (given reversed): 4 in range,
  // 10 -> 2 * 255 / 4 = 127, 20 -> 191, 30 -> 255; 200 stays. Channel 1 is not masked.
  std::vector<BYTE> px = {10, 1, 10, 2, 20, 3, 30, 4, 200, 5};
  ASSERT_TRUE(ISRemapChannelRange(px.data(), 5, 1, 2, 10, 30, 10, 1));
  const std::vector<BYTE> want = {127, 1, 127, 2, 191, 3, 255, 4, 200, 5};
  EXPECT_EQ(px, want);
  // An empty range changes nothing.
  ASSERT_TRUE(ISRemapChannelRange(px.data(), 5, 1, 2, 10, 40, 100, 3));
  EXPECT_EQ(px, want);
}

TEST(ToneOps, HistogramStretchAndMidpoint) {
  // 100 pixels with values 50..149: no clipping stretches 50 -> 0, 149 -> 255.
  std::vector<BYTE> px(100);
  for (int i = 0; i < 100; ++i) px[i] = static_cast<BYTE>(50 + i);
  std::vector<BYTE> a = px;
  ASSERT_TRUE(ISHistogramAdjust(a.data(), 100, 1, 1, 100, 0, 0, 0, 1));
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(a[99], 255);
  EXPECT_EQ(a[50], (100 - 50) * 255 / 99);
  // 10% clipped at each end: the ten values up to 59 become 0, the ten from 140 on 255, and
  // 59..140 is stretched.
  a = px;
  ASSERT_TRUE(ISHistogramAdjust(a.data(), 100, 1, 1, 100, 10, 10, 0, 1));
  EXPECT_EQ(a[9], 0);
  EXPECT_EQ(a[10], 255 / 81);
  EXPECT_EQ(a[89], 80 * 255 / 81);
  EXPECT_EQ(a[90], 255);
  // A dark picture with the midpoint curve: its median moves to the middle.
  std::vector<BYTE> dark(101);
  for (int i = 0; i <= 100; ++i) dark[i] = static_cast<BYTE>(i < 90 ? i / 3 : 255);
  ASSERT_TRUE(ISHistogramAdjust(dark.data(), 101, 1, 1, 101, 0, 0, kHistogramMidpoint, 1));
  std::vector<BYTE> sorted = dark;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_NEAR(sorted[50], 127, 3);
  // A flat channel is left alone; a mask of 0 changes nothing.
  std::vector<BYTE> flat(10, 77);
  ASSERT_TRUE(ISHistogramAdjust(flat.data(), 10, 1, 1, 10, 5, 5, kHistogramMidpoint, 1));
  EXPECT_EQ(flat, std::vector<BYTE>(10, 77));
  a = px;
  ASSERT_TRUE(ISHistogramAdjust(a.data(), 100, 1, 1, 100, 0, 0, 0, 0));
  EXPECT_EQ(a, px);
}

TEST(ToneOps, LumaChromaMovesAllThreeBytesByTheGreyChange) {
  // Two pixels: grey of (100, 50, 20) = trunc(29.9 + 29.35 + 2.28) = 61; of (200, 150, 120) =
  // trunc(59.8 + 88.05 + 13.68) = 161. Remapping the grey range [61, 161] equalises 61 -> 127
  // and 161 -> 255: the pixels move by +66 and +94, limited to 255.
  std::vector<BYTE> px = {100, 50, 20, 200, 150, 120};
  ASSERT_TRUE(ISLumaChromaAdjust(px.data(), 2, 1, 3, 6, 1, 61, 161, 0));
  const std::vector<BYTE> want = {166, 116, 86, 255, 244, 214};
  EXPECT_EQ(px, want);
  EXPECT_FALSE(ISLumaChromaAdjust(px.data(), 2, 1, 1, 6, 0, 0, 0, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISLumaChromaAdjust(px.data(), 2, 1, 3, 6, 2, 0, 0, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
}

TEST(ToneOps, GreyEntryPointReportsAndStops) {
  const BYTE px[] = {255, 0, 0, 0, 255, 0, 0, 0, 255};
  BYTE grey[3] = {};
  ASSERT_TRUE(ISConvertRGBToGray(px, 1, 3, 3, 3, grey, 1, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_OK);
  EXPECT_EQ(grey[0], 76);
  EXPECT_EQ(grey[1], (601 * 255) >> 10);
  EXPECT_FALSE(ISConvertRGBToGray(px, 1, 3, 5, 3, grey, 1, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);

  // The progress callback sees one report per row from the outer call.
  {
    qrvtest::ProgressRecorder rec;
    ASSERT_TRUE(ISConvertRGBToGray(px, 1, 3, 3, 3, grey, 1, 0));
    EXPECT_EQ(rec.calls.size(), 3u);
    for (const auto& call : rec.calls) EXPECT_NE(call.second, 0u);
  }
  {
    qrvtest::ProgressRecorder rec;
    std::vector<BYTE> img(12, 100);
    ASSERT_TRUE(ISLumaChromaAdjust(img.data(), 2, 2, 3, 6, 0, 0, 0, 0));
    EXPECT_EQ(rec.calls.size(), 2u);  // the grey copy's own adjustment stays silent
  }
  qrvtest::ProgressRecorder stop(0);
  EXPECT_FALSE(ISConvertRGBToGray(px, 1, 3, 3, 3, grey, 1, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_STOPPED);
}
