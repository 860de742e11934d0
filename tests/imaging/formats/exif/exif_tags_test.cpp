// The tag classes: values read in both byte orders and the text formats callers parse.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/formats/exif/CISEXIFData.h"

using namespace CISEXIFData;

namespace {

template <typename Tag>
std::string ReadAll(const std::vector<uint8_t>& bytes, uint32_t size, bool swap) {
  Tag t;
  for (size_t i = 0; i + size <= bytes.size(); i += size) EXPECT_TRUE(t.ReadValue(bytes.data() + i, size, swap));
  return t.GetText();
}

}  // namespace

TEST(ExifTags, IntegersInBothByteOrders) {
  EXPECT_EQ(ReadAll<CEXIFTagU16>({1, 0, 2, 0}, 2, false), "1, 2");
  EXPECT_EQ(ReadAll<CEXIFTagU16>({0, 1, 0, 2}, 2, true), "1, 2");
  EXPECT_EQ(ReadAll<CEXIFTagU16>({0xFF, 0xFF}, 2, false), "65535");
  EXPECT_EQ(ReadAll<CEXIFTagI16>({0xFE, 0xFF}, 2, false), "-2");
  EXPECT_EQ(ReadAll<CEXIFTagI16>({0xFF, 0xFE}, 2, true), "-2");
  EXPECT_EQ(ReadAll<CEXIFTagI32>({0xFF, 0xFF, 0xFF, 0x80}, 4, false), "-2130706433");
  EXPECT_EQ(ReadAll<CEXIFTagI8>({0x80, 0x7F, 0xFF}, 1, false), "-128, 127, -1");
  EXPECT_EQ(ReadAll<CEXIFTagU32>({0x12, 0x34, 0x56, 0x78}, 4, true), "305419896");
  // An unsigned LONG keeps its sign bit as a value, never printed as -1.
  EXPECT_EQ(ReadAll<CEXIFTagU32>({0xFF, 0xFF, 0xFF, 0xFF}, 4, false), "4294967295");
}

TEST(ExifTags, RationalsSwapEachWord) {
  EXPECT_EQ(ReadAll<CEXIFTagURat>({1, 0, 0, 0, 250, 0, 0, 0}, 8, false), "1/250");
  EXPECT_EQ(ReadAll<CEXIFTagURat>({0, 0, 0, 1, 0, 0, 0, 250}, 8, true), "1/250");
  EXPECT_EQ(ReadAll<CEXIFTagURat>({5, 0, 0, 0, 0, 0, 0, 0}, 8, false), "5/0");
  EXPECT_EQ(ReadAll<CEXIFTagSRat>({0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 3}, 8, true), "-2/3");
  EXPECT_EQ(ReadAll<CEXIFTagURat>({0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0}, 8, false), "4294967295/1");
}

TEST(ExifTags, FloatsHaveFourDecimals) {
  double d = 2.5;
  std::vector<uint8_t> b(8);
  std::memcpy(b.data(), &d, 8);
  EXPECT_EQ(ReadAll<CEXIFTagR8>(b, 8, false), "2.5000");
  std::vector<uint8_t> swapped(b.rbegin(), b.rend());
  EXPECT_EQ(ReadAll<CEXIFTagR8>(swapped, 8, true), "2.5000");
  float f = -0.125f;
  std::vector<uint8_t> fb(4);
  std::memcpy(fb.data(), &f, 4);
  EXPECT_EQ(ReadAll<CEXIFTagR4>(fb, 4, false), "-0.1250");
  EXPECT_EQ(ReadAll<CEXIFTagR4>({0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40}, 4, false), "1.0000, 2.0000");
}

TEST(ExifTags, BytesAreLowerCaseHex) {
  CEXIFTagU8 t;
  const uint8_t b[] = {0, 15, 16, 255, 10, 171};
  ASSERT_TRUE(t.ReadValue(b, 4, false));
  EXPECT_EQ(t.GetText(), "x00, x0f, x10, xff");
  ASSERT_TRUE(t.ReadValue(b + 4, 2, false));  // appends
  EXPECT_EQ(t.GetText(), "x00, x0f, x10, xff, x0a, xab");
  EXPECT_EQ(t.values.Count(), 6u);
  CEXIFTagU8 comment;
  const uint8_t code[] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'h', 'i'};
  comment.ReadValue(code, sizeof code, false);
  EXPECT_EQ(comment.GetText(), "x41, x53, x43, x49, x49, x00, x00, x00, x68, x69");
}

TEST(ExifTags, StringsEndAtTheirFirstZero) {
  CEXIFTagASCII t;
  const uint8_t s[] = {'a', 'b', 0, 'c', 'd'};
  ASSERT_TRUE(t.ReadValue(s, sizeof s, false));
  EXPECT_EQ(t.GetText(), "ab");
  const uint8_t unterminated[] = {'x', 'y', 'z'};
  t.ReadValue(unterminated, 3, false);
  EXPECT_EQ(t.GetText(), "ab, xyz");
  CEXIFTagASCII empty;
  EXPECT_EQ(empty.GetText(), "");
}

TEST(ExifTags, ShortDataIsRefused) {
  CEXIFTagU32 t;
  const uint8_t b[] = {1, 2};
  EXPECT_FALSE(t.ReadValue(b, 2, false));
  EXPECT_FALSE(t.ReadValue(nullptr, 4, false));
  EXPECT_EQ(t.GetText(), "");
}

TEST(ExifTags, EntrySerialisationRoundTrips) {
  CEXIFTagU16 small;
  small.entry = {274, kTypeShort, 1, 0};
  const uint8_t v[] = {0, 6};
  small.ReadValue(v, 2, true);
  small.bigEndian = 1;
  EXPECT_EQ(small.GetDataSize(), 0u);
  uint8_t e[12];
  EXPECT_EQ(small.WriteEntry(e, nullptr, 0), 12u);
  const uint8_t want[12] = {0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 6, 0, 0};
  EXPECT_EQ(std::memcmp(e, want, 12), 0);

  CEXIFTagURat big;
  big.entry = {33434, kTypeRational, 1, 0};
  const uint8_t r[] = {1, 0, 0, 0, 125, 0, 0, 0};
  big.ReadValue(r, 8, false);
  uint8_t data[8];
  EXPECT_EQ(big.GetDataSize(), 8u);
  EXPECT_EQ(big.WriteEntry(e, data, 0x40), 20u);
  EXPECT_EQ(std::memcmp(data, r, 8), 0);
  EXPECT_EQ(e[8], 0x40);
  ISEXIFEntry copy;
  big.CopyRawEntry(&copy);
  EXPECT_EQ(copy.tag, 33434);
}
