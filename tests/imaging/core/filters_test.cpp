// 3x3 filters, Gaussian blur, unsharp mask and Crimmins speckle reduction: hand-worked small
// pictures, plain per-pixel references compared bit for bit with the fast code, masks,
// progress and the refused arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/core/ISFilters.h"
#include "qrv/imaging.h"
#include "support/pictures.h"
#include "support/progress_recorder.h"

using qrvtest::ProgressRecorder;
using qrvtest::RandomBytes;

namespace {

// 3 x 3, one channel: 50 all round a centre of 100.
const uint8_t kSpot[9] = {50, 50, 50, 50, 100, 50, 50, 50, 50};

// Straightforward 3x3 filter on one channel set, coordinates clamped at the edges.
std::vector<uint8_t> Ref3x3(const std::vector<uint8_t>& s, int w, int h, int n, int rb, int amount, int mode,
                            uint32_t mask, std::vector<uint8_t> d, int drb) {
  amount = std::min(std::max(amount, 0), 100);
  double f = mode == 0 ? amount * 0.005 : amount * 0.01;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < n; ++c) {
        if (!(mask & (1u << c))) continue;
        double v9[9];
        int S = 0, k = 0;
        for (int j = -1; j <= 1; ++j)
          for (int i = -1; i <= 1; ++i) {
            int yy = std::min(std::max(y + j, 0), h - 1), xx = std::min(std::max(x + i, 0), w - 1);
            int v = s[yy * rb + xx * n + c];
            v9[k++] = v;
            if (i || j) S += v;
          }
        int C = s[y * rb + x * n + c];
        int out;
        if (mode == 2) {
          std::sort(v9, v9 + 9);
          out = int(v9[4]);
        } else {
          double v = mode == 0 ? C - (S - 8 * C) * f : (S / 8) * f + C * (1 - f);
          out = std::min(std::max(int(v), 0), 255);
        }
        d[y * drb + x * n + c] = uint8_t(out);
      }
  return d;
}

// Straightforward Gaussian blur of the masked channels, as the algorithm reads.
std::vector<uint8_t> RefBlur(const std::vector<uint8_t>& s, int w, int h, int n, double sigma, uint32_t mask,
                             std::vector<uint8_t> d) {
  ISArray<float> K;
  if (!(sigma > 0)) sigma = 0;
  EXPECT_TRUE(MakeGaussianKernel(sigma, K));
  int half = int(K.Count() / 2);
  std::vector<float> buf(size_t(w) * h);
  for (int c = 0; c < n; ++c) {
    if (!(mask & (1u << c))) continue;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        double acc = 0, ws = 0;
        for (int i = -half; i <= half; ++i)
          if (x + i >= 0 && x + i < w) {
            acc += K[i + half] * double(s[(y * w + x + i) * n + c]);
            ws += K[i + half];
          }
        buf[y * w + x] = (ws == 0 || std::isnan(ws)) ? 0.0f : float(acc / ws);
      }
    for (int x = 0; x < w; ++x)
      for (int y = 0; y < h; ++y) {
        double acc = 0, ws = 0;
        for (int i = -half; i <= half; ++i)
          if (y + i >= 0 && y + i < h) {
            acc += K[i + half] * double(buf[(y + i) * w + x]);
            ws += K[i + half];
          }
        d[(y * w + x) * n + c] =
            (ws == 0 || std::isnan(ws)) ? s[(y * w + x) * n + c] : uint8_t(std::trunc(acc / ws + 0.5));
      }
  }
  return d;
}

// Straightforward Crimmins iteration on one channel, outside positions reading the nearest
// edge sample.
void RefCrimmins(std::vector<int>& P, int w, int h) {
  auto at = [&](const std::vector<int>& b, int x, int y) {
    return b[std::min(std::max(y, 0), h - 1) * w + std::min(std::max(x, 0), w - 1)];
  };
  const int dxs[4] = {0, 1, 1, -1}, dys[4] = {1, 0, 1, 1};
  for (int dir = 0; dir < 4; ++dir) {
    const int steps[4][3] = {{dxs[dir], dys[dir], 1}, {-dxs[dir], -dys[dir], 1}, {-dxs[dir], -dys[dir], -1},
                             {dxs[dir], dys[dir], -1}};
    for (auto& st : steps) {
      int dx = st[0], dy = st[1], sign = st[2];
      std::vector<int> W(P.size());
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          int p = at(P, x, y), q = at(P, x + dx, y + dy);
          W[y * w + x] = sign > 0 ? (q > p ? p + 1 : p) : (p > q + 1 ? p - 1 : p);
        }
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          int m = at(W, x, y), b = at(W, x - dx, y - dy), f = at(W, x + dx, y + dy);
          P[y * w + x] = sign > 0 ? (b >= m && f > m ? m + 1 : m) : (b + 1 < m && f < m ? m - 1 : m);
        }
    }
  }
}

}  // namespace

TEST(Filter3x3, SharpenSoftenMedianByHand) {
  uint8_t d[9];
  // Amount 100 sharpen (f = 0.5): centre 100 - (400 - 800) x 0.5 = 300 -> 255; each other pixel
  // sees 50 x 7 + 100 = 450, so 50 - (450 - 400) x 0.5 = 25.
  ASSERT_TRUE(ISSharpenImage(kSpot, 3, 3, 1, 3, d, 3, 100, 1));
  EXPECT_EQ(d[4], 255);
  for (int i : {0, 1, 2, 3, 5, 6, 7, 8}) EXPECT_EQ(d[i], 25) << i;
  // Amount 30 (f = 0.15): 100 + 60 = 160; 50 - 7.5 = 42.5 -> 42.
  ASSERT_TRUE(ISSharpenImage(kSpot, 3, 3, 1, 3, d, 3, 30, 1));
  EXPECT_EQ(d[4], 160);
  EXPECT_EQ(d[0], 42);
  // Soften amount 50: centre (400 / 8) x 0.5 + 100 x 0.5 = 75; others (450 / 8 = 56) x 0.5 + 25 = 53.
  ASSERT_TRUE(ISSoftenImage(kSpot, 3, 3, 1, 3, d, 3, 50, 1));
  EXPECT_EQ(d[4], 75);
  EXPECT_EQ(d[8], 53);
  // Median: the lone 100 disappears.
  ASSERT_TRUE(ISMedianFilterImage(kSpot, 3, 3, 1, 3, d, 3, 1));
  for (int i = 0; i < 9; ++i) EXPECT_EQ(d[i], 50);
  // Amounts outside 0..100 act as the nearest end.
  uint8_t e[9];
  ASSERT_TRUE(ISSharpenImage(kSpot, 3, 3, 1, 3, d, 3, 150, 1));
  ASSERT_TRUE(ISSharpenImage(kSpot, 3, 3, 1, 3, e, 3, 100, 1));
  EXPECT_EQ(0, std::memcmp(d, e, 9));
  ASSERT_TRUE(ISSharpenImage(kSpot, 3, 3, 1, 3, d, 3, -5, 1));
  EXPECT_EQ(0, std::memcmp(d, kSpot, 9));
  // Flat area: sharpening changes nothing. Edge: overshoot clamps at 0 and 255.
  const uint8_t edge[4] = {0, 255, 0, 255};  // 2 x 2
  ASSERT_TRUE(ISSharpenImage(edge, 2, 2, 1, 2, d, 2, 100, 1));
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[1], 255);
  double nine[9] = {9, 1, 8, 2, 7, 3, 6, 4, 5};
  EXPECT_EQ(Median9(nine), 5.0);
}

TEST(Filter3x3, OnePixelMasksAndReference) {
  const uint8_t one[3] = {17, 200, 99};
  uint8_t d[3] = {1, 2, 3};
  ASSERT_TRUE(ISSharpenImage(one, 1, 1, 3, 3, d, 3, 100, 7));
  EXPECT_EQ(0, std::memcmp(d, one, 3));
  ASSERT_TRUE(ISMedianFilterImage(one, 1, 1, 3, 3, d, 3, 7));
  EXPECT_EQ(0, std::memcmp(d, one, 3));
  // Mask 0 writes nothing, yet reports a row of progress per row.
  uint8_t keep[3] = {1, 2, 3};
  {
    ProgressRecorder rec;
    ASSERT_TRUE(ISSoftenImage(one, 1, 1, 3, 3, keep, 3, 100, 0));
    EXPECT_EQ(rec.calls.size(), 1u);
  }
  EXPECT_EQ(0, std::memcmp(keep, "\1\2\3", 3));

  // Random 11 x 7 RGB with padded rows, channels 0 and 2 only, against the plain reference.
  const int w = 11, h = 7, n = 3, srb = w * n + 2, drb = w * n + 5;
  auto src = RandomBytes(size_t(srb) * h, 3);
  for (int mode = 0; mode < 3; ++mode)
    for (int amount : {0, 37, 100}) {
      std::vector<uint8_t> dst(size_t(drb) * h, 0xAB);
      auto want = Ref3x3(src, w, h, n, srb, amount, mode, 5, dst, drb);
      ISErrorCode e = 0;
      ASSERT_TRUE(Filter3x3(e, src.data(), dst.data(), w, h, n, srb, drb, amount, mode, 5));
      EXPECT_EQ(dst, want) << "mode " << mode << " amount " << amount;
    }
}

TEST(Filter3x3, RefusedArgumentsAndStops) {
  uint8_t d[9];
  EXPECT_FALSE(ISSharpenImage(nullptr, 3, 3, 1, 3, d, 3, 10, 1));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISSharpenImage(kSpot, 3, 3, 1, 3, nullptr, 3, 10, 1));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISSoftenImage(d, 3, 3, 1, 3, d, 3, 10, 1));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  std::vector<uint8_t> big(9 * 9);
  EXPECT_FALSE(ISMedianFilterImage(big.data(), 1, 1, 9, 9, d, 9, 1));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_TRUE(ISSharpenImage(kSpot, 3, 0, 1, 3, d, 3, 10, 1));
  // Only a reply of exactly 0 stops; the rows done stay written.
  std::memset(d, 7, 9);
  {
    ProgressRecorder neg(-1);
    EXPECT_TRUE(ISSharpenImage(kSpot, 3, 3, 1, 3, d, 3, 100, 1));
    EXPECT_EQ(neg.calls.size(), 3u);
  }
  std::memset(d, 7, 9);
  {
    ProgressRecorder stop(1, 1, 0);  // the second report answers 0
    EXPECT_FALSE(ISSharpenImage(kSpot, 3, 3, 1, 3, d, 3, 100, 1));
    EXPECT_EQ(ISGetLastError(), IS_ERR_STOPPED);
    EXPECT_EQ(d[3], 25);  // rows 0 and 1 written
    EXPECT_EQ(d[6], 7);   // row 2 not
  }
}

TEST(GaussianBlur, KernelAndHandWorkedRow) {
  ISArray<float> k;
  ASSERT_TRUE(MakeGaussianKernel(0.4, k));
  ASSERT_EQ(k.Count(), 3u);  // 2 x ceil(1.0) + 1
  EXPECT_NEAR(k[0], 0.040388, 1e-5);
  EXPECT_NEAR(k[1], 0.919223, 1e-5);
  EXPECT_EQ(k[0], k[2]);
  ASSERT_TRUE(MakeGaussianKernel(1.0, k));
  EXPECT_EQ(k.Count(), 7u);
  ASSERT_TRUE(MakeGaussianKernel(2.0, k));
  EXPECT_EQ(k.Count(), 11u);
  // [0 90 0], sigma 0.4: x = 0 gets 90 a / (a + b) = 3.79 -> 4; the centre 90 b = 82.7 -> 83.
  const uint8_t row[3] = {0, 90, 0};
  uint8_t d[3];
  ASSERT_TRUE(ISBlurImage(row, 3, 1, 1, 3, d, 3, 0.4, 1));
  EXPECT_EQ(d[0], 4);
  EXPECT_EQ(d[1], 83);
  EXPECT_EQ(d[2], 4);
  // Unsharp with amount 1, threshold 0: 90 + (90 - 83) = 97; 0 + (0 - 4) -> 0.
  ASSERT_TRUE(ISUnsharpMask(row, 3, 1, 1, 3, d, 3, 0, 1.0, 0.4, 1));
  EXPECT_EQ(d[1], 97);
  EXPECT_EQ(d[0], 0);
  const uint8_t lift[3] = {20, 90, 20};  // blurred 23 or 24 at the ends: a difference below 5
  ASSERT_TRUE(ISUnsharpMask(lift, 3, 1, 1, 3, d, 3, 5, 2.0, 0.4, 1));
  EXPECT_EQ(d[0], 20);
  ASSERT_TRUE(ISUnsharpMask(lift, 3, 1, 1, 3, d, 3, 0, 2.0, 0.4, 1));
  EXPECT_LT(d[0], 20);
}

TEST(GaussianBlur, FastPathMatchesPlainReference) {
  struct Size { int w, h; };
  for (Size sz : {Size{40, 23}, Size{3, 9}, Size{1, 1}, Size{17, 2}}) {
    for (double sigma : {0.4, 1.0, 2.0, 3.3, 0.0, -1.0}) {
      const int n = 3;
      auto src = RandomBytes(size_t(sz.w) * sz.h * n, sz.w + int(sigma * 10));
      std::vector<uint8_t> dst(src.size(), 0x33);
      auto want = RefBlur(src, sz.w, sz.h, n, sigma, 3, dst);
      ASSERT_TRUE(ISBlurImage(src.data(), sz.w, sz.h, n, sz.w * n, dst.data(), sz.w * n, sigma, 3));
      ASSERT_EQ(dst, want) << sz.w << "x" << sz.h << " sigma " << sigma;
      if (sigma <= 0) {
        // No usable kernel: masked channels come out as copies, the unmasked one untouched.
        for (size_t i = 0; i < src.size(); ++i) ASSERT_EQ(dst[i], i % 3 == 2 ? 0x33 : src[i]);
      }
    }
  }
  // A flat picture stays flat.
  std::vector<uint8_t> flat(30 * 20, 143), out(flat.size());
  ASSERT_TRUE(ISBlurImage(flat.data(), 30, 20, 1, 30, out.data(), 30, 2.5, 1));
  EXPECT_EQ(out, flat);
  // Unsharp mask with threshold 255 leaves the source as it is.
  auto src = RandomBytes(30 * 20, 9);
  ASSERT_TRUE(ISUnsharpMask(src.data(), 30, 20, 1, 30, out.data(), 30, 255, 1.0, 2.0, 1));
  EXPECT_EQ(out, src);
}

TEST(GaussianBlur, ProgressAndRefusals) {
  auto src = RandomBytes(4 * 4 * 3, 2);
  std::vector<uint8_t> dst(src.size());
  {
    ProgressRecorder rec;
    // Channel 1 only: the unmasked channels 0 and 2 report only their second step.
    ASSERT_TRUE(ISBlurImage(src.data(), 4, 4, 3, 12, dst.data(), 12, 1.0, 2));
    const std::vector<std::pair<DWORD, DWORD>> want = {{1, 6}, {2, 6}, {3, 6}, {5, 6}};
    EXPECT_EQ(rec.calls, want);
  }
  {
    // Unsharp: its blur is silent; rows of the masked channels counted, every third reported.
    ProgressRecorder rec;
    ASSERT_TRUE(ISUnsharpMask(src.data(), 4, 4, 3, 12, dst.data(), 12, 0, 0.5, 1.0, 7));
    ASSERT_EQ(rec.calls.size(), 4u);  // counters 0, 3, 6, 9 of 12
    EXPECT_EQ(rec.calls[1], std::make_pair(DWORD(1), DWORD(4)));
    EXPECT_EQ(rec.calls[3], std::make_pair(DWORD(3), DWORD(4)));
  }
  EXPECT_FALSE(ISBlurImage(src.data(), 4, 4, 3, 12, nullptr, 12, 1.0, 7));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISUnsharpMask(src.data(), 4, 4, 3, 12, src.data(), 12, 0, 1.0, 1.0, 7));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISBlurImage(src.data(), 4, 4, 3, 12, dst.data(), 12, 1e300, 7));
  EXPECT_EQ(ISGetLastError(), IS_ERR_NOMEM);
}

TEST(ReduceSpeckle, CrimminsStepsByHand) {
  // A 5 x 1 row [10 20 10 10 10], horizontal offset: the raising step, then the lowering one.
  ISSpeckleContext ctx;
  ctx.width = 5;
  ctx.height = 1;
  ctx.work.Resize(7 * 3);
  uint8_t P[21] = {};
  const uint8_t row[5] = {10, 20, 10, 10, 10};
  std::memcpy(P + 8, row, 5);
  RefreshPaddedBorder(P, 5, 1);
  CrimminsStep(ctx, 1, 0, +1, P);
  EXPECT_EQ(0, std::memcmp(P + 8, "\x0c\x14\x0a\x0a\x0a", 5));  // 12 20 10 10 10
  EXPECT_EQ(P[7], 12);  // the border repeats the edge
  CrimminsStep(ctx, 1, 0, -1, P);
  EXPECT_EQ(0, std::memcmp(P + 8, "\x0c\x12\x0a\x0a\x0a", 5));  // 12 18 10 10 10
}

TEST(ReduceSpeckle, MatchesReferenceAndKeepsEdges) {
  // A flat picture keeps its border: no dark frame after repeated passes.
  std::vector<uint8_t> flat(9 * 6 * 3, 180);
  for (int pass = 0; pass < 5; ++pass) ASSERT_TRUE(ISRemoveSpeckles(flat.data(), 9, 6, 3, 27, 7));
  EXPECT_TRUE(std::all_of(flat.begin(), flat.end(), [](uint8_t v) { return v == 180; }));
  // A lone bright speckle is pulled down towards its surroundings.
  std::vector<uint8_t> spot(7 * 7, 60);
  spot[3 * 7 + 3] = 200;
  ASSERT_TRUE(ISRemoveSpeckles(spot.data(), 7, 7, 1, 7, 1));
  EXPECT_LT(spot[3 * 7 + 3], 200);
  uint8_t one[1] = {77};
  ASSERT_TRUE(ISRemoveSpeckles(one, 1, 1, 1, 1, 1));
  EXPECT_EQ(one[0], 77);

  // Random RGB with padded rows, channels 0 and 1: the plain reference per channel.
  const int w = 13, h = 8, n = 3, rb = w * n + 3;
  auto img = RandomBytes(size_t(rb) * h, 21, 0, 255);
  auto orig = img;
  ASSERT_TRUE(ISRemoveSpeckles(img.data(), w, h, n, rb, 3));
  for (int c = 0; c < n; ++c) {
    std::vector<int> P(size_t(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) P[y * w + x] = orig[y * rb + x * n + c];
    if (c < 2) RefCrimmins(P, w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(img[y * rb + x * n + c], P[y * w + x]) << c << " " << x << "," << y;
  }
  for (int y = 0; y < h; ++y) EXPECT_EQ(img[y * rb + w * n], orig[y * rb + w * n]);  // padding untouched
}

TEST(ReduceSpeckle, BandsGiveTheWholeChannelResult) {
  // The channel is worked in bands of rows with a halo; any band height gives the same bytes
  // as the plain reference over the whole channel (default bands on a tall picture too).
  struct Case { int w, h; uint32_t band; };
  for (const Case& c : {Case{9, 150, 1}, Case{12, 150, 7}, Case{5, 90, 64}, Case{16, 700, 0}}) {
    auto img = RandomBytes(size_t(c.w) * c.h, c.w * 31 + c.h);
    // Smooth rows with speckles make the steps change many samples over many rows.
    for (size_t i = 0; i < img.size(); ++i) img[i] = uint8_t(i % 7 == 0 ? img[i] : 100 + img[i] % 9);
    std::vector<int> P(img.begin(), img.end());
    RefCrimmins(P, c.w, c.h);
    ISSpeckleContext ctx;
    ctx.bandRows = c.band;
    ASSERT_TRUE(ReduceSpeckleChannel(ctx, img.data(), c.w, c.h, c.w, 1));
    for (size_t i = 0; i < img.size(); ++i)
      ASSERT_EQ(img[i], P[i]) << c.w << "x" << c.h << " band " << c.band << " at " << i;
  }
}

TEST(ReduceSpeckle, ProgressMaskZeroAndRefusals) {
  std::vector<uint8_t> img = RandomBytes(5 * 5 * 3, 4), copy = img;
  {
    ProgressRecorder rec;
    ASSERT_TRUE(ISRemoveSpeckles(img.data(), 5, 5, 3, 15, 0));
    ASSERT_EQ(rec.calls.size(), 3u);
    EXPECT_EQ(rec.calls[2], std::make_pair(DWORD(2), DWORD(3)));
  }
  EXPECT_EQ(img, copy);
  {
    ProgressRecorder stop(0);
    EXPECT_FALSE(ISRemoveSpeckles(img.data(), 5, 5, 3, 15, 7));
    EXPECT_EQ(ISGetLastError(), IS_ERR_STOPPED);
    EXPECT_EQ(stop.calls.size(), 1u);
  }
  EXPECT_FALSE(ISRemoveSpeckles(nullptr, 5, 5, 3, 15, 7));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
}
