#include "platform/file_mapping.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(FileMapping, UnnamedMappingViewsShareZeroFilledMemory) {
  HANDLE m = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 10000, nullptr);
  ASSERT_NE(m, nullptr);
  auto* a = static_cast<unsigned char*>(MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  auto* b = static_cast<unsigned char*>(MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 0, 10000));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(a[i], 0);
  std::memset(a, 0x5A, 10000);
  EXPECT_EQ(b[9999], 0x5A);
  EXPECT_TRUE(CloseMappingHandle(m));  // views outlive the handle
  EXPECT_EQ(b[0], 0x5A);
  EXPECT_TRUE(UnmapViewOfFile(a));
  EXPECT_FALSE(UnmapViewOfFile(a));  // already gone
  EXPECT_TRUE(UnmapViewOfFile(b));
}

TEST(FileMapping, RefusesWhatItCannotBe) {
  int local = 0;
  EXPECT_EQ(CreateFileMappingA(&local, nullptr, PAGE_READWRITE, 0, 100, nullptr), nullptr);  // a file
  EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100, "name"), nullptr);
  EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, nullptr), nullptr);
  EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, 0x40, 0, 100, nullptr), nullptr);
  EXPECT_EQ(MapViewOfFile(&local, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);  // not a mapping
  EXPECT_EQ(MapViewOfFile(nullptr, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
  EXPECT_FALSE(UnmapViewOfFile(&local));
  EXPECT_FALSE(CloseMappingHandle(&local));

  HANDLE ro = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 4096, nullptr);
  ASSERT_NE(ro, nullptr);
  EXPECT_EQ(MapViewOfFile(ro, FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);  // write access to read-only
  EXPECT_EQ(MapViewOfFile(ro, FILE_MAP_READ, 0, 0, 8192), nullptr);     // past its end
  EXPECT_EQ(MapViewOfFile(ro, FILE_MAP_READ, 0, 100, 0), nullptr);      // offset not page-aligned
  void* v = MapViewOfFile(ro, FILE_MAP_READ, 0, 0, 0);
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(UnmapViewOfFile(v));
  EXPECT_TRUE(CloseMappingHandle(ro));
  EXPECT_FALSE(CloseMappingHandle(ro));  // stale handle
}
