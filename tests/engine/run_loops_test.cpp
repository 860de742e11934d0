#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "engine/CRGBImage.h"
#include "engine/shell/CMainDialog.h"
#include "engine/shell/ShellServices.h"
#include "picture_helpers.h"
#include "support/exif_block.h"
#include "support/test_support.h"

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A progress window that draws nothing and can press Cancel at its n-th poll.
class QuietProgress : public CProgressDlg {
 public:
  int Create() override { return m_shown = true; }
  int DestroyWindow() override { return !(m_shown = false); }
  int CheckCancel() override { return cancelAt > 0 && ++polls >= cancelAt; }
  void ShowThumbnail(const BYTE*, int, int) override {}
  void SetStatusText(const std::string& text) override { m_status = text; }
  int cancelAt = 0;
  int polls = 0;
};

struct RunFixture {
  explicit RunFixture(const qrvtest::TempDir& dir) {
    mkdir((dir.path() + "/home").c_str(), 0777);
    mkdir((dir.path() + "/home/help").c_str(), 0777);
    mkdir((dir.path() + "/in").c_str(), 0777);
    dlg.SetHomeFolder(dir.path() + "/home");
    dlg.m_progress = &progress;
    dlg.m_pages.output.m_fileType = 2;
  }
  std::string Log() const { return ReadText(dlg.HomeFolder() + "/help/log.html"); }
  CMainDialog dlg;
  QuietProgress progress;
};

void MakePicture(const std::string& path, int w, int h) {
  std::vector<BYTE> px(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<BYTE>(i * 31);
  CRGBImage img;
  ASSERT_EQ(img.Create(px.data(), w, h), 0);
  ASSERT_EQ(img.Save(path, FormatFromExtension(path)), 0);
}

}  // namespace

TEST(RunLoops, HostileQueueLogsAndContinues) {
  qrvtest::TempDir dir;
  RunFixture r(dir);
  const std::string in = dir.path() + "/in/";
  MakePicture(in + "good1.png", 8, 6);
  MakePicture(in + "good2.bmp", 6, 8);
  qrvtest::WriteFileBytes(in + "empty.png", {});
  qrvtest::WriteFileBytes(in + "trunc.jpg", {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00});
  qrvtest::WriteFileBytes(in + "wrong.jpg", qrvtest::ReadFileBytes(in + "good1.png"));
  qrvtest::WriteFileBytes(in + "DNG.dng", enginetest::TiffFile({{8, 8, 1}, {64, 48, 0, true}}));
  mkdir((in + "folder.png").c_str(), 0777);
  // Each entry and the red line's reason; empty: written.
  const std::vector<std::pair<std::string, std::string>> queue = {
      {"good1.png", ""},
      {"missing.png", "error on file open: No such file or directory"},
      {"folder.png", "error on file open: Is a directory"},
      {"empty.png", "error on file read: the file is empty"},
      {"trunc.jpg", "bad JPG file: Premature end of JPEG file"},
      {"DNG.dng", "camera RAW data is not decoded in this build; the file's readable picture is an 8 x 8 preview"},
      {"wrong.jpg", ""},  // a PNG under a JPEG name is read as the PNG it is
      {"good2.bmp", ""}};
  for (const auto& q : queue) r.dlg.m_cueList.AddString(in + q.first, 1);
  r.dlg.m_cueList.AddString(in + "unchecked.png", 0);
  r.dlg.RunAllFiles();
  const std::string log = r.Log();
  ASSERT_EQ(r.dlg.m_outcomes.size(), queue.size());
  for (size_t i = 0; i < queue.size(); ++i) {
    SCOPED_TRACE(queue[i].first);
    const std::string& reason = queue[i].second;
    EXPECT_EQ(r.dlg.m_cueList.GetCheck(static_cast<int>(i)) > 0, !reason.empty());
    EXPECT_EQ(r.dlg.m_outcomes[i].written, reason.empty());
    if (reason.empty()) continue;
    const std::string line = "Can't load file: " + in + queue[i].first + " (" + reason + ")";
    EXPECT_EQ(r.dlg.m_outcomes[i].reason, line);
    EXPECT_NE(log.find(line), std::string::npos);
  }
  CRGBImage out;
  ASSERT_EQ(out.Load(in + "QRV/good2_QRV.png"), 0);
  EXPECT_EQ(out.GetSize(), std::make_pair(6, 8));
  EXPECT_EQ(enginetest::FilePixels(in + "QRV/wrong_QRV.png"), enginetest::FilePixels(in + "QRV/good1_QRV.png"));
  EXPECT_EQ(ReadText(in + "QRV/qrvoutput.dir"), "***");
  EXPECT_EQ(log.rfind("<head><meta charset=\"utf-8\"></head>"
                      "<body bgcolor=\"#ffffff\"><p><b>Log</b></p><hr>\r\n",
                      0),
            0u);
  EXPECT_EQ(log.find("unchecked"), std::string::npos);
  EXPECT_NE(log.find("Finished<hr><a href=\"qrv1.html\">"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 7), "</body>");
  EXPECT_EQ(r.dlg.m_pages.mode.m_shownFile.substr(r.dlg.m_pages.mode.m_shownFile.size() - 9), "log2.html");
  EXPECT_EQ(r.dlg.m_tab.GetCurSel(), 0);
}

TEST(RunLoops, CancelLeavesEntriesCheckedAndNoFile) {
  qrvtest::TempDir dir;
  RunFixture r(dir);
  const std::string in = dir.path() + "/in/";
  MakePicture(in + "a.png", 8, 6);
  MakePicture(in + "b.png", 8, 6);
  r.dlg.m_cueList.AddString(in + "a.png", 1);
  r.dlg.m_cueList.AddString(in + "b.png", 1);
  r.progress.cancelAt = 1;
  r.dlg.RunAllFiles();
  EXPECT_EQ(r.dlg.m_cancel, 1);
  EXPECT_GT(r.dlg.m_cueList.GetCheck(0), 0);
  EXPECT_GT(r.dlg.m_cueList.GetCheck(1), 0);
  EXPECT_FALSE(qrvtest::RunCommand("ls -a " + in + "QRV 2>/dev/null").find("_QRV") != std::string::npos);
  const std::string log = r.Log();
  EXPECT_NE(log.find("File was not saved<hr>"), std::string::npos);
  EXPECT_NE(log.find("**** Process Cancelled by User *************<hr>"), std::string::npos);
  EXPECT_EQ(r.dlg.m_lastMessage, "Process Cancelled by user");
  EXPECT_EQ(log.find("b.png"), std::string::npos);
}

TEST(RunLoops, QuestionsAndCurrentImage) {
  qrvtest::TempDir dir;
  RunFixture r(dir);
  r.dlg.RunAllFiles();
  EXPECT_EQ(r.dlg.m_lastMessage, "No files to process");
  EXPECT_FALSE(qrvtest::RunCommand("ls " + r.dlg.HomeFolder() + "/help").find("log.html") != std::string::npos);

  r.dlg.RunCurrentImage();
  EXPECT_EQ(r.dlg.m_lastMessage, "There is no file selected.\nPlease select any image in the Cue List.");

  const std::string in = dir.path() + "/in/";
  MakePicture(in + "a.png", 8, 6);
  r.dlg.m_cueList.AddString(in + "a.png", 1);
  r.dlg.m_cueList.SetCurSel(0);
  r.dlg.m_pages.sizeQuality.m_qualityType = 1;
  std::string asked;
  SetQuestionHandler([&](const std::string& q) {
    asked = q;
    return 0;
  });
  r.dlg.RunCurrentImage();
  EXPECT_NE(asked.find("smaller or equal 500kB\nThis may result"), std::string::npos);
  EXPECT_EQ(r.dlg.m_tab.GetCurSel(), 7);
  EXPECT_FALSE(qrvtest::RunCommand("ls " + r.dlg.HomeFolder() + "/help").find("log.html") != std::string::npos);

  SetQuestionHandler([](const std::string&) { return 1; });
  r.dlg.RunCurrentImage();
  SetQuestionHandler(nullptr);
  EXPECT_EQ(r.dlg.m_lastWriteOk, 1);
  EXPECT_GT(r.dlg.m_cueList.GetCheck(0), 0);  // a run of the current image leaves the check box
  const std::string log = r.Log();
  EXPECT_NE(log.find("Finished<br><a href=\"qrv1.html\">Go Back</a></body>"), std::string::npos);
  EXPECT_EQ(r.dlg.m_tab.GetCurSel(), 7);  // the current tab stays
}

// Keep-format runs: a camera file whose content is a TIFF comes out as a TIFF named ".tif",
// a metafile as a metafile, a TIFF as a TIFF.
TEST(RunLoops, KeepFormatWritesTheSourceFormat) {
  QRV_REQUIRE_TESTDATA("tiff/hopper.tif");
  qrvtest::TempDir dir;
  RunFixture r(dir);
  r.dlg.m_pages.output.m_fileType = 0;
  const std::string in = dir.path() + "/in/";
  ASSERT_TRUE(qrvtest::WriteFileBytes(in + "IMG_0001.CR2", qrvtest::ReadFileBytes(qrvtest::TestDataFile("tiff/hopper.tif"))));
  MakePicture(in + "scan.tiff", 12, 9);
  MakePicture(in + "chart.emf", 12, 9);
  for (const char* name : {"IMG_0001.CR2", "scan.tiff", "chart.emf"}) r.dlg.m_cueList.AddString(in + name, 1);
  r.dlg.RunAllFiles();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(r.dlg.m_cueList.GetCheck(i), 0) << i;
  const struct {
    const char* name;
    int code;
  } outputs[] = {{"IMG_0001_QRV.tif", IFF_TIFF}, {"scan_QRV.tiff", IFF_TIFF}, {"chart_QRV.emf", IFF_EMF}};
  for (const auto& o : outputs) {
    SCOPED_TRACE(o.name);
    EXPECT_EQ(FormatFromFileContents(in + "QRV/" + o.name), o.code);
    CRGBImage out;
    ASSERT_EQ(out.Load(in + "QRV/" + o.name), 0);
    EXPECT_GT(out.GetWidth(), 0);
  }
}

// A JPEG cut short loads with its missing part grey: it is written, and its entry carries a red
// line with the decoder's words. A sound file carries none.
TEST(RunLoops, DamagedSourceIsWrittenWithAWarning) {
  qrvtest::TempDir dir;
  RunFixture r(dir);
  const std::string in = dir.path() + "/in/";
  const auto px = enginetest::RandomPicture(256, 256, 7);
  ASSERT_TRUE(enginetest::WriteJpegWithExif(in + "whole.jpg", px, 256, 256, {}, 95));
  auto bytes = qrvtest::ReadFileBytes(in + "whole.jpg");
  bytes.resize(bytes.size() / 2);
  ASSERT_TRUE(qrvtest::WriteFileBytes(in + "cut.jpg", bytes));
  r.dlg.m_cueList.AddString(in + "whole.jpg", 1);
  r.dlg.m_cueList.AddString(in + "cut.jpg", 1);
  r.dlg.RunAllFiles();
  ASSERT_EQ(r.dlg.m_outcomes.size(), 2u);
  EXPECT_TRUE(r.dlg.m_outcomes[0].written);
  EXPECT_TRUE(r.dlg.m_outcomes[0].warnings.empty());
  EXPECT_TRUE(r.dlg.m_outcomes[1].written);
  ASSERT_EQ(r.dlg.m_outcomes[1].warnings.size(), 1u);
  EXPECT_EQ(r.dlg.m_outcomes[1].warnings[0].rfind("Damaged source: Premature end of JPEG file", 0), 0u);
  EXPECT_NE(r.Log().find("<font color=\"#ff0900\">Damaged source: Premature end of JPEG file"), std::string::npos);
  CRGBImage out;
  EXPECT_EQ(out.Load(in + "QRV/cut_QRV.png"), 0);
}

// Every EXIF text the log shows (make and model in the information line, the date) is shown
// as text, never as markup.
TEST(RunLoops, ExifTextsAreEscapedInTheLog) {
  qrvtest::TempDir dir;
  RunFixture r(dir);
  r.dlg.m_pages.output.m_detailedLog = 1;
  const std::string in = dir.path() + "/in/";
  const auto px = enginetest::RandomPicture(8, 8, 3);
  const struct {
    uint16_t dateTag;
    const char* file;
  } dates[] = {{36867, "original.jpg"}, {306, "plain.jpg"}};
  for (const auto& d : dates) {
    qrvtest::ExifBlock exif;
    exif.ifds = {{qrvtest::Ascii(271, "<i>Maker&Co</i>"), qrvtest::Ascii(272, "<script>alert(1)</script>"),
                  qrvtest::Link(34665, 1)},
                 {qrvtest::Short(37385, {1})}};
    exif.ifds[d.dateTag == 306 ? 0 : 1].push_back(qrvtest::Ascii(d.dateTag, "<b onclick=\"x\">2001</b>"));
    ASSERT_TRUE(enginetest::WriteJpegWithExif(in + d.file, px, 8, 8, exif.Build()));
    r.dlg.m_cueList.AddString(in + d.file, 1);
  }
  r.dlg.RunAllFiles();
  const std::string log = r.Log();
  for (const char* markup : {"<script", "<i>", "<b onclick"}) EXPECT_EQ(log.find(markup), std::string::npos) << markup;
  size_t count = 0;
  for (size_t at = 0; (at = log.find("Date: &lt;b onclick=&quot;x&quot;&gt;2001&lt;/b&gt; Model: <b>&lt;i&gt;Maker&amp;Co"
                                     "&lt;/i&gt; &lt;script&gt;alert(1)&lt;/script&gt;</b><br>",
                                     at)) != std::string::npos;
       ++at)
    ++count;
  EXPECT_EQ(count, 2u);
}
