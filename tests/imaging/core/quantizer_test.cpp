// Colour quantization: the builders' invariants, the mapper against a slow reference, and a
// real picture compared with ImageMagick's error-diffused 256 colours.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <set>
#include <vector>

#include "imaging/core/ISColorQuantizer.h"
#include "imaging/core/ISThreadState.h"
#include "support/pictures.h"
#include "support/progress_recorder.h"
#include "support/test_support.h"

namespace {

std::vector<BYTE> Fill(DWORD w, DWORD h, BYTE r, BYTE g, BYTE b) {
  std::vector<BYTE> v(size_t(w) * h * 3);
  for (size_t i = 0; i < v.size(); i += 3) {
    v[i] = r;
    v[i + 1] = g;
    v[i + 2] = b;
  }
  return v;
}

// The mapping written plainly: whole-image error arrays, serpentine rows, per-cell cache.
std::vector<BYTE> ReferenceMap(const std::vector<BYTE>& src, int w, int h, const RGBQUAD* pal, int count, bool fs,
                               int limit) {
  std::vector<int> err(3 * (w + 2) * (h + 1), 0);
  auto E = [&](int x, int y, int k) -> int& { return err[3 * ((x + 1) + (w + 2) * y) + k]; };
  std::vector<int> cache(32768, -1);
  std::vector<BYTE> out(w * h);
  for (int y = 0; y < h; ++y) {
    const int dir = (y % 2 == 0) ? 1 : -1;
    for (int i = 0; i < w; ++i) {
      const int x = dir > 0 ? i : w - 1 - i;
      int c[3];
      for (int k = 0; k < 3; ++k) {
        const int e = E(x, y, k);
        const int corr = fs ? (int)std::floor((e + 8) / 16.0) : (int)std::floor(e / 2.0);
        c[k] = std::min(255, std::max(0, src[3 * (y * w + x) + k] + corr));
      }
      const int key = (c[0] >> 3) << 10 | (c[1] >> 3) << 5 | (c[2] >> 3);
      if (cache[key] < 0) {
        long best = 0xFD0300;
        int bi = 0;
        for (int j = 0; j < count; ++j) {
          const long d = (long)(pal[j].rgbRed - c[0]) * (pal[j].rgbRed - c[0]) +
                         (long)(pal[j].rgbGreen - c[1]) * (pal[j].rgbGreen - c[1]) +
                         (long)(pal[j].rgbBlue - c[2]) * (pal[j].rgbBlue - c[2]);
          if (d < best) best = d, bi = j;
        }
        cache[key] = bi;
      }
      const int idx = cache[key];
      out[y * w + x] = (BYTE)idx;
      const int pv[3] = {pal[idx].rgbRed, pal[idx].rgbGreen, pal[idx].rgbBlue};
      for (int k = 0; k < 3; ++k) {
        const int e = std::min(limit, std::max(-limit, c[k] - pv[k]));
        if (fs) {
          E(x + dir, y, k) += 7 * e;
          E(x - dir, y + 1, k) += 3 * e;
          E(x, y + 1, k) += 5 * e;
          E(x + dir, y + 1, k) += e;
        } else {
          E(x + dir, y, k) += e;
          E(x, y + 1, k) += e;
        }
      }
    }
  }
  return out;
}

double MeanAbsError(const std::vector<BYTE>& a, const std::vector<BYTE>& b) {
  double s = 0;
  for (size_t i = 0; i < a.size(); ++i) s += std::abs(int(a[i]) - int(b[i]));
  return s / a.size();
}

}  // namespace

TEST(Quantizer, CubeKeepsOneRoundedMeanPerCell) {
  // Three cells; the first holds 10 and 11 in its red channel: rounded mean (21 + 1) / 2 = 11.
  std::vector<BYTE> img = {10, 20, 30, 11, 20, 30, 200, 100, 50, 0, 255, 0};
  std::vector<RGBQUAD> pal(256, RGBQUAD{9, 9, 9, 0x77});
  ISErrorCode err = 0;
  DWORD n = 0;
  ASSERT_TRUE(BuildPalette(err, img.data(), 4, 1, 12, 256, pal.data(), &n, 0));
  ASSERT_EQ(n, 3u);
  std::set<std::vector<int>> got;
  for (DWORD i = 0; i < n; ++i) got.insert({pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue});
  EXPECT_EQ(got, (std::set<std::vector<int>>{{11, 20, 30}, {200, 100, 50}, {0, 255, 0}}));
  for (int i = 3; i < 256; ++i) {
    EXPECT_EQ(pal[i].rgbRed | pal[i].rgbGreen | pal[i].rgbBlue, 0) << i;
  }
  for (const RGBQUAD& q : pal) EXPECT_EQ(q.rgbReserved, 0x77);  // never written

  // Palette order: the entries hold c0, c1, c2 in bytes 0, 1, 2.
  ASSERT_TRUE(BuildPalette(err, img.data(), 1, 1, 3, 4, pal.data(), &n, kQuantPaletteOrder));
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(pal[0].rgbBlue, 10);
  EXPECT_EQ(pal[0].rgbRed, 30);

  // One colour: one entry; n = 1: the rounded mean of everything.
  const auto flat = Fill(5, 3, 7, 8, 9);
  ASSERT_TRUE(BuildPalette(err, flat.data(), 5, 3, 15, 256, pal.data(), &n, 0));
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(pal[0].rgbRed, 7);
  EXPECT_EQ(pal[0].rgbBlue, 9);
  EXPECT_EQ(pal[1].rgbRed, 0);
  ASSERT_TRUE(BuildPalette(err, img.data(), 4, 1, 12, 1, pal.data(), &n, 0));
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(pal[0].rgbRed, (10 + 11 + 200 + 0 + 2) / 4);
  EXPECT_EQ(pal[0].rgbGreen, (20 + 20 + 100 + 255 + 2) / 4);
  EXPECT_EQ(pal[0].rgbBlue, (30 + 30 + 50 + 0 + 2) / 4);

  EXPECT_FALSE(BuildPalette(err, img.data(), 4, 1, 12, 16, nullptr, &n, 0));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
  EXPECT_FALSE(BuildPalette(err, nullptr, 4, 1, 12, 16, pal.data(), &n, kQuantOctree));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
}

TEST(Quantizer, BuildersStayWithinTheColourCount) {
  std::mt19937 rng(3);
  const DWORD w = 97, h = 61;
  std::vector<BYTE> img(w * h * 4);
  for (DWORD i = 0; i < w * h; ++i) {  // smooth gradient plus noise, 4-byte pixels
    img[4 * i] = static_cast<BYTE>((i % w) * 255 / w);
    img[4 * i + 1] = static_cast<BYTE>((i / w) * 255 / h);
    img[4 * i + 2] = static_cast<BYTE>(rng() % 256);
    img[4 * i + 3] = 0xAB;
  }
  for (DWORD flags : {kQuantFourBytes, kQuantFourBytes | kQuantOctree}) {
    for (DWORD n : {1u, 2u, 16u, 200u, 256u}) {
      std::vector<RGBQUAD> pal(256);
      ISErrorCode err = 0;
      DWORD used = 0;
      ASSERT_TRUE(BuildPalette(err, img.data(), w, h, w * 4, n, pal.data(), &used, flags));
      EXPECT_GE(used, 1u);
      EXPECT_LE(used, n) << flags;
      std::vector<BYTE> idx(w * h);
      ASSERT_TRUE(MapToPalette(err, img.data(), idx.data(), w, h, w * 4, w, used, pal.data(), 1, 20, flags));
      for (BYTE i : idx) ASSERT_LT(i, used);
    }
  }
  // The octree keeps exact colours when there are few.
  const std::vector<BYTE> few = {1, 2, 3, 250, 251, 252, 1, 2, 3, 9, 9, 9};
  std::vector<RGBQUAD> pal(256);
  ISErrorCode err = 0;
  DWORD used = 0;
  ASSERT_TRUE(BuildPalette(err, few.data(), 4, 1, 12, 8, pal.data(), &used, kQuantOctree));
  ASSERT_EQ(used, 3u);
  std::set<std::vector<int>> got;
  for (DWORD i = 0; i < used; ++i) got.insert({pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue});
  EXPECT_EQ(got, (std::set<std::vector<int>>{{1, 2, 3}, {250, 251, 252}, {9, 9, 9}}));
}

TEST(Quantizer, SumsDoNotOverflowOnLargePictures) {
  // 4096 x 4200 white pixels (17.2 million, past what 32-bit channel sums hold), every row
  // read from the same memory.
  const auto row = Fill(4096, 1, 255, 255, 255);
  std::vector<RGBQUAD> pal(256);
  ISErrorCode err = 0;
  DWORD used = 0;
  ASSERT_TRUE(BuildPalette(err, row.data(), 4096, 4200, 0, 256, pal.data(), &used, 0));
  ASSERT_EQ(used, 1u);
  EXPECT_EQ(pal[0].rgbRed, 255);
  EXPECT_EQ(pal[0].rgbGreen, 255);
  EXPECT_EQ(pal[0].rgbBlue, 255);
}

TEST(Quantizer, DitherLimitBoundsTheDiffusedError) {
  // A row of grey 100 against black and white. With the limit 20 every error is cut to 20 and
  // never lifts a pixel past the midpoint; with 255 the error 100 (700/16 ahead) gives 144,
  // which maps to white, its error -111 pulls the next one to 51, and so on.
  const auto img = Fill(4, 1, 100, 100, 100);
  const RGBQUAD pal[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  std::vector<BYTE> idx(4);
  ISErrorCode err = 0;
  ASSERT_TRUE(MapToPalette(err, img.data(), idx.data(), 4, 1, 12, 4, 2, const_cast<RGBQUAD*>(pal), 1, 20, 0));
  EXPECT_EQ(idx, (std::vector<BYTE>{0, 0, 0, 0}));
  ASSERT_TRUE(MapToPalette(err, img.data(), idx.data(), 4, 1, 12, 4, 2, const_cast<RGBQUAD*>(pal), 1, 255, 0));
  EXPECT_EQ(idx, (std::vector<BYTE>{0, 1, 0, 0}));
  EXPECT_FALSE(MapToPalette(err, img.data(), idx.data(), 4, 1, 12, 4, 2, nullptr, 1, 20, 0));
  EXPECT_EQ(err, IS_ERR_BADPARAM);
}

TEST(Quantizer, MappingMatchesASlowReference) {
  std::mt19937 rng(9);
  const int w = 37, h = 23;
  std::vector<BYTE> img(w * h * 3);
  for (int i = 0; i < w * h; ++i) {
    img[3 * i] = static_cast<BYTE>(i % w * 7);
    img[3 * i + 1] = static_cast<BYTE>(i / w * 11);
    img[3 * i + 2] = static_cast<BYTE>(rng() % 256);
  }
  std::vector<RGBQUAD> pal(256);
  for (int mode : {0, 1}) {
    for (int limit : {5, 20, 255}) {
      for (DWORD n : {3u, 17u, 64u}) {
        std::vector<BYTE> idx(w * h);
        ISErrorCode err = 0;
        ASSERT_TRUE(ReduceColours(err, img.data(), idx.data(), w, h, w * 3, w, n, pal.data(), mode,
                                  static_cast<BYTE>(limit), 0));
        DWORD used = 0;
        std::vector<RGBQUAD> pal2(256);
        ASSERT_TRUE(BuildPalette(err, img.data(), w, h, w * 3, n, pal2.data(), &used, 0));
        EXPECT_EQ(0, memcmp(pal.data(), pal2.data(), 1024));
        EXPECT_EQ(idx, ReferenceMap(img, w, h, pal.data(), used, mode != 0, limit)) << mode << " " << limit << " " << n;
      }
    }
  }
}

TEST(Quantizer, EntryPointsLimitTheCountAndReport) {
  const auto img = Fill(3, 2, 40, 50, 60);
  std::vector<RGBQUAD> pal(256);
  UINT used = 99;
  ASSERT_TRUE(ISBuildPalette(img.data(), 3, 2, 9, 0, pal.data(), &used, 0));  // 0 acts as 1
  EXPECT_EQ(used, 1u);
  ASSERT_TRUE(ISBuildPalette(img.data(), 3, 2, 9, 1000, pal.data(), &used, kQuantOctree));
  EXPECT_EQ(used, 1u);
  EXPECT_EQ(pal[0].rgbRed, 40);
  EXPECT_FALSE(ISBuildPalette(img.data(), 3, 2, 9, 16, nullptr, &used, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);

  std::vector<BYTE> idx(6, 7);
  {
    qrvtest::ProgressRecorder rec;
    ASSERT_TRUE(ISReduceColors(img.data(), 3, 2, 9, idx.data(), 3, 256, pal.data(), 1, 20, 0));
    EXPECT_EQ(rec.calls.size(), 2u);  // the mapping's rows only
  }
  EXPECT_EQ(idx, std::vector<BYTE>(6, 0));
  qrvtest::ProgressRecorder stop(0);
  EXPECT_FALSE(ISBuildPalette(img.data(), 3, 2, 9, 16, pal.data(), &used, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_STOPPED);
  EXPECT_FALSE(ISBuildPalette(img.data(), 3, 2, 9, 16, pal.data(), &used, kQuantOctree));
  EXPECT_EQ(ISGetLastError(), IS_ERR_STOPPED);
  EXPECT_FALSE(ISReduceColors(img.data(), 3, 2, 9, idx.data(), 3, 256, pal.data(), 1, 20, 0));
  EXPECT_EQ(ISGetLastError(), IS_ERR_STOPPED);
}

TEST(Quantizer, RealPictureAgainstImageMagick) {
  QRV_REQUIRE_TOOL("convert");
  const auto files = qrvtest::TestDataFiles("jpeg/exif");
  if (files.empty()) GTEST_SKIP() << "no sample pictures";
  int checked = 0;
  for (const std::string& file : files) {
    if (checked == 2) break;
    int status = 0;
    // Scaled to at most 320 pixels a side to keep the test quick.
    const std::string base = "convert '" + file + "' -auto-orient -resize '320x320>' ";
    const std::string orig = qrvtest::RunCommand(base + "-depth 8 ppm:- 2>/dev/null", &status);
    if (status != 0) continue;
    qrvtest::PNM pic;
    if (!qrvtest::ParsePNM(std::vector<uint8_t>(orig.begin(), orig.end()), pic) || pic.comps != 3) continue;
    const int w = static_cast<int>(pic.width), h = static_cast<int>(pic.height);
    std::vector<BYTE>& rgb = pic.pixels;
    const std::string theirs =
        qrvtest::RunCommand(base + "-dither FloydSteinberg -colors 256 -depth 8 ppm:- 2>/dev/null", &status);
    qrvtest::PNM ref;
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(qrvtest::ParsePNM(std::vector<uint8_t>(theirs.begin(), theirs.end()), ref));
    ASSERT_EQ(ref.pixels.size(), rgb.size());
    const std::vector<BYTE>& rgb2 = ref.pixels;

    std::vector<BYTE> idx(size_t(w) * h);
    std::vector<RGBQUAD> pal(256);
    ASSERT_TRUE(ISReduceColors(rgb.data(), w, h, w * 3, idx.data(), w, 256, pal.data(), 1, 20, 0));
    std::set<BYTE> distinct(idx.begin(), idx.end());
    EXPECT_LE(distinct.size(), 256u);
    std::vector<BYTE> ours(rgb.size());
    for (size_t i = 0; i < idx.size(); ++i) {
      ours[3 * i] = pal[idx[i]].rgbRed;
      ours[3 * i + 1] = pal[idx[i]].rgbGreen;
      ours[3 * i + 2] = pal[idx[i]].rgbBlue;
    }
    const double eo = MeanAbsError(rgb, ours), et = MeanAbsError(rgb, rgb2);
    std::printf("%s: mean error ours %.3f, ImageMagick %.3f\n", file.c_str(), eo, et);
    EXPECT_LE(eo, et * 1.25) << file;
    ++checked;
  }
  if (!checked) GTEST_SKIP() << "no readable sample picture";
}
