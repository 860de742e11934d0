#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>

#include "engine/CRGBImage.h"
#include "picture_helpers.h"
#include "support/test_support.h"

namespace {

std::vector<BYTE> Gradient(int w, int h) {
  std::vector<BYTE> p(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      BYTE* q = &p[(static_cast<size_t>(y) * w + x) * 3];
      q[0] = static_cast<BYTE>(x * 40);
      q[1] = static_cast<BYTE>(y * 50);
      q[2] = static_cast<BYTE>(x * 7 + y * 13);
    }
  return p;
}

// Saves the picture at `path` with a format code and loads it back by its extension.
void SaveAndLoad(CRGBImage& img, const std::string& path, int code, CRGBImage& back) {
  ASSERT_EQ(img.Save(path, code), 0);
  ASSERT_EQ(back.Load(path), 0);
  ASSERT_EQ(back.GetSize(), img.GetSize());
}

std::vector<BYTE> Pixels(CRGBImage& img) {
  const BYTE* p = img.LockPixels();
  std::vector<BYTE> out(p, p + static_cast<size_t>(img.GetWidth()) * img.GetHeight() * 3);
  img.UnlockPixels();
  return out;
}

// A little-endian 2 x 2 TIFF of `samples` samples of `bits` bits, uncompressed, with the
// Photometric and SampleFormat values given.
std::vector<uint8_t> TiffOfSamples(uint16_t bits, uint16_t samples, uint16_t photometric, uint16_t format) {
  std::vector<uint8_t> f = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const auto put = [&f](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) f.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const uint32_t entries = 10, bytes = 4u * samples * bits / 8;
  const uint32_t arrayAt = 8 + 2 + 12 * entries + 4, dataAt = arrayAt + 2u * samples;
  put(entries, 2);
  const auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    put(tag, 2), put(type, 2), put(count, 4), put(value, 4);
  };
  entry(256, 3, 1, 2);
  entry(257, 3, 1, 2);
  entry(258, 3, samples, samples <= 2 ? bits : arrayAt);
  entry(259, 3, 1, 1);
  entry(262, 3, 1, photometric);
  entry(273, 4, 1, dataAt);
  entry(277, 3, 1, samples);
  entry(278, 3, 1, 2);
  entry(279, 4, 1, bytes);
  entry(339, 3, 1, format);
  put(0, 4);
  for (uint16_t i = 0; i < samples; ++i) put(bits, 2);
  f.resize(f.size() + bytes, 0x40);
  return f;
}

}  // namespace

TEST(RGBImage, FormatTableByExtension) {
  EXPECT_EQ(FormatFromExtension("/a/b.jpeg"), IFF_JPEG);
  EXPECT_EQ(FormatFromExtension("/a/b.JPG"), IFF_JPEG);
  EXPECT_EQ(FormatFromExtension("x.Tiff"), IFF_TIFF);
  EXPECT_EQ(FormatFromExtension("x.tga"), IFF_TGA);
  EXPECT_EQ(FormatFromExtension("x.psd"), IFF_PSD);
  EXPECT_EQ(FormatFromExtension("x.CR2"), IFF_UNKNOWN);
  EXPECT_EQ(FormatFromExtension("noextension"), IFF_UNKNOWN);
  EXPECT_EQ(FormatFromExtension("dir.jpg/file"), IFF_UNKNOWN);  // text from the last "." is "jpg/file"
  EXPECT_EQ(FormatFromFileContents("/nonexistent/file.jpg"), IFF_UNKNOWN);
}

TEST(RGBImage, CreateAllocateLock) {
  CRGBImage img;
  EXPECT_EQ(img.LockPixels(), nullptr);
  EXPECT_EQ(img.LockCount(), 0);
  EXPECT_EQ(img.Create(nullptr, 4, 4), 1);
  EXPECT_EQ(img.GetWidth(), 0);
  const auto px = Gradient(5, 3);
  ASSERT_EQ(img.Create(px.data(), 5, 3), 0);
  EXPECT_EQ(img.GetSize(), std::make_pair(5, 3));
  BYTE* p = img.LockPixels();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(img.LockCount(), 1);
  EXPECT_EQ(std::vector<BYTE>(p, p + px.size()), px);
  img.UnlockPixels();
  CRGBImage copy;
  ASSERT_EQ(copy.CopyFrom(img), 0);
  EXPECT_EQ(copy.GetSize(), img.GetSize());
  EXPECT_EQ(copy.Allocate({2, 2}), 0);
  EXPECT_EQ(copy.LockPixels()[11], 0);
  copy.UnlockPixels();
  EXPECT_EQ(copy.Allocate({0x7FFFFFF, 0x7FFFFFF}), 1);
  EXPECT_EQ(copy.GetWidth(), 0);
}

// Every lossless writer of the table saves and loads back the same pixels by extension.
TEST(RGBImage, SaveLoadRoundTrips) {
  qrvtest::TempDir dir;
  const auto px = Gradient(7, 5);
  CRGBImage img;
  ASSERT_EQ(img.Create(px.data(), 7, 5), 0);
  const struct {
    const char* name;
    int code;
  } cases[] = {{"a.png", IFF_PNG}, {"a.bmp", IFF_BMP}, {"a.pcx", IFF_PCX},
               {"a.tga", IFF_TGA}, {"a.psd", IFF_PSD}, {"a.tif", IFF_TIFF}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CRGBImage back;
    SaveAndLoad(img, dir.File(c.name), c.code, back);
    EXPECT_EQ(Pixels(back), px);
  }
  // Grey writers: one grey level per pixel, read back as equal R, G, B.
  for (const auto& g : {std::make_pair("g.bmp", IFF_BMP_GREY), std::make_pair("g.tif", IFF_TIFF_GREY),
                        std::make_pair("g.png", IFF_PNG_GREY)}) {
    SCOPED_TRACE(g.first);
    CRGBImage back;
    SaveAndLoad(img, dir.File(g.first), g.second, back);
    const BYTE* p = back.LockPixels();
    for (size_t i = 0; i < px.size(); i += 3) {
      const int expect = (601 * px[i + 1] + 306 * px[i] + 117 * px[i + 2]) >> 10;
      ASSERT_EQ(p[i], expect);
      ASSERT_EQ(p[i + 1], expect);
    }
    back.UnlockPixels();
  }
}

// A picture of a few colours goes through every indexed writer unchanged, and its display
// palette holds those colours.
TEST(RGBImage, IndexedWritersAndDisplayPalette) {
  qrvtest::TempDir dir;
  const BYTE colours[4][3] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}, {240, 240, 240}};
  std::vector<BYTE> px(9 * 6 * 3);
  for (size_t i = 0; i < px.size() / 3; ++i)
    for (int c = 0; c < 3; ++c) px[i * 3 + c] = colours[(i / 9 + i % 9 / 3) % 4][c];
  CRGBImage img;
  ASSERT_EQ(img.Create(px.data(), 9, 6), 0);
  const struct {
    const char* name;
    int code;
  } cases[] = {{"i.png", IFF_PNG_INDEXED}, {"i.bmp", IFF_BMP_INDEXED}, {"i.pcx", IFF_PCX_INDEXED},
               {"i.tif", IFF_TIFF_INDEXED}, {"i.tga", IFF_TGA_INDEXED}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CRGBImage back;
    SaveAndLoad(img, dir.File(c.name), c.code, back);
    EXPECT_EQ(Pixels(back), px);
    EXPECT_EQ(back.DisplayColours(), 4u);
    for (const auto& rgb : colours) {
      bool found = false;
      for (UINT k = 0; k < back.DisplayColours(); ++k) {
        const RGBQUAD& q = back.DisplayPalette()[k];
        found |= q.rgbRed == rgb[0] && q.rgbGreen == rgb[1] && q.rgbBlue == rgb[2];
      }
      EXPECT_TRUE(found) << int(rgb[0]) << "," << int(rgb[1]) << "," << int(rgb[2]);
    }
    back.Free();
    EXPECT_EQ(back.DisplayColours(), 0u);
  }
  // Codes without a writer write nothing.
  EXPECT_NE(img.Save(dir.File("x.gif"), IFF_GIF), 0);
}

// Metafiles are written as a picture record and load back by playing them; the size can lose a
// pixel to the 0.01 mm frame.
TEST(RGBImage, MetafilesWriteAndLoad) {
  qrvtest::TempDir dir;
  const int w = 40, h = 30;
  std::vector<BYTE> px(static_cast<size_t>(w) * h * 3);
  auto quadrant = [&](int x, int y) { return (x < w / 2 ? 0 : 1) + (y < h / 2 ? 0 : 2); };
  const BYTE colours[4][3] = {{250, 0, 0}, {0, 250, 0}, {0, 0, 250}, {250, 250, 0}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) px[(static_cast<size_t>(y) * w + x) * 3 + c] = colours[quadrant(x, y)][c];
  CRGBImage img;
  ASSERT_EQ(img.Create(px.data(), w, h), 0);
  for (const auto& m : {std::make_pair("p.wmf", IFF_WMF), std::make_pair("p.emf", IFF_EMF)}) {
    SCOPED_TRACE(m.first);
    ASSERT_EQ(img.Save(dir.File(m.first), m.second), 0);
    EXPECT_EQ(FormatFromFileContents(dir.File(m.first)), m.second);
    CRGBImage back;
    ASSERT_EQ(back.Load(dir.File(m.first)), 0);
    EXPECT_NEAR(back.GetWidth(), w, 1);
    EXPECT_NEAR(back.GetHeight(), h, 1);
    const BYTE* p = back.LockPixels();
    for (int q = 0; q < 4; ++q) {
      const int x = (q % 2) * w / 2 + w / 4, y = (q / 2) * h / 2 + h / 4;
      const BYTE* s = p + (static_cast<size_t>(y) * back.GetWidth() + x) * 3;
      EXPECT_EQ(s[0], colours[q][0]);
      EXPECT_EQ(s[1], colours[q][1]);
      EXPECT_EQ(s[2], colours[q][2]);
    }
    back.UnlockPixels();
    EXPECT_EQ(back.LoadWarning(), "");
    // Cut in half, it loads as far as it goes, with the reason.
    std::vector<uint8_t> bytes = qrvtest::ReadFileBytes(dir.File(m.first));
    bytes.resize(bytes.size() / 2);
    const std::string cutPath = dir.File(std::string("cut-") + m.first);
    ASSERT_TRUE(qrvtest::WriteFileBytes(cutPath, bytes));
    CRGBImage cut;
    EXPECT_EQ(cut.Load(cutPath), 0);
    EXPECT_NE(cut.LoadWarning().find(" file ended early: "), std::string::npos) << cut.LoadWarning();
  }
}

// Files whose extension the table does not list go to the RAW decoder, then to content
// detection: a camera file whose content is a TIFF loads as that TIFF; TGA is never found by
// its content.
TEST(RGBImage, UnlistedExtensionsLoadByContent) {
  QRV_REQUIRE_TESTDATA("tiff/hopper.tif");
  qrvtest::TempDir dir;
  const std::string tif = qrvtest::TestDataFile("tiff/hopper.tif");
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("IMG_0001.CR2"), qrvtest::ReadFileBytes(tif)));
  EXPECT_EQ(FormatFromFileContents(dir.File("IMG_0001.CR2")), IFF_TIFF);
  CRGBImage direct, raw;
  ASSERT_EQ(direct.Load(tif), 0);
  ASSERT_EQ(raw.Load(dir.File("IMG_0001.CR2")), 0);
  ASSERT_GT(direct.GetWidth(), 0);
  ASSERT_EQ(raw.GetSize(), direct.GetSize());
  const size_t n = static_cast<size_t>(direct.GetWidth()) * direct.GetHeight() * 3;
  EXPECT_EQ(std::vector<BYTE>(raw.LockPixels(), raw.LockPixels() + n),
            std::vector<BYTE>(direct.LockPixels(), direct.LockPixels() + n));

  const auto px = Gradient(5, 4);
  CRGBImage img;
  ASSERT_EQ(img.Create(px.data(), 5, 4), 0);
  ASSERT_EQ(img.Save(dir.File("shot.png"), IFF_PNG), 0);
  ASSERT_EQ(img.Save(dir.File("shot.tga"), IFF_TGA), 0);
  std::rename(dir.File("shot.png").c_str(), dir.File("shot.dng").c_str());
  std::rename(dir.File("shot.tga").c_str(), dir.File("shot.nef").c_str());
  CRGBImage back;
  ASSERT_EQ(back.Load(dir.File("shot.dng")), 0);
  EXPECT_EQ(back.GetSize(), std::make_pair(5, 4));
  EXPECT_EQ(FormatFromFileContents(dir.File("shot.nef")), IFF_UNKNOWN);
  ASSERT_EQ(back.Load(dir.File("shot.nef")), 0);
  EXPECT_EQ(back.GetWidth(), 0);
}

// A camera file that the RAW decoder leaves and that is read by its content as TIFF is no
// picture when the directory read holds only a preview: marked reduced-resolution, or smaller
// than another picture of the file. Under a TIFF name, or with the whole picture first, it
// loads as it always did.
TEST(RGBImage, CameraFileWhosePictureIsAPreviewIsRefused) {
  using enginetest::TiffDirectory;
  const std::string kNotDecoded = "camera RAW data is not decoded in this build; the file's readable picture is ";
  const struct {
    const char* name;
    std::vector<TiffDirectory> dirs;
    std::string warning;  // empty: loads with the first directory's size
  } cases[] = {
      {"DNG.dng", {{8, 8, 1}, {64, 48, 0, true}}, kNotDecoded + "an 8 x 8 preview"},
      {"marked.dng", {{8, 8, 1}}, kNotDecoded + "an 8 x 8 preview"},
      {"next.nef", {{12, 9, 0}, {64, 48, 0}}, kNotDecoded + "a 12 x 9 preview"},
      {"third.cr2", {{18, 9, 0}, {16, 12, 1, true}, {64, 48, 0, true}}, kNotDecoded + "an 18 x 9 preview"},
      {"whole.dng", {{64, 48, 0}, {8, 8, 1, true}}, ""},
      {"mask.dng", {{16, 12, 0}, {64, 48, 4, true}}, ""},  // a transparency mask is no picture
      {"named.tif", {{8, 8, 1}, {64, 48, 0, true}}, ""},
  };
  qrvtest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File(c.name), enginetest::TiffFile(c.dirs)));
    CRGBImage img;
    EXPECT_EQ(img.Load(dir.File(c.name)), 0);
    EXPECT_EQ(img.LoadWarning(), c.warning);
    const auto first = std::make_pair(int(c.dirs[0].width), int(c.dirs[0].height));
    EXPECT_EQ(img.GetSize(), c.warning.empty() ? first : std::make_pair(0, 0));
  }
}

// A file under another format's extension is read as what it is when the table has a reader
// for it, and the refusal says what it is otherwise, in the same words under every name (its
// own included). Files that cannot be read say why.
TEST(RGBImage, WrongNamesAndUnreadableFiles) {
  qrvtest::TempDir dir;
  const auto px = Gradient(5, 4);
  CRGBImage img;
  ASSERT_EQ(img.Create(px.data(), 5, 4), 0);
  ASSERT_EQ(img.Save(dir.File("tiff.jpg"), IFF_TIFF), 0);
  ASSERT_EQ(img.Save(dir.File("png.bmp"), IFF_PNG), 0);
  ASSERT_EQ(img.Save(dir.File("tga.jpg"), IFF_TGA), 0);
  const std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 5, 0, 4, 0, 0, 0, 0};
  std::vector<uint8_t> webp = {'R', 'I', 'F', 'F', 30, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L', 17, 0, 0, 0};
  webp.resize(38, 0);
  std::vector<uint8_t> heif = {0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0};
  heif.resize(40, 0);
  for (const char* name : {"gif.png", "gif.gif", "gif.jpg"}) ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File(name), gif));
  for (const char* name : {"webp.webp", "webp.jpg"}) ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File(name), webp));
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("heif.heic"), heif));
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("png.gif"), qrvtest::ReadFileBytes(dir.File("png.bmp"))));
  // A TGA of an unknown image type, told by its footer.
  std::vector<uint8_t> tga(18 + 8, 0);
  tga[2] = 99;
  for (const char c : std::string("TRUEVISION-XFILE.")) tga.push_back(static_cast<uint8_t>(c));
  tga.push_back(0);
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("bad.tga"), tga));
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("tga.png"), tga));
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("empty.jpg"), {}));
  mkdir(dir.File("folder.png").c_str(), 0777);
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("cmyk16.tif"), TiffOfSamples(16, 4, 5, 1)));
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("float.tif"), TiffOfSamples(32, 1, 1, 3)));
  const struct {
    const char* name;
    int error;
    std::string warning;
  } cases[] = {
      {"tiff.jpg", 0, ""},
      {"png.bmp", 0, ""},
      // TGA is known by its extension only; a refusal with no words of its reader's says what
      // the file begins with.
      {"tga.jpg", IS_ERR_BADJPEG, "the file begins 00 00 02 00, the start of no picture format this build knows"},
      {"gif.png", 0, "the file holds a GIF picture, which this build does not read"},
      {"gif.gif", 0, "the file holds a GIF picture, which this build does not read"},
      {"gif.jpg", 0, "the file holds a GIF picture, which this build does not read"},
      {"webp.webp", 0, "the file holds a WebP picture, which this build does not read"},
      {"webp.jpg", 0, "the file holds a WebP picture, which this build does not read"},
      {"heif.heic", 0, "the file holds a HEIF picture, which this build does not read"},
      {"png.gif", 0, ""},
      {"tga.png", IS_ERR_BADPNG, "the file holds a TGA picture, which is read only under a .tga name"},
      {"bad.tga", IS_ERR_BADTGA, "TGA image type 99 is none that a TGA file has"},
      {"missing.jpg", IS_ERR_OPEN, "No such file or directory"},
      {"missing.dng", IS_ERR_OPEN, "No such file or directory"},
      {"folder.png", IS_ERR_OPEN, "Is a directory"},
      {"empty.jpg", IS_ERR_READ, "the file is empty"},
      {"cmyk16.tif", IS_ERR_BADTIFF, "16-bit CMYK samples, which this build does not read"},
      {"float.tif", IS_ERR_BADTIFF, "32-bit floating-point samples, which this build does not read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CRGBImage back;
    EXPECT_EQ(back.Load(dir.File(c.name)), c.error);
    EXPECT_EQ(back.LoadWarning(), c.warning);
    if (c.error == 0 && c.warning.empty()) {
      EXPECT_EQ(Pixels(back), px);
    }
    if (!c.warning.empty()) {
      EXPECT_EQ(back.GetWidth(), 0);
    }
  }
}

// Every refusal of a reader says what it met: the field and its value, the size that does
// not fit, where the file ends.
TEST(RGBImage, RefusalsNameWhatTheyMet) {
  using Bytes = std::vector<uint8_t>;
  auto put = [](Bytes& f, size_t at, uint32_t v, int n, bool big = false) {
    for (int i = 0; i < n; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * (big ? n - 1 - i : i)));
  };
  // A 4 x 4 BMP with an info header of 40 bytes, then `bits`, `compression` and `width` set.
  auto bmp = [&](uint32_t bits, uint32_t compression, uint32_t width) {
    Bytes f(14 + 40 + 16 + 64, 0);
    f[0] = 'B', f[1] = 'M';
    put(f, 2, static_cast<uint32_t>(f.size()), 4), put(f, 10, 14 + 40 + 16, 4), put(f, 14, 40, 4);
    put(f, 18, width, 4), put(f, 22, 4, 4), put(f, 26, 1, 2), put(f, 28, bits, 2), put(f, 30, compression, 4);
    return f;
  };
  // An 18-byte TGA header of a 4 x 4 true-colour picture with an image id of `idLength` bytes.
  auto tga = [](uint8_t idLength) { return Bytes{idLength, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 4, 0, 24, 0}; };
  // An RGB PSD of 4 x 4 whose layer section claims 100000 bytes.
  Bytes psd = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 4, 0, 8, 0, 3};
  psd.resize(26 + 12 + 50, 0);
  put(psd, 34, 100000, 4, true);
  Bytes pcx(128, 0);
  pcx[0] = 10, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8;  // no planes
  Bytes farTiff = {'I', 'I', 42, 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0};
  Bytes shortTiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 0xF4, 0x01};
  shortTiff.resize(88, 0);
  Bytes pastTiff = TiffOfSamples(8, 1, 1, 1);
  put(pastTiff, 8 + 2 + 12 * 5 + 8, 100000, 4);  // StripOffsets
  const std::string pastSize = std::to_string(pastTiff.size());
  const struct {
    const char* name;
    Bytes file;
    int error;
    std::string warning;
  } cases[] = {
      {"bits2.bmp", bmp(2, 0, 4), IS_ERR_NOTBMP,
       "BMP of 2 bits a pixel (a Windows CE depth) is not read by this build"},
      {"alpha.bmp", bmp(32, 6, 4), IS_ERR_NOTBMP, "BMP compression 6 (alpha bit fields) is not read by this build"},
      {"bits0.bmp", bmp(0, 0, 4), IS_ERR_NOTBMP,
       "BMP bit count of 0 with compression 0 (1, 4, 8, 16, 24 or 32 expected)"},
      {"width0.bmp", bmp(24, 0, 0), IS_ERR_NOTBMP, "BMP of 0 x 4 pixels has no picture"},
      {"header.tga", tga(0), IS_ERR_READ,
       "TGA file ends after 0 of the 48 bytes its picture needs"},
      {"id.tga", tga(5), IS_ERR_READ, "TGA file of 18 bytes ends within its 5-byte image id"},
      {"layers.psd", psd, IS_ERR_READ,
       "PSD layer and mask information section of 100000 bytes at byte 38 runs past the end of the file (88 bytes)"},
      {"planes.pcx", pcx, IS_ERR_BADPCX, "PCX of 0 planes of 8 bits is none that this build reads"},
      {"far.tif", farTiff, IS_ERR_BADTIFF,
       "the first TIFF directory at byte 268435456 lies past the end of the file (16 bytes)"},
      {"short.tif", shortTiff, IS_ERR_BADTIFF,
       "the first TIFF directory at byte 8 claims 500 entries (6000 bytes), but the file ends at byte 88"},
      {"past.tif", pastTiff, IS_ERR_BADTIFF,
       "2 x 2 is more than 0 bytes of picture data could hold: its strip data begins at byte 100000, past the end "
       "of the file (" + pastSize + " bytes)"},
  };
  qrvtest::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File(c.name), c.file));
    CRGBImage img;
    EXPECT_EQ(img.Load(dir.File(c.name)), c.error);
    EXPECT_EQ(img.LoadWarning(), c.warning);
  }
}

TEST(RGBImage, FailedLoadsLeaveAnEmptyPicture) {
  qrvtest::TempDir dir;
  CRGBImage img;
  EXPECT_NE(img.Load(dir.File("missing.jpg")), 0);
  EXPECT_EQ(img.GetWidth(), 0);
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("empty.png"), {}));
  EXPECT_NE(img.Load(dir.File("empty.png")), 0);
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("trunc.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0x00}));
  EXPECT_NE(img.Load(dir.File("trunc.jpg")), 0);
  EXPECT_EQ(img.GetWidth(), 0);
  // An unlisted extension goes to the RAW decoder, which decodes nothing; content detection
  // then finds no reader: an empty picture with no error.
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("x.cr2"), {1, 2, 3, 4}));
  EXPECT_EQ(img.Load(dir.File("x.cr2")), 0);
  EXPECT_EQ(img.GetWidth(), 0);
  EXPECT_NE(img.Save(dir.File("out.png"), IFF_PNG), 0);  // no pixels: error 5
}

// A BMP's embedded colour profile comes with the picture; a linked one is named as left out.
TEST(RGBImage, BmpBringsItsColourProfile) {
  const std::string seeds = QRV_SOURCE_DIR "/tests/fuzz/corpus/bmp_reader/";
  CRGBImage img;
  ASSERT_EQ(img.Load(seeds + "v5_embedded_profile.bmp"), 0);
  EXPECT_EQ(img.Metadata().iccProfile.size(), 132u);
  ASSERT_EQ(img.Load(seeds + "v5_linked_profile.bmp"), 0);
  EXPECT_TRUE(img.Metadata().iccProfile.empty());
  EXPECT_NE(img.Metadata().profileNote, "");
}

TEST(RGBImage, JpegKeepsCommentAndLastExifMarker) {
  QRV_REQUIRE_TESTDATA("jpeg/exif/Canon_40D.jpg");
  CRGBImage img;
  ASSERT_EQ(img.Load(qrvtest::TestDataFile("jpeg/exif/Canon_40D.jpg")), 0);
  EXPECT_GT(img.GetWidth(), 0);
  const auto& exif = img.ExifBlock();
  ASSERT_GE(exif.size(), 9u);
  EXPECT_EQ(std::string(exif.begin() + 4, exif.begin() + 8), "Exif");
  QRV_REQUIRE_TESTDATA("png");
  // A PNG read after it has no EXIF block of its own; the picture object keeps its JPEG data
  // only from JPEG reads.
}
