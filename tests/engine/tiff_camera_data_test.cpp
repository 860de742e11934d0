// A TIFF source's camera data drives the engine as a JPEG's EXIF does, and reaches JPEG outputs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/shell/CMainDialog.h"
#include "output_test_dialog.h"
#include "qrv/imaging.h"
#include "support/test_support.h"

namespace {

const char kCamera[] =
    "-Make=Canon '-Model=Canon EOS DIGITAL REBEL' -ExposureTime=1/100 -FNumber=2.8 -ISO=200 "
    "'-DateTimeOriginal=2004:05:06 07:08:09' '-UserComment=at the lake' -GPSLatitude=51.5 -GPSLatitudeRef=N "
    "-GPSLongitude=0.125 -GPSLongitudeRef=W -Orientation#=6";

// A 6 x 4 picture written as TIFF or JPEG by the library, then given camera data by exiftool.
std::string CameraFile(const qrvtest::TempDir& dir, const std::string& name) {
  std::vector<BYTE> pixels(6 * 4 * 3);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<BYTE>(i * 11);
  const std::string path = dir.File(name);
  ISIOHandle sink = ISOpenFileSink(path.c_str(), 0);
  if (name.find(".tif") != std::string::npos)
    ISWriteTIFF(sink, pixels.data(), 6, 4, 24, nullptr, 1, nullptr, 0);
  else
    ISWriteJPG(sink, pixels.data(), 6, 4, 95, 24, nullptr, 0);
  ISCloseSink(sink);
  qrvtest::RunCommand(std::string("exiftool -q -overwrite_original ") + kCamera + " '" + path + "'");
  return path;
}

}  // namespace

// The picture information of a TIFF source equals that of a JPEG with the same camera data:
// the exposure that the EXIF-driven settings read, the stamp's texts, an orientation applied
// once; and a JPEG output carries the source's camera data as exiftool reads it.
TEST(TIFFCameraData, SourceGivesTheJPEGSummaryAndReachesJPEGOutputs) {
  QRV_REQUIRE_TOOL("exiftool");
  qrvtest::TempDir dir;
  enginetest::OutputDialog jpeg(dir, 1, 1), tiff(dir, 1, 1);
  const std::string jpegSource = CameraFile(dir, "cam.jpg"), tiffSource = CameraFile(dir, "cam.tif");
  ASSERT_EQ(jpeg.dlg.LoadSourceImage(jpegSource), 1);
  ASSERT_EQ(tiff.dlg.LoadSourceImage(tiffSource), 1);
  const CMainDialog &j = jpeg.dlg, &t = tiff.dlg;
  EXPECT_EQ(t.m_exifPresent, 1);
  EXPECT_EQ(t.m_model, "Canon EOS DIGITAL REBEL");
  EXPECT_DOUBLE_EQ(t.m_exposureSeconds, 0.01);
  const std::vector<std::string> texts[] = {
      {j.m_model, j.m_date, j.m_userComment, j.m_shutterText, j.m_fNumberText, j.m_isoText, j.m_infoHtml},
      {t.m_model, t.m_date, t.m_userComment, t.m_shutterText, t.m_fNumberText, t.m_isoText, t.m_infoHtml}};
  EXPECT_EQ(texts[1], texts[0]);
  EXPECT_DOUBLE_EQ(t.m_exposureSeconds, j.m_exposureSeconds);
  // The TIFF reader turned the picture already: 4 x 6, and no second turn.
  EXPECT_EQ(t.m_orientation, 1);
  EXPECT_EQ(t.m_workWidth, 4);
  EXPECT_EQ(t.m_workHeight, 6);
  EXPECT_EQ(j.m_workWidth, 4);

  tiff.dlg.m_pages.output.m_fileType = 1;
  tiff.dlg.m_pages.output.m_replace = 1;
  ASSERT_TRUE(tiff.dlg.WriteOutputImage(tiffSource, nullptr));
  const std::string tags =
      " -Make -Model -DateTimeOriginal -ExposureTime -FNumber -ISO -UserComment -GPSLatitude -GPSLongitude ";
  const std::string expected = qrvtest::RunCommand("exiftool -s3 -n" + tags + "'" + tiffSource + "'");
  ASSERT_EQ(expected.substr(0, 6), "Canon\n");
  const std::string out = dir.File("QRV/cam_QRV.jpg");
  EXPECT_EQ(qrvtest::RunCommand("exiftool -s3 -n" + tags + "'" + out + "'"), expected);
  EXPECT_EQ(qrvtest::RunCommand("exiftool -s3 -n -Orientation '" + out + "'"), "1\n");
}
