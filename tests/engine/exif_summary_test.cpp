// The EXIF summary: conversions of each tag's text on blocks built here, and the summary of
// every real camera picture against exiftool's numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>

#include "engine/ErrorText.h"
#include "engine/ExifSummary.h"
#include "support/exif_block.h"
#include "support/test_support.h"

using namespace qrvtest;

namespace {

std::vector<uint8_t> BlockOf(std::vector<ExifEntry> ifd0, std::vector<ExifEntry> exif = {}) {
  ExifBlock b;
  b.bigEndian = true;
  ifd0.push_back(Link(34665, 1));
  b.ifds = {ifd0, exif};
  return b.Build();
}

CExifSummary Summary(const std::vector<uint8_t>& block) {
  CExifSummary s;
  EXPECT_NE(s.ReadExif(block.data(), static_cast<DWORD>(block.size())), 0);
  return s;
}

BOOL ReadInto(CExifSummary& s, const std::vector<uint8_t>& block) {
  return s.ReadExif(block.data(), static_cast<DWORD>(block.size()));
}

uint64_t U(int32_t v) { return static_cast<uint32_t>(v); }

}  // namespace

TEST(ExifSummary, FieldsFromTags) {
  CExifSummary s = Summary(BlockOf(
      {Ascii(271, "Maker"), Ascii(272, "Cam 1"), Short(274, {8}), Ascii(306, "2001:01:01 00:00:00")},
      {Rational(33434, {1, 125}), Rational(33437, {56, 10}), Short(34850, {3}), Short(37383, {5}), Short(37384, {10}),
       Short(37385, {25}), Short(34855, {400, 800}), Rational(37382, {35, 10}), Short(40961, {1}),
       Rational(37380, {U(-2), 3}, true), Rational(37377, {66, 10}, true), Rational(37378, {497, 100}),
       Ascii(36867, "2002:02:02 12:00:00")}));
  EXPECT_EQ(s.make, "Maker");
  EXPECT_EQ(s.model, "Cam 1");
  EXPECT_EQ(s.orientation, 8);
  EXPECT_EQ(s.date, "2002:02:02 12:00:00");  // DateTimeOriginal before DateTime
  EXPECT_DOUBLE_EQ(s.exposureTime, 0.008);
  EXPECT_DOUBLE_EQ(s.fNumber, 5.6);
  EXPECT_EQ(s.exposureProgram, "aperture priority");
  EXPECT_EQ(s.meteringMode, "multi-segment");
  EXPECT_EQ(s.lightSource, 10);
  EXPECT_EQ(s.flash, 1);
  EXPECT_EQ(s.iso, 400);
  EXPECT_DOUBLE_EQ(s.subjectDistance, 3.5);
  EXPECT_EQ(s.colorSpace, 1);
  EXPECT_EQ(s.exposureBiasText, "-2/3");
  EXPECT_DOUBLE_EQ(s.exposureBias, -2.0 / 3.0);
  EXPECT_DOUBLE_EQ(s.shutterTime, 1.0 / 60);
  EXPECT_DOUBLE_EQ(s.aperture, 4.0);
  EXPECT_EQ(s.userComment, "");

  s = Summary(BlockOf({Ascii(306, "1999:09:09 09:09:09")}, {Short(34850, {9}), Short(37383, {255}), Short(37385, {16})}));
  EXPECT_EQ(s.date, "1999:09:09 09:09:09");
  EXPECT_EQ(s.exposureProgram, "other");
  EXPECT_EQ(s.meteringMode, "other");
  EXPECT_EQ(s.flash, 0);
}

TEST(ExifSummary, ApexTablesAndRationals) {
  EXPECT_DOUBLE_EQ(ShutterTimeFromTv(6.6), 1.0 / 60);
  EXPECT_DOUBLE_EQ(ShutterTimeFromTv(-5), 30);
  EXPECT_DOUBLE_EQ(ShutterTimeFromTv(-4), 15);
  EXPECT_DOUBLE_EQ(ShutterTimeFromTv(1.0), 0.5);
  EXPECT_DOUBLE_EQ(ShutterTimeFromTv(10.99), 0.001);
  EXPECT_DOUBLE_EQ(ShutterTimeFromTv(11), 0.0005);
  EXPECT_DOUBLE_EQ(FNumberFromAv(4.97), 4.0);
  EXPECT_DOUBLE_EQ(FNumberFromAv(10), 32.0);
  EXPECT_DOUBLE_EQ(FNumberFromAv(0.5), 1.0);
  EXPECT_DOUBLE_EQ(FNumberFromAv(9.5), 22.0);

  // Texts as the library gives them: 0/0 is Tv 1.0; no slash leaves 0; -5/1 is 30 s.
  CExifSummary s = Summary(BlockOf({}, {Rational(37377, {0, 0}, true), Rational(37378, {10, 1})}));
  EXPECT_DOUBLE_EQ(s.shutterTime, 0.5);
  EXPECT_DOUBLE_EQ(s.aperture, 32.0);
  s = Summary(BlockOf({}, {Rational(37377, {U(-5), 1}, true), Short(37378, {5})}));
  EXPECT_DOUBLE_EQ(s.shutterTime, 30);
  EXPECT_DOUBLE_EQ(s.aperture, 0);
  // A rational whose slash comes first, or whose denominator is 0, leaves 0.
  s.exposureTime = 7;
  s.fNumber = 7;
  ASSERT_TRUE(ReadInto(s, BlockOf({}, {Ascii(33434, "/125"), Rational(33437, {5, 0})})));
  EXPECT_EQ(s.exposureTime, 0);
  EXPECT_EQ(s.fNumber, 0);
  // Subject distance: a numerator of 0xFFFFFFFF is infinity, whatever the denominator.
  for (uint64_t den : {1u, 100u}) {
    s = Summary(BlockOf({}, {Rational(37382, {0xFFFFFFFFu, den})}));
    EXPECT_EQ(s.subjectDistance, kSubjectAtInfinity) << den;
  }
  long n = 0, d = 0;
  EXPECT_TRUE(ParseRationalParts("4294967295/1", n, d));
  EXPECT_EQ(n, 4294967295L);
  EXPECT_FALSE(ParseRationalParts("/1", n, d));
}

TEST(ExifSummary, MissingTagsAndBadBlocks) {
  CExifSummary s;
  EXPECT_EQ(s.flash, -1);
  EXPECT_EQ(s.lightSource, -1);
  EXPECT_EQ(s.orientation, 1);
  s.iso = 5;
  s.exposureTime = 9;
  s.make = "kept";
  std::vector<uint8_t> block = BlockOf({Ascii(272, "M")});
  EXPECT_NE(s.ReadExif(block.data(), static_cast<DWORD>(block.size())), 0);
  EXPECT_EQ(s.iso, 0);  // cleared whether the tag is there or not
  EXPECT_EQ(s.exposureTime, 9);
  EXPECT_EQ(s.make, "kept");
  EXPECT_EQ(s.flash, -1);
  EXPECT_EQ(s.model, "M");

  // A block the library cannot parse: 0 and nothing changes.
  s.iso = 5;
  block[5] = 'Y';
  EXPECT_EQ(s.ReadExif(block.data(), static_cast<DWORD>(block.size())), 0);
  EXPECT_EQ(s.iso, 5);
  EXPECT_EQ(s.ReadExif(nullptr, 0), 0);

  // A UserComment of text (not the standard's type): "ASCII" alone gives an empty comment
  // without reading past its end.
  s.userComment = "old";
  ASSERT_TRUE(ReadInto(s, BlockOf({}, {Ascii(37510, "ASCII")})));
  EXPECT_EQ(s.userComment, "");
}

// A UserComment stored as cameras store it: the 8-byte character code, then the comment in
// that code; Unicode in the block's byte order (or its byte-order mark's); padding dropped.
TEST(ExifSummary, UserCommentInEachCharacterCode) {
  using Bytes = std::vector<uint8_t>;
  // The character code: a name padded with zeros to 8 bytes.
  auto code = [](std::string name, Bytes text) {
    name.resize(8, '\0');
    Bytes b(name.begin(), name.end());
    b.insert(b.end(), text.begin(), text.end());
    return b;
  };
  auto chars = [](const std::string& t) { return Bytes(t.begin(), t.end()); };
  // UTF-16 of "Zoë €1" plus U+1F600 in either order.
  const std::vector<uint16_t> units = {'Z', 'o', 0xEB, ' ', 0x20AC, '1', 0xD83D, 0xDE00, ' ', 0};
  auto utf16 = [&](bool big, bool bom = false) {
    Bytes b;
    std::vector<uint16_t> u = units;
    if (bom) u.insert(u.begin(), 0xFEFF);
    for (uint16_t v : u) {
      b.push_back(static_cast<uint8_t>(big ? v >> 8 : v & 0xFF));
      b.push_back(static_cast<uint8_t>(big ? v & 0xFF : v >> 8));
    }
    return b;
  };
  const std::string kUnicodeText = "Zo\xC3\xAB \xE2\x82\xAC" "1\xF0\x9F\x98\x80";
  const Bytes kNikon = chars("curve: fotogenics point and shoot   ");
  const struct {
    const char* what;
    bool bigEndian;
    Bytes bytes;
    std::string want;
    bool undecodable = false;  // said so, for the stamp to warn
  } cases[] = {
      {"ASCII, blanks", true, code("ASCII", kNikon), "curve: fotogenics point and shoot"},
      {"ASCII, zeros", false, code("ASCII", {'h', 'i', '\n', 'x', 0, 0, 'j', 'u', 'n', 'k'}), "hi\nx"},
      {"ASCII, empty", false, code("ASCII", {}), ""},
      {"Unicode, MM", true, code("UNICODE", utf16(true)), kUnicodeText},
      {"Unicode, II", false, code("UNICODE", utf16(false)), kUnicodeText},
      {"Unicode, II block, MM mark", false, code("UNICODE", utf16(true, true)), kUnicodeText},
      {"Unicode, lone surrogate", false, code("UNICODE", {0x3D, 0xD8, 'a', 0}), "\xEF\xBF\xBD" "a"},
      {"undefined, UTF-8", true, code("", chars("caf\xC3\xA9  \0\0")), "caf\xC3\xA9"},
      {"undefined, not UTF-8", true, code("", {'c', 'a', 'f', 0xE9}), "", true},
      {"undefined, zeros", false, code("", Bytes(40, 0)), ""},
      {"JIS", true, code("JIS", {0x1B, 0x24, 0x42, 0x46, 0x7C}), "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExifBlock b;
    b.bigEndian = c.bigEndian;
    b.ifds = {{Link(34665, 1)}, {Undefined(37510, c.bytes)}};
    CExifSummary s;
    s.userComment = "old";
    const std::vector<uint8_t> block = b.Build();
    ASSERT_NE(s.ReadExif(block.data(), static_cast<DWORD>(block.size())), 0);
    EXPECT_EQ(s.userComment, c.want);
    EXPECT_EQ(s.userCommentNote.empty(), !c.undecodable) << s.userCommentNote;
  }
  // Fewer than 8 bytes, or a code of no standard's, leave the comment as it was.
  for (const Bytes& bytes : {Bytes{'A', 'S', 'C', 'I', 'I', 0}, code("Latin-1", chars("x"))}) {
    CExifSummary s;
    s.userComment = "old";
    ASSERT_TRUE(ReadInto(s, BlockOf({}, {Undefined(37510, bytes)})));
    EXPECT_EQ(s.userComment, "old");
  }
}

TEST(ExifSummary, RealCameraPictures) {
  QRV_REQUIRE_TESTDATA("jpeg");
  QRV_REQUIRE_TOOL("exiftool");
  std::vector<std::string> files = TestDataFiles("jpeg");
  std::string cmd =
      "exiftool -n -T -FilePath -IFD0:Make -IFD0:Model -ExifIFD:ExposureTime -ExifIFD:FNumber -ExifIFD:ISO "
      "-ExifIFD:Flash -IFD0:Orientation -ExifIFD:SubjectDistance -ExifIFD:ColorSpace";
  for (const std::string& f : files) cmd += " '" + f + "'";
  std::istringstream out(RunCommand(cmd + " 2>/dev/null"));
  std::map<std::string, std::vector<std::string>> ref;
  std::string line;
  while (std::getline(out, line)) {
    std::vector<std::string> cols;
    std::istringstream l(line);
    std::string c;
    while (std::getline(l, c, '\t')) cols.push_back(c);
    if (cols.size() == 10) ref[cols[0]] = cols;
  }
  auto num = [](const std::string& s, double missing) { return s == "-" ? missing : std::atof(s.c_str()); };
  auto text = [](std::string s) {
    if (s == "-") return std::string();
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  int checked = 0;
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    ASSERT_TRUE(ref.count(f));
    const std::vector<std::string>& r = ref[f];
    std::vector<uint8_t> block = ExifRecordFromJpeg(ReadFileBytes(f));
    ASSERT_FALSE(block.empty());
    CExifSummary s;
    ASSERT_NE(s.ReadExif(block.data(), static_cast<DWORD>(block.size())), 0);
    std::string make = s.make, model = s.model;
    while (!make.empty() && make.back() == ' ') make.pop_back();
    while (!model.empty() && model.back() == ' ') model.pop_back();
    EXPECT_EQ(make, text(r[1]));
    EXPECT_EQ(model, text(r[2]));
    EXPECT_NEAR(s.exposureTime, num(r[3], 0), 1e-9);
    EXPECT_NEAR(s.fNumber, num(r[4], 0), 1e-9);
    EXPECT_EQ(s.iso, static_cast<int>(num(r[5], 0)));
    const int flash = static_cast<int>(num(r[6], -1));
    EXPECT_EQ(s.flash, flash > 1 ? flash % 2 : flash);
    EXPECT_EQ(s.orientation, static_cast<int>(num(r[7], 1)));
    EXPECT_NEAR(s.subjectDistance, num(r[8], 0), 1e-9);
    EXPECT_EQ(s.colorSpace, static_cast<int>(num(r[9], 0)));
    ++checked;
  }
  EXPECT_GT(checked, 20);
}

TEST(ErrorText, Messages) {
  EXPECT_EQ(LibraryErrorText(0), "no err");
  EXPECT_EQ(LibraryErrorText(9), "bad JPG file");
  EXPECT_EQ(LibraryErrorText(29), "a call to BitBlt failed.");
  EXPECT_EQ(LibraryErrorText(32), "bad TGA File");
  EXPECT_EQ(LibraryErrorText(36), "LZW de/compression is not permitted");
  EXPECT_EQ(LibraryErrorText(16).rfind("internal PNG lib behavior", 0), 0u);
  EXPECT_EQ(LibraryErrorText(17).rfind("misc unexpected behavior error", 0), 0u);
  for (ISErrorCode code : {8u, 12u, 33u, 34u, 37u, 38u, 56u, 4294967295u}) {
    char want[32];
    std::snprintf(want, sizeof want, "Error #%u!", code);
    EXPECT_EQ(LibraryErrorText(code), want);
  }
  for (ISErrorCode code = 0; code <= 36; ++code) EXPECT_FALSE(LibraryErrorText(code).empty());
}
