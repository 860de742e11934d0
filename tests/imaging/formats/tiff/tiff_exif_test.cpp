// A TIFF's camera data (IFD0's camera tags, the EXIF, GPS and interoperability directories):
// kept as an EXIF block by the reader and written back as directories by the writer; exiftool
// reads both ends.
#include <gtest/gtest.h>

#include <string>

#include "support/callback_file.h"
#include "tiff_test_util.h"

namespace {

using tifftest::Bytes;

const std::string kCameraTags =
    " -Make -Model -DateTimeOriginal -ExposureTime -FNumber -ISO -UserComment -GPSLatitude -GPSLongitude ";

std::string Exiftool(const std::string& tags, const std::string& path) {
  return qrvtest::RunCommand("exiftool -s3 -n" + tags + "'" + path + "' 2>/dev/null");
}

// A 6 x 4 RGB page written with libtiff, then given camera data by exiftool.
std::string CameraTIFF(const qrvtest::TempDir& dir, const std::string& name, const std::string& exiftoolArgs,
                       bool bigEndian = false) {
  tifftest::Page page;
  page.width = 6;
  page.height = 4;
  page.samples = 3;
  page.photometric = 2;
  for (int i = 0; i < 6 * 4 * 3; ++i) page.data.push_back(static_cast<uint8_t>(i * 7));
  const std::string path = dir.File(name);
  qrvtest::WriteFileBytes(path, tifftest::WriteTIFFPages({page}));
  if (bigEndian)
    qrvtest::RunCommand("tiffcp -B '" + path + "' '" + path + ".mm' && mv '" + path + ".mm' '" + path + "'");
  qrvtest::RunCommand("exiftool -q -overwrite_original " + exiftoolArgs + " '" + path + "'");
  return path;
}

// The EXIF block a read of the file kept, or empty.
Bytes ExifBlockOf(const Bytes& file, DWORD* width = nullptr) {
  const tifftest::ReadResult r = tifftest::ReadTIFFBytes(file, 24);
  if (width) *width = r.width;
  HGLOBAL data = nullptr;
  DWORD length = 0;
  if (!ISGetReadMetadata(IS_META_EXIF, &data, &length) || !data) return {};
  const auto* p = static_cast<const uint8_t*>(data);
  Bytes block(p, p + length);
  GlobalFree(data);
  return block;
}

std::string TagText(const Bytes& payload, DWORD tag, DWORD mask) {
  Bytes record(4, 0);
  record.insert(record.end(), payload.begin(), payload.end());
  CISEXIFBase* exif = ISReadEXIF(record.data(), static_cast<DWORD>(record.size()), 0);
  if (!exif) return "<no parse>";
  HGLOBAL text = nullptr;
  DWORD length = 0;
  ISGetEXIFTagText(exif, tag, mask, &text, &length);
  std::string s = text ? std::string(static_cast<const char*>(text), length) : "<none>";
  if (text) GlobalFree(text);
  ISReleaseEXIF(exif);
  return s;
}

const std::string kCamera =
    "-Make=Canon '-Model=Canon EOS DIGITAL REBEL' -ExposureTime=1/100 -FNumber=2.8 -ISO=200 "
    "'-DateTimeOriginal=2004:05:06 07:08:09' '-UserComment=at the lake' -GPSLatitude=51.5 -GPSLatitudeRef=N "
    "-GPSLongitude=0.125 -GPSLongitudeRef=W";

}  // namespace

// The camera data of a TIFF source reaches TIFF and JPEG outputs as exiftool reads it in the
// source, for both byte orders; the pixels come upright and the block says so.
TEST(TIFFExif, CameraDataReachesTIFFAndJPEGOutputs) {
  QRV_REQUIRE_TOOL("exiftool");
  QRV_REQUIRE_TOOL("tiffcp");
  qrvtest::TempDir dir;
  const struct {
    bool bigEndian;
    int orientation;
  } cases[] = {{false, 1}, {true, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bigEndian);
    const std::string source = CameraTIFF(dir, "src.tif", kCamera + " -Orientation#=" + std::to_string(c.orientation),
                                          c.bigEndian);
    const std::string expected = Exiftool(kCameraTags, source);
    ASSERT_EQ(expected.substr(0, 6), "Canon\n");
    DWORD width = 0;
    const Bytes block = ExifBlockOf(qrvtest::ReadFileBytes(source), &width);
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(width, c.orientation == 6 ? 4u : 6u);
    EXPECT_EQ(TagText(block, 274, 1), "1");
    EXPECT_EQ(TagText(block, 33434, 2), "1/100");

    ASSERT_TRUE(ISSetWriteMetadata(IS_META_EXIF, block.data(), static_cast<DWORD>(block.size())));
    const Bytes pixels(4 * 6 * 3, 128);
    ISIOHandle sink = ISOpenFileSink(dir.File("out.tif").c_str(), 0);
    ASSERT_NE(sink, nullptr);
    EXPECT_TRUE(ISWriteTIFF(sink, pixels.data(), 4, 6, 24, nullptr, 1, nullptr, 0));
    EXPECT_STREQ(ISGetLastWarning(), "");
    ISCloseSink(sink);
    ISSetWriteMetadata(IS_META_EXIF, nullptr, 0);
    EXPECT_EQ(Exiftool(kCameraTags, dir.File("out.tif")), expected);
    EXPECT_EQ(Exiftool(" -Orientation -ImageWidth ", dir.File("out.tif")), "1\n4\n");

    Bytes marker(block);
    ISClearJPGMarkers();
    ASSERT_TRUE(ISAddJPGMarker(marker.data(), static_cast<DWORD>(marker.size()), 0xE1));
    sink = ISOpenFileSink(dir.File("out.jpg").c_str(), 0);
    ASSERT_NE(sink, nullptr);
    EXPECT_GT(ISWriteJPG(sink, pixels.data(), 4, 6, 90, 24, nullptr, 0), 0u);
    ISCloseSink(sink);
    ISClearJPGMarkers();
    EXPECT_EQ(Exiftool(kCameraTags, dir.File("out.jpg")), expected);
  }
}

// Damaged or absent camera directories: the picture reads as before, with no warning; what
// cannot be read is left out and named in the read's EXIF note.
TEST(TIFFExif, DamagedDirectoriesLeaveThePictureAlone) {
  QRV_REQUIRE_TOOL("exiftool");
  qrvtest::TempDir dir;
  const Bytes plain = qrvtest::ReadFileBytes(CameraTIFF(dir, "plain.tif", "-Make=Canon"));
  const Bytes camera = qrvtest::ReadFileBytes(CameraTIFF(dir, "cam.tif", kCamera));
  const tifftest::ReadResult reference = tifftest::ReadTIFFBytes(plain, 24);
  ASSERT_TRUE(reference.ok);
  const auto pastTheEnd = [&](uint16_t tag) {
    Bytes b = camera;
    tifftest::SetEntry(b, tag, 0, static_cast<uint32_t>(b.size() + 100));
    return b;
  };
  const std::string hugeComment = "'-UserComment=" + std::string(70000, 'x') + "'";
  // Values that fit, with the entries and directories around them, do not.
  const std::string fullTexts = "'-ImageDescription=" + std::string(65300, 'z') + "'";
  const struct {
    const char* name;
    Bytes file;
    const char* note;  // nullptr: no note
    const char* model;  // nullptr: no block
  } cases[] = {
      {"no camera directories", plain, nullptr, nullptr},
      {"EXIF directory past the end", pastTheEnd(34665), "EXIF directory", "Canon EOS DIGITAL REBEL"},
      {"GPS directory past the end", pastTheEnd(34853), "GPS directory", "Canon EOS DIGITAL REBEL"},
      {"a tag larger than a block", qrvtest::ReadFileBytes(CameraTIFF(dir, "huge.tif", kCamera + " " + hugeComment)),
       "1 camera tag(s) of the TIFF do not fit", "Canon EOS DIGITAL REBEL"},
      {"entries that fill a block", qrvtest::ReadFileBytes(CameraTIFF(dir, "full.tif", kCamera + " " + fullTexts)),
       "more than the 65533", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const tifftest::ReadResult r = tifftest::ReadTIFFBytes(c.file, 24);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.image, reference.image);
    EXPECT_EQ(r.warning, "");
    HGLOBAL data = nullptr;
    DWORD length = 0;
    const bool kept = ISGetReadMetadata(IS_META_EXIF, &data, &length) && data;
    const Bytes block = kept ? Bytes(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + length) : Bytes();
    if (data) GlobalFree(data);
    const std::string note = ISGetReadMetadataNote(IS_META_EXIF);
    if (c.note) {
      EXPECT_NE(note.find(c.note), std::string::npos) << note;
    } else {
      EXPECT_EQ(note, "");
    }
    ASSERT_EQ(kept, c.model != nullptr);
    if (kept) {
      EXPECT_EQ(TagText(block, 272, 1), c.model);
    }
  }
}

// The writer takes an EXIF block of any source, in either byte order: a camera JPEG's block
// reaches the TIFF whole (exiftool lists the same tags with the same values), and a block
// that does not parse writes the picture without it, saying so.
TEST(TIFFExif, WriterCarriesAnyExifBlock) {
  QRV_REQUIRE_TOOL("exiftool");
  QRV_REQUIRE_TESTDATA("jpeg/exif/Canon_40D.jpg");
  qrvtest::TempDir dir;
  const std::string listed =
      " -G1 -ExifIFD:all -GPS:all -InteropIFD:all -IFD0:Make -IFD0:Model -IFD0:DateTime -IFD0:Artist ";
  const char* const sources[] = {"jpeg/exif/Canon_40D.jpg", "jpeg/exif/Fujifilm_FinePix_E500.jpg", nullptr};
  for (const char* source : sources) {
    SCOPED_TRACE(source ? source : "no EXIF block");
    Bytes payload = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 200, 0, 0, 0};
    if (source) {
      const std::string file = qrvtest::TestDataFile(source);
      qrvtest::RunCommand("exiftool -b -EXIF '" + file + "' > '" + dir.File("exif.bin") + "'");
      payload.resize(6);
      const Bytes tiff = qrvtest::ReadFileBytes(dir.File("exif.bin"));
      payload.insert(payload.end(), tiff.begin(), tiff.end());
    }
    ASSERT_TRUE(ISSetWriteMetadata(IS_META_EXIF, payload.data(), static_cast<DWORD>(payload.size())));
    const Bytes pixels(8 * 8 * 3, 77);
    ISIOHandle sink = ISOpenFileSink(dir.File("out.tif").c_str(), 0);
    EXPECT_TRUE(ISWriteTIFF(sink, pixels.data(), 8, 8, 24, nullptr, 1, nullptr, 0));
    const std::string warning = ISGetLastWarning();
    ISCloseSink(sink);
    ISSetWriteMetadata(IS_META_EXIF, nullptr, 0);
    const std::string written = Exiftool(listed, dir.File("out.tif"));
    if (!source) {
      EXPECT_EQ(warning, "EXIF block left out: its first directory lies outside the block");
      EXPECT_EQ(written, "");
      continue;
    }
    EXPECT_EQ(warning, "");
    EXPECT_EQ(written, Exiftool(listed, qrvtest::TestDataFile(source)));
    EXPECT_GT(written.size(), 300u);
  }
}

// A page appended to a TIFF of either byte order gets its camera directories in that order:
// tiffinfo reads them under the second directory.
TEST(TIFFExif, AppendedPageKeepsTheFilesByteOrder) {
  QRV_REQUIRE_TOOL("exiftool");
  QRV_REQUIRE_TOOL("tiffinfo");
  qrvtest::TempDir dir;
  const Bytes block = ExifBlockOf(qrvtest::ReadFileBytes(CameraTIFF(dir, "cam.tif", kCamera)));
  ASSERT_FALSE(block.empty());
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian);
    qrvtest::CallbackFile file;
    file.bytes = qrvtest::ReadFileBytes(CameraTIFF(dir, "first.tif", "-Make=Other", bigEndian));
    ASSERT_TRUE(ISSetWriteMetadata(IS_META_EXIF, block.data(), static_cast<DWORD>(block.size())));
    const Bytes pixels(3 * 2 * 3, 9);
    ISIOHandle sink = file.Open(1);
    EXPECT_TRUE(ISWriteTIFF(sink, pixels.data(), 3, 2, 24, nullptr, 1, nullptr, 1));
    ISCloseSink(sink);
    ISSetWriteMetadata(IS_META_EXIF, nullptr, 0);
    qrvtest::WriteFileBytes(dir.File("pages.tif"), file.bytes);
    const std::string info = qrvtest::RunCommand("tiffinfo '" + dir.File("pages.tif") + "' 2>&1");
    const size_t second = info.find("TIFF Directory at offset", info.find("TIFF Directory at offset") + 1);
    ASSERT_NE(second, std::string::npos) << info;
    const std::string page = info.substr(second);
    for (const char* line :
         {"Make: Canon\n", "ExposureTime: 0.010000", "FNumber: 2.800000", "Latitude: 51.000000,30.000000"})
      EXPECT_NE(page.find(line), std::string::npos) << line << "\n" << page;
  }
}
