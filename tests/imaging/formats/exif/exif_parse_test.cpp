// The EXIF parser and its entry points on blocks built here: both byte orders, every
// maker-note layout, the optional copies, and malformed blocks of every kind.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/formats/exif/CISEXIFBase.h"
#include "qrv/imaging.h"
#include "support/exif_block.h"
#include "tests/imaging/formats/exif/exif_tag_text.h"

using namespace qrvtest;

namespace {

const auto Text = exiftest::TagText;

// IFD0 (Make, Model, Orientation, pointers), Exif, interoperability, IFD1 and GPS.
ExifBlock StandardBlock(bool big, const std::string& make = "Canon") {
  ExifBlock b;
  b.bigEndian = big;
  b.ifds = {
      {Ascii(271, make), Ascii(272, "Model X"), Short(274, {6}), Link(34665, 1), Link(34853, 4)},
      {Rational(33434, {1, 250}), Rational(33437, {28, 10}), Short(34855, {200}),
       Undefined(36864, {'0', '2', '2', '0'}), Rational(37380, {static_cast<uint64_t>(-2) & 0xFFFFFFFF, 3}, true),
       Short(37385, {16}), Undefined(41729, {1}), Link(40965, 2),
       Undefined(37510, {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'h', 'i'})},
      {Ascii(1, "R98"), Undefined(2, {'0', '1', '0', '0'})},
      {Long(513, {0}), Long(514, {0}), Short(259, {6})},
      {Rational(2, {35, 1, 41, 1, 5, 1}), Ascii(1, "N")},
  };
  b.chain = {3};
  return b;
}

}  // namespace

TEST(ExifParse, ReadsEveryListInBothByteOrders) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian" : "little-endian");
    std::vector<uint8_t> block = StandardBlock(big).Build();
    CISEXIFBase* exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 0);
    ASSERT_NE(exif, nullptr);
    EXPECT_EQ(ISGetLastError(), 0u);
    EXPECT_EQ(Text(exif, 271, 1), "Canon");
    EXPECT_EQ(Text(exif, 274, 1), "6");
    EXPECT_EQ(Text(exif, 33434, 2), "1/250");
    EXPECT_EQ(Text(exif, 33437, 2), "28/10");
    EXPECT_EQ(Text(exif, 37380, 2), "-2/3");
    EXPECT_EQ(Text(exif, 36864, 2), "0220");
    EXPECT_EQ(Text(exif, 41729, 2), "x01");
    EXPECT_EQ(Text(exif, 37510, 2), "x41, x53, x43, x49, x49, x00, x00, x00, x68, x69");
    EXPECT_EQ(Text(exif, 1, 4), "R98");
    EXPECT_EQ(Text(exif, 2, 4), "0100");
    EXPECT_EQ(Text(exif, 259, 8), "6");
    EXPECT_EQ(Text(exif, 2, 16), "35/1, 41/1, 5/1");
    EXPECT_EQ(Text(exif, 34665, 1), "88");  // 8 + IFD0 with its values
    // The mask chooses the lists, searched in list order.
    EXPECT_EQ(Text(exif, 271, 2), "<none>");
    EXPECT_EQ(Text(exif, 1, 15), "R98");
    EXPECT_EQ(Text(exif, 1, 16), "N");
    EXPECT_EQ(Text(exif, 1, 20), "R98");
    EXPECT_EQ(Text(exif, 2, 31), "0100");
    EXPECT_EQ(exif->lists[kListGPS].Size(), 2u);
    EXPECT_EQ(exif->lists[kListMakerNote].Size(), 0u);
    const CISEXIFData::CEXIFTagBase* make = FindTag(exif->lists[kListIFD0], 271);
    ASSERT_NE(make, nullptr);
    EXPECT_EQ(make->headerOffset, 10);
    EXPECT_EQ(make->entryOffset, 10 + 8 + 2);
    EXPECT_EQ(make->bigEndian, big ? 1 : 0);
    EXPECT_TRUE(ISReleaseEXIF(exif));
  }
}

TEST(ExifParse, UndefinedEntriesByTag) {
  ExifBlock b;
  b.ifds = {{Ascii(271, "Nobody"), Link(34665, 1)},
            {Undefined(37500, {1, 2, 3, 4, 5, 6, 7, 8}), Undefined(41728, {3}), Undefined(40960, {'0', '1', '0', '0'}),
             Undefined(37121, {1, 2, 3, 0}), Undefined(37510, {'A', 'B'})}};
  std::vector<uint8_t> block = b.Build();
  CISEXIFBase* exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 2);
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(Text(exif, 37500, 2), "Unknown Format");
  EXPECT_EQ(Text(exif, 37121, 2), "Unknown Format");
  EXPECT_EQ(Text(exif, 41728, 2), "x03");
  EXPECT_EQ(Text(exif, 40960, 2), "0100");
  // A UserComment of 4 bytes or fewer lies in the value field.
  EXPECT_EQ(Text(exif, 37510, 2), "x41, x42");
  ISReleaseEXIF(exif);
}

TEST(ExifParse, HeaderChecks) {
  std::vector<uint8_t> good = StandardBlock(false).Build();
  auto fails = [](std::vector<uint8_t> b) {
    CISEXIFBase* e = ISReadEXIF(b.data(), static_cast<DWORD>(b.size()), 2);
    bool failed = e == nullptr && ISGetLastError() == IS_ERR_EXIFPARSE;
    ISReleaseEXIF(e);
    return failed;
  };
  EXPECT_TRUE(fails(std::vector<uint8_t>(good.begin(), good.begin() + 9)));
  EXPECT_TRUE(fails(std::vector<uint8_t>(good.begin(), good.begin() + 17)));  // no room for IFD0's offset
  std::vector<uint8_t> b = good;
  b[5] = 'X';
  EXPECT_TRUE(fails(b));
  b = good;
  b[10] = 'I';
  b[11] = 'M';
  EXPECT_TRUE(fails(b));
  b = good;
  b[12] = 43;
  EXPECT_TRUE(fails(b));
  b = good;
  b[12] = 0;  // magic stored as 00 2A in a little-endian block is accepted
  b[13] = 42;
  EXPECT_FALSE(fails(b));
  b = good;
  b[17] = 0x7F;  // IFD0 beyond the block
  EXPECT_TRUE(fails(b));

  EXPECT_EQ(ISReadEXIF(nullptr, 100, 0), nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_TRUE(ISReleaseEXIF(nullptr));
  HGLOBAL h = reinterpret_cast<HGLOBAL>(1);
  DWORD len = 7;
  EXPECT_FALSE(ISGetEXIFTagText(nullptr, 271, 1, &h, &len));
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(len, 0u);
}

TEST(ExifParse, OptionalIFDsOutsideTheBlockAreSkipped) {
  // Exif pointer beyond the block: no Exif or interoperability tags, the read succeeds.
  ExifBlock b = StandardBlock(true);
  b.ifds[0][3].link = -1;
  b.ifds[0][3].values = {0x7FFF};
  std::vector<uint8_t> block = b.Build();
  CISEXIFBase* exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 2);
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(exif->lists[kListExif].Size(), 0u);
  EXPECT_EQ(exif->lists[kListInterop].Size(), 0u);
  EXPECT_EQ(exif->lists[kListIFD1].Size(), 3u);
  ISReleaseEXIF(exif);

  // A pointer just inside the block whose count cannot be read skips the IFD too.
  b = StandardBlock(false);
  b.ifds[0][4].link = -1;
  block = b.Build();
  b.ifds[0][4].values = {static_cast<uint64_t>(block.size() - 10 - 2)};
  block = b.Build();
  exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 0);
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(exif->lists[kListGPS].Size(), 0u);
  EXPECT_EQ(exif->lists[kListExif].Size(), 9u);
  ISReleaseEXIF(exif);

  // No IFD1: an empty list and no error.
  b = StandardBlock(false);
  b.chain = {};
  block = b.Build();
  exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 0);
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(ISGetLastError(), 0u);
  EXPECT_EQ(exif->lists[kListIFD1].Size(), 0u);
  ISReleaseEXIF(exif);
}

TEST(ExifParse, CyclicAndSharedIFDsAreReadOnce) {
  ExifBlock b = StandardBlock(false);
  b.chain = {0};                  // IFD1 would be IFD0 again
  b.ifds[1][7] = Link(40965, 1);  // interoperability would be the Exif IFD again
  b.ifds[0][4] = Link(34853, 1);  // GPS would be the Exif IFD too
  std::vector<uint8_t> block = b.Build();
  CISEXIFBase* exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 2);
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(exif->lists[kListIFD0].Size(), 5u);
  EXPECT_EQ(exif->lists[kListIFD1].Size(), 0u);
  EXPECT_EQ(exif->lists[kListExif].Size(), 9u);
  EXPECT_EQ(exif->lists[kListInterop].Size(), 0u);
  EXPECT_EQ(exif->lists[kListGPS].Size(), 0u);
  ISReleaseEXIF(exif);
}

TEST(ExifParse, EntriesThatDoNotFitMakeNoTag) {
  ExifBlock b;
  ExifEntry hugeCount = Short(300, {1});
  hugeCount.countOverride = 0x7FFFFFF0;
  ExifEntry negative = Short(301, {1});
  negative.countOverride = 0xFFFFFFFE;  // negative as a signed count
  ExifEntry pastEnd = Rational(302, {1, 2});
  pastEnd.offsetOverride = 0xFFFFFFF0;  // offset + size wraps in 32 bits
  ExifEntry badType = Short(303, {1});
  badType.type = 13;
  b.ifds = {{hugeCount, negative, pastEnd, badType, Ascii(271, "kept")}};
  std::vector<uint8_t> block = b.Build();
  CISEXIFBase* exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 0);
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(exif->lists[kListIFD0].Size(), 1u);
  EXPECT_EQ(Text(exif, 271, 1), "kept");
  ISReleaseEXIF(exif);
}

TEST(ExifParse, EveryTruncationFailsOrParsesCleanly) {
  for (bool big : {false, true}) {
    std::vector<uint8_t> full = StandardBlock(big).Build();
    for (size_t n = 0; n <= full.size(); ++n) {
      std::vector<uint8_t> part(full.begin(), full.begin() + n);
      part.reserve(1);  // a real (empty) buffer, never null
      CISEXIFBase* exif = ISReadEXIF(part.data(), static_cast<DWORD>(n), 7);
      if (n < 18) {
        EXPECT_EQ(exif, nullptr) << n;
        EXPECT_EQ(ISGetLastError(), IS_ERR_EXIFPARSE) << n;
      }
      if (exif) {
        ISErrorCode err = ISGetLastError();
        EXPECT_TRUE(err == 0 || err == IS_ERR_EXIFCOPY) << n;
        HGLOBAL h = nullptr;
        DWORD len = 0;
        for (DWORD tag : {1u, 2u, 271u, 33434u, 37510u})
          if (ISGetEXIFTagText(exif, tag, 63, &h, &len) && h) GlobalFree(h);
      } else {
        EXPECT_EQ(ISGetLastError(), IS_ERR_EXIFPARSE) << n;
      }
      EXPECT_TRUE(ISReleaseEXIF(exif));
    }
  }
}

TEST(ExifParse, ThumbnailAndUserCommentCopies) {
  ExifBlock b = StandardBlock(false);
  std::vector<uint8_t> block = b.Build();
  // The thumbnail: 16 bytes placed at the end of the block.
  const uint32_t thumbAt = static_cast<uint32_t>(block.size() - 10);
  b.ifds[3][0] = Long(513, {thumbAt});
  b.ifds[3][1] = Long(514, {16});
  block = b.Build();
  for (int i = 0; i < 16; ++i) block.push_back(static_cast<uint8_t>(0xA0 + i));
  block.push_back(0);  // offset + size must stay below the block's length
  CISEXIFBase* exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 5);
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(ISGetLastError(), 0u);
  ASSERT_NE(exif->thumbnail, nullptr);
  ASSERT_EQ(exif->thumbnailSize, 16u);
  EXPECT_EQ(static_cast<uint8_t*>(exif->thumbnail)[0], 0xA0);
  EXPECT_EQ(static_cast<uint8_t*>(exif->thumbnail)[15], 0xAF);
  ASSERT_EQ(exif->userCommentSize, 10u);
  EXPECT_EQ(std::memcmp(exif->userComment, "ASCII\0\0\0hi", 10), 0);
  // A second read on the same object appends to the lists and replaces the copies.
  EXPECT_TRUE(exif->Read(block.data(), static_cast<uint32_t>(block.size()), 5));
  EXPECT_EQ(exif->lists[kListIFD0].Size(), 10u);
  EXPECT_EQ(exif->thumbnailSize, 16u);
  ISReleaseEXIF(exif);

  // JPEGInterchangeFormat 2000 and length 5000 in a 6000-byte block: 65, no copy.
  b.ifds[3][0] = Long(513, {2000});
  b.ifds[3][1] = Long(514, {5000});
  block = b.Build();
  block.resize(6000);
  exif = ISReadEXIF(block.data(), 6000, 1);
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_EXIFCOPY);
  EXPECT_EQ(exif->thumbnail, nullptr);
  // A tag that is not found reports the object's error word.
  EXPECT_EQ(Text(exif, 999, 63), "<none>");
  EXPECT_EQ(ISGetLastError(), IS_ERR_EXIFCOPY);
  ISReleaseEXIF(exif);

  // No UserComment to copy: 65.
  b = StandardBlock(false);
  b.ifds[1].pop_back();
  block = b.Build();
  exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 4);
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(ISGetLastError(), IS_ERR_EXIFCOPY);
  EXPECT_EQ(exif->userComment, nullptr);
  ISReleaseEXIF(exif);
}

TEST(ExifParse, CopiesNeedAParsedBlock) {
  ISEXIFTagList lists[kListCount];
  CISRawEXIFParse parser(lists);
  HGLOBAL copy = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(parser.CopyThumbnail(copy, size), IS_ERR_BADPARAM);
  EXPECT_EQ(parser.CopyUserComment(copy, size), IS_ERR_BADPARAM);
}
