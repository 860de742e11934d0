#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/CImageFilter.h"
#include "picture_helpers.h"
#include "qrv/imaging.h"

using Picture = std::vector<uint8_t>;

namespace {

// Skin smoothing as first described: soften into B and copy B over A for every pass, sharpen
// the input, then mix per pixel.
Picture ReferenceSmoothSkin(const Picture& img, int w, int h, double radius, int pink) {
  Picture a = img, b(img.size());
  int passes = std::max(static_cast<int>(radius * 3.0), 1);
  for (int p = 0; p < passes; ++p) {
    EXPECT_TRUE(ISSoftenImage(a.data(), w, h, 3, w * 3, b.data(), w * 3, 100, 7));
    a = b;
  }
  EXPECT_TRUE(ISSharpenImage(img.data(), w, h, 3, w * 3, b.data(), w * 3, 40, 7));
  Picture out(img.size());
  for (size_t i = 0; i < img.size(); i += 3) {
    int m = (a[i] + a[i + 1] + a[i + 2]) / 3, k = 255 - m;
    int c[3];
    for (int ch = 0; ch < 3; ++ch) c[ch] = ((((img[i + ch] * m + b[i + ch] * k) >> 8) * k) + a[i + ch] * m) >> 8;
    if (pink) {
      int d = std::max(c[0] - c[1], 0);
      int t0 = c[0] < 128 ? c[0] * 450 / 255 : 255 - (255 - c[0]) * 60 / 255;
      int t1 = c[1] < 128 ? c[1] * 360 / 255 : 255 - (255 - c[1]) * 150 / 255;
      int t2 = c[2] < 128 ? c[2] * 366 / 255 : 255 - (255 - c[2]) * 144 / 255;
      c[0] = (c[0] * (255 - d) + t0 * d) >> 8;
      c[1] = (c[1] * (255 - d) + t1 * d) >> 8;
      c[2] = (c[2] * (255 - d) + t2 * d) >> 8;
    }
    for (int ch = 0; ch < 3; ++ch) out[i + ch] = static_cast<uint8_t>(c[ch]);
  }
  return out;
}

}  // namespace

TEST(ImageFilterSmoothSkin, MatchesTheCopyingReference) {
  const int w = 29, h = 21;
  const Picture img = enginetest::RandomPicture(w, h, 17);
  CImageFilter f;
  for (double radius : {0.0, 0.2, 1.0, 2.5})
    for (int pink = 0; pink < 2; ++pink) {
      Picture p = img;
      ASSERT_TRUE(f.SmoothSkin(p.data(), w, h, radius, pink));
      ASSERT_EQ(p, ReferenceSmoothSkin(img, w, h, radius, pink)) << radius << " " << pink;
    }
}

TEST(ImageFilterSmoothSkin, HandWorkedPixelAndPinkOnlyForReddish) {
  // A flat picture: soften and sharpen leave it as it is, so with o = s = a the mix gives
  // ((((o m + o k) >> 8) k) + o m) >> 8 per channel.
  Picture flat(4 * 4 * 3);
  for (size_t i = 0; i < flat.size(); i += 3) {
    flat[i] = 200;
    flat[i + 1] = 100;
    flat[i + 2] = 60;
  }
  CImageFilter f;
  Picture p = flat;
  ASSERT_TRUE(f.SmoothSkin(p.data(), 4, 4, 1.0, 0));
  // m = 120, k = 135: R ((200 * 255 >> 8) * 135 + 200 * 120) >> 8 = (199 * 135 + 24000) >> 8 = 198
  EXPECT_EQ(p[0], 198);
  EXPECT_EQ(p[1], (((100 * 255 >> 8) * 135) + 100 * 120) >> 8);
  EXPECT_EQ(p[2], (((60 * 255 >> 8) * 135) + 60 * 120) >> 8);
  Picture pink = flat;
  ASSERT_TRUE(f.SmoothSkin(pink.data(), 4, 4, 1.0, 1));
  EXPECT_GT(pink[1], p[1]);  // reddish: green brightened toward its curve

  // Grey pixels (R = G, d = 0) take no part of the curve: each channel becomes (c 255) >> 8.
  Picture grey(4 * 4 * 3, 90), g0 = grey, g1 = grey;
  ASSERT_TRUE(f.SmoothSkin(g0.data(), 4, 4, 0.5, 0));
  ASSERT_TRUE(f.SmoothSkin(g1.data(), 4, 4, 0.5, 1));
  for (size_t i = 0; i < g0.size(); ++i) ASSERT_EQ(g1[i], (g0[i] * 255) >> 8);
}

TEST(ImageFilterSmoothSkin, RefusalsLeaveThePicture) {
  CImageFilter f;
  Picture img = enginetest::RandomPicture(4, 4, 2);
  const Picture before = img;
  EXPECT_FALSE(f.SmoothSkin(nullptr, 4, 4, 1.0, 0));
  EXPECT_FALSE(f.SmoothSkin(img.data(), -1, 4, 1.0, 0));
  EXPECT_FALSE(f.SmoothSkin(img.data(), 0x7FFFFFFF, 0x7FFFFFFF, 1.0, 0));  // scratch can't be had
  EXPECT_TRUE(f.SmoothSkin(img.data(), 0, 4, 1.0, 0));
  EXPECT_EQ(img, before);
  // A radius that is not a number, or absurd, still ends (one pass, or at most 255).
  ASSERT_TRUE(f.SmoothSkin(img.data(), 4, 4, std::nan(""), 0));
  EXPECT_EQ(img, ReferenceSmoothSkin(before, 4, 4, 0.0, 0));
  img = before;
  ASSERT_TRUE(f.SmoothSkin(img.data(), 4, 4, 1e300, 0));
  EXPECT_EQ(img, ReferenceSmoothSkin(before, 4, 4, 85.0, 0));
}
