// The application's EXIF tag reader on real camera files: its texts against exiftool's values,
// the file search window, and the real segments cut at every length.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/formats/exif/CExifTagReader.h"
#include "support/exif_block.h"
#include "support/test_support.h"
#include "tests/imaging/formats/exif/exif_tag_reader_texts.h"

namespace {

struct Segment {
  size_t start = 0;
  size_t size = 0;  // 0 when the file has no EXIF segment
};

// The EXIF APP1 segment found by walking the JPEG markers (the reader itself looks only at
// the first 100 bytes).
Segment FindSegment(const std::vector<uint8_t>& b) {
  Segment seg;
  seg.size = qrvtest::ExifRecordFromJpeg(b, &seg.start).size();
  return seg;
}

std::vector<std::string> SampleFiles() {
  std::vector<std::string> files;
  for (const char* sub : {"jpeg/exif", "jpeg/makernotes", "jpeg/orientation"})
    for (const std::string& f : qrvtest::TestDataFiles(sub)) files.push_back(f);
  return files;
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// The numbers a text states: "a/b" items are quotients; *decimals tells whether any item was
// written with two decimals (and so carries a rounding of up to 0.005).
std::vector<double> Numbers(const std::string& text, bool* decimals) {
  std::vector<double> out;
  *decimals = false;
  std::stringstream ss(text);
  std::string item;
  while (std::getline(ss, item, ',')) {
    size_t slash = item.find('/');
    if (slash != std::string::npos) {
      out.push_back(std::strtod(item.substr(0, slash).c_str(), nullptr) / std::strtod(item.substr(slash + 1).c_str(), nullptr));
    } else {
      if (item.find('.') != std::string::npos) *decimals = true;
      out.push_back(std::strtod(item.c_str(), nullptr));
    }
  }
  return out;
}

std::vector<double> RefNumbers(const std::string& text) {
  std::vector<double> out;
  std::stringstream ss(text);
  double v;
  while (ss >> v) out.push_back(v);
  return out;
}

// kFileOffset: exiftool states the offset from the start of the file, the tag holds it from
// the TIFF header, 10 bytes into the segment.
enum class Kind { kString, kNumber, kShutter, kEnum, kFileOffset };

struct Expect {
  uint16_t tag;
  Kind kind;
};

const std::map<std::string, Expect>& Expectations() {
  static const std::map<std::string, Expect> table = {
      {"Make", {0x010F, Kind::kString}},
      {"Model", {0x0110, Kind::kString}},
      {"Software", {0x0131, Kind::kString}},
      {"ImageDescription", {0x010E, Kind::kString}},
      {"Artist", {0x013B, Kind::kString}},
      {"Copyright", {0x8298, Kind::kString}},
      {"ModifyDate", {0x0132, Kind::kString}},
      {"DateTimeOriginal", {0x9003, Kind::kString}},
      {"CreateDate", {0x9004, Kind::kString}},
      {"SubSecTime", {0x9290, Kind::kString}},
      {"SubSecTimeOriginal", {0x9291, Kind::kString}},
      {"SubSecTimeDigitized", {0x9292, Kind::kString}},
      {"ExifVersion", {0x9000, Kind::kString}},
      {"FlashpixVersion", {0xA000, Kind::kString}},
      {"InteropIndex", {0x0001, Kind::kString}},
      {"InteropVersion", {0x0002, Kind::kString}},
      {"XResolution", {0x011A, Kind::kNumber}},
      {"YResolution", {0x011B, Kind::kNumber}},
      {"ExposureTime", {0x829A, Kind::kNumber}},
      {"FNumber", {0x829D, Kind::kNumber}},
      {"ISO", {0x8827, Kind::kNumber}},
      {"Flash", {0x9209, Kind::kNumber}},
      {"FocalLength", {0x920A, Kind::kNumber}},
      {"ExposureCompensation", {0x9204, Kind::kNumber}},
      {"BrightnessValue", {0x9203, Kind::kNumber}},
      {"CompressedBitsPerPixel", {0x9102, Kind::kNumber}},
      {"ColorSpace", {0xA001, Kind::kNumber}},
      {"ExifImageWidth", {0xA002, Kind::kNumber}},
      {"ExifImageHeight", {0xA003, Kind::kNumber}},
      {"FocalPlaneXResolution", {0xA20E, Kind::kNumber}},
      {"FocalPlaneYResolution", {0xA20F, Kind::kNumber}},
      {"ExposureIndex", {0xA215, Kind::kNumber}},
      {"FileSource", {0xA300, Kind::kNumber}},
      {"SceneType", {0xA301, Kind::kNumber}},
      {"ComponentsConfiguration", {0x9101, Kind::kNumber}},
      {"ThumbnailOffset", {0x0201, Kind::kFileOffset}},
      {"ThumbnailLength", {0x0202, Kind::kNumber}},
      {"ShutterSpeedValue", {0x9201, Kind::kShutter}},
      {"Orientation", {0x0112, Kind::kEnum}},
      {"ResolutionUnit", {0x0128, Kind::kEnum}},
      {"FocalPlaneResolutionUnit", {0xA210, Kind::kEnum}},
      {"YCbCrPositioning", {0x0213, Kind::kEnum}},
      {"Compression", {0x0103, Kind::kEnum}},
      {"ExposureProgram", {0x8822, Kind::kEnum}},
      {"MeteringMode", {0x9207, Kind::kEnum}},
      {"LightSource", {0x9208, Kind::kEnum}},
      {"SensingMethod", {0xA217, Kind::kEnum}},
  };
  return table;
}

// exiftool's numeric values of the four IFDs the reader walks, per file: group -> name -> value.
using RefTags = std::map<std::string, std::map<std::string, std::string>>;
std::map<std::string, RefTags> ExiftoolValues(const std::vector<std::string>& files) {
  std::string cmd = "exiftool -n -a -G1 -S -IFD0:all -IFD1:all -ExifIFD:all -InteropIFD:all";
  for (const std::string& f : files) cmd += " '" + f + "'";
  std::map<std::string, RefTags> out;
  std::stringstream ss(qrvtest::RunCommand(cmd + " 2>/dev/null"));
  std::string line, file;
  while (std::getline(ss, line)) {
    if (line.rfind("======== ", 0) == 0) {
      file = line.substr(9);
      continue;
    }
    size_t close = line.find("] "), colon = line.find(": ");
    if (line.empty() || line[0] != '[' || close == std::string::npos || colon == std::string::npos) continue;
    out[file][line.substr(1, close - 1)][line.substr(close + 2, colon - close - 2)] = line.substr(colon + 2);
  }
  return out;
}

std::string Text(const CExifTagReader& r, uint16_t tag) {
  int i = CExifTagReader::FindTagRecord(tag);
  return i >= 0 && r.m_Tags[i].found ? r.m_Tags[i].value : "<absent>";
}

}  // namespace

TEST(ExifTagReaderSamples, TextsAgreeWithExiftool) {
  QRV_REQUIRE_TESTDATA("jpeg/exif/Canon_40D.jpg");
  QRV_REQUIRE_TOOL("exiftool");
  std::vector<std::string> files = SampleFiles();
  std::map<std::string, RefTags> ref = ExiftoolValues(files);
  ASSERT_EQ(ref.size(), files.size());
  auto reader = std::make_unique<CExifTagReader>();
  int compared = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    std::vector<uint8_t> bytes = qrvtest::ReadFileBytes(file);
    Segment seg = FindSegment(bytes);
    ASSERT_GT(seg.size, 0u);
    ASSERT_TRUE(reader->ParseExifBlock(bytes.data() + seg.start, seg.size));
    const RefTags& tags = ref[file];
    for (const char* group : {"IFD0", "IFD1", "ExifIFD", "InteropIFD"}) {
      auto g = tags.find(group);
      if (g == tags.end()) continue;
      for (const auto& [name, value] : g->second) {
        auto e = Expectations().find(name);
        if (e == Expectations().end()) continue;
        // A thumbnail tag that IFD0 also holds keeps IFD0's value.
        if (std::string(group) == "IFD1" && tags.count("IFD0") && tags.at("IFD0").count(name)) continue;
        SCOPED_TRACE(std::string(group) + ":" + name + " = " + value);
        std::string mine = Text(*reader, e->second.tag);
        ASSERT_NE(mine, "<absent>");
        ++compared;
        switch (e->second.kind) {
          case Kind::kString:
            EXPECT_EQ(Trim(mine), Trim(value));
            break;
          case Kind::kEnum:
            EXPECT_EQ(mine, exiftest::EnumText(e->second.tag, std::atoll(value.c_str())));
            break;
          case Kind::kNumber: {
            bool decimals = false;
            std::vector<double> got = Numbers(mine, &decimals), want = RefNumbers(value);
            ASSERT_EQ(got.size(), want.size()) << mine;
            for (size_t i = 0; i < got.size(); ++i) {
              // Two-decimal texts carry their rounding; "a/b" and integers are exact.
              double tol = decimals ? 0.005 + 1e-9 : 1e-9 * std::max(1.0, std::fabs(want[i]));
              EXPECT_NEAR(got[i], want[i], tol) << mine;
            }
            break;
          }
          case Kind::kFileOffset:
            EXPECT_EQ(std::strtoull(mine.c_str(), nullptr, 10) + seg.start + 10, std::strtoull(value.c_str(), nullptr, 10));
            break;
          case Kind::kShutter: {
            double ref_seconds = std::atof(value.c_str());
            ASSERT_EQ(mine.rfind("1/", 0), 0u) << mine;
            if (ref_seconds == 0) break;  // exiftool's stand-in for an absurd APEX value
            double reciprocal = std::atof(mine.c_str() + 2);
            EXPECT_NEAR(reciprocal, 1.0 / ref_seconds, 0.005 + 1e-9) << mine;
            break;
          }
        }
      }
    }
  }
  EXPECT_GT(compared, 300);
}

TEST(ExifTagReaderSamples, FileSearchLooksAtTheFirstHundredBytes) {
  QRV_REQUIRE_TESTDATA("jpeg/exif/Canon_40D.jpg");
  auto fromFile = std::make_unique<CExifTagReader>();
  auto fromSegment = std::make_unique<CExifTagReader>();
  int found = 0;
  for (const std::string& file : SampleFiles()) {
    SCOPED_TRACE(file);
    std::vector<uint8_t> bytes = qrvtest::ReadFileBytes(file);
    Segment seg = FindSegment(bytes);
    ASSERT_GT(seg.size, 0u);
    // Pictures whose ICC profile segment comes first keep their EXIF segment out of reach.
    bool reachable = seg.start + 8 <= 100;
    ASSERT_EQ(fromFile->ReadExifFromFile(file.c_str()) != 0, reachable);
    if (!reachable) continue;
    ++found;
    ASSERT_TRUE(fromSegment->ParseExifBlock(bytes.data() + seg.start, seg.size));
    for (int i = 0; i < CExifTagReader::kTagCount; ++i) {
      EXPECT_EQ(fromFile->m_Tags[i].found, fromSegment->m_Tags[i].found) << i;
      EXPECT_STREQ(fromFile->m_Tags[i].value, fromSegment->m_Tags[i].value) << i;
    }
  }
  EXPECT_GE(found, 14);
}

TEST(ExifTagReaderSamples, CutSegmentsGiveASubsetOfTheTexts) {
  QRV_REQUIRE_TESTDATA("jpeg/exif/Canon_40D.jpg");
  auto full = std::make_unique<CExifTagReader>();
  auto cut = std::make_unique<CExifTagReader>();
  for (const char* sub : {"jpeg/exif", "jpeg/makernotes"}) {
    for (const std::string& file : qrvtest::TestDataFiles(sub)) {
      SCOPED_TRACE(file);
      std::vector<uint8_t> bytes = qrvtest::ReadFileBytes(file);
      Segment seg = FindSegment(bytes);
      ASSERT_TRUE(full->ParseExifBlock(bytes.data() + seg.start, seg.size));
      // Every length of the first 4 KB, then every 97th: the large segments hold a thumbnail.
      for (size_t len = 0; len < seg.size; len += len < 4096 ? 1 : 97) {
        std::vector<uint8_t> part(bytes.begin() + static_cast<long>(seg.start),
                                  bytes.begin() + static_cast<long>(seg.start + len));
        ASSERT_EQ(cut->ParseExifBlock(part.data(), part.size()) != 0, len >= 18) << len;
        for (int i = 0; i < CExifTagReader::kTagCount; ++i) {
          if (!cut->m_Tags[i].found) continue;
          ASSERT_TRUE(full->m_Tags[i].found) << len << " " << i;
          ASSERT_STREQ(cut->m_Tags[i].value, full->m_Tags[i].value) << len << " " << i;
        }
      }
    }
  }
}
