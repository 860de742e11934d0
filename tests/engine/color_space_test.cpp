#include "engine/CColorSpaceConverter.h"

#include <gtest/gtest.h>

#include <cmath>

#include "picture_helpers.h"

TEST(ColorSpace, CurvesPassThroughTheCameraPointsAndIncrease) {
  const double* t = CColorSpaceConverter::CurveT();
  const double* u = CColorSpaceConverter::CurveU();
  EXPECT_EQ(t[0], 0.0);
  EXPECT_EQ(t[511], 1.0);
  EXPECT_EQ(u[0], 0.0);
  EXPECT_EQ(u[511], 1.0);
  const int at[] = {1, 64, 128, 192, 256, 320, 384, 448, 510};
  const double tv[] = {0.000412, 0.025528, 0.052827, 0.088319, 0.135119, 0.200763, 0.292744, 0.483009, 0.985321};
  const double uv[] = {0.00145, 0.144656, 0.406928, 0.610697, 0.755886, 0.858015, 0.924895, 0.968139, 0.999481};
  for (int k = 0; k < 9; ++k) {
    EXPECT_NEAR(t[at[k]], tv[k], 1e-12) << at[k];
    EXPECT_NEAR(u[at[k]], uv[k], 1e-12) << at[k];
  }
  for (int i = 1; i < 512; ++i) {
    ASSERT_GT(t[i], t[i - 1]) << i;
    ASSERT_GT(u[i], u[i - 1]) << i;
  }
}

TEST(ColorSpace, CombinedMatrixAndTables) {
  CColorSpaceConverter conv;
  conv.Setup();
  const double expect[3][3] = {
      {1.173753, -0.028621, -0.145443}, {0.021621, 1.181233, -0.20271}, {0.058847, -0.208997, 1.14986}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(conv.Matrix()[i][j], expect[i][j], 5e-6) << i << j;
    EXPECT_NEAR(conv.Matrix()[i][0] + conv.Matrix()[i][1] + conv.Matrix()[i][2], 1.0, 0.0004);
  }
  EXPECT_EQ(conv.Linear(0), CColorSpaceConverter::CurveT()[1]);
  EXPECT_EQ(conv.Linear(255), 1.0);
  EXPECT_EQ(conv.Encoded(0), 0);
  EXPECT_EQ(conv.Encoded(1023), 255);
  EXPECT_EQ(conv.Encoded(3), 10);  // linear segment: 12.92 * 3/1023 * 255 + 0.5 = 10.16
  // sRGB curve at 0.5: 1.055 * 0.5^(1/2.4) - 0.055 = 0.7354 -> 188
  EXPECT_EQ(conv.Encoded(static_cast<int>(1023 * 0.5 + 0.5)), 188);
}

TEST(ColorSpace, BlackWhiteGreysAndCameraRed) {
  CColorSpaceConverter conv;
  uint8_t px[2 * 3] = {0, 0, 0, 255, 255, 255};
  conv.Convert(px, 2, 1);
  EXPECT_EQ(std::vector<uint8_t>(px, px + 6), (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));

  std::vector<uint8_t> greys(256 * 3);
  for (int v = 0; v < 256; ++v) greys[v * 3] = greys[v * 3 + 1] = greys[v * 3 + 2] = static_cast<uint8_t>(v);
  conv.Convert(greys.data(), 16, 16);
  for (int v = 0; v < 256; ++v) {
    const uint8_t* p = &greys[v * 3];
    // Within +-1 is what the matrix alone promises; the tone curve's grey-safe entries make
    // the three channels land on the same tone-table step, so greys come out exactly grey.
    EXPECT_EQ(p[0], p[1]) << v;
    EXPECT_EQ(p[1], p[2]) << v;
    if (v > 0) {
      EXPECT_GE(p[1], greys[(v - 1) * 3 + 1]) << v;  // greys keep their order
    }
  }

  uint8_t red[3] = {255, 0, 0};
  conv.Convert(red, 1, 1);
  EXPECT_EQ(red[0], 255);
  EXPECT_GT(red[1], 0);
  EXPECT_GT(red[2], 0);
  EXPECT_LT(red[1], 80);
  EXPECT_LT(red[2], 80);

  // Gamut mode 1 marks the out-of-gamut red magenta; an in-gamut grey converts as usual.
  const uint8_t src[3] = {255, 0, 0};
  uint8_t out[3] = {1, 2, 3};
  conv.ConvertPixel(src, out, 1);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{255, 0, 255}));
  const uint8_t grey[3] = {128, 128, 128};
  uint8_t g0[3], g1[3];
  conv.ConvertPixel(grey, g0, 0);
  conv.ConvertPixel(grey, g1, 1);
  EXPECT_EQ(std::vector<uint8_t>(g0, g0 + 3), std::vector<uint8_t>(g1, g1 + 3));
}

TEST(ColorSpace, FastConversionEqualsThePixelByPixelForm) {
  const int w = 257, h = 129;
  std::vector<uint8_t> img = enginetest::RandomPicture(w, h, 21);
  std::vector<uint8_t> slow(img.size());
  CColorSpaceConverter conv;
  conv.Setup();
  for (size_t i = 0; i < img.size(); i += 3) conv.ConvertPixel(&img[i], &slow[i], 0);
  conv.Convert(img.data(), w, h);
  EXPECT_EQ(img, slow);
  conv.Convert(nullptr, w, h);  // nothing, no crash
}
