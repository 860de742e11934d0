#include "platform/global_memory.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(GlobalMemory, ZeroFilledBlocksKeepTheirSize) {
  auto* p = static_cast<unsigned char*>(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 4096));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(GlobalSize(p), 4096u);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(p[i], 0) << i;
  EXPECT_EQ(GlobalFree(p), nullptr);
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
  EXPECT_EQ(GlobalSize(nullptr), 0u);
}

TEST(GlobalMemory, ReAllocKeepsContentsAndZeroesGrowth) {
  auto* p = static_cast<unsigned char*>(GlobalAlloc(GPTR, 8));
  ASSERT_NE(p, nullptr);
  std::memset(p, 0xAB, 8);
  auto* q = static_cast<unsigned char*>(GlobalReAlloc(p, 64, GMEM_MOVEABLE | GMEM_ZEROINIT));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(GlobalSize(q), 64u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(q[i], 0xAB);
  for (int i = 8; i < 64; ++i) EXPECT_EQ(q[i], 0);
  auto* r = static_cast<unsigned char*>(GlobalReAlloc(q, 4, GMEM_MOVEABLE));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(GlobalSize(r), 4u);
  EXPECT_EQ(r[3], 0xAB);
  GlobalFree(r);
}

TEST(GlobalMemory, RequestsAtTheLimitAreRefused) {
  EXPECT_EQ(GlobalAlloc(GPTR, kGlobalAllocLimit), nullptr);
  EXPECT_EQ(GlobalAlloc(GPTR, ~0ull), nullptr);
  void* p = GlobalAlloc(GPTR, 16);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(GlobalReAlloc(p, kGlobalAllocLimit, GMEM_MOVEABLE), nullptr);
  EXPECT_EQ(GlobalSize(p), 16u);  // the old block is untouched
  GlobalFree(p);
}
