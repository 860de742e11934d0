// Box reduction by whole-pixel blocks: hand-worked means, the copy at equal sizes and the
// refused arguments.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/core/ISResample.h"

TEST(BoxReduce, BlockMeansByHand) {
  // 4 x 4 -> 2 x 2, one byte per pixel: each destination sample is a 2 x 2 mean, truncated.
  const uint8_t src[16] = {0, 1, 10, 20,  //
                           2, 4, 30, 41,  //
                           255, 255, 7, 7, //
                           255, 254, 7, 8};
  uint8_t dst[4] = {};
  ISErrorCode e = 99;
  ASSERT_TRUE(BoxReduce(src, 4, 4, dst, 1, 2, 2, 4, 2, 255, e));
  EXPECT_EQ(e, 0u);
  EXPECT_EQ(dst[0], 1);    // 7 / 4
  EXPECT_EQ(dst[1], 25);   // 101 / 4
  EXPECT_EQ(dst[2], 254);  // 1019 / 4
  EXPECT_EQ(dst[3], 7);    // 29 / 4

  // 5 x 3 -> 2 x 1 with 2-byte pixels: steps 2.5 and 3, blocks of 2 x 2 starting at columns
  // 0 and trunc(2.5) = 2, row 0.
  std::vector<uint8_t> s2(5 * 3 * 2);
  for (size_t i = 0; i < s2.size(); ++i) s2[i] = static_cast<uint8_t>(i * 3);
  uint8_t d2[4] = {};
  ASSERT_TRUE(BoxReduce(s2.data(), 5, 3, d2, 2, 2, 1, 10, 4, 255, e));
  auto at = [&](int x, int y, int c) { return s2[y * 10 + x * 2 + c]; };
  for (int c = 0; c < 2; ++c) {
    EXPECT_EQ(d2[c], (at(0, 0, c) + at(1, 0, c) + at(0, 1, c) + at(1, 1, c)) / 4);
    EXPECT_EQ(d2[2 + c], (at(2, 0, c) + at(3, 0, c) + at(2, 1, c) + at(3, 1, c)) / 4);
  }
}

TEST(BoxReduce, EqualSizesCopyRowsAndBadArguments) {
  const uint8_t src[6] = {1, 2, 3, 4, 5, 6};  // 2 x 2 in 3-byte rows
  uint8_t dst[4] = {};
  ISErrorCode e = 0;
  ASSERT_TRUE(BoxReduce(src, 2, 2, dst, 1, 2, 2, 3, 2, 255, e));
  EXPECT_EQ(dst[0], 1);
  EXPECT_EQ(dst[1], 2);
  EXPECT_EQ(dst[2], 4);
  EXPECT_EQ(dst[3], 5);
  // 1 x 1 source to 1 x 1.
  ASSERT_TRUE(BoxReduce(src, 1, 1, dst, 1, 1, 1, 1, 1, 255, e));

  EXPECT_FALSE(BoxReduce(src, 2, 2, dst, 1, 0, 1, 3, 2, 255, e));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_FALSE(BoxReduce(src, 2, 2, dst, 1, 3, 1, 3, 3, 255, e));  // wider than the source
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_FALSE(BoxReduce(nullptr, 2, 2, dst, 1, 1, 1, 3, 2, 255, e));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  EXPECT_FALSE(BoxReduce(src, 2, 2, nullptr, 1, 1, 1, 3, 2, 255, e));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
  // Blocks of more than (2^32 - 1) / 255 samples could overflow their sums: refused before
  // anything is read.
  EXPECT_FALSE(BoxReduce(src, 20000, 1000, dst, 1, 1, 1, 20000, 1, 255, e));
  EXPECT_EQ(e, IS_ERR_BADPARAM);
}
