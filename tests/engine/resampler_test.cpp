#include "engine/CResampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "engine/CResampleFilter.h"
#include "picture_helpers.h"

using Picture = std::vector<uint8_t>;

namespace {

// The resampler as first described: contributions per pass, the row pass row by row, the
// column pass column by column.
struct RefContrib {
  std::vector<std::vector<double>> w;
  std::vector<int> left, right;
};

RefContrib RefContributions(int L, int N, double s) {
  CBilinearFilter filter(1.0);
  double width = 1.0, f = 1.0;
  if (s < 1.0) {
    width = 1.0 / s;
    f = s;
  }
  int window = 2 * static_cast<int>(std::ceil(width)) + 1;
  RefContrib c;
  for (int u = 0; u < L; ++u) {
    double center = u / s;
    int left = static_cast<int>(std::floor(center - width));
    if (left < 0) left = 0;
    int right = static_cast<int>(std::ceil(center + width));
    if (right >= N - 1) right = N - 1;
    if (right - left + 1 > window) ++left;
    std::vector<double> w;
    double total = 0;
    for (int i = left; i <= right; ++i) {
      w.push_back(f * filter.Filter(f * (center - i)));
      total += w.back();
    }
    if (total > 0)
      for (double& x : w) x /= total;
    c.w.push_back(w);
    c.left.push_back(left);
    c.right.push_back(right);
  }
  return c;
}

uint8_t Out(float a) { return static_cast<uint8_t>(static_cast<int>(a + 0.5)); }

Picture ReferenceScale(const Picture& src, int sw, int sh, int nw, int nh) {
  Picture tmp(static_cast<size_t>(nw) * sh * 3), dst(static_cast<size_t>(nw) * nh * 3);
  RefContrib cr = RefContributions(nw, sw, static_cast<double>(nw) / sw);
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < nw; ++x)
      for (int ch = 0; ch < 3; ++ch) {
        float acc = 0;
        for (int i = cr.left[x]; i <= cr.right[x]; ++i)
          acc = static_cast<float>(acc + cr.w[x][i - cr.left[x]] * src[(y * sw + i) * 3 + ch]);
        tmp[(y * nw + x) * 3 + ch] = Out(acc);
      }
  RefContrib cc = RefContributions(nh, sh, static_cast<double>(nh) / sh);
  for (int x = 0; x < nw; ++x)
    for (int y = 0; y < nh; ++y)
      for (int ch = 0; ch < 3; ++ch) {
        float acc = 0;
        for (int i = cc.left[y]; i <= cc.right[y]; ++i)
          acc = static_cast<float>(acc + cc.w[y][i - cc.left[y]] * tmp[(i * nw + x) * 3 + ch]);
        dst[(y * nw + x) * 3 + ch] = Out(acc);
      }
  return dst;
}

}  // namespace

TEST(Resampler, SameSizeIsAnExactCopy) {
  const Picture src = enginetest::RandomPicture(17, 9, 1);
  Picture dst(src.size(), 0);
  CResampler r;
  ASSERT_EQ(r.Scale(src.data(), 17, 9, dst.data(), 17, 9), dst.data());
  EXPECT_EQ(dst, src);
}

TEST(Resampler, HalvingTheWorkedRow) {
  const Picture src = {10, 10, 10, 20, 20, 20, 30, 30, 30, 40, 40, 40};
  Picture dst(6, 0);
  CResampler r;
  ASSERT_NE(r.Scale(src.data(), 4, 1, dst.data(), 2, 1), nullptr);
  EXPECT_EQ(dst, (Picture{13, 13, 13, 30, 30, 30}));

  CResampler::Contributions c;
  ASSERT_TRUE(CResampler::CalcContributions(c, 2, 4, 0.5));
  EXPECT_EQ(c.windowSize, 5);
  EXPECT_EQ(c.left[0], 0);
  EXPECT_EQ(c.right[0], 2);
  EXPECT_DOUBLE_EQ(c.weights[0], 2.0 / 3);
  EXPECT_DOUBLE_EQ(c.weights[1], 1.0 / 3);
  EXPECT_DOUBLE_EQ(c.weights[2], 0.0);
}

TEST(Resampler, EnlargingStaysWithinTheNeighbours) {
  const Picture src = enginetest::RandomPicture(7, 5, 4);
  const int nw = 23, nh = 16;
  Picture dst(static_cast<size_t>(nw) * nh * 3);
  CResampler r;
  ASSERT_NE(r.Scale(src.data(), 7, 5, dst.data(), nw, nh), nullptr);
  uint8_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
  for (size_t i = 0; i < src.size(); ++i) {
    lo[i % 3] = std::min(lo[i % 3], src[i]);
    hi[i % 3] = std::max(hi[i % 3], src[i]);
  }
  for (size_t i = 0; i < dst.size(); ++i) {
    ASSERT_GE(dst[i], lo[i % 3]);
    ASSERT_LE(dst[i], hi[i % 3]);
  }
  // A flat picture stays flat at any size.
  Picture flat(7 * 5 * 3, 77);
  ASSERT_NE(r.Scale(flat.data(), 7, 5, dst.data(), nw, nh), nullptr);
  EXPECT_EQ(dst, Picture(dst.size(), 77));
}

TEST(Resampler, MatchesTheColumnByColumnReference) {
  const Picture src = enginetest::RandomPicture(41, 29, 7);
  const int sizes[][2] = {{20, 14}, {13, 29}, {41, 10}, {90, 61}, {7, 70}, {1, 1}, {3, 2}, {82, 58}};
  CResampler r;
  for (const auto& s : sizes) {
    Picture dst(static_cast<size_t>(s[0]) * s[1] * 3);
    ASSERT_NE(r.Scale(src.data(), 41, 29, dst.data(), s[0], s[1]), nullptr);
    ASSERT_EQ(dst, ReferenceScale(src, 41, 29, s[0], s[1])) << s[0] << "x" << s[1];
  }
}

namespace {
int g_calls = 0;
int StopAtSixty(int percent) {
  ++g_calls;
  return percent < 60;
}
int GoOn(int) { return 1; }
}  // namespace

TEST(Resampler, RefusesEmptySidesAndStopsWhenAsked) {
  const Picture src = enginetest::RandomPicture(8, 8, 2);
  Picture dst(8 * 8 * 3, 0);
  CResampler r;
  EXPECT_EQ(r.Scale(src.data(), 8, 8, dst.data(), 0, 4), nullptr);
  EXPECT_EQ(r.Scale(src.data(), 8, 8, dst.data(), 4, 0), nullptr);
  EXPECT_EQ(r.Scale(src.data(), 0, 8, dst.data(), 4, 4), nullptr);
  EXPECT_EQ(r.Scale(nullptr, 8, 8, dst.data(), 4, 4), nullptr);
  EXPECT_EQ(r.Scale(src.data(), 8, 8, nullptr, 4, 4), nullptr);
  EXPECT_EQ(r.Scale(src.data(), 8, 8, dst.data(), -4, 4), nullptr);
  EXPECT_EQ(dst, Picture(dst.size(), 0));
  CResampler::Contributions c;
  EXPECT_FALSE(CResampler::CalcContributions(c, 0, 8, 0.5));

  CResampler stopping(StopAtSixty);
  EXPECT_EQ(stopping.Scale(src.data(), 8, 8, dst.data(), 4, 4), nullptr);
  EXPECT_GT(g_calls, 8);  // every row of the first pass, then the second until 60 %
  CResampler going(GoOn);
  EXPECT_EQ(going.Scale(src.data(), 8, 8, dst.data(), 4, 4), dst.data());
}

TEST(Resampler, ExtremeShrinkUsesTheWholeLine) {
  const Picture src = enginetest::RandomPicture(1000, 2, 3);
  Picture dst(3);
  CResampler r;
  ASSERT_NE(r.Scale(src.data(), 1000, 2, dst.data(), 1, 1), nullptr);
  EXPECT_EQ(dst, ReferenceScale(src, 1000, 2, 1, 1));
}
