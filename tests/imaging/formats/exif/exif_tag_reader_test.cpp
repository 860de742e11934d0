// The application's EXIF tag reader on hand-built segments: the table, rationals, the IFD walk,
// the value layouts and enumeration texts, and hostile blocks (cut, cyclic, out of range).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/formats/exif/CExifTagReader.h"
#include "support/test_support.h"
#include "tests/imaging/formats/exif/exif_tag_reader_builder.h"
#include "tests/imaging/formats/exif/exif_tag_reader_texts.h"

using namespace exiftest;

namespace {

std::unique_ptr<CExifTagReader> NewReader() { return std::make_unique<CExifTagReader>(); }

// The text of a tag's record, or "<absent>" when it was not found.
std::string Text(const CExifTagReader& r, uint16_t tag) {
  int i = CExifTagReader::FindTagRecord(tag);
  if (i < 0) return "<no record>";
  return r.m_Tags[i].found ? std::string(r.m_Tags[i].value) : std::string("<absent>");
}

int FoundCount(const CExifTagReader& r) {
  int n = 0;
  for (const ExifTagRecord& t : r.m_Tags) n += t.found ? 1 : 0;
  return n;
}

// A camera-like segment: IFD0 -> IFD1, IFD0 points at the Exif IFD, which points at the
// interoperability IFD.
std::vector<Ifd> CameraIfds() {
  Ifd ifd0;
  ifd0.entries = {Ascii(0x010F, "Canon"),         Ascii(0x0110, "Canon EOS 40D"),
                  Short(0x0112, {6}),             Rational(0x011A, {{72, 1}}),
                  Rational(0x011B, {{300, 1}}),   Short(0x0128, {2}),
                  Ascii(0x0132, "2008:07:31 10:38:11"), Short(0x0213, {2}),
                  IfdPointer(0x8769, 2)};
  ifd0.next = 1;
  Ifd ifd1;
  ifd1.entries = {Short(0x0103, {6}), Rational(0x011A, {{180, 1}}), Long(0x0201, {1120}), Long(0x0202, {1378})};
  Ifd exif;
  exif.entries = {Rational(0x829A, {{1, 250}}),
                  Rational(0x829D, {{28, 10}}),
                  Short(0x8822, {3}),
                  Short(0x8827, {400}),
                  Bytes(0x9000, 7, {'0', '2', '2', '1'}),
                  Ascii(0x9003, "2008:05:30 15:56:01"),
                  Ascii(0x9004, "2008:05:30 15:56:02"),
                  Bytes(0x9101, 7, {1, 2, 3, 0}),
                  Rational(0x9201, {{8, 1}}, true),
                  Rational(0x9204, {{-2, 3}}, true),
                  Short(0x9207, {5}),
                  Short(0x9208, {10}),
                  Short(0x9209, {9}),
                  Bytes(0x9286, 7, {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'h', 'i', 0, 0}),
                  Bytes(0xA000, 7, {'0', '1', '0', '0'}),
                  Short(0xA001, {1}),
                  Long(0xA002, {100}),
                  IfdPointer(0xA005, 3),
                  Short(0xA210, {3}),
                  Short(0xA217, {2})};
  Ifd interop;
  interop.entries = {Ascii(0x0001, "R98"), Bytes(0x0002, 7, {'0', '1', '0', '0'})};
  return {ifd0, ifd1, exif, interop};
}

void ExpectCameraTexts(const CExifTagReader& r) {
  EXPECT_EQ(Text(r, 0x010F), "Canon");
  EXPECT_EQ(Text(r, 0x0110), "Canon EOS 40D");
  EXPECT_EQ(Text(r, 0x0112), "upper right");
  EXPECT_EQ(Text(r, 0x011A), "72.00");  // IFD0's, not the thumbnail's 180
  EXPECT_EQ(Text(r, 0x011B), "300.00");
  EXPECT_EQ(Text(r, 0x0128), "inch");
  EXPECT_EQ(Text(r, 0x0132), "2008:07:31 10:38:11");
  EXPECT_EQ(Text(r, 0x0213), "the datum point");
  EXPECT_EQ(Text(r, 0x0103), "TIFF/JPEG compression");  // only the thumbnail IFD has one
  EXPECT_EQ(Text(r, 0x0201), "1120");
  EXPECT_EQ(Text(r, 0x829A), "1/250");
  EXPECT_EQ(Text(r, 0x829D), "2.80");
  EXPECT_EQ(Text(r, 0x8822), "aperture priority");
  EXPECT_EQ(Text(r, 0x8827), "400");
  EXPECT_EQ(Text(r, 0x9000), "0221");
  EXPECT_EQ(Text(r, 0x9003), "2008:05:30 15:56:01");
  EXPECT_EQ(Text(r, 0x9004), "2008:05:30 15:56:02");
  EXPECT_EQ(Text(r, 0x9101), "1, 2, 3, 0");
  EXPECT_EQ(Text(r, 0x9201), "1/256.00");
  EXPECT_EQ(Text(r, 0x9204), "-2/3");
  EXPECT_EQ(Text(r, 0x9207), "multi-segment");
  EXPECT_EQ(Text(r, 0x9208), "flash");
  EXPECT_EQ(Text(r, 0x9209), "9");
  EXPECT_EQ(Text(r, 0x9286), "hi");
  EXPECT_EQ(Text(r, 0xA000), "0100");
  EXPECT_EQ(Text(r, 0xA001), "1");
  EXPECT_EQ(Text(r, 0xA002), "100");
  EXPECT_EQ(Text(r, 0xA210), "centimeter");
  EXPECT_EQ(Text(r, 0xA217), "one chip color area sensor");
  EXPECT_EQ(Text(r, 0x0001), "R98");
  EXPECT_EQ(Text(r, 0x0002), "0100");
  // IFD0 at 8 takes 114 bytes and 56 of values, IFD1 54 and 8: the Exif IFD starts at 240.
  EXPECT_EQ(Text(r, 0x8769), "240");
  EXPECT_EQ(FoundCount(r), 34);
}

// Renders one entry alone in IFD0 and returns its text.
std::string Render(const Entry& e, bool mm = false) {
  Ifd ifd0;
  ifd0.entries = {e};
  std::vector<uint8_t> block = BlockBuilder(mm).Build({ifd0});
  auto r = NewReader();
  if (!r->ParseExifBlock(block.data(), block.size())) return "<refused>";
  return Text(*r, e.tag);
}

}  // namespace

TEST(ExifTagReaderTable, NamesInTagOrderAndClearedByInit) {
  // Spellings as the reader shows them, typos included, at their places in tag order.
  const std::pair<int, const char*> names[] = {
      {0, "InteroperabilityIndex"}, {16, "Strip Byte Conunts"}, {17, "X Res"}, {23, "Date & Time"},
      {33, "JPEGT ables"}, {34, "Jpeg IF Offset"}, {48, "Inter ColorProfile"}, {59, "Date & Time"},
      {80, "TIFF/EPStandardID"}, {85, "Sub Sec Time Digitized"}, {91, "Exif Interoperability Offset"},
      {92, "Flash Energy"}, {96, "FocalPlaneResolutionUnit"}, {102, "CFA Pattern"}};
  auto r = NewReader();
  std::vector<uint8_t> block = BlockBuilder(false).Build(CameraIfds());
  ASSERT_TRUE(r->ParseExifBlock(block.data(), block.size()));
  ASSERT_GT(FoundCount(*r), 0);
  r->InitTagTable();
  for (const auto& n : names) EXPECT_STREQ(r->m_Tags[n.first].name, n.second) << n.first;
  for (int i = 0; i < CExifTagReader::kTagCount; ++i) {
    EXPECT_GT(std::strlen(r->m_Tags[i].name), 0u) << i;
    EXPECT_EQ(r->m_Tags[i].found, 0) << i;
    EXPECT_STREQ(r->m_Tags[i].value, "") << i;
    EXPECT_EQ(CExifTagReader::FindTagRecord(CExifTagReader::RecordTag(i)), i);
    if (i > 0) {
      EXPECT_LT(CExifTagReader::RecordTag(i - 1), CExifTagReader::RecordTag(i));
    }
  }
  // Duplicate names: the TIFF/EP tag and the EXIF tag of one meaning keep separate records.
  EXPECT_STREQ(r->m_Tags[CExifTagReader::FindTagRecord(0x920B)].name, "Flash Energy");
  EXPECT_STREQ(r->m_Tags[CExifTagReader::FindTagRecord(0xA20B)].name, "Flash Energy");
  EXPECT_NE(CExifTagReader::FindTagRecord(0x920B), CExifTagReader::FindTagRecord(0xA20B));
  EXPECT_EQ(CExifTagReader::FindTagRecord(3), -1);
  EXPECT_EQ(CExifTagReader::FindTagRecord(0x9999), -1);
  EXPECT_EQ(r->GetTagText(), "");
}

TEST(ExifTagReaderRational, TextAndQuotient) {
  char text[64];
  EXPECT_DOUBLE_EQ(CExifTagReader::FormatRational(text, sizeof text, 1, 250), 0.004);
  EXPECT_STREQ(text, "1/250");
  EXPECT_DOUBLE_EQ(CExifTagReader::FormatRational(text, sizeof text, 28, 10), 2.8);
  EXPECT_STREQ(text, "2.80");
  std::strcpy(text, "old");
  EXPECT_EQ(CExifTagReader::FormatRational(text, sizeof text, 5, 0), 0.0);
  EXPECT_STREQ(text, "");
  EXPECT_DOUBLE_EQ(CExifTagReader::FormatRational(text, sizeof text, -1, 3), -1.0 / 3);
  EXPECT_STREQ(text, "-1/3");
  EXPECT_DOUBLE_EQ(CExifTagReader::FormatRational(text, sizeof text, 0, 1), 0.0);
  EXPECT_STREQ(text, "0/1");
  // Unsigned rationals beyond 2^31 keep their value.
  EXPECT_DOUBLE_EQ(CExifTagReader::FormatRational(text, sizeof text, 4294967295LL, 1), 4294967295.0);
  EXPECT_STREQ(text, "4294967295.00");
  EXPECT_DOUBLE_EQ(CExifTagReader::FormatRational(text, 4, 1, 250), 0.004);
  EXPECT_STREQ(text, "1/2");  // cut to the buffer
}

TEST(ExifTagReaderParse, WalksAllIfdsInBothByteOrders) {
  for (bool mm : {false, true}) {
    SCOPED_TRACE(mm ? "MM" : "II");
    std::vector<uint8_t> block = BlockBuilder(mm).Build(CameraIfds());
    auto r = NewReader();
    ASSERT_TRUE(r->ParseExifBlock(block.data(), block.size()));
    EXPECT_EQ(r->m_ByteOrder, mm ? 1 : 0);
    EXPECT_EQ(r->m_Copy.size(), block.size() - 2);
    ExpectCameraTexts(*r);
    // A second parse on the same reader starts from a clean table.
    Ifd only;
    only.entries = {Ascii(0x0110, "X")};
    std::vector<uint8_t> small = BlockBuilder(mm).Build({only});
    ASSERT_TRUE(r->ParseExifBlock(small.data(), small.size()));
    EXPECT_EQ(FoundCount(*r), 1);
    EXPECT_EQ(Text(*r, 0x0110), "X");
  }
}

TEST(ExifTagReaderParse, RefusesWhatIsNotAnExifSegment) {
  std::vector<uint8_t> block = BlockBuilder(false).Build(CameraIfds());
  auto r = NewReader();
  ASSERT_TRUE(r->ParseExifBlock(block.data(), block.size()));
  ASSERT_FALSE(r->m_Copy.empty());
  for (size_t at : {4u, 7u, 8u, 9u}) {
    std::vector<uint8_t> bad = block;
    bad[at] ^= 0x20;
    ASSERT_TRUE(r->ParseExifBlock(block.data(), block.size()));
    EXPECT_FALSE(r->ParseExifBlock(bad.data(), bad.size())) << at;
    EXPECT_TRUE(r->m_Copy.empty()) << at;
    EXPECT_EQ(FoundCount(*r), 0) << at;  // nothing of the earlier block is left
  }
  EXPECT_FALSE(r->ParseExifBlock(nullptr, 100));
  // Too short for the identifier or the TIFF header.
  for (size_t len = 0; len < 18; ++len) EXPECT_FALSE(r->ParseExifBlock(block.data(), len)) << len;
  EXPECT_TRUE(r->ParseExifBlock(block.data(), 18));
  EXPECT_EQ(FoundCount(*r), 0);
}

TEST(ExifTagReaderParse, NextOffsetZeroReadsIfd0ThenExifOnly) {
  std::vector<Ifd> ifds = CameraIfds();
  ifds[0].next = -1;
  std::vector<uint8_t> block = BlockBuilder(false).Build(ifds);
  auto r = NewReader();
  ASSERT_TRUE(r->ParseExifBlock(block.data(), block.size()));
  EXPECT_EQ(Text(*r, 0x0103), "<absent>");
  EXPECT_EQ(Text(*r, 0x0201), "<absent>");
  EXPECT_EQ(Text(*r, 0x829A), "1/250");
  EXPECT_EQ(Text(*r, 0x0001), "R98");
}

TEST(ExifTagReaderParse, CyclesEndAndEachIfdIsReadOnce) {
  // IFD1 chains back to IFD0, the Exif pointer names IFD1, the interop pointer names IFD0.
  Ifd ifd0;
  ifd0.entries = {Ascii(0x010F, "A"), IfdPointer(0x8769, 1), IfdPointer(0xA005, 0)};
  ifd0.next = 1;
  Ifd ifd1;
  ifd1.entries = {Ascii(0x0110, "B")};
  ifd1.next = 0;
  std::vector<uint8_t> block = BlockBuilder(true).Build({ifd0, ifd1});
  auto r = NewReader();
  ASSERT_TRUE(r->ParseExifBlock(block.data(), block.size()));
  EXPECT_EQ(Text(*r, 0x010F), "A");
  EXPECT_EQ(Text(*r, 0x0110), "B");
  // An IFD whose next offset names itself.
  Ifd self;
  self.entries = {Ascii(0x010F, "S")};
  self.next = 0;
  block = BlockBuilder(false).Build({self});
  ASSERT_TRUE(r->ParseExifBlock(block.data(), block.size()));
  EXPECT_EQ(Text(*r, 0x010F), "S");
  // A long chain of distinct IFDs is followed up to the reader's limit.
  std::vector<Ifd> chain(CExifTagReader::kMaxChainedIfds + 5);
  for (size_t k = 0; k + 1 < chain.size(); ++k) chain[k].next = static_cast<int>(k + 1);
  chain.back().entries = {Ascii(0x010F, "far")};
  chain[CExifTagReader::kMaxChainedIfds].entries = {Ascii(0x0110, "last read")};
  block = BlockBuilder(false).Build(chain);
  ASSERT_TRUE(r->ParseExifBlock(block.data(), block.size()));
  EXPECT_EQ(Text(*r, 0x0110), "last read");
  EXPECT_EQ(Text(*r, 0x010F), "<absent>");
}

TEST(ExifTagReaderParse, ValuesOutsideTheBlockAreNotRendered) {
  Ifd ifd0;
  ifd0.entries = {
      Ascii(0x010F, "inside"),
      Raw(0x0110, 2, 20, 0xFFFFFFF0u),    // offset near 2^32: offset + 8 + size overflows 32 bits
      Raw(0x0131, 2, 0xFFFFFFFFu, 8),     // count too large for the block
      Raw(0x0132, 2, 20, 60000),          // offset past the end
      Raw(0x829A, 5, 1, 0x7FFFFFFF),      // rational past the end
      Raw(0x0112, 3, 1, 0x00060000),      // inline SHORT: never an offset
      Raw(0x0100, 4, 1, 0xFFFFFFFFu),     // inline LONG: never an offset
      Raw(0x0101, 99, 1, 5),              // unknown type
      Raw(0x8769, 4, 1, 0xFFFFFFF8u),     // Exif IFD at a position past the end
  };
  for (bool mm : {false, true}) {
    std::vector<uint8_t> block = BlockBuilder(mm).Build({ifd0});
    auto r = NewReader();
    ASSERT_TRUE(r->ParseExifBlock(block.data(), block.size()));
    EXPECT_EQ(Text(*r, 0x010F), "inside");
    EXPECT_EQ(Text(*r, 0x0110), "<absent>");
    EXPECT_EQ(Text(*r, 0x0131), "<absent>");
    EXPECT_EQ(Text(*r, 0x0132), "<absent>");
    EXPECT_EQ(Text(*r, 0x829A), "<absent>");
    EXPECT_EQ(Text(*r, 0x0101), "<absent>");
    EXPECT_EQ(Text(*r, 0x0100), "4294967295");
    EXPECT_EQ(Text(*r, 0x8769), "4294967288");
    // The inline SHORT sits in the first two bytes of the value field in either order.
    EXPECT_EQ(Text(*r, 0x0112), mm ? "upper right" : "undefined");
  }
}

TEST(ExifTagReaderParse, CutBlocksReadAsFarAsTheyGo) {
  // Every shorter block gives either false (no TIFF header) or a subset of the full texts.
  for (bool mm : {false, true}) {
    std::vector<uint8_t> block = BlockBuilder(mm).Build(CameraIfds());
    auto full = NewReader();
    ASSERT_TRUE(full->ParseExifBlock(block.data(), block.size()));
    auto r = NewReader();
    for (size_t len = 0; len < block.size(); ++len) {
      std::vector<uint8_t> cut(block.begin(), block.begin() + static_cast<long>(len));  // exact size for ASan
      BOOL ok = r->ParseExifBlock(cut.data(), cut.size());
      ASSERT_EQ(ok != 0, len >= 18) << len;
      for (int i = 0; i < CExifTagReader::kTagCount; ++i) {
        if (!r->m_Tags[i].found) continue;
        ASSERT_TRUE(full->m_Tags[i].found) << len << " " << i;
        ASSERT_STREQ(r->m_Tags[i].value, full->m_Tags[i].value) << len << " " << i;
      }
    }
    // Cut inside IFD0's entry list: the entries before the cut are still read.
    std::vector<uint8_t> cut(block.begin(), block.begin() + 10 + 8 + 2 + 12 * 2);
    ASSERT_TRUE(r->ParseExifBlock(cut.data(), cut.size()));
    EXPECT_EQ(FoundCount(*r), 0);  // Make and Model keep their strings outside the cut
    cut.assign(block.begin(), block.begin() + 10 + 8 + 2 + 12 * 4);
    ASSERT_TRUE(r->ParseExifBlock(cut.data(), cut.size()));
    EXPECT_EQ(Text(*r, 0x0112), "upper right");
    EXPECT_EQ(FoundCount(*r), 1);
  }
}

TEST(ExifTagReaderFormat, EnumerationTexts) {
  for (const EnumCase& c : kEnumCases) {
    EXPECT_EQ(Render(Short(c.tag, {static_cast<uint64_t>(c.value)})), c.text) << std::hex << c.tag << " " << c.value;
    EXPECT_EQ(Render(Long(c.tag, {static_cast<uint64_t>(c.value)}), true), c.text) << std::hex << c.tag;
  }
  // Values outside the standards' lists show as their numbers.
  for (uint16_t tag : {0x00FE, 0x0128, 0x8822, 0x9207, 0x9208, 0xA217})
    EXPECT_EQ(Render(Short(tag, {9})), "9") << std::hex << tag;
  const char* security[][2] = {{"T", "Top Secret"}, {"S", "Secret"}, {"C", "Confidential"},
                               {"R", "Restricted"}, {"U", "Unrestricted"}, {"X", "X"}, {"TS", "TS"}};
  for (auto& s : security) EXPECT_EQ(Render(Ascii(0x9212, s[0])), s[1]);
  EXPECT_EQ(Render(Short(0x0212, {2, 1})),
            "ImageWidth of this chroma image is half the ImageWidth of the associated luma image, "
            "ImageLength (height) of this chroma image is equal to the ImageLength of the associated luma image");
  EXPECT_EQ(Render(Short(0x0212, {4, 2}), true),
            "ImageWidth of this chroma image is one-quarter the ImageWidth of the associated luma image, "
            "ImageLength (height) of this chroma image is half the ImageLength of the associated luma image");
  EXPECT_EQ(Render(Short(0x0212, {1, 4})),
            "ImageWidth of this chroma image is equal to the ImageWidth of the associated luma image, "
            "ImageLength (height) of this chroma image is one-quarter the ImageLength of the associated luma image");
}

TEST(ExifTagReaderFormat, ValueLayouts) {
  EXPECT_EQ(Render(Short(0x0116, {16})),
            "16, Note that the number of StripsPerImage equals floor ((ImageLength + RowsPerStrip - 1) / "
            "RowsPerStrip)");
  EXPECT_EQ(Render(Long(0x8825, {0x1A2})),
            " 1a2=place to find more GPS info, more code needs to be written to decode this data");
  EXPECT_EQ(Render(Signed(0x882A, 8, {-5, 2})),
            "-5=Time Zone Offset (in hours) of DateTimeOriginal tag-value relative to Greenwich Mean Time, "
            "2=Time Zone Offset (in hours) of DateTime tag-value relative to Greenwich Mean Time");
  EXPECT_EQ(Render(Short(0xA214, {10, 20})), "10=column number, 20=row number");
  EXPECT_EQ(Render(Short(0x9214, {10, 20, 5}), true), "10=column number, 20=row number, 5=diameter of circle");
  EXPECT_EQ(Render(Short(0x9214, {10, 20, 6, 7})), "10=column number, 20=row number, 6=width, 7=heigth");
  EXPECT_EQ(Render(Short(0x828D, {2, 3}), true), "CFARepeatRows=2, CFARepeatCols=3");
  EXPECT_EQ(Render(Bytes(0x9216, 1, {1, 0, 0, 0})), "[1.0.0.0]");
  EXPECT_EQ(Render(Bytes(0x0002, 7, {'0', '1', '0', '0'}), true), "0100");
  EXPECT_EQ(Render(Rational(0x9201, {{-1, 1}}, true)), "1/0.50");  // two seconds
  EXPECT_EQ(Render(Rational(0x9201, {{3, 0}}, true)), "");
  EXPECT_EQ(Render(Rational(0x829A, {{5, 0}})), "");
  EXPECT_EQ(Render(Rational(0x0214, {{0, 1}, {255, 1}, {128, 1}}), true), "0/1, 255.00, 128.00");
  EXPECT_EQ(Render(Signed(0x0100, 9, {-7})), "-7");
  EXPECT_EQ(Render(Signed(0x0102, 8, {8, -8, 8})), "8, -8, 8");
  EXPECT_EQ(Render(Bytes(0xA300, 7, {3})), "3");
  EXPECT_EQ(Render(Bytes(0x010E, 2, {'a', 'b', 0, 'c'})), "ab");  // string ends at its zero byte
  EXPECT_EQ(Render(Bytes(0x010E, 2, {'a', 'b', 'c', 'd', 'e'})), "abcde");  // or at its count
  EXPECT_EQ(Render(Bytes(0x9286, 7, {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0, 'h'})), "85, 78, 73, 67, 79, 68, 69, 0, 104");
  // Strip arrays: the list, then the number of values and what it counts.
  EXPECT_EQ(Render(Long(0x0111, {100, 200, 300})), "100, 200, 300, 3=StripsPerImage");
  Ifd planar;
  planar.entries = {Short(0x0111, {8, 9}), Short(0x0117, {1, 2}), Short(0x011C, {2})};
  std::vector<uint8_t> block = BlockBuilder(true).Build({planar});
  auto r = NewReader();
  ASSERT_TRUE(r->ParseExifBlock(block.data(), block.size()));
  EXPECT_EQ(Text(*r, 0x0111), "8, 9, 2=SamplesPerPixel * StripsPerImage");
  EXPECT_EQ(Text(*r, 0x0117), "1, 2, 2=SamplesPerPixel * StripsPerImage");
  EXPECT_EQ(Text(*r, 0x011C), "planer");
}

TEST(ExifTagReaderFormat, LongValuesAreCutToTheRecord) {
  std::vector<uint64_t> strips(3000);
  for (size_t i = 0; i < strips.size(); ++i) strips[i] = 1000000 + i;
  std::string full;
  for (uint64_t v : strips) full += std::to_string(v) + ", ";
  full += "3000=StripsPerImage";
  std::string text = Render(Long(0x0111, strips));
  EXPECT_EQ(text.size(), CExifTagReader::kValueSize - 1);
  EXPECT_EQ(text, full.substr(0, CExifTagReader::kValueSize - 1));
  std::string longName(9000, 'n');
  EXPECT_EQ(Render(Ascii(0x010E, longName)), longName.substr(0, CExifTagReader::kValueSize - 1));
  std::vector<uint8_t> note(6000, 0xAB);
  text = Render(Bytes(0x927C, 7, note));
  EXPECT_EQ(text.size(), CExifTagReader::kValueSize - 1);
  EXPECT_EQ(text.substr(0, 10), "171, 171, ");
}

TEST(ExifTagReaderFile, FindsTheSegmentInsideTheFirstBytesOnly) {
  qrvtest::TempDir dir;
  Ifd ifd0;
  ifd0.entries = {Ascii(0x010F, "Maker"), Ascii(0x0110, "LastBytes")};  // Model's text ends the segment
  std::vector<uint8_t> segment = BlockBuilder(false).Build({ifd0});
  ASSERT_EQ(segment[segment.size() - 2], 's');
  auto withPrefix = [&](size_t prefix) {
    std::vector<uint8_t> file(prefix, 0x00);
    file.insert(file.end(), segment.begin(), segment.end());
    std::vector<uint8_t> tail = {0xFF, 0xD9};
    file.insert(file.end(), tail.begin(), tail.end());
    return file;
  };
  auto r = NewReader();
  // "Exif" must start within the first 100 bytes with its 4 bytes inside them: p <= 92.
  for (size_t prefix : {0u, 2u, 20u, 92u}) {
    std::string path = dir.File("p" + std::to_string(prefix) + ".jpg");
    ASSERT_TRUE(qrvtest::WriteFileBytes(path, withPrefix(prefix)));
    ASSERT_TRUE(r->ReadExifFromFile(path.c_str())) << prefix;
    EXPECT_EQ(Text(*r, 0x010F), "Maker");
    EXPECT_EQ(Text(*r, 0x0110), "LastBytes");  // the segment's last bytes are read too
  }
  std::string path = dir.File("p93.jpg");
  ASSERT_TRUE(qrvtest::WriteFileBytes(path, withPrefix(93)));
  EXPECT_FALSE(r->ReadExifFromFile(path.c_str()));
  EXPECT_EQ(FoundCount(*r), 0);
  // Files shorter than the window, cut inside the segment, or missing.
  std::vector<uint8_t> whole = withPrefix(2);
  for (size_t len : {0u, 5u, 10u, 11u, 19u, 20u, 40u, 60u}) {
    path = dir.File("cut" + std::to_string(len) + ".jpg");
    ASSERT_TRUE(qrvtest::WriteFileBytes(path, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(len))));
    EXPECT_EQ(r->ReadExifFromFile(path.c_str()) != 0, len >= 2 + 18) << len;
  }
  EXPECT_FALSE(r->ReadExifFromFile(dir.File("missing.jpg").c_str()));
  EXPECT_FALSE(r->ReadExifFromFile(nullptr));
}
