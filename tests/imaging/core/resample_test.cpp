// Bilinear and bicubic resize and the filtered resampler: hand-worked rows, the kernels'
// values, the contributor edge rules, the row-order fast path against the column-by-column
// form, and the refused arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISResample.h"
#include "qrv/imaging.h"
#include "support/pictures.h"
#include "support/progress_recorder.h"

using qrvtest::ProgressRecorder;
using qrvtest::RandomBytes;

namespace {

// Plain bicubic of one channel, neighbours i - 1 .. i + 2 held inside the picture.
std::vector<uint8_t> RefBicubic(const std::vector<uint8_t>& s, int sw, int sh, int n, int dw, int dh) {
  auto taps = [](double t, int size, int pos[4], double w[4]) {
    int i = int(t);
    double f = t - i;
    w[0] = -((1 - f) * (1 - f)) * f;
    w[1] = f * f * f - 2 * f * f + 1;
    w[2] = (f + 1 - f * f) * f;
    w[3] = -(1 - f) * (f * f);
    for (int k = 0; k < 4; ++k) pos[k] = std::min(std::max(i + k - 1, 0), size - 1);
  };
  std::vector<uint8_t> d(size_t(dw) * dh * n);
  for (int y = 0; y < dh; ++y)
    for (int x = 0; x < dw; ++x)
      for (int c = 0; c < n; ++c) {
        int rp[4], cp[4];
        double rw[4], cw[4];
        taps(y * (double(sh) / dh), sh, rp, rw);
        taps(x * (double(sw) / dw), sw, cp, cw);
        double sum = 0;
        for (int r = 0; r < 4; ++r) {
          double inner = 0;
          for (int k = 0; k < 4; ++k) inner += cw[k] * s[(rp[r] * sw + cp[k]) * n + c];
          sum += rw[r] * inner;
        }
        double v = std::nearbyint(sum);
        d[(y * dw + x) * n + c] = uint8_t(v <= 0 ? 0 : v >= 255 ? 255 : v);
      }
  return d;
}

}  // namespace

TEST(ResizeBilinear, HandWorkedRowsAndBlock) {
  // 2 -> 4: step (2 - 0.5) / 4 = 0.375, positions 0, 0.375, 0.75, 1.125; 28 x 0.375 = 10.5
  // rounds to the even 10; the last position takes column 1 with its neighbour held at 1.
  const uint8_t row[2] = {0, 28};
  uint8_t d[4];
  ASSERT_TRUE(ISResizeBilinear(row, 2, 1, 2, d, 4, 1, 4, 1));
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[1], 10);
  EXPECT_EQ(d[2], 21);
  EXPECT_EQ(d[3], 28);
  // 2 x 2 -> 4 x 4: pixel (1, 1) at fractions 0.375 both ways:
  // 0.234375 x 40 + 0.234375 x 80 + 0.140625 x 120 = 45.
  const uint8_t sq[4] = {0, 40, 80, 120};
  uint8_t big[16];
  ASSERT_TRUE(ISResizeBilinear(sq, 2, 2, 2, big, 4, 4, 4, 1));
  EXPECT_EQ(big[5], 45);
  EXPECT_EQ(big[0], 0);
  EXPECT_EQ(big[15], 120);
  // Reduction 4 -> 2 samples columns 0 and 2.
  const uint8_t four[4] = {1, 2, 3, 4};
  ASSERT_TRUE(ISResizeBilinear(four, 4, 1, 4, d, 2, 1, 2, 1));
  EXPECT_EQ(d[0], 1);
  EXPECT_EQ(d[1], 3);
  // Equal sizes and row bytes: a copy, with no progress.
  {
    ProgressRecorder rec;
    ASSERT_TRUE(ISResizeBilinear(four, 2, 2, 2, d, 2, 2, 2, 1));
    EXPECT_TRUE(rec.calls.empty());
  }
  EXPECT_EQ(0, std::memcmp(d, four, 4));
  EXPECT_FALSE(ISResizeBilinear(four, 2, 2, 1, d, 2, 2, 2, 1));  // row bytes below the width
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISResizeBilinear(four, 2, 2, 2, d, 0, 2, 2, 1));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISResizeBilinear(four, 2, 2, 2, nullptr, 2, 2, 2, 1));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
}

TEST(ResizeBicubic, HandWorkedRowAndEdgeNeighbours) {
  // [0 0 100 0] -> 8: at t = 1.5 the neighbours are columns 0..3 (weights -1/8, 5/8, 5/8,
  // -1/8), 62.5 -> 62; at t = 2.5 columns 1, 2, 3, 3; below 0 becomes 0.
  const uint8_t row[4] = {0, 0, 100, 0};
  uint8_t d[8];
  ASSERT_TRUE(ISResizeBicubic(row, 4, 1, 4, d, 8, 1, 8, 1));
  const uint8_t want[8] = {0, 0, 0, 62, 100, 62, 0, 0};
  EXPECT_EQ(0, std::memcmp(d, want, 8));
  // Equal sizes, different row bytes: the full interpolation returns the source.
  auto src = RandomBytes(5 * 4, 8);  // 4 x 4 in 5-byte rows
  std::vector<uint8_t> out(6 * 4, 0);
  ASSERT_TRUE(ISResizeBicubic(src.data(), 4, 4, 5, out.data(), 4, 4, 6, 1));
  for (int y = 0; y < 4; ++y) EXPECT_EQ(0, std::memcmp(&out[y * 6], &src[y * 5], 4));
  // Random RGB both ways against the plain form.
  auto rgb = RandomBytes(9 * 7 * 3, 12);
  for (auto sz : {std::make_pair(20, 15), std::make_pair(4, 3), std::make_pair(1, 1), std::make_pair(9, 2)}) {
    std::vector<uint8_t> dst(size_t(sz.first) * sz.second * 3);
    ASSERT_TRUE(ISResizeBicubic(rgb.data(), 9, 7, 27, dst.data(), sz.first, sz.second, sz.first * 3, 3));
    EXPECT_EQ(dst, RefBicubic(rgb, 9, 7, 3, sz.first, sz.second)) << sz.first << "x" << sz.second;
  }
  EXPECT_FALSE(ISResizeBicubic(rgb.data(), 9, 7, 27, rgb.data(), 3, 3, 9, 3));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISResizeBicubic(rgb.data(), 0, 7, 27, out.data(), 3, 3, 9, 3));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  {
    ProgressRecorder neg(-1);  // only a reply of exactly 0 stops
    EXPECT_TRUE(ISResizeBicubic(rgb.data(), 9, 7, 27, out.data(), 2, 2, 6, 3));
    EXPECT_EQ(neg.calls.size(), 2u);
  }
  {
    ProgressRecorder stop(0);
    EXPECT_FALSE(ISResizeBicubic(rgb.data(), 9, 7, 27, out.data(), 2, 2, 6, 3));
    EXPECT_EQ(ISGetLastError(), IS_ERR_STOPPED);
  }
}

TEST(ResampleFilters, KernelValuesAndSelection) {
  const double pi = 3.141592653589793;
  EXPECT_EQ(BoxKernel(0.5), 1.0);
  EXPECT_EQ(BoxKernel(-0.5), 0.0);
  EXPECT_EQ(TriangleKernel(-0.25), 0.75);
  EXPECT_NEAR(HammingKernel(1.0), 0.08, 1e-15);
  EXPECT_NEAR(GaussianKernel(0.0), std::sqrt(2 / pi), 1e-15);
  EXPECT_EQ(BellKernel(1.0), 0.125);
  EXPECT_NEAR(BSplineKernel(0.0), 2.0 / 3, 1e-15);
  EXPECT_NEAR(BSplineKernel(1.0), 1.0 / 6, 1e-15);
  EXPECT_EQ(HermiteKernel(0.5), 0.5);
  EXPECT_EQ(Lanczos3Kernel(0.0), 1.0);
  EXPECT_NEAR(Lanczos3Kernel(0.5), (2 / pi) * (std::sin(pi / 6) / (pi / 6)), 1e-15);
  EXPECT_EQ(Lanczos3Kernel(3.0), 0.0);
  EXPECT_NEAR(MitchellKernel(0.0), 8.0 / 9, 1e-15);
  EXPECT_NEAR(MitchellKernel(1.0), 1.0 / 18, 1e-15);
  EXPECT_NEAR(SincKernel(0.5), 2 / pi, 1e-15);
  EXPECT_NEAR(HanningKernel(0.5), 0.5, 1e-15);
  EXPECT_EQ(CatmullRomKernel(1.5), -0.0625);
  EXPECT_EQ(CatmullRomKernel(1.0), 0.0);

  ISResampleKernel k = nullptr;
  double support = 0;
  const double supports[14] = {0.5, 1, 1, 1.25, 1.5, 2, 1, 2, 3, 2, 4, 1, 1, 2};
  for (uint32_t i = 0; i < 14; ++i) {
    ASSERT_EQ(SelectResampleFilter(&k, &support, i), 0u);
    EXPECT_EQ(support, supports[i]) << i;
  }
  ISResampleKernel k5, k7, k6, k11;
  SelectResampleFilter(&k5, &support, 5);
  SelectResampleFilter(&k7, &support, 7);
  SelectResampleFilter(&k6, &support, 6);
  SelectResampleFilter(&k11, &support, 11);
  EXPECT_EQ(k5, k7);
  EXPECT_EQ(k6, k11);
  EXPECT_EQ(SelectResampleFilter(&k, &support, 14), IS_ERR_BADPARAM);
}

TEST(ResampleImage, HandWorkedRows) {
  // Triangle 2 -> 4: centres 0, 0.5, 1, 1.5; position -1 reflects to 1 and 2 to 1.
  const uint8_t row[2] = {0, 100};
  uint8_t d[4];
  ASSERT_TRUE(ISResampleImage(row, 2, 1, 2, d, 4, 1, 4, 1, 1));
  EXPECT_EQ(d[0], 0);
  EXPECT_EQ(d[1], 50);
  EXPECT_EQ(d[2], 100);
  EXPECT_EQ(d[3], 100);
  // Box 4 -> 2: reach 1, weights 1/2, 1/2, 0: (10 + 21) / 2 = 15.5 -> 16, (21 + 30) / 2 -> 26.
  const uint8_t four[4] = {10, 21, 30, 41};
  ASSERT_TRUE(ISResampleImage(four, 4, 1, 4, d, 2, 1, 2, 1, 0));
  EXPECT_EQ(d[0], 16);
  EXPECT_EQ(d[1], 26);
  // A one-pixel source under a wide kernel: every position held at the only sample.
  const uint8_t one[3] = {9, 99, 199};
  std::vector<uint8_t> big(5 * 4 * 3);
  ASSERT_TRUE(ISResampleImage(one, 1, 1, 3, big.data(), 5, 4, 15, 3, 10));
  for (size_t i = 0; i < big.size(); ++i) ASSERT_EQ(big[i], one[i % 3]);
}

TEST(ResampleImage, EqualRegionsStayAndSizesBelowSupport) {
  std::vector<uint8_t> flat(23 * 17 * 3, 201);
  for (uint32_t f = 0; f < 14; ++f)
    for (auto sz : {std::make_pair(50, 40), std::make_pair(7, 5)}) {
      std::vector<uint8_t> out(size_t(sz.first) * sz.second * 3);
      ASSERT_TRUE(ISResampleImage(flat.data(), 23, 17, 69, out.data(), sz.first, sz.second, sz.first * 3, 3, f));
      ASSERT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t v) { return v == 201; })) << f;
    }
  uint8_t d[16];
  EXPECT_FALSE(ISResampleImage(flat.data(), 23, 17, 69, d, 2, 2, 6, 3, 8));  // Lanczos3 needs 3
  EXPECT_EQ(ISGetLastError(), IS_ERR_RESAMPLESIZE);
  EXPECT_FALSE(ISResampleImage(flat.data(), 23, 17, 69, d, 4, 3, 12, 3, 10));  // sinc needs 4
  EXPECT_EQ(ISGetLastError(), IS_ERR_RESAMPLESIZE);
  EXPECT_TRUE(ISResampleImage(flat.data(), 23, 17, 69, d, 1, 1, 3, 3, 0));  // box: 1 pixel
  EXPECT_EQ(d[0], 201);
  EXPECT_FALSE(ISResampleImage(flat.data(), 23, 17, 69, d, 1, 1, 3, 3, 14));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISResampleImage(flat.data(), 23, 17, 69, nullptr, 1, 1, 3, 3, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_FALSE(ISResampleImage(flat.data(), 23, 17, 69, d, 1, 1, 3, 0, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
}

TEST(ResampleImage, RowOrderMatchesColumnOrderExactly) {
  // With a progress listener the resampler works column by column (the plain form); without
  // one it works in row order. Both must give the same bytes.
  struct Case { int sw, sh, dw, dh, n; };
  for (const Case& c : {Case{31, 22, 15, 11, 3}, Case{13, 9, 40, 30, 3}, Case{7, 20, 9, 4, 1},
                        Case{5, 3, 23, 17, 4}, Case{2, 2, 9, 9, 3}}) {
    const int srb = c.sw * c.n + 3, drb = c.dw * c.n + 1;
    auto src = RandomBytes(size_t(srb) * c.sh, c.sw * 7 + c.dw);
    for (uint32_t f = 0; f < 14; ++f) {
      if (c.dw < 4 && f == 10) continue;
      std::vector<uint8_t> fast(size_t(drb) * c.dh, 0x5A), plain(fast);
      ASSERT_TRUE(ISResampleImage(src.data(), c.sw, c.sh, srb, fast.data(), c.dw, c.dh, drb, c.n, f)) << f;
      {
        ProgressRecorder rec(-1);  // negative replies go on
        ASSERT_TRUE(ISResampleImage(src.data(), c.sw, c.sh, srb, plain.data(), c.dw, c.dh, drb, c.n, f));
        ASSERT_EQ(rec.calls.size(), size_t(c.dw));
        EXPECT_EQ(rec.calls.back(), std::make_pair(DWORD(c.dw - 1), DWORD(c.dw)));
      }
      ASSERT_EQ(fast, plain) << c.sw << "x" << c.sh << " -> " << c.dw << "x" << c.dh << " filter " << f;
    }
  }
  auto src = RandomBytes(10 * 10 * 3, 3);
  std::vector<uint8_t> out(5 * 5 * 3, 0);
  ProgressRecorder stop(1, 2, 0);  // the third column's report answers 0
  EXPECT_FALSE(ISResampleImage(src.data(), 10, 10, 30, out.data(), 5, 5, 15, 3, 8));
  EXPECT_EQ(ISGetLastError(), IS_ERR_STOPPED);
  EXPECT_EQ(stop.calls.size(), 3u);
}

TEST(ResizeRounding, TiesToEvenWithoutALibraryCall) {
  // The shift trick rounds exactly as nearbyint does in the default mode.
  for (int k = -4000; k <= 4000; ++k) {
    const double v = k / 8.0;
    ASSERT_EQ(RoundTiesEven(v), std::nearbyint(v)) << v;
  }
  EXPECT_EQ(RoundTiesEven(10.5), 10.0);
  EXPECT_EQ(RoundTiesEven(11.5), 12.0);
  EXPECT_EQ(RoundTiesEven(254.49999999999997), 254.0);
}
