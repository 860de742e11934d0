#include <gtest/gtest.h>

#include "engine/CRGBImage.h"
#include "engine/TextStamp.h"
#include "engine/shell/CMainDialog.h"
#include "picture_helpers.h"
#include "support/exif_block.h"
#include "support/test_support.h"

namespace {

// A w x h picture whose pixel (x, y) holds x, y and a marker byte.
std::vector<BYTE> Indexed(int w, int h) {
  std::vector<BYTE> p(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      BYTE* q = &p[(static_cast<size_t>(y) * w + x) * 3];
      q[0] = static_cast<BYTE>(x);
      q[1] = static_cast<BYTE>(y);
      q[2] = 0xA5;
    }
  return p;
}

// Plain reference: the source pixel shown at (X, Y) of the upright picture.
std::pair<int, int> SourceOf(int o, int X, int Y, int w, int h) {
  switch (o) {
    case 2: return {w - 1 - X, Y};
    case 3: return {w - 1 - X, h - 1 - Y};
    case 4: return {X, h - 1 - Y};
    case 5: return {Y, X};
    case 6: return {Y, h - 1 - X};
    case 7: return {w - 1 - Y, h - 1 - X};
    case 8: return {w - 1 - Y, X};
    default: return {X, Y};
  }
}

}  // namespace

TEST(SourceLoader, OrientationsAgainstPlainReference) {
  const int w = 4, h = 3;
  const auto src = Indexed(w, h);
  for (int o = 0; o <= 9; ++o) {
    SCOPED_TRACE(o);
    CMainDialog dlg;
    dlg.m_orientation = o;
    dlg.m_workImage.assign(src.size(), 0);
    dlg.ApplyOrientation(src.data(), w, h);
    const bool turned = o >= 5 && o <= 8;
    ASSERT_EQ(dlg.m_workWidth, turned ? h : w);
    ASSERT_EQ(dlg.m_workHeight, turned ? w : h);
    for (int Y = 0; Y < dlg.m_workHeight; ++Y)
      for (int X = 0; X < dlg.m_workWidth; ++X) {
        const auto s = SourceOf(o, X, Y, w, h);
        const BYTE* d = &dlg.m_workImage[(static_cast<size_t>(Y) * dlg.m_workWidth + X) * 3];
        ASSERT_EQ(d[0], s.first);
        ASSERT_EQ(d[1], s.second);
        ASSERT_EQ(d[2], 0xA5);
      }
  }
  // Orientation 6 on 4 x 3: the first row is the first column read from bottom to top.
  CMainDialog dlg;
  dlg.m_orientation = 6;
  dlg.m_workImage.assign(src.size(), 0);
  dlg.ApplyOrientation(src.data(), w, h);
  EXPECT_EQ(dlg.m_workImage[0 * 3 + 1], 2);
  EXPECT_EQ(dlg.m_workImage[2 * 3 + 1], 0);
}

TEST(SourceLoader, MakerModelAndInformationText) {
  CMainDialog dlg;
  dlg.m_make = "NIKON CORPORATION";
  dlg.m_model = "NIKON D70";
  dlg.m_flash = 0;
  dlg.SetExifInformation(1.0 / 250.0, 0.0, 3008);
  EXPECT_EQ(dlg.m_make, "");
  EXPECT_EQ(dlg.m_model, "NIKON D70");
  EXPECT_EQ(dlg.m_labelShutter.text, "Shutter: 1/250");
  EXPECT_EQ(dlg.m_infoHtml, "<b>NIKON D70</b><br>Shutter: 1/250 |  | No Flash |  | ");

  dlg.m_make = "OLYMPUS OPTICAL CO.,LTD";
  dlg.m_model = "C8080WZ";
  dlg.m_fNumber = 2.8;
  dlg.m_iso = 100;
  dlg.m_flash = 1;
  dlg.m_subjectDistance = 1.25;
  dlg.SetExifInformation(2.5, 0.0, 3264);
  EXPECT_EQ(dlg.m_model, "OLYMPUS C8080WZ");
  EXPECT_EQ(dlg.m_shutterText, "2 \"");
  EXPECT_EQ(dlg.m_infoHtml, "<b>OLYMPUS C8080WZ</b><br>Shutter: 2 \" | F: 2.8 | Flash Used | ISO: 100  | Focus: 1.2 m");

  dlg.m_make = "Minolta Co., Ltd.";
  dlg.m_model = "DiMAGE 7";
  dlg.m_colorSpace = 1;
  dlg.SetExifInformation(0.0, 1.0 / 90.5, 2560);  // no exposure time: the shutter value's time
  EXPECT_EQ(dlg.m_make, "Minolta");
  EXPECT_EQ(dlg.m_colorSpace, 0);
  EXPECT_EQ(dlg.m_labelShutter.text, "Shutter: 1/90");

  dlg.m_make = "SONY";
  dlg.m_model = "CyberShot";
  dlg.SetExifInformation(1.0, 0.0, 2560);
  EXPECT_EQ(dlg.m_model, "Sony DSC-F707");
  EXPECT_EQ(dlg.m_labelShutter.text, "Shutter: 1/1");
}

// The focus part: 0xFFFFFFFF metres is infinity, 0 unknown (left out); a line with no value
// at all is not written.
TEST(SourceLoader, FocusAndEmptyInformationLine) {
  const struct {
    double distance;
    const char* focus;
  } cases[] = {{kSubjectAtInfinity, "Focus: infinity"}, {0.0, ""}, {1.25, "Focus: 1.2 m"}};
  for (const auto& c : cases) {
    CMainDialog dlg;
    dlg.m_make = "Cam";
    dlg.m_model = "Cam X";
    dlg.m_subjectDistance = c.distance;
    dlg.SetExifInformation(0.0, 0.0, 100);
    EXPECT_EQ(dlg.m_labelFocus.text, c.focus);
    EXPECT_EQ(dlg.m_infoHtml, *c.focus ? std::string("<b>Cam X</b><br> |  |  |  | ") + c.focus : "<b>Cam X</b>");
  }
}

// A picture without EXIF after a flash picture: no text of the one before is left for the
// labels or the stamp.
TEST(SourceLoader, PictureWithoutExifClearsTheTextsBefore) {
  qrvtest::TempDir dir;
  const auto px = Indexed(16, 8);
  qrvtest::ExifBlock exif;
  exif.ifds = {{qrvtest::Ascii(271, "Cam"), qrvtest::Ascii(272, "Cam X"), qrvtest::Link(34665, 1)},
               {qrvtest::Short(37385, {1}), qrvtest::Rational(33437, {28, 10}), qrvtest::Short(34855, {100}),
                qrvtest::Rational(37382, {2, 1})}};
  ASSERT_TRUE(enginetest::WriteJpegWithExif(dir.File("flash.jpg"), px, 16, 8, exif.Build()));
  CRGBImage img;
  ASSERT_EQ(img.Create(px.data(), 16, 8), 0);
  ASSERT_EQ(img.Save(dir.File("plain.png"), IFF_PNG), 0);

  CMainDialog dlg;
  ASSERT_EQ(dlg.LoadSourceImage(dir.File("flash.jpg")), 1);
  ASSERT_EQ(dlg.m_labelFlash.text, "Flash Used");
  ASSERT_EQ(dlg.LoadSourceImage(dir.File("plain.png")), 1);
  for (const CInfoLabel* label :
       {&dlg.m_labelModel, &dlg.m_labelFNumber, &dlg.m_labelFlash, &dlg.m_labelIso, &dlg.m_labelFocus}) {
    EXPECT_FALSE(label->visible);
    EXPECT_EQ(label->text, "");
  }
  TextStampStep(dlg, nullptr, 0, 0, true);
  EXPECT_EQ(dlg.m_pages.textStamp.m_prevFlash, "");
}

TEST(SourceLoader, LoadsAndFailsCleanly) {
  qrvtest::TempDir dir;
  const auto px = Indexed(6, 4);
  CRGBImage img;
  ASSERT_EQ(img.Create(px.data(), 6, 4), 0);
  ASSERT_EQ(img.Save(dir.File("pic.png"), IFF_PNG), 0);

  CMainDialog dlg;
  ASSERT_EQ(dlg.LoadSourceImage(dir.File("pic.png")), 1);
  EXPECT_EQ(dlg.m_workWidth, 6);
  EXPECT_EQ(dlg.m_workHeight, 4);
  EXPECT_EQ(dlg.m_workImage, px);
  EXPECT_EQ(dlg.m_exifPresent, 0);
  EXPECT_EQ(dlg.m_flash, -1);
  EXPECT_EQ(dlg.m_orientation, 1);
  EXPECT_EQ(dlg.m_infoHtml, "<b>No EXIF Data</b>");
  EXPECT_EQ(dlg.m_labelShutter.text, "No EXIF info");
  EXPECT_EQ(dlg.m_fileName, "pic.png");
  EXPECT_EQ(dlg.m_fileTitle, "pic");
  EXPECT_EQ(dlg.m_labelSize.text, "6 x 4");
  EXPECT_GT(dlg.m_srcFileSize, 0);

  // Failures: missing file, a folder, an empty file, a camera file's preview, an unknown format.
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("empty.jpg"), {}));
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("DNG.dng"), enginetest::TiffFile({{8, 8, 1}, {64, 48, 0, true}})));
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("what.xyz"), {1, 2, 3}));
  for (const char* name : {"missing.png", "", "empty.jpg", "DNG.dng", "what.xyz"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(dlg.LoadSourceImage(dir.File(name)), 0);
    EXPECT_EQ(dlg.m_workImage, px);
    EXPECT_EQ(dlg.m_workWidth, 6);
    EXPECT_EQ(dlg.m_fileName, "pic.png");
  }
}

// Camera files: the block is kept, the summary lands in the members and the names are tidied.
TEST(SourceLoader, CameraFilesFillThePictureInformation) {
  QRV_REQUIRE_TESTDATA("jpeg/exif/Nikon_D70.jpg");
  CMainDialog dlg;
  ASSERT_EQ(dlg.LoadSourceImage(qrvtest::TestDataFile("jpeg/exif/Nikon_D70.jpg")), 1);
  EXPECT_EQ(dlg.m_exifPresent, 1);
  ASSERT_GE(dlg.m_exifBlock.size(), 9u);
  EXPECT_EQ(std::string(dlg.m_exifBlock.begin() + 4, dlg.m_exifBlock.begin() + 8), "Exif");
  EXPECT_EQ(dlg.m_make, "");
  EXPECT_EQ(dlg.m_model, "NIKON D70");
  EXPECT_EQ(dlg.m_date, "2008:03:15 09:52:01");
  EXPECT_DOUBLE_EQ(dlg.m_exposureSeconds, 0.005);
  EXPECT_DOUBLE_EQ(dlg.m_fNumber, 9.0);
  EXPECT_EQ(dlg.m_iso, 200);
  EXPECT_EQ(dlg.m_flash, 0);
  EXPECT_EQ(dlg.m_colorSpace, 1);
  EXPECT_EQ(dlg.m_infoHtml, "<b>NIKON D70</b><br>Shutter: 1/200 | F: 9.0 | No Flash | ISO: 200  | ");

  QRV_REQUIRE_TESTDATA("jpeg/exif/Canon_40D.jpg");
  ASSERT_EQ(dlg.LoadSourceImage(qrvtest::TestDataFile("jpeg/exif/Canon_40D.jpg")), 1);
  EXPECT_EQ(dlg.m_make, "Canon");
  EXPECT_EQ(dlg.m_model, "Canon EOS 40D");
  EXPECT_EQ(dlg.m_labelShutter.text, "Shutter: 1/160");
  EXPECT_EQ(dlg.m_labelFlash.text, "Flash Used");  // Flash 9: fired
  EXPECT_EQ(dlg.m_fNumberText, "7.1");

  QRV_REQUIRE_TESTDATA("jpeg/exif/Olympus_C8080WZ.jpg");
  ASSERT_EQ(dlg.LoadSourceImage(qrvtest::TestDataFile("jpeg/exif/Olympus_C8080WZ.jpg")), 1);
  EXPECT_EQ(dlg.m_model, "OLYMPUS CORPORATION C8080WZ");
}

// Every EXIF orientation comes out upright, as ImageMagick's -auto-orient shows it (the two
// decoders may round a sample differently, never more).
TEST(SourceLoader, SampleOrientationsComeOutUpright) {
  QRV_REQUIRE_TESTDATA("jpeg/orientation/landscape_1.jpg");
  QRV_REQUIRE_TOOL("convert");
  qrvtest::TempDir dir;
  CMainDialog dlg;
  for (const char* shape : {"landscape", "portrait"}) {
    for (int o = 1; o <= 8; ++o) {
      const std::string name = std::string(shape) + "_" + std::to_string(o) + ".jpg";
      SCOPED_TRACE(name);
      const std::string path = qrvtest::TestDataFile("jpeg/orientation/" + name);
      ASSERT_EQ(dlg.LoadSourceImage(path), 1);
      EXPECT_EQ(dlg.m_orientation, o);
      int status = -1;
      qrvtest::RunCommand("convert '" + path + "' -auto-orient '" + dir.File("ref.ppm") + "'", &status);
      ASSERT_EQ(status, 0);
      int w = 0, h = 0;
      std::vector<uint8_t> ref;
      ASSERT_TRUE(enginetest::ParsePPM(qrvtest::ReadFileBytes(dir.File("ref.ppm")), w, h, ref));
      ASSERT_EQ(dlg.m_workWidth, w);
      ASSERT_EQ(dlg.m_workHeight, h);
      ASSERT_EQ(dlg.m_workImage.size(), ref.size());
      int worst = 0;
      for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::abs(dlg.m_workImage[i] - ref[i]));
      EXPECT_LE(worst, 2);
    }
  }
}
