// Counted arrays, pointer vectors, the exception, memory blocks and the bit tables.
#include <gtest/gtest.h>

#include "imaging/core/CISMemBlock.h"
#include "imaging/core/ISContainers.h"
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISSizeMath.h"

TEST(ISArray, ResizeKeepsStorageOnlyForTheSameCount) {
  ISArray<uint16_t> a;
  EXPECT_EQ(a.Count(), 0u);
  EXPECT_EQ(a.Data(), nullptr);
  a.Resize(4);
  ASSERT_EQ(a.Count(), 4u);
  uint16_t* before = a.Data();
  a[0] = 7;
  a.Resize(4);
  EXPECT_EQ(a.Data(), before);
  EXPECT_EQ(a[0], 7);
  a.Resize(0);
  EXPECT_EQ(a.Count(), 0u);
  EXPECT_EQ(a.Data(), nullptr);
  a.Resize(0x80000000u);  // negative as a signed count: nothing is allocated
  EXPECT_EQ(a.Count(), 0u);

  ISArray<unsigned char> b;
  const unsigned char src[3] = {1, 2, 3};
  ASSERT_TRUE(b.Assign(src, 3));
  ISArray<unsigned char> c = b;  // deep copy
  c[0] = 9;
  EXPECT_EQ(b[0], 1);
  ISArray<unsigned char> d = std::move(c);
  EXPECT_EQ(c.Count(), 0u);
  EXPECT_EQ(d[0], 9);
}

namespace {
int g_alive = 0;
struct Counted {
  Counted() { ++g_alive; }
  ~Counted() { --g_alive; }
};
}  // namespace

TEST(ISPtrVector, ClearDeletesEveryElementAndSkipsNulls) {
  {
    ISPtrVector<Counted> v;
    v.Add(new Counted);
    v.Add(nullptr);
    v.Add(new Counted);
    v.Add(new Counted);
    EXPECT_EQ(g_alive, 3);
    v.Clear();
    EXPECT_EQ(g_alive, 0);
    EXPECT_EQ(v.Size(), 0u);
    v.Add(new Counted);
  }
  EXPECT_EQ(g_alive, 0);
}

TEST(ISException, MessageAndCode) {
  RovIrirev::ISException none(nullptr);
  EXPECT_STREQ(none.what(), "");
  EXPECT_EQ(none.Code(), 0u);
  RovIrirev::ISException e(IS_ERR_BADPNG, "bad chunk");
  RovIrirev::ISException copy(e);
  EXPECT_STREQ(copy.what(), "bad chunk");
  EXPECT_EQ(copy.Code(), IS_ERR_BADPNG);
}

TEST(CISMemBlock, GlobalBlocksAndTheirLimits) {
  CISMemBlock b;
  EXPECT_FALSE(b.Alloc(0));
  EXPECT_FALSE(b.Alloc(kGlobalAllocLimit));
  ASSERT_TRUE(b.Alloc(100));
  auto* p = static_cast<unsigned char*>(b.GetPtr());
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0);
  EXPECT_EQ(GlobalSize(p), 100u);
  p[99] = 5;
  ASSERT_TRUE(b.ReAlloc(200));
  p = static_cast<unsigned char*>(b.GetPtr());
  EXPECT_EQ(p[99], 5);
  EXPECT_FALSE(b.ReAlloc(0));
  EXPECT_EQ(b.GetPtr(), p);  // a failed resize keeps the block
  // Handed to the caller, who frees it with GlobalFree.
  b.Reset();
  EXPECT_EQ(GlobalFree(p), nullptr);
}

namespace {
int g_allocs = 0, g_frees = 0;
void* TestAlloc(uint64_t size, uintptr_t user) {
  ++g_allocs;
  EXPECT_EQ(user, 77u);
  return std::calloc(1, static_cast<size_t>(size));
}
BOOL TestFree(void* p, uintptr_t) {
  ++g_frees;
  std::free(p);
  return 1;
}
}  // namespace

TEST(CISMemBlock, InstalledCallbacksAreUsed) {
  ISThreadState* ts = GetThreadState();
  ts->allocCallback = TestAlloc;
  ts->freeCallback = TestFree;
  ts->allocUser = 77;
  {
    ISOwnedBlock owned;
    ASSERT_TRUE(owned.Alloc(10));
    EXPECT_FALSE(owned.ReAlloc(20));  // no realloc callback installed
  }
  EXPECT_EQ(g_allocs, 1);
  EXPECT_EQ(g_frees, 1);
  ts->allocCallback = nullptr;
  ts->freeCallback = nullptr;
  ts->allocUser = 0;
}

TEST(CISOpContext, BitTables) {
  // Every entry of the reversal table against bits moved one by one.
  for (int v = 0; v < 256; ++v) {
    int reversed = 0;
    for (int b = 0; b < 8; ++b) reversed |= ((v >> b) & 1) << (7 - b);
    EXPECT_EQ(CISOpContext::kBitReverse[v], reversed) << v;
  }
  for (int i = 0; i < 8; ++i) EXPECT_EQ(CISOpContext::kBitMasks[i], 1 << i);
}

TEST(SizeMath, OverflowAndLimit) {
  uint64_t n = 0;
  EXPECT_TRUE(ISAllocSize(n, 6000, 4000, 3));
  EXPECT_EQ(n, 72000000u);
  EXPECT_FALSE(ISAllocSize(n, 0xFFFFFFFFu, 0xFFFFFFFFu, 4));
  EXPECT_FALSE(ISMulSize(n, 1ull << 40, 1ull << 30));
  EXPECT_FALSE(ISAllocSize(n, 65536, 65536));
  EXPECT_TRUE(ISRowBytes(n, 3, 1, 4));
  EXPECT_EQ(n, 4u);
  EXPECT_TRUE(ISRowBytes(n, 5, 24, 4));
  EXPECT_EQ(n, 16u);
}
