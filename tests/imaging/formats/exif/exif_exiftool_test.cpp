// Real camera pictures: every tag that exiftool lists in IFD0, the Exif, interoperability,
// IFD1 and GPS IFDs and the maker note is found here with the same id and the same values,
// rendered in the library's text formats. exiftool gives each tag's type, size and the file
// offset of its value bytes; the expected text is made from those bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "imaging/formats/exif/CISEXIFBase.h"
#include "qrv/imaging.h"
#include "support/exif_block.h"
#include "support/test_support.h"

using namespace qrvtest;

namespace {

struct ListedTag {
  std::string dir;
  unsigned id = 0;
  unsigned bytes = 0;
  std::string format;  // exiftool's name of the stored type: string, int16u, undef...
  unsigned count = 0;
  long fileOffset = -1;  // where the value bytes (or the inline value field) lie
};

// The tags of the directories we compare, in the order exiftool lists them.
std::vector<ListedTag> ListTags(const std::string& path, std::string& byteOrder) {
  std::string out = RunCommand("exiftool -v3 '" + path + "' 2>/dev/null");
  std::istringstream in(out);
  std::string line;
  std::map<int, std::string> dirs;
  std::vector<ListedTag> tags;
  ListedTag* pending = nullptr;
  while (std::getline(in, line)) {
    auto bars = [&](size_t upTo) {
      int n = 0;
      for (size_t i = 0; i < upTo && i < line.size(); ++i) n += line[i] == '|';
      return n;
    };
    if (line.find("ExifByteOrder = ") != std::string::npos && byteOrder.empty())
      byteOrder = line.substr(line.find('=') + 2);
    size_t p = line.find("+ [");
    if (p != std::string::npos && line.find(" directory") != std::string::npos) {
      int level = bars(p);
      std::string name = line.substr(p + 3, line.find(' ', p + 3) - (p + 3));
      dirs[level] = name;
      for (auto it = dirs.upper_bound(level); it != dirs.end();) it = dirs.erase(it);
      pending = nullptr;
      continue;
    }
    p = line.find("- Tag 0x");
    if (p != std::string::npos) {
      pending = nullptr;
      int level = bars(p) - 1;
      if (!dirs.count(level)) continue;
      ListedTag t;
      t.dir = dirs[level];
      char fmt[64] = {};
      if (std::sscanf(line.c_str() + p, "- Tag 0x%x (%u bytes, %63[a-z0-9][%u]", &t.id, &t.bytes, fmt, &t.count) != 4)
        continue;
      t.format = fmt;
      tags.push_back(t);
      pending = &tags.back();
      continue;
    }
    if (pending) {
      unsigned off = 0;
      char colon = 0;
      if (std::sscanf(line.c_str(), "%*[ |]%x%c", &off, &colon) == 2 && colon == ':')
        pending->fileOffset = static_cast<long>(off);
      pending = nullptr;
    }
  }
  return tags;
}

uint64_t Get(const uint8_t* p, int size, bool big) {
  uint64_t v = 0;
  for (int i = 0; i < size; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * (big ? size - 1 - i : i));
  return v;
}

// The expected text of a tag; "" when only its presence can be checked.
std::string Expected(const ListedTag& t, const std::vector<uint8_t>& file, bool big, bool makerNote) {
  const uint8_t* v = file.data() + t.fileOffset;
  std::string s;
  char buf[64];
  auto sep = [&] {
    if (!s.empty()) s += ", ";
  };
  const std::string& f = t.format;
  if (f == "string") return std::string(reinterpret_cast<const char*>(v), strnlen(reinterpret_cast<const char*>(v), t.bytes));
  if (f == "undef") {
    if (makerNote || t.id == 2 || t.id == 36864 || t.id == 40960) {
      if (t.bytes > 4) return "";  // the text is the offset field's bytes
      return std::string(reinterpret_cast<const char*>(v), strnlen(reinterpret_cast<const char*>(v), 4));
    }
    if (t.id == 41728 || t.id == 41729) {
      std::snprintf(buf, sizeof buf, v[0] < 16 ? "x0%x" : "x%x", v[0]);
      return buf;
    }
    if (t.id != 37510) return "Unknown Format";
  }
  for (unsigned i = 0; i < t.count; ++i) {
    sep();
    if (f == "int8u" || f == "undef") std::snprintf(buf, sizeof buf, v[i] < 16 ? "x0%x" : "x%x", v[i]);
    else if (f == "int8s") std::snprintf(buf, sizeof buf, "%d", static_cast<int8_t>(v[i]));
    else if (f == "int16u") std::snprintf(buf, sizeof buf, "%d", static_cast<int>(Get(v + 2 * i, 2, big)));
    else if (f == "int16s") std::snprintf(buf, sizeof buf, "%d", static_cast<int16_t>(Get(v + 2 * i, 2, big)));
    else if (f == "int32u") std::snprintf(buf, sizeof buf, "%u", static_cast<uint32_t>(Get(v + 4 * i, 4, big)));
    else if (f == "int32s") std::snprintf(buf, sizeof buf, "%d", static_cast<int32_t>(Get(v + 4 * i, 4, big)));
    else if (f == "rational64u")
      std::snprintf(buf, sizeof buf, "%u/%u", static_cast<uint32_t>(Get(v + 8 * i, 4, big)),
                    static_cast<uint32_t>(Get(v + 8 * i + 4, 4, big)));
    else if (f == "rational64s")
      std::snprintf(buf, sizeof buf, "%d/%d", static_cast<int32_t>(Get(v + 8 * i, 4, big)),
                    static_cast<int32_t>(Get(v + 8 * i + 4, 4, big)));
    else if (f == "float") {
      uint32_t w = static_cast<uint32_t>(Get(v + 4 * i, 4, big));
      float x;
      std::memcpy(&x, &w, 4);
      std::snprintf(buf, sizeof buf, "%6.4f", static_cast<double>(x));
    } else if (f == "double") {
      uint64_t w = Get(v + 8 * i, 8, big);
      double x;
      std::memcpy(&x, &w, 8);
      std::snprintf(buf, sizeof buf, "%6.4f", x);
    } else {
      ADD_FAILURE() << "format " << f;
      return "";
    }
    s += buf;
  }
  return s;
}

const std::map<std::string, DWORD> kMasks = {{"IFD0", 1}, {"ExifIFD", 2}, {"InteropIFD", 4},
                                              {"IFD1", 8}, {"GPS", 16},     {"MakerNotes", 32}};
const std::set<std::string> kMakers = {"Canon", "NIKON", "NIKON CORPORATION", "FUJIFILM", "OLYMPUS OPTICAL CO.,LTD",
                                       "CASIO"};

}  // namespace

TEST(ExifExiftool, EveryListedTagHasTheSameValues) {
  QRV_REQUIRE_TESTDATA("jpeg");
  QRV_REQUIRE_TOOL("exiftool");
  int files = 0, compared = 0, makerNoteTags = 0;
  for (const std::string& path : TestDataFiles("jpeg")) {
    SCOPED_TRACE(path);
    std::vector<uint8_t> file = ReadFileBytes(path);
    size_t recordPos = 0;
    std::vector<uint8_t> block = ExifRecordFromJpeg(file, &recordPos);
    if (block.empty()) continue;
    std::string order;
    std::vector<ListedTag> tags = ListTags(path, order);
    ASSERT_FALSE(order.empty());
    const bool big = order == "MM";
    CISEXIFBase* exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 2);
    ASSERT_NE(exif, nullptr);
    ++files;
    std::string make;
    FindTagText(exif->lists[kListIFD0], 271, make);
    const bool noteParsed = kMakers.count(make) != 0;

    // The maker note's byte order: Fujifilm notes are little-endian, a Nikon note with an
    // embedded TIFF header has that header's order.
    bool noteBig = big;
    for (const ListedTag& t : tags) {
      if (t.id != 37500 || t.fileOffset < 0 || t.bytes < 18) continue;
      const uint8_t* n = file.data() + t.fileOffset;
      if (std::memcmp(n, "FUJIFILM", 8) == 0) noteBig = false;
      if (std::memcmp(n, "Nikon\0\2", 7) == 0) noteBig = n[10] == 'M';
    }

    std::set<std::pair<std::string, unsigned>> seen;
    for (const ListedTag& t : tags) {
      auto mask = kMasks.find(t.dir);
      if (mask == kMasks.end()) continue;
      const bool inNote = t.dir == "MakerNotes";
      if (inNote && !noteParsed) continue;
      if (!seen.insert({t.dir, t.id}).second) continue;  // the first of duplicate ids is found
      ASSERT_GE(t.fileOffset, static_cast<long>(recordPos)) << t.dir << " " << t.id;
      ASSERT_LE(static_cast<size_t>(t.fileOffset) + t.bytes, recordPos + block.size());
      HGLOBAL h = nullptr;
      DWORD len = 0;
      ASSERT_TRUE(ISGetEXIFTagText(exif, t.id, mask->second, &h, &len));
      ASSERT_NE(h, nullptr) << t.dir << " tag " << t.id << " not found";
      std::string got(static_cast<const char*>(h), len);
      GlobalFree(h);
      std::string want = Expected(t, file, inNote ? noteBig : big, inNote);
      if (!want.empty() || t.bytes == 0) {
        EXPECT_EQ(got, want) << t.dir << " tag " << t.id << " " << t.format;
      }
      ++compared;
      makerNoteTags += inNote;
    }
    ISReleaseEXIF(exif);
  }
  EXPECT_GT(files, 20);
  EXPECT_GT(compared, 500);
  EXPECT_GT(makerNoteTags, 60);
  std::printf("%d files, %d tags compared, %d of them in maker notes\n", files, compared, makerNoteTags);
}
