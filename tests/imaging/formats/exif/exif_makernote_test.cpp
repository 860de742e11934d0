// Maker notes of every layout the parser knows, built here in both byte orders.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/formats/exif/CISEXIFBase.h"
#include "qrv/imaging.h"
#include "support/exif_block.h"
#include "tests/imaging/formats/exif/exif_tag_text.h"

using namespace qrvtest;

namespace {

const auto Text = exiftest::TagText;

// The entries every note holds: an inline SHORT, an out-of-line RATIONAL, an inline
// UNDEFINED and an out-of-line UNDEFINED (whose text is its offset field's bytes).
std::vector<ExifEntry> NoteEntries() {
  return {Short(1, {7, 9}), Rational(2, {100, 3}), Undefined(3, {'A', 'B', 0, 'C'}),
          Undefined(4, {'x', 'y', 'z', 'w', 'v', 'u'}), Ascii(5, "note text")};
}

// A note: `prefix` bytes, then the IFD at `ifdSkip` bytes from the note's start; offsets are
// written relative to the TIFF header plus `biasFromNote` (or the TIFF header when < 0).
std::function<std::vector<uint8_t>(uint32_t)> Note(std::vector<uint8_t> prefix, bool big, int biasFromNote) {
  return [prefix, big, biasFromNote](uint32_t at) {
    std::vector<uint8_t> out = prefix;
    const uint32_t ifdAt = at + static_cast<uint32_t>(prefix.size());
    const uint32_t bias = biasFromNote < 0 ? 0 : at + static_cast<uint32_t>(biasFromNote);
    std::vector<uint8_t> ifd = EncodeIFD(NoteEntries(), big, ifdAt, bias, 0);
    out.insert(out.end(), ifd.begin(), ifd.end());
    return out;
  };
}

std::vector<uint8_t> BlockWithNote(const std::string& make, bool big,
                                   std::function<std::vector<uint8_t>(uint32_t)> note) {
  ExifEntry mn = Undefined(37500, {});
  mn.note = std::move(note);
  mn.count = static_cast<uint32_t>(mn.note(0).size());
  ExifBlock b;
  b.bigEndian = big;
  b.ifds = {{Ascii(271, make), Link(34665, 1)}, {Rational(33434, {1, 60}), mn}};
  return b.Build();
}

// Parses with maker notes and checks the five note tags.
void ExpectNote(const std::vector<uint8_t>& block, bool noteBig) {
  CISEXIFBase* exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 2);
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(ISGetLastError(), 0u);
  EXPECT_EQ(exif->lists[kListMakerNote].Size(), 5u);
  EXPECT_EQ(Text(exif, 1, 32), "7, 9");
  EXPECT_EQ(Text(exif, 2, 32), "100/3");
  EXPECT_EQ(Text(exif, 3, 32), "AB");
  EXPECT_EQ(Text(exif, 5, 32), "note text");
  // The out-of-line UNDEFINED shows the 4 bytes of its offset field, cut at the first zero.
  const CISEXIFData::CEXIFTagBase* t = FindTag(exif->lists[kListMakerNote], 4);
  ASSERT_NE(t, nullptr);
  uint8_t field[4];
  std::memcpy(field, block.data() + t->entryOffset + 8, 4);
  EXPECT_EQ(Text(exif, 4, 32), std::string(reinterpret_cast<char*>(field), strnlen(reinterpret_cast<char*>(field), 4)));
  EXPECT_EQ(t->bigEndian, noteBig ? 1 : 0);
  // The note's tags are not in the standard lists, and the standard ones stay found.
  EXPECT_EQ(Text(exif, 1, 31), "<none>");
  EXPECT_EQ(Text(exif, 33434, 63), "1/60");
  // Without the maker-note flag nothing is parsed.
  CISEXIFBase* plain = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 0);
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->lists[kListMakerNote].Size(), 0u);
  ISReleaseEXIF(plain);
  ISReleaseEXIF(exif);
}

std::vector<uint8_t> Bytes(const char* s, size_t n) { return std::vector<uint8_t>(s, s + n); }

}  // namespace

TEST(ExifMakerNote, CanonAndCasioStartWithTheIFD) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big);
    ExpectNote(BlockWithNote("Canon", big, Note({}, big, -1)), big);
    ExpectNote(BlockWithNote("CASIO", big, Note({}, big, -1)), big);
  }
}

TEST(ExifMakerNote, OlympusSkipsEightBytes) {
  for (bool big : {false, true})
    ExpectNote(BlockWithNote("OLYMPUS OPTICAL CO.,LTD", big, Note(Bytes("OLYMP\0\1\0", 8), big, -1)), big);
}

TEST(ExifMakerNote, FujifilmIsLittleEndianFromTheNotesStart) {
  std::vector<uint8_t> prefix = Bytes("FUJIFILM\x0C\0\0\0", 12);
  for (bool big : {false, true}) ExpectNote(BlockWithNote("FUJIFILM", big, Note(prefix, false, 0)), false);
}

TEST(ExifMakerNote, NikonsThreeLayouts) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big);
    // Plain IFD at the start of the note.
    ExpectNote(BlockWithNote("NIKON", big, Note({}, big, -1)), big);
    // "Nikon" header of 8 bytes, offsets from the TIFF header.
    ExpectNote(BlockWithNote("NIKON CORPORATION", big, Note(Bytes("Nikon\0\1\0", 8), big, -1)), big);
    // "Nikon", 0, 2 with an embedded TIFF header of either order; offsets from that header.
    for (bool inner : {false, true}) {
      std::vector<uint8_t> prefix = Bytes("Nikon\0\2\x10\0\0", 10);
      if (inner) prefix.insert(prefix.end(), {'M', 'M', 0, '*', 0, 0, 0, 8});
      else prefix.insert(prefix.end(), {'I', 'I', '*', 0, 8, 0, 0, 0});
      ExpectNote(BlockWithNote("NIKON CORPORATION", big, Note(prefix, inner, 10)), inner);
    }
  }
}

TEST(ExifMakerNote, UnknownMakesAndBadNotes) {
  // The make must match exactly.
  for (const char* make : {"Canon ", "canon", "NIKON CORP", "Kodak"}) {
    std::vector<uint8_t> block = BlockWithNote(make, false, Note({}, false, -1));
    CISEXIFBase* exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 2);
    ASSERT_NE(exif, nullptr);
    EXPECT_EQ(exif->lists[kListMakerNote].Size(), 0u) << make;
    ISReleaseEXIF(exif);
  }
  // A Nikon note whose embedded header is neither order: nothing parsed, the read succeeds.
  std::vector<uint8_t> prefix = Bytes("Nikon\0\2\x10\0\0XX*\0\x08\0\0\0", 18);
  std::vector<uint8_t> block = BlockWithNote("NIKON", false, Note(prefix, false, 10));
  CISEXIFBase* exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 2);
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(ISGetLastError(), 0u);
  EXPECT_EQ(exif->lists[kListMakerNote].Size(), 0u);
  EXPECT_EQ(Text(exif, 33434, 2), "1/60");
  ISReleaseEXIF(exif);
  // A Fujifilm note whose IFD offset points outside the block.
  prefix = Bytes("FUJIFILM\xF0\xFF\0\0", 12);
  block = BlockWithNote("FUJIFILM", true, Note(prefix, false, 0));
  exif = ISReadEXIF(block.data(), static_cast<DWORD>(block.size()), 2);
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(exif->lists[kListMakerNote].Size(), 0u);
  ISReleaseEXIF(exif);
}

TEST(ExifMakerNote, TruncatedNotesNeverReadOutside) {
  std::vector<uint8_t> prefix = Bytes("Nikon\0\2\x10\0\0", 10);
  prefix.insert(prefix.end(), {'M', 'M', 0, '*', 0, 0, 0, 8});
  const std::vector<std::vector<uint8_t>> blocks = {
      BlockWithNote("NIKON", false, Note(prefix, true, 10)),
      BlockWithNote("FUJIFILM", true, Note(Bytes("FUJIFILM\x0C\0\0\0", 12), false, 0)),
      BlockWithNote("OLYMPUS OPTICAL CO.,LTD", true, Note(Bytes("OLYMP\0\1\0", 8), true, -1)),
  };
  for (const auto& full : blocks) {
    for (size_t n = 18; n <= full.size(); ++n) {
      std::vector<uint8_t> part(full.begin(), full.begin() + n);  // exact size, for the sanitizers
      CISEXIFBase* exif = ISReadEXIF(part.data(), static_cast<DWORD>(n), 2);
      if (exif) {
        for (const auto* t : exif->lists[kListMakerNote].Items())
          EXPECT_LE(static_cast<size_t>(t->entryOffset) + 12, n);
      }
      ISReleaseEXIF(exif);
    }
  }
}
