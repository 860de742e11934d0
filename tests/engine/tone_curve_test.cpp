#include "engine/CToneCurve.h"

#include <gtest/gtest.h>

#include <cmath>

#include "picture_helpers.h"

TEST(ToneCurve, LevelsTablesFromTheWorkedValues) {
  CToneCurve curve;
  for (int t = 1; t <= 3; ++t)
    for (int i = 0; i < 256; ++i) ASSERT_EQ(curve.Entry(t, i), static_cast<uint32_t>(i));

  curve.SetLevels3(0, 255, 0, 255, 1.0);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(curve.Entry(3, i), static_cast<uint32_t>(i));

  // gamma 2: 64 -> trunc(255 (64 / 255)^0.5 + 0.5) = 128
  curve.SetLevels2(0, 255, 0, 255, 2.0);
  EXPECT_EQ(curve.Entry(2, 64), 128u);
  EXPECT_EQ(curve.Entry(2, 0), 0u);
  EXPECT_EQ(curve.Entry(2, 255), 255u);
  EXPECT_EQ(curve.Entry(1, 64), 64u);  // table 1 untouched
  EXPECT_EQ(curve.Entry(3, 64), 64u);

  // Gamma 0 skips the power step: a plain linear stretch.
  EXPECT_DOUBLE_EQ(CToneCurve::Levels(0, 255, 0, 255, 0.0, 0.25), 0.25);
  // Inverted output range and equal input points (no division).
  EXPECT_DOUBLE_EQ(CToneCurve::Levels(0, 255, 255, 0, 1.0, 0.0), 1.0);
  EXPECT_DOUBLE_EQ(CToneCurve::Levels(10, 10, 0, 255, 0.0, 20 / 255.0), 10.0);
  // Input black above the value: negative v keeps its sign through the power.
  EXPECT_LT(CToneCurve::Levels(100, 200, 0, 255, 2.0, 50 / 255.0), 0.0);

  // Entries are held to 0..255.
  curve.SetLevels3(100, 200, 0, 255, 1.0);
  EXPECT_EQ(curve.Entry(3, 0), 0u);
  EXPECT_EQ(curve.Entry(3, 150), 128u);  // 127.5 + 0.5
  EXPECT_EQ(curve.Entry(3, 255), 255u);
}

TEST(ToneCurve, ApplyTouchesOnlyTheirChannels) {
  CToneCurve curve;
  curve.SetLevels2(0, 255, 0, 255, 0.5);
  curve.SetLevels3(0, 255, 255, 0, 1.0);  // inverts blue
  auto image = enginetest::RandomPicture(7, 5, 1);
  auto third = image;
  curve.ApplyThird(third.data(), 7, 5);
  auto all = image;
  curve.ApplyAll(all.data(), 7, 5);
  for (size_t i = 0; i < image.size(); i += 3) {
    EXPECT_EQ(third[i], image[i]);
    EXPECT_EQ(third[i + 1], image[i + 1]);
    EXPECT_EQ(third[i + 2], 255 - image[i + 2]);
    EXPECT_EQ(all[i], image[i]);
    EXPECT_EQ(all[i + 1], curve.Entry(2, image[i + 1]));
    EXPECT_EQ(all[i + 2], 255 - image[i + 2]);
  }
  curve.ApplyAll(nullptr, 7, 5);  // nothing, no crash
  curve.ApplyThird(nullptr, 7, 5);
}
