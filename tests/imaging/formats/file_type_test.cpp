// File-type detection: the signature table in its order, the extension, the TGA footer, the
// Photo CD probe, and every sample file.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/formats/CISFileTypeSniffer.h"
#include "qrv/imaging.h"
#include "support/test_support.h"

using namespace qrvtest;

namespace {

struct Guess {
  ISFileType type;
  ISErrorCode error;
};

Guess FromMemory(const std::vector<uint8_t>& bytes) {
  ISIOHandle h = ISOpenMemorySource(bytes.data(), static_cast<DWORD>(bytes.size()));
  EXPECT_NE(h, nullptr);
  Guess g{ISGuessFileType(h), ISGetLastError()};
  ISCloseSource(h);
  return g;
}

Guess FromFile(const std::string& path) {
  ISIOHandle h = ISOpenFileSource(path.c_str());
  EXPECT_NE(h, nullptr) << path;
  Guess g{ISGuessFileType(h), ISGetLastError()};
  ISCloseSource(h);
  return g;
}

std::vector<uint8_t> WithHead(const std::string& head, size_t offset = 0, size_t size = 64, uint8_t fill = 0x55) {
  std::vector<uint8_t> b(size, fill);
  std::memcpy(b.data() + offset, head.data(), head.size());
  return b;
}

}  // namespace

TEST(FileType, SignatureRows) {
  const struct {
    std::string head;
    size_t offset;
    ISFileType type;
  } cases[] = {
      {"BM", 0, IS_FT_BMP},
      {"PAX", 0, IS_FT_PAX},
      {"GIF89a", 0, IS_FT_GIF},
      {"GIF87a", 0, IS_FT_GIF},
      {"\xFF\xD8\xFF\xE0", 0, IS_FT_JPEG},
      {"\xFF\xD8\xFF\xE1", 0, IS_FT_JPEG},
      {std::string("\x0A\x00", 2), 0, IS_FT_PCX},
      {"\x0A\x05", 0, IS_FT_PCX},
      {"MM", 0, IS_FT_TIFF},
      {"II", 0, IS_FT_TIFF},
      {"\x89PNG\r\n\x1A\n", 0, IS_FT_PNG},
      {std::string("\x01\x00\x09\x00\x00", 5), 0, IS_FT_WMF},
      {"\xD7\xCD\xC6\x9A", 0, IS_FT_WMF},
      {" EMF", 40, IS_FT_EMF},
      {"8BPS", 0, IS_FT_PSD},
      {"TLA\x01", 0, IS_FT_TLA},
      {"TLAU", 0, IS_FT_TLAU},
      {"PCD_OPA", 0, IS_FT_PCD_OVERVIEW},
      {std::string("\x00\x00\x00\x0CjP  \r\n", 10), 0, IS_FT_JPEG2000},
      {"\xFF\x4F\xFF\x51", 0, IS_FT_JPEG2000},
      {"\x12\x34\x56\x78\xFF\x4F", 0, IS_FT_J2K_CODESTREAM_AT4},
      {"\xD0\xCF\x11\xE0", 0, IS_FT_OLE},
  };
  for (const auto& c : cases) {
    Guess g = FromMemory(WithHead(c.head, c.offset));
    EXPECT_EQ(g.type, c.type) << c.head;
    EXPECT_EQ(g.error, 0u);
  }
  // " EMF" needs all 44 bytes: a shorter source cannot match it.
  std::vector<uint8_t> shortEmf = WithHead(" EMF", 40, 44);
  shortEmf.resize(43);
  EXPECT_NE(FromMemory(shortEmf).type, IS_FT_EMF);
  // The first matching row decides: "BM" wins over anything later.
  EXPECT_EQ(FromMemory(WithHead("BM", 0, 64, 0)).type, IS_FT_BMP);
  EXPECT_EQ(kFileSignatures[24].length, 0u);  // the TGA row never matches
}

// Later formats by their signatures, when the table above finds nothing or only the two zero
// bytes of its WBMP row; a .tga or .wbmp name still decides first.
TEST(FileType, LaterFormatsBySignature) {
  const struct {
    std::string head;
    ISFileType type;
  } cases[] = {
      {std::string("RIFF\x1E\0\0\0WEBPVP8L", 16), IS_FT_WEBP},
      {std::string("RIFF\x1E\0\0\0WEBPVP8 ", 16), IS_FT_WEBP},
      {std::string("\0\0\0\x18" "ftypheic", 12), IS_FT_HEIF},
      {std::string("\0\0\0\x18" "ftypmif1", 12), IS_FT_HEIF},
      {std::string("\0\0\0\x18" "ftypavif", 12), IS_FT_AVIF},
      {std::string("\0\0\0\x0CJXL \r\n\x87\n", 12), IS_FT_JPEGXL},
      {"\xFF\x0A\xFA\x7F", IS_FT_JPEGXL},
      {"\x76\x2F\x31\x01", IS_FT_OPENEXR},
      {std::string("\0\0\x01\0\x01\0", 6), IS_FT_ICO},
      {"#?RADIANCE\n", IS_FT_RADIANCE},
      {std::string("\0\0\0\x18" "ftypmp42", 12), IS_FT_WBMP},  // a video: only the weak row
      {std::string("RIFF\x1E\0\0\0WAVEfmt ", 16), IS_FT_UNKNOWN},
  };
  for (const auto& c : cases) {
    const Guess g = FromMemory(WithHead(c.head, 0, 64, 0x55));
    EXPECT_EQ(g.type, c.type) << c.head;
    EXPECT_EQ(g.error, 0u);
  }
  TempDir dir;
  const std::vector<uint8_t> ico = WithHead(std::string("\0\0\x01\0\x01\0", 6));
  ASSERT_TRUE(WriteFileBytes(dir.File("i.tga"), ico));
  ASSERT_TRUE(WriteFileBytes(dir.File("i.ico"), ico));
  EXPECT_EQ(FromFile(dir.File("i.tga")).type, IS_FT_TGA);
  EXPECT_EQ(FromFile(dir.File("i.ico")).type, IS_FT_ICO);
}

TEST(FileType, ExtensionFooterAndProbe) {
  TempDir dir;
  // 44 zero bytes: the WBMP row, no footer; 13 from a file and from memory.
  std::vector<uint8_t> zeros(44, 0);
  ASSERT_TRUE(WriteFileBytes(dir.File("z.dat"), zeros));
  EXPECT_EQ(FromFile(dir.File("z.dat")).type, IS_FT_WBMP);
  EXPECT_EQ(FromMemory(zeros).type, IS_FT_WBMP);
  // "BM" whatever the name.
  ASSERT_TRUE(WriteFileBytes(dir.File("b.tga"), WithHead("BM")));
  EXPECT_EQ(FromFile(dir.File("b.tga")).type, IS_FT_BMP);
  // A headerless picture: TGA by its name (any case) or its footer, WBMP by name.
  std::vector<uint8_t> plain = WithHead("\x01\x02", 0, 200);
  ASSERT_TRUE(WriteFileBytes(dir.File("p.TgA"), plain));
  ASSERT_TRUE(WriteFileBytes(dir.File("p.wbm"), plain));
  ASSERT_TRUE(WriteFileBytes(dir.File("p.wbmp"), plain));
  ASSERT_TRUE(WriteFileBytes(dir.File("p.dat"), plain));
  ASSERT_TRUE(WriteFileBytes(dir.File("noext"), plain));
  EXPECT_EQ(FromFile(dir.File("p.TgA")).type, IS_FT_TGA);
  EXPECT_EQ(FromFile(dir.File("p.wbm")).type, IS_FT_WBMP);
  EXPECT_EQ(FromFile(dir.File("p.wbmp")).type, IS_FT_WBMP);
  Guess g = FromFile(dir.File("p.dat"));
  EXPECT_EQ(g.type, IS_FT_UNKNOWN);
  EXPECT_EQ(g.error, 0u);
  EXPECT_EQ(FromFile(dir.File("noext")).type, IS_FT_UNKNOWN);
  std::vector<uint8_t> footed = plain;
  const char footer[] = "TRUEVISION-XFILE.";
  footed.insert(footed.end(), footer, footer + 18);
  EXPECT_EQ(FromMemory(footed).type, IS_FT_TGA);
  // A memory source of 100 bytes with nothing: 0, no error (the probe's seek fails quietly).
  g = FromMemory(WithHead("\x01", 0, 100));
  EXPECT_EQ(g.type, IS_FT_UNKNOWN);
  EXPECT_EQ(g.error, 0u);
  // Photo CD: "PCD" at 2048, from a file and from memory.
  std::vector<uint8_t> pcd = WithHead("\x01", 0, 4096);
  std::memcpy(pcd.data() + 2048, "PCD", 3);
  ASSERT_TRUE(WriteFileBytes(dir.File("photo.pcd"), pcd));
  EXPECT_EQ(FromFile(dir.File("photo.pcd")).type, IS_FT_PHOTOCD);
  EXPECT_EQ(FromMemory(pcd).type, IS_FT_PHOTOCD);
  // A file shorter than the probe is simply not a Photo CD, as from memory.
  std::vector<uint8_t> shortFile = WithHead("\x01", 0, 2050);
  ASSERT_TRUE(WriteFileBytes(dir.File("short.bin"), shortFile));
  g = FromFile(dir.File("short.bin"));
  EXPECT_EQ(g.type, IS_FT_UNKNOWN);
  EXPECT_EQ(g.error, 0u);
  g = FromMemory(shortFile);
  EXPECT_EQ(g.type, IS_FT_UNKNOWN);
  EXPECT_EQ(g.error, 0u);
}

TEST(FileType, ReadFailures) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("empty.jpg"), {}));
  Guess g = FromFile(dir.File("empty.jpg"));
  EXPECT_EQ(g.type, IS_FT_UNKNOWN);
  EXPECT_EQ(g.error, IS_ERR_READ);
  // Shorter than the footer and no signature: the footer seek fails.
  ASSERT_TRUE(WriteFileBytes(dir.File("tiny.bin"), {1, 2, 3, 4, 5}));
  g = FromFile(dir.File("tiny.bin"));
  EXPECT_EQ(g.type, IS_FT_UNKNOWN);
  EXPECT_EQ(g.error, IS_ERR_READ);
  EXPECT_EQ(FromMemory({1, 2, 3, 4, 5}).error, IS_ERR_READ);
  // ...unless a signature matched first.
  EXPECT_EQ(FromMemory({'B', 'M', 3}).type, IS_FT_BMP);
  // Handles.
  EXPECT_EQ(ISGuessFileType(nullptr), IS_FT_UNKNOWN);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADPARAM);
  std::vector<uint8_t> bytes = WithHead("BM");
  ISIOHandle h = ISOpenMemorySource(bytes.data(), static_cast<DWORD>(bytes.size()));
  ISCloseSource(h);
  EXPECT_EQ(ISGuessFileType(h), IS_FT_UNKNOWN);
  EXPECT_EQ(ISGetLastError(), IS_ERR_BADHANDLE);
}

TEST(FileType, EverySampleFile) {
  QRV_REQUIRE_TESTDATA("jpeg");
  const std::pair<const char*, ISFileType> folders[] = {
      {"bmp", IS_FT_BMP}, {"jpeg", IS_FT_JPEG}, {"png", IS_FT_PNG}, {"pcx", IS_FT_PCX},
      {"tiff", IS_FT_TIFF}, {"psd", IS_FT_PSD}, {"tga", IS_FT_TGA},
  };
  int n = 0;
  for (const auto& f : folders) {
    for (const std::string& path : TestDataFiles(f.first)) {
      Guess g = FromFile(path);
      EXPECT_EQ(g.type, f.second) << path;
      EXPECT_EQ(g.error, 0u) << path;
      ++n;
    }
  }
  for (const std::string& path : TestDataFiles("metafile")) {
    const bool emf = path.size() > 4 && path.compare(path.size() - 4, 4, ".emf") == 0;
    EXPECT_EQ(FromFile(path).type, emf ? IS_FT_EMF : IS_FT_WMF) << path;
    ++n;
  }
  EXPECT_GT(n, 140);
}
