#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "engine/CRGBImage.h"
#include "engine/shell/CMainDialog.h"
#include "support/test_support.h"

namespace {

class ProbeRecorder : public CProgressDlg {
 public:
  void SetStatusText(const std::string& text) override { texts.push_back(text); }
  std::vector<int> Probes() const {
    std::vector<int> q;
    for (const auto& t : texts) {
      int v = 0;
      if (std::sscanf(t.c_str(), "Test Quality: %d", &v) == 1) q.push_back(v);
    }
    return q;
  }
  std::vector<std::string> texts;
};

// A textured picture, so that qualities give clearly different sizes.
void Texture(CMainDialog& dlg, int w, int h) {
  dlg.m_workWidth = w;
  dlg.m_workHeight = h;
  dlg.m_workImage.resize(static_cast<size_t>(w) * h * 3);
  uint32_t s = 12345;
  for (size_t i = 0; i < dlg.m_workImage.size(); ++i) {
    s = s * 1103515245u + 12345u;
    dlg.m_workImage[i] = static_cast<BYTE>(((i / 3) % w) + (s >> 28));
  }
}

}  // namespace

TEST(QualitySearch, ProbesAndBounds) {
  CMainDialog dlg;
  Texture(dlg, 48, 32);
  dlg.m_pages.sizeQuality.m_cq = 95;
  ProbeRecorder all;
  EXPECT_EQ(dlg.FindQualityAtLeast(1 << 30, 60, &all), 94);
  EXPECT_EQ(all.Probes(), (std::vector<int>{77, 86, 90, 92, 93, 94}));
  ProbeRecorder none;
  EXPECT_EQ(dlg.FindQualityAtLeast(1, 60, &none), 60);
  EXPECT_EQ(none.Probes(), (std::vector<int>{77, 68, 64, 62, 61}));
  EXPECT_EQ(dlg.FindQualityAtLeast(1 << 30, 99, nullptr), 99);
  EXPECT_EQ(dlg.FindQualityAtLeast(1 << 30, 120, nullptr), 120);  // raised to the minimum
  dlg.m_pages.sizeQuality.m_cq = 100;  // searched as 99
  EXPECT_EQ(dlg.FindQualityAtLeast(1 << 30, 60, nullptr), 98);
  // A probe that hits the limit exactly ends the search there.
  dlg.m_pages.sizeQuality.m_cq = 95;
  const int exact = dlg.EncodedSizeAtQuality(77);
  ProbeRecorder hit;
  EXPECT_EQ(dlg.FindQualityAtLeast(exact, 60, &hit), 77);
  EXPECT_EQ(hit.Probes(), std::vector<int>{77});
}

// The written file at the searched quality fits the limit, the next quality does not, and the
// sizes are those of cjpeg's baseline integer-DCT encoding of the same pixels.
TEST(QualitySearch, WrittenFileFitsAndMatchesReference) {
  QRV_REQUIRE_TOOL("cjpeg");
  qrvtest::TempDir dir;
  CMainDialog dlg;
  mkdir((dir.path() + "/help").c_str(), 0777);
  dlg.SetHomeFolder(dir.path());
  Texture(dlg, 64, 48);
  const std::string ppm = dir.File("p.ppm");
  {
    std::ofstream out(ppm, std::ios::binary);
    out << "P6\n64 48\n255\n";
    out.write(reinterpret_cast<const char*>(dlg.m_workImage.data()), static_cast<std::streamsize>(dlg.m_workImage.size()));
  }
  auto reference = [&](int q) {
    const std::string jpg = dir.File("ref.jpg");
    int status = 0;
    qrvtest::RunCommand("cjpeg -baseline -dct int -quality " + std::to_string(q) + " -outfile " + jpg + " " + ppm,
                        &status);
    return static_cast<int>(qrvtest::ReadFileBytes(jpg).size());
  };
  for (int q : {50, 75, 90}) EXPECT_EQ(dlg.EncodedSizeAtQuality(q), reference(q)) << q;

  dlg.m_pages.sizeQuality.m_cq = 95;
  dlg.m_pages.sizeQuality.m_minQ = 30;
  dlg.m_pages.sizeQuality.m_qualityType = 1;
  dlg.m_pages.sizeQuality.m_maxKB = (reference(70) + reference(71)) / 2 / 1000.0;
  const int limit = static_cast<int>(dlg.m_pages.sizeQuality.m_maxKB * 1000.0);
  const int q = dlg.FindQualityAtLeast(limit, 30, nullptr);
  EXPECT_LE(reference(q), limit);
  EXPECT_GT(reference(q + 1), limit);

  const std::string src = dir.File("src.jpg");
  qrvtest::WriteFileBytes(src, {0});
  dlg.m_pages.output.m_type = 2;
  dlg.m_pages.output.m_fileType = 0;
  ASSERT_TRUE(dlg.WriteOutputImage(src, nullptr));
  const auto written = qrvtest::ReadFileBytes(dir.File("src_QRV.jpg"));
  EXPECT_EQ(static_cast<int>(written.size()), reference(q));
  std::ifstream log(dir.path() + "/help/log.html");
  const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Determined Quality: " + std::to_string(q) + "<br>"), std::string::npos);
}

TEST(QualitySearch, ExifAndCommentCarriedOnlyWhenAsked) {
  QRV_REQUIRE_TESTDATA("jpeg/orientation/landscape_6.jpg");
  qrvtest::TempDir dir;
  const std::string src = dir.File("l6.jpg");
  qrvtest::WriteFileBytes(src, qrvtest::ReadFileBytes(qrvtest::TestDataFile("jpeg/orientation/landscape_6.jpg")));
  CMainDialog dlg;
  dlg.SetHomeFolder(dir.path());
  ASSERT_EQ(dlg.LoadSourceImage(src), 1);
  dlg.m_pages.output.m_type = 2;
  dlg.m_colorMatched = 1;
  EXPECT_EQ(dlg.m_orientation, 6);  // the pixels were turned upright
  ASSERT_TRUE(dlg.WriteOutputImage(src, nullptr));
  CRGBImage out;
  ASSERT_EQ(out.Load(dir.File("l6_QRV.jpg")), 0);
  EXPECT_EQ(out.GetSize(), std::make_pair(600, 450));
  EXPECT_EQ(out.JpegComment(), "sRGB Matched");
  ASSERT_GE(out.ExifBlock().size(), 9u);
  if (qrvtest::HasTool("exiftool")) {
    EXPECT_EQ(qrvtest::RunCommand("exiftool -s3 -n -Orientation " + dir.File("l6_QRV.jpg")), "1\n");
  }
  dlg.m_pages.sizeQuality.m_keepExif = 0;
  dlg.m_colorMatched = 0;
  dlg.m_pages.output.m_replace = 1;
  ASSERT_TRUE(dlg.WriteOutputImage(src, nullptr));
  ASSERT_EQ(out.Load(dir.File("l6_QRV.jpg")), 0);
  EXPECT_EQ(out.JpegComment(), "");
  EXPECT_TRUE(out.ExifBlock().empty());
}

// Quality type 2 searches against the source file's size, then steps up by 1 only when that
// file still fits (never past 98 or from the minimum). A limit that even the minimum misses is
// said in red with the size reached, for both searched types.
TEST(QualitySearch, SourceSizeLimitStepsUpOnlyWithinTheSize) {
  qrvtest::TempDir dir;
  CMainDialog dlg;
  mkdir((dir.path() + "/help").c_str(), 0777);
  dlg.SetHomeFolder(dir.path());
  Texture(dlg, 64, 48);
  dlg.m_pages.sizeQuality.m_cq = 95;
  dlg.m_pages.sizeQuality.m_minQ = 30;
  dlg.m_pages.sizeQuality.m_qualityType = 2;
  dlg.m_pages.output.m_type = 2;
  dlg.m_pages.output.m_replace = 1;
  const std::string src = dir.File("s.jpg"), out = dir.File("s_QRV.jpg");
  qrvtest::WriteFileBytes(src, {0});
  auto logText = [&] {
    std::ifstream log(dir.path() + "/help/log.html");
    return std::string((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  };
  const int size60 = dlg.EncodedSizeAtQuality(60);
  const struct {
    int64_t sourceSize;
    int quality;
  } cases[] = {{size60 + 1, 60}, {size60, 60}, {100000000, 95}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sourceSize);
    dlg.m_srcFileSize = c.sourceSize;
    dlg.m_outcomes.assign(1, {});
    ASSERT_TRUE(dlg.WriteOutputImage(src, nullptr));
    EXPECT_NE(logText().find("Determined Quality: " + std::to_string(c.quality) + "<br>"), std::string::npos);
    const int64_t written = static_cast<int64_t>(qrvtest::ReadFileBytes(out).size());
    EXPECT_EQ(written, dlg.EncodedSizeAtQuality(c.quality));
    EXPECT_LE(written, c.sourceSize);
    EXPECT_TRUE(dlg.m_outcomes[0].warnings.empty());
  }

  // Nothing fits: the minimum, and a red line with the size reached.
  const int size30 = dlg.EncodedSizeAtQuality(30);
  for (int type : {1, 2}) {
    SCOPED_TRACE(type);
    dlg.m_pages.sizeQuality.m_qualityType = type;
    dlg.m_srcFileSize = 100;
    dlg.m_pages.sizeQuality.m_maxKB = 0.1;
    dlg.m_outcomes.assign(1, {});
    ASSERT_TRUE(dlg.WriteOutputImage(src, nullptr));
    EXPECT_NE(logText().find("Determined Quality: 30<br>"), std::string::npos);
    const std::string missed = "Size limit missed: " + std::to_string(size30) +
                               " bytes written at quality 30, over the limit of 100 bytes";
    ASSERT_EQ(dlg.m_outcomes[0].warnings, std::vector<std::string>{missed});
    EXPECT_NE(logText().find("<font color=\"#ff0900\">" + missed), std::string::npos);
  }
  // An absurd quality type counts as fixed.
  dlg.m_pages.sizeQuality.m_qualityType = 7;
  dlg.m_outcomes.assign(1, {});  // a run of its own: Replace keeps no output of an earlier run
  ASSERT_TRUE(dlg.WriteOutputImage(src, nullptr));
  EXPECT_EQ(static_cast<int>(qrvtest::ReadFileBytes(out).size()), dlg.EncodedSizeAtQuality(95));
}
