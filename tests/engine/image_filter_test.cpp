#include "engine/CImageFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "engine/CToneCurve.h"
#include "picture_helpers.h"

using Picture = std::vector<uint8_t>;

namespace {

// ---- Plain references, written straight from the formulas -------------------------------

int Luma(const uint8_t* p) { return static_cast<int>(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]); }

// Black and white points from a histogram of n luminance values.
void ReferencePoints(const std::vector<uint64_t>& hist, uint64_t n, double low, double high, int& black,
                     int& white) {
  low = std::min(std::max(low, 0.0), 100.0);
  high = std::min(std::max(high, 0.0), 100.0);
  int64_t lowCount = static_cast<int64_t>(n * low / 100);
  int64_t highCount = static_cast<int64_t>(n * (1 - high / 100));
  int b = -1, w = -1;
  int64_t sum = 0;
  for (int v = 0; v < 256; ++v) {
    sum += static_cast<int64_t>(hist[v]);
    if (b < 0 && sum >= lowCount) b = v;
    if (sum >= highCount) {
      w = v;
      break;
    }
  }
  b = std::max(b, 0);
  w = std::max(w, 0);
  black = std::min(b, w);
  white = std::max(b, w);
}

// The luminance stretch and per-pixel shift with given points (equal points: unchanged).
void ReferenceStretch(Picture& img, int black, int white) {
  if (black == white) return;
  double scale = 255 / static_cast<double>(white - black);
  for (size_t i = 0; i < img.size(); i += 3) {
    int y = Luma(&img[i]);
    int s = std::min(std::max(static_cast<int>((y - black) * scale), 0), 255);
    int d = y - s;
    for (int c = 0; c < 3; ++c) img[i + c] = static_cast<uint8_t>(std::min(std::max(img[i + c] - d, 0), 255));
  }
}

void ReferenceAutoLevels(Picture& img, int lowClip, int highClip, int& black, int& white) {
  std::vector<uint64_t> hist(256, 0);
  for (size_t i = 0; i < img.size(); i += 3) ++hist[Luma(&img[i])];
  ReferencePoints(hist, img.size() / 3, lowClip * 100.0 / 255.0, (255 - highClip) * 100.0 / 255.0, black, white);
  ReferenceStretch(img, black, white);
}

// Hot-pixel removal as first described: column-major over full channel maps, medians by a
// full sort of the window.
void ReferenceHotPixels(Picture& out, int w, int h, const Picture& src, int strength, int window) {
  int n = std::min(std::max(window, 3), 9);
  if (n % 2 == 0) ++n;
  int r = (n - 1) / 2;
  double a = std::min(std::max(strength / 255.0, 0.0), 1.0);
  std::vector<int> buf;
  for (int x = r; x <= w - r - 1; ++x)
    for (int y = r; y <= h - r - 1; ++y) {
      int m[3];
      for (int c = 0; c < 3; ++c) {
        buf.clear();
        for (int dy = -r; dy <= r; ++dy)
          for (int dx = -r; dx <= r; ++dx) buf.push_back(src[((y + dy) * w + x + dx) * 3 + c]);
        std::sort(buf.begin(), buf.end());
        m[c] = buf[(n * n - 1) / 2];
      }
      const uint8_t* p = &src[(y * w + x) * 3];
      int pAvg = static_cast<int>((p[0] + p[1] + p[2]) / 3.0);
      int mAvg = static_cast<int>((m[0] + m[1] + m[2]) / 3.0);
      double t = std::min(std::abs(pAvg - mAvg) / 12.0, 1.0);
      for (int c = 0; c < 3; ++c) {
        int cand = std::min(static_cast<int>(p[c] * (1 - t) + m[c] * t), static_cast<int>(p[c]));
        uint8_t& o = out[(y * w + x) * 3 + c];
        o = static_cast<uint8_t>(static_cast<int>(cand * a + o * (1 - a)));
      }
    }
}

}  // namespace

// ---- Levels ------------------------------------------------------------------------------

TEST(ImageFilterLevels, GreyRampSpanningFiftyToTwoHundred) {
  // 151 grey levels 50..200, 10 pixels each: 1.96 % clip on each side.
  const int w = 151, h = 10;
  Picture img(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) img[(y * w + x) * 3 + c] = static_cast<uint8_t>(50 + x);
  Picture before = img;
  CImageFilter f;
  ASSERT_TRUE(f.AutoLevels(img.data(), w, h, 5, 250));
  // lowCount = trunc(1510 * 1.96 %) = 29, highCount = 1480; the luminance of some greys is
  // one below their level (the double sum falls a hair short), so the points come from the
  // histogram of the formula's values.
  std::vector<uint64_t> hist(256, 0);
  for (size_t i = 0; i < before.size(); i += 3) ++hist[Luma(&before[i])];
  int black = 0, white = 0;
  ReferencePoints(hist, static_cast<uint64_t>(w) * h, 5 * 100.0 / 255.0, 5 * 100.0 / 255.0, black, white);
  EXPECT_EQ(f.GetBlackPoint(), black);
  EXPECT_EQ(f.GetWhitePoint(), white);
  EXPECT_NEAR(black, 52, 1);
  EXPECT_NEAR(white, 197, 1);
  EXPECT_EQ(img[0], 0);                      // black lands at 0
  EXPECT_EQ(img[(w - 1) * 3], 255);          // white at 255
  for (size_t i = 0; i < img.size(); i += 3) {  // R, G and B move by the same amount
    int d0 = img[i] - before[i], d1 = img[i + 1] - before[i + 1], d2 = img[i + 2] - before[i + 2];
    ASSERT_EQ(d0, d1);
    ASSERT_EQ(d1, d2);
  }
  for (int x = 1; x < w; ++x) ASSERT_GE(img[x * 3], img[(x - 1) * 3]);  // still a ramp
}

TEST(ImageFilterLevels, AutoAndApplyMatchThePlainFormulas) {
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const int w = 37, h = 23;
    Picture img = enginetest::RandomPicture(w, h, seed, 20 + 10 * static_cast<int>(seed), 220);
    Picture ref = img;
    CImageFilter f;
    ASSERT_TRUE(f.AutoLevels(img.data(), w, h, static_cast<int>(seed) * 7, 255 - static_cast<int>(seed) * 9));
    int black = 0, white = 0;
    ReferenceAutoLevels(ref, static_cast<int>(seed) * 7, 255 - static_cast<int>(seed) * 9, black, white);
    EXPECT_EQ(f.GetBlackPoint(), black);
    EXPECT_EQ(f.GetWhitePoint(), white);
    ASSERT_EQ(img, ref);

    // A second picture (the crop) gets the stretch of the first.
    Picture crop = enginetest::RandomPicture(9, 8, seed + 100);
    Picture cropRef = crop;
    ASSERT_TRUE(f.ApplyLevels(crop.data(), 9, 8));
    ReferenceStretch(cropRef, black, white);
    ASSERT_EQ(crop, cropRef);
  }
}

TEST(ImageFilterLevels, EqualPointsAndEdgeArguments) {
  // One grey value everywhere: black point equals white point, the picture stays.
  Picture flat(12 * 7 * 3, 90);
  Picture before = flat;
  CImageFilter f;
  ASSERT_TRUE(f.AutoLevels(flat.data(), 12, 7, 5, 250));
  EXPECT_EQ(f.GetBlackPoint(), f.GetWhitePoint());
  EXPECT_EQ(flat, before);
  ASSERT_TRUE(f.ApplyLevels(flat.data(), 12, 7));
  EXPECT_EQ(flat, before);

  CImageFilter g;
  EXPECT_FALSE(g.AutoLevels(nullptr, 4, 4, 5, 250));
  EXPECT_FALSE(g.ApplyLevels(nullptr, 4, 4));
  EXPECT_TRUE(g.AutoLevels(flat.data(), 0, 7, 5, 250));
  EXPECT_TRUE(g.ApplyLevels(flat.data(), 12, 0));
  EXPECT_EQ(g.GetBlackPoint(), 0);
  EXPECT_EQ(g.GetWhitePoint(), 255);
  // Low clip above the high clip: the white count is reached first; the points still order.
  Picture img = enginetest::RandomPicture(16, 16, 5);
  Picture ref = img;
  ASSERT_TRUE(g.AutoLevels(img.data(), 16, 16, 250, 5));
  int black = 0, white = 0;
  ReferenceAutoLevels(ref, 250, 5, black, white);
  EXPECT_EQ(g.GetBlackPoint(), black);
  EXPECT_EQ(g.GetWhitePoint(), white);
  EXPECT_EQ(img, ref);
}

TEST(ImageFilterLevels, LuminanceMapIsTheTruncatedFormula) {
  Picture img = enginetest::RandomPicture(64, 64, 3);
  // Greys, where the double sum can fall a hair below the integer.
  for (int v = 0; v < 256; ++v)
    for (int c = 0; c < 3; ++c) img[v * 3 + c] = static_cast<uint8_t>(v);
  std::vector<uint8_t> map(64 * 64);
  ASSERT_TRUE(CImageFilter::ToLuminance(img.data(), 64, 64, map.data()));
  for (size_t i = 0; i < map.size(); ++i) ASSERT_EQ(map[i], Luma(&img[i * 3])) << i;
  EXPECT_FALSE(CImageFilter::ToLuminance(nullptr, 64, 64, map.data()));
  EXPECT_FALSE(CImageFilter::ToLuminance(img.data(), 64, 64, nullptr));
}

TEST(ImageFilterLevels, AutoLevelsOnACameraPicture) {
  QRV_REQUIRE_TESTDATA("jpeg/exif/Nikon_D70.jpg");
  QRV_REQUIRE_TOOL("djpeg");
  for (const char* name : {"jpeg/exif/Nikon_D70.jpg", "jpeg/exif/Konica_Minolta_DiMAGE_Z3.jpg",
                           "jpeg/orientation/landscape_1.jpg"}) {
    const std::string path = qrvtest::TestDataFile(name);
    if (path.empty()) continue;
    int status = 0;
    std::string ppm = qrvtest::RunCommand("djpeg -pnm '" + path + "'", &status);
    ASSERT_EQ(status, 0) << name;
    int w = 0, h = 0;
    Picture img;
    ASSERT_TRUE(enginetest::ParsePPM(std::vector<uint8_t>(ppm.begin(), ppm.end()), w, h, img)) << name;

    // The histogram and the clip counts, computed here.
    std::vector<uint64_t> hist(256, 0);
    for (size_t i = 0; i < img.size(); i += 3) ++hist[Luma(&img[i])];
    const uint64_t n = static_cast<uint64_t>(w) * h;
    const int64_t lowCount = static_cast<int64_t>(n * (5 * 100.0 / 255.0) / 100);
    const int64_t highCount = static_cast<int64_t>(n * (1 - (255 - 250) * 100.0 / 255.0 / 100));
    Picture ref = img;
    CImageFilter f;
    ASSERT_TRUE(f.AutoLevels(img.data(), w, h, 5, 250));
    // Fewer than lowCount pixels lie below the black point and at least lowCount at or
    // below it; the same for the white point and highCount.
    uint64_t below = 0;
    for (int v = 0; v < f.GetBlackPoint(); ++v) below += hist[v];
    EXPECT_LT(static_cast<int64_t>(below), lowCount) << name;
    EXPECT_GE(static_cast<int64_t>(below + hist[f.GetBlackPoint()]), lowCount) << name;
    uint64_t belowWhite = 0;
    for (int v = 0; v < f.GetWhitePoint(); ++v) belowWhite += hist[v];
    EXPECT_LT(static_cast<int64_t>(belowWhite), highCount) << name;
    EXPECT_GE(static_cast<int64_t>(belowWhite + hist[f.GetWhitePoint()]), highCount) << name;
    EXPECT_LT(f.GetBlackPoint(), f.GetWhitePoint()) << name;
    int black = 0, white = 0;
    ReferenceAutoLevels(ref, 5, 250, black, white);
    EXPECT_EQ(img, ref) << name;
  }
}

// ---- Blend, gamma, tables, cast --------------------------------------------------------

TEST(ImageFilterBlend, OpacityEndsSizesAndThePlainMix) {
  CImageFilter f;
  const Picture src = enginetest::RandomPicture(13, 11, 1);
  const Picture dst0 = enginetest::RandomPicture(13, 11, 2);
  Picture dst = dst0;
  ASSERT_TRUE(f.Blend(dst.data(), 13, 11, src.data(), 13, 11, 1.0, 0));
  EXPECT_EQ(dst, src);
  dst = dst0;
  ASSERT_TRUE(f.Blend(dst.data(), 13, 11, src.data(), 13, 11, 0.0, 0));
  EXPECT_EQ(dst, dst0);
  ASSERT_TRUE(f.Blend(dst.data(), 13, 11, src.data(), 13, 11, 7.5, 0));  // held to 1
  EXPECT_EQ(dst, src);
  dst = dst0;
  EXPECT_FALSE(f.Blend(dst.data(), 13, 11, src.data(), 11, 13, 0.5, 0));
  EXPECT_FALSE(f.Blend(dst.data(), 13, 11, dst.data(), 13, 11, 0.5, 0));
  EXPECT_FALSE(f.Blend(nullptr, 13, 11, src.data(), 13, 11, 0.5, 0));
  EXPECT_FALSE(f.Blend(dst.data(), 13, 11, nullptr, 13, 11, 0.5, 0));
  EXPECT_EQ(dst, dst0);

  for (double a : {0.3, 0.5, 0.77, 0.999})
    for (int mode = 0; mode < 2; ++mode) {
      dst = dst0;
      ASSERT_TRUE(f.Blend(dst.data(), 13, 11, src.data(), 13, 11, a, mode));
      for (size_t i = 0; i < dst.size(); ++i) {
        double keep = dst0[i] * (1 - a), add = src[i] * a;
        int expect = mode == 0 ? static_cast<int>(keep + add) : static_cast<int>(keep) + static_cast<int>(add);
        ASSERT_EQ(dst[i], expect) << a << " " << mode << " " << i;
      }
    }
}

TEST(ImageFilterTables, GammaTableValuesAndChannelMasks) {
  CImageFilter f;
  Picture ramp(256 * 3);
  for (int v = 0; v < 256; ++v)
    for (int c = 0; c < 3; ++c) ramp[v * 3 + c] = static_cast<uint8_t>(v);
  for (double g : {1.0, 0.0}) {
    Picture img = ramp;
    ASSERT_TRUE(f.Gamma(img.data(), 256, 1, g));
    EXPECT_EQ(img, ramp) << g;  // t[i] = i
  }
  Picture img = ramp;
  EXPECT_FALSE(f.Gamma(img.data(), 256, 1, -0.5));
  EXPECT_FALSE(f.Gamma(img.data(), 256, 1, std::nan("")));
  EXPECT_FALSE(f.Gamma(nullptr, 256, 1, 2.0));
  EXPECT_EQ(img, ramp);
  ASSERT_TRUE(f.Gamma(img.data(), 256, 1, 2.0));
  EXPECT_EQ(img[64 * 3], 128);  // trunc((64 / 256)^0.5 * 256)
  EXPECT_EQ(img[255 * 3], 255);  // trunc(255.4995)
  EXPECT_EQ(img[1 * 3], 16);     // trunc(sqrt(1/256) * 256)
  for (int v = 0; v < 256; ++v)
    ASSERT_EQ(img[v * 3 + 1], static_cast<int>(std::pow(v / 256.0, 0.5) * 256.0));

  uint8_t invert[256];
  for (int i = 0; i < 256; ++i) invert[i] = static_cast<uint8_t>(255 - i);
  const Picture src = enginetest::RandomPicture(5, 4, 9);
  for (int mask : {1, 2, 4, 5, 7, 8}) {
    Picture p = src;
    ASSERT_TRUE(f.ApplyLut(p.data(), 5, 4, mask, invert));
    for (size_t i = 0; i < p.size(); ++i) {
      bool on = mask & (1 << (i % 3));
      ASSERT_EQ(p[i], on ? 255 - src[i] : src[i]) << mask;
    }
  }
  Picture p = src;
  EXPECT_FALSE(f.ApplyLut(p.data(), 5, 4, 0x100, invert));
  EXPECT_FALSE(f.ApplyLut(p.data(), 5, 4, 7, nullptr));
  EXPECT_FALSE(f.ApplyLut(nullptr, 5, 4, 7, invert));
  EXPECT_EQ(p, src);
}

TEST(ImageFilterTables, ColorCastBendsBlueAndInModeOneGreen) {
  CImageFilter f;
  const Picture src = enginetest::RandomPicture(9, 7, 4);
  CToneCurve blue;
  blue.SetLevels3(0, 255, 0, 255, 0.8);
  CToneCurve green;
  green.SetLevels2(0, 255, 0, 255, 1.0 - (1.0 - 0.8) / 1.8);

  Picture p = src;
  f.ColorCastGamma(p.data(), 9, 7, 0.8, 0);
  for (size_t i = 0; i < p.size(); i += 3) {
    ASSERT_EQ(p[i], src[i]);
    ASSERT_EQ(p[i + 1], src[i + 1]);
    ASSERT_EQ(p[i + 2], blue.Entry(3, src[i + 2]));
  }
  p = src;
  f.ColorCastGamma(p.data(), 9, 7, 0.8, 1);
  for (size_t i = 0; i < p.size(); i += 3) {
    ASSERT_EQ(p[i], src[i]);
    ASSERT_EQ(p[i + 1], green.Entry(2, src[i + 1]));
    ASSERT_EQ(p[i + 2], blue.Entry(3, src[i + 2]));
  }
  p = src;
  f.ColorCastGamma(p.data(), 9, 7, 1.25, 1);  // mode 1 above 1: blue only
  for (size_t i = 0; i < p.size(); i += 3) ASSERT_EQ(p[i + 1], src[i + 1]);
  p = src;
  f.ColorCastGamma(p.data(), 9, 7, 1.0, 1);
  f.ColorCastGamma(p.data(), 9, 7, 0.0, 1);
  f.ColorCastGamma(nullptr, 9, 7, 0.5, 1);
  EXPECT_EQ(p, src);
}

// ---- Saturation and frame subtraction -------------------------------------------------------

TEST(ImageFilterSaturation, WorkedExampleIdentityAndPlainFormula) {
  CImageFilter f;
  uint8_t px[3] = {200, 100, 0};
  f.Saturation(px, 1, 1, 0);
  EXPECT_EQ(px[0], 159);
  EXPECT_EQ(px[1], 109);
  EXPECT_EQ(px[2], 59);

  const Picture src = enginetest::RandomPicture(19, 13, 8);
  for (int amount : {128, -129, 385, 1000}) {  // unchanged, and s outside -256..256
    Picture p = src;
    f.Saturation(p.data(), 19, 13, amount);
    EXPECT_EQ(p, src) << amount;
  }
  for (int amount : {-128, 0, 64, 127, 129, 256, 384}) {
    Picture p = src;
    f.Saturation(p.data(), 19, 13, amount);
    int s = amount - 128;
    for (size_t i = 0; i < p.size(); i += 3) {
      int y = (77 * src[i] + 151 * src[i + 1] + 28 * src[i + 2]) >> 8;
      for (int c = 0; c < 3; ++c) {
        int v = (src[i + c] * (s + 256) - s * y + 127) / 256;
        v = v >= 256 ? 255 : (v < 0 ? 0 : v);
        ASSERT_EQ(p[i + c], v) << amount;
      }
    }
  }
}

TEST(ImageFilterSaturation, SubtractFrameNeverWraps) {
  CImageFilter f;
  const Picture a = enginetest::RandomPicture(8, 8, 1);
  const Picture b = enginetest::RandomPicture(8, 8, 2);
  Picture out(a.size(), 0xEE);
  f.SubtractFrame(out.data(), 8, 8, a.data(), b.data());
  for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(out[i], std::max(a[i] - b[i], 0));
  Picture same = a;
  f.SubtractFrame(same.data(), 8, 8, same.data(), b.data());  // in place, as the pipeline calls it
  for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(same[i], std::max(a[i] - b[i], 0));
}

// ---- Hot pixels -----------------------------------------------------------------------------

TEST(ImageFilterHotPixels, MedianOfNineIsTheMiddleOfTheSortedNine) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> narrow(0, 3), wide(0, 255);
  for (int trial = 0; trial < 20000; ++trial) {
    uint8_t v[9];
    for (auto& x : v) x = static_cast<uint8_t>(trial % 2 ? narrow(rng) : wide(rng));
    uint8_t s[9];
    std::copy(v, v + 9, s);
    std::sort(s, s + 9);
    ASSERT_EQ(CImageFilter::Median9(v), s[4]);
  }
}

TEST(ImageFilterHotPixels, LonePixelTurnsBlackAndDarkPixelsStay) {
  CImageFilter f;
  Picture img(9 * 9 * 3, 0);
  for (int c = 0; c < 3; ++c) img[(4 * 9 + 4) * 3 + c] = 255;
  Picture out = img;
  ASSERT_TRUE(f.RemoveHotPixels(out.data(), 9, 9, img.data(), 255, 3));
  EXPECT_EQ(out, Picture(9 * 9 * 3, 0));

  // A dark pixel in a bright field is never brightened.
  Picture bright(9 * 9 * 3, 200);
  for (int c = 0; c < 3; ++c) bright[(4 * 9 + 4) * 3 + c] = 10;
  out = bright;
  ASSERT_TRUE(f.RemoveHotPixels(out.data(), 9, 9, bright.data(), 255, 5));
  EXPECT_EQ(out, bright);

  // A hot pixel on the border is out of reach and stays.
  Picture edge(6 * 6 * 3, 0);
  edge[0] = edge[1] = edge[2] = 255;
  out = edge;
  ASSERT_TRUE(f.RemoveHotPixels(out.data(), 6, 6, edge.data(), 255, 3));
  EXPECT_EQ(out, edge);
}

TEST(ImageFilterHotPixels, MatchesTheColumnMajorReferenceForEveryWindow) {
  CImageFilter f;
  const int w = 23, h = 17;
  // Dark speckled picture with scattered hot pixels, so thresholds 0..12 all occur.
  Picture src = enginetest::RandomPicture(w, h, 11, 0, 40);
  std::mt19937 rng(3);
  for (int k = 0; k < 40; ++k) {
    size_t at = (rng() % (w * h)) * 3;
    for (int c = 0; c < 3; ++c) src[at + c] = static_cast<uint8_t>(30 + rng() % 226);
  }
  const Picture start = enginetest::RandomPicture(w, h, 12);  // the output's own values matter at a < 1
  for (int window : {3, 4, 5, 6, 7, 8, 9, 1, 30})
    for (int strength : {255, 200, 77, 0, 300}) {
      Picture fast = start;
      ASSERT_TRUE(f.RemoveHotPixels(fast.data(), w, h, src.data(), strength, window));
      Picture slow = start;
      ReferenceHotPixels(slow, w, h, src, strength, window);
      ASSERT_EQ(fast, slow) << window << " " << strength;
    }
  // Output and source the same buffer.
  Picture inPlace = src;
  ASSERT_TRUE(f.RemoveHotPixels(inPlace.data(), w, h, inPlace.data(), 255, 3));
  Picture slow = src;
  ReferenceHotPixels(slow, w, h, src, 255, 3);
  EXPECT_EQ(inPlace, slow);
  // An even window is the next odd one.
  Picture four = src, five = src;
  f.RemoveHotPixels(four.data(), w, h, src.data(), 255, 4);
  f.RemoveHotPixels(five.data(), w, h, src.data(), 255, 5);
  EXPECT_EQ(four, five);
}

TEST(ImageFilterHotPixels, BadArgumentsAndScratchFailure) {
  CImageFilter f;
  Picture img = enginetest::RandomPicture(4, 4, 1);
  Picture before = img;
  EXPECT_FALSE(f.RemoveHotPixels(nullptr, 4, 4, img.data(), 255, 3));
  EXPECT_FALSE(f.RemoveHotPixels(img.data(), 4, 4, nullptr, 255, 3));
  EXPECT_FALSE(f.RemoveHotPixels(img.data(), -4, 4, img.data(), 255, 3));
  EXPECT_TRUE(f.RemoveHotPixels(img.data(), 4, 4, img.data(), 255, 9));  // too small for the window
  // Sizes whose scratch memory can't be had: refused before anything is read or written.
  EXPECT_FALSE(f.RemoveHotPixels(img.data(), 0x7FFFFFFF, 20, img.data(), 255, 9));
  EXPECT_FALSE(f.AutoLevels(img.data(), 0x7FFFFFFF, 0x7FFFFFFF, 5, 250));
  EXPECT_EQ(img, before);
}
