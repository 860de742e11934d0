// The correction pipeline's frame: exact sequences of status texts, progress values, thumbnails,
// polls and log lines for a run and a preview, with every step on and each step off; cancel at
// every poll; the numbers shared by the steps; resize targets.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/PipelineFrame.h"
#include "engine/shell/CMainDialog.h"
#include "support/test_support.h"

namespace {

// A progress window that records every call and can press Cancel at a chosen poll.
class RecordingProgress : public CProgressDlg {
 public:
  std::vector<std::string> events;
  int polls = 0;
  int cancelAtPoll = -1;

  void SetImagePos(int percent) override { events.push_back("pos " + std::to_string(percent)); }
  int CheckCancel() override {
    events.push_back("poll");
    return polls++ == cancelAtPoll ? 1 : 0;
  }
  void ShowThumbnail(const BYTE* pixels, int width, int height) override {
    events.push_back("thumb " + std::to_string(width) + "x" + std::to_string(height));
    EXPECT_NE(pixels, nullptr);
  }
  void SetStatusText(const std::string& text) override { events.push_back("status " + text); }
};

std::vector<BYTE> TestPicture(int w, int h) {
  std::vector<BYTE> p(static_cast<size_t>(w) * h * 3);
  uint32_t seed = 12345;
  for (size_t i = 0; i < p.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    const int x = static_cast<int>((i / 3) % w), y = static_cast<int>((i / 3) / w);
    p[i] = static_cast<BYTE>(40 + (x * 120) / w + (y * 60) / h + ((seed >> 16) % 21) - 10 + (i % 3) * 10);
  }
  return p;
}

std::vector<std::string> LogLines(const std::string& home) {
  const std::vector<uint8_t> b = qrvtest::ReadFileBytes(home + "/help/log.html");
  std::vector<std::string> lines;
  std::string s(b.begin(), b.end());
  size_t pos = 0;
  while (pos < s.size()) {
    size_t end = s.find("\r\n", pos);
    if (end == std::string::npos) end = s.size();
    std::string line = s.substr(pos, end - pos);
    pos = end + 2;
    // "HH::MM::SS <font color=\"#0000ee\">text</font><br>" -> "text"
    const size_t open = line.find('>');
    const size_t close = line.rfind("</font>");
    if (line.size() > 11 && open != std::string::npos && close != std::string::npos)
      lines.push_back(line.substr(0, 11) == std::string(11, ' ') ? line : line.substr(open + 1, close - open - 1));
    else
      lines.push_back("?" + line);
  }
  return lines;
}

// A main dialog with every step on, a long-exposure picture with EXIF data and a black frame.
struct Fixture {
  qrvtest::TempDir home;
  CBatchApp app;
  CMainDialog dlg{app};
  Fixture(int w = 40, int h = 30) {
    mkdir((home.path() + "/help").c_str(), 0777);
    dlg.SetHomeFolder(home.path());
    dlg.m_workImage = TestPicture(w, h);
    dlg.m_workWidth = w;
    dlg.m_workHeight = h;
    dlg.m_exifPresent = 1;
    dlg.m_exposureSeconds = 2.0;
    dlg.m_fNumber = 5.6;
    dlg.m_iso = 200;
    dlg.m_flash = 0;
    dlg.m_subjectDistance = 3.0;
    dlg.m_model = "Minolta DiMAGE 7";
    SettingsPages& p = dlg.m_pages;
    p.output.m_detailedLog = 1;
    p.textStamp.m_srgbEnabled = 1;
    p.castAdvanced.m_filterSimEnabled = 1;
    p.castAdvanced.m_filterName = "#1A Filter";
    p.castBasic.m_filterSimEnabled = 1;
    p.castBasic.m_filterName = "#1A Filter";
    p.hotPixelsAdvanced.m_blackFrame = 1;
    dlg.m_blackFrame.assign(static_cast<size_t>(w) * h * 3, 3);
    dlg.m_blackFrameWidth = w;
    dlg.m_blackFrameHeight = h;
    p.sizeQuality.m_sizeType = 1;
    p.sizeQuality.m_percent = 50;
  }
  void Run(CProgressDlg* progress) {
    dlg.ProcessImage(dlg.m_workImage.data(), dlg.m_workWidth, dlg.m_workHeight, nullptr, 0, 0, progress);
  }
  // Every step off but the black frame (and the resize).
  void OnlyBlackFrame() {
    SettingsPages& p = dlg.m_pages;
    p.textStamp.m_srgbEnabled = 0;
    p.castAdvanced.m_colorCast.m_enabled = p.balanceAdvanced.m_balance.m_enabled = 0;
    p.castAdvanced.m_filterSimEnabled = 0;
    p.balanceAdvanced.m_midtones.m_enabled = p.castAdvanced.m_saturation.m_enabled = 0;
    p.hotPixelsAdvanced.m_hotPixels.m_enabled = p.denoiserAdvanced.m_denoise.m_enabled = 0;
    p.sharpenAdvanced.m_sharpen.m_enabled = 0;
  }
};

const std::vector<std::string> kFullRunEvents = {
    "pos 10", "poll",
    "status Color Matching (Minolta->sRGB", "pos 20", "thumb 40x30", "poll",
    "status Removing Cast", "pos 20", "thumb 40x30", "poll",
    "status Auto Balance", "pos 25", "poll", "pos 30", "thumb 40x30", "poll",
    "status #1A Filter",
    "status Adjusting Gamma", "pos 40", "thumb 40x30", "poll",
    "status Black Frame",
    "status Hot Pixels", "pos 50", "poll",
    "status De-Noiser", "pos 53", "poll", "pos 60", "poll", "pos 70", "poll",
    "status Resize", "pos 80", "poll",
    "status Sharpen", "pos 90", "thumb 20x15", "poll",
    "status Color Final Fix"};

TEST(Pipeline, RunWithEveryStepOn) {
  Fixture f;
  RecordingProgress progress;
  f.Run(&progress);
  EXPECT_EQ(progress.events, kFullRunEvents);
  EXPECT_EQ(f.dlg.m_cancel, 0);
  EXPECT_EQ(f.dlg.m_colorMatched, 1);
  EXPECT_EQ(f.dlg.m_workWidth, 20);
  EXPECT_EQ(f.dlg.m_workHeight, 15);
  EXPECT_EQ(f.dlg.m_workImage.size(), 20u * 15u * 3u);
  const std::vector<std::string> expected = {
      "DiMAGE->sRGB", "CC:Gamma=1", "BL:Alpha=0.396078, S.Speed=2", "filter: #1A Filter", "MI:Gamma=1.02344",
      "HP:NT=152,WI=3", "DE:Alpha=0.25098, Level=1", "Size: 50 perc = (20 x 15)",
      "SH: Thresh=0, Amount=0.31, Sigma=1.36471", "SA: NT=140"};
  EXPECT_EQ(LogLines(f.home.path()), expected);
  // The frame refreshed the pages of the current mode only.
  EXPECT_EQ(f.dlg.m_pages.sharpenAdvanced.m_refreshCount, 1);
  EXPECT_EQ(f.dlg.m_pages.sharpenBasic.m_refreshCount, 0);
  EXPECT_EQ(f.dlg.m_pages.textStamp.m_refreshCount, 1);
  EXPECT_EQ(f.dlg.m_pages.balanceAdvanced.m_refreshCount, 0);
}

TEST(Pipeline, LogLineMarkupAndDetailedLogOff) {
  Fixture f;
  f.dlg.m_pages.castAdvanced.m_filterName = "<b>&";
  f.Run(nullptr);
  const std::vector<uint8_t> b = qrvtest::ReadFileBytes(f.home.File("help/log.html"));
  const std::string log(b.begin(), b.end());
  EXPECT_NE(log.find("<font color=\"#0000ee\">filter: &lt;b&gt;&amp;</font><br>\r\n"), std::string::npos);
  EXPECT_EQ(log.substr(2, 2), "::");
  EXPECT_EQ(log.substr(10, 23), " <font color=\"#0000ee\">");

  Fixture quiet;
  quiet.dlg.m_pages.output.m_detailedLog = 0;
  RecordingProgress progress;
  quiet.Run(&progress);
  EXPECT_TRUE(qrvtest::ReadFileBytes(quiet.home.File("help/log.html")).empty());
  EXPECT_EQ(progress.events, kFullRunEvents);  // progress does not depend on the log
}

// Removes the events of a step that does not run: its status and what happens inside it, which
// follow the status in the given order.
std::vector<std::string> Without(std::vector<std::string> events, const std::vector<std::string>& gone) {
  auto it = std::find(events.begin(), events.end(), gone.front());
  if (it == events.end()) return events;
  it = events.erase(it);
  for (size_t g = 1; g < gone.size(); ++g) {
    it = std::find(it, events.end(), gone[g]);
    if (it == events.end()) break;
    it = events.erase(it);
  }
  return events;
}

TEST(Pipeline, EachStepOff) {
  struct Case {
    const char* name;
    void (*off)(CMainDialog&);
    std::vector<std::string> goneEvents;
    const char* goneLog;
  };
  const std::vector<Case> cases = {
      {"match", [](CMainDialog& d) { d.m_pages.textStamp.m_srgbEnabled = 0; },
       {"status Color Matching (Minolta->sRGB"}, "DiMAGE->sRGB"},
      {"cast", [](CMainDialog& d) { d.m_pages.castAdvanced.m_colorCast.m_enabled = 0; }, {"status Removing Cast"},
       "CC:Gamma=1"},
      {"balance", [](CMainDialog& d) { d.m_pages.balanceAdvanced.m_balance.m_enabled = 0; },
       {"status Auto Balance", "pos 25", "poll"}, "BL:Alpha=0.396078, S.Speed=2"},
      {"filter", [](CMainDialog& d) { d.m_pages.castAdvanced.m_filterSimEnabled = 0; }, {"status #1A Filter"},
       "filter: #1A Filter"},
      {"midtones", [](CMainDialog& d) { d.m_pages.balanceAdvanced.m_midtones.m_enabled = 0; },
       {"status Adjusting Gamma"}, "MI:Gamma=1.02344"},
      {"frame", [](CMainDialog& d) { d.m_pages.hotPixelsAdvanced.m_blackFrame = 0; }, {"status Black Frame"}, ""},
      {"hot", [](CMainDialog& d) { d.m_pages.hotPixelsAdvanced.m_hotPixels.m_enabled = 0; }, {"status Hot Pixels"},
       "HP:NT=152,WI=3"},
      {"denoise", [](CMainDialog& d) { d.m_pages.denoiserAdvanced.m_denoise.m_enabled = 0; },
       {"status De-Noiser", "pos 53", "poll", "pos 60", "poll"}, "DE:Alpha=0.25098, Level=1"},
      {"resize", [](CMainDialog& d) { d.m_pages.sizeQuality.m_sizeType = 0; }, {"status Resize"},
       "Size: 50 perc = (20 x 15)"},
      {"sharpen", [](CMainDialog& d) { d.m_pages.sharpenAdvanced.m_sharpen.m_enabled = 0; }, {"status Sharpen"},
       "SH: Thresh=0, Amount=0.31, Sigma=1.36471"},
      {"saturation", [](CMainDialog& d) { d.m_pages.castAdvanced.m_saturation.m_enabled = 0; },
       {"status Color Final Fix"}, "SA: NT=140"},
  };
  for (const Case& c : cases) {
    Fixture f;
    c.off(f.dlg);
    RecordingProgress progress;
    f.Run(&progress);
    std::vector<std::string> expected = Without(kFullRunEvents, c.goneEvents);
    if (std::string(c.name) == "resize") {
      for (std::string& e : expected)
        if (e == "thumb 20x15") e = "thumb 40x30";
    }
    EXPECT_EQ(progress.events, expected) << c.name;
    for (const std::string& line : LogLines(f.home.path())) EXPECT_NE(line, c.goneLog) << c.name;
    EXPECT_EQ(LogLines(f.home.path()).size(), std::string(c.goneLog).empty() ? 10u : 9u) << c.name;
  }
}

TEST(Pipeline, CancelAtEveryPoll) {
  Fixture full;
  RecordingProgress all;
  full.Run(&all);
  int pollCount = 0;
  for (const std::string& e : all.events) pollCount += e == "poll";
  ASSERT_EQ(pollCount, 12);

  for (int k = 0; k < pollCount; ++k) {
    Fixture f;
    const std::vector<BYTE> original = f.dlg.m_workImage;
    RecordingProgress progress;
    progress.cancelAtPoll = k;
    f.Run(&progress);
    EXPECT_EQ(f.dlg.m_cancel, 1) << k;
    EXPECT_EQ(progress.polls, k + 1) << k;
    ASSERT_FALSE(progress.events.empty());
    EXPECT_EQ(progress.events.back(), "poll") << k;  // nothing after the poll that cancelled
    std::vector<std::string> prefix(all.events.begin(), all.events.begin() + progress.events.size());
    EXPECT_EQ(progress.events, prefix) << k;
    if (k == 0) {
      EXPECT_EQ(f.dlg.m_workImage, original);
    } else {
      EXPECT_NE(f.dlg.m_workImage, original) << k;
    }
    if (k == pollCount - 1) {
      // Cancelled after the sharpen step: the same picture as a full run without the last step.
      Fixture ref;
      ref.dlg.m_pages.castAdvanced.m_saturation.m_enabled = 0;
      ref.Run(nullptr);
      EXPECT_EQ(f.dlg.m_workImage, ref.dlg.m_workImage);
    }
  }
}

TEST(Pipeline, PreviewTouchesTheRightImagesAndLogsNothing) {
  Fixture f;
  std::vector<BYTE> a = TestPicture(24, 18), b = TestPicture(16, 12);
  f.dlg.m_cropRect = {4, 3, 20, 15};
  const std::vector<BYTE> a0 = a, b0 = b;
  f.dlg.ProcessImage(a.data(), 24, 18, b.data(), 16, 12, nullptr);
  EXPECT_NE(a, a0);
  EXPECT_NE(b, b0);
  EXPECT_EQ(f.dlg.m_workWidth, 40);  // no resize in the preview
  EXPECT_TRUE(qrvtest::ReadFileBytes(f.home.File("help/log.html")).empty());

  // Only the cleaning and sharpen steps: image A stays as it is, the crop changes.
  Fixture g;
  SettingsPages& p = g.dlg.m_pages;
  p.textStamp.m_srgbEnabled = 0;
  p.castAdvanced.m_colorCast.m_enabled = 0;
  p.balanceAdvanced.m_balance.m_enabled = 0;
  p.castAdvanced.m_filterSimEnabled = 0;
  p.balanceAdvanced.m_midtones.m_enabled = 0;
  p.castAdvanced.m_saturation.m_enabled = 0;
  a = a0;
  b = b0;
  g.dlg.m_cropRect = {4, 3, 20, 15};
  g.dlg.ProcessImage(a.data(), 24, 18, b.data(), 16, 12, nullptr);
  EXPECT_EQ(a, a0);
  EXPECT_NE(b, b0);
}

TEST(Pipeline, PreviewBlackFrameCropReadsGreyOutsideThePicture) {
  Fixture f(8, 6);
  f.OnlyBlackFrame();
  for (size_t i = 0; i < f.dlg.m_blackFrame.size(); ++i) f.dlg.m_blackFrame[i] = static_cast<BYTE>(i % 7);
  std::vector<BYTE> b(4 * 3 * 3, 200);
  f.dlg.m_cropRect = {6, 4, 10, 7};  // reaches past the right and bottom edges
  std::vector<BYTE> a(3 * 3 * 3, 9);
  f.dlg.ProcessImage(a.data(), 3, 3, b.data(), 4, 3, nullptr);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      for (int c = 0; c < 3; ++c) {
        const int fx = 6 + x, fy = 4 + y;
        const int sub = (fx < 8 && fy < 6) ? static_cast<int>(((fy * 8 + fx) * 3 + c) % 7) : 128;
        EXPECT_EQ(b[(y * 4 + x) * 3 + c], 200 - sub) << x << "," << y;
      }
  EXPECT_EQ(a, std::vector<BYTE>(27, 9));
}

TEST(Pipeline, BlackFrameAndHotPixelExposureRules) {
  // Half a second with EXIF: the frame is skipped (logged), hot pixels do nothing and log nothing.
  Fixture f;
  f.dlg.m_exposureSeconds = 0.5;
  f.dlg.m_pages.sizeQuality.m_sizeType = 0;
  f.Run(nullptr);
  std::vector<std::string> lines = LogLines(f.home.path());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "BF: Skipping"), lines.end());
  for (const std::string& l : lines) EXPECT_NE(l.substr(0, 3), "HP:");

  // Exactly one second: hot pixels run, the frame is skipped.
  Fixture g;
  g.dlg.m_exposureSeconds = 1.0;
  g.Run(nullptr);
  lines = LogLines(g.home.path());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "BF: Skipping"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "HP:NT=128,WI=3"), lines.end());

  // No frame loaded; simple mode still subtracts a loaded one.
  Fixture h;
  h.dlg.m_blackFrame.clear();
  h.Run(nullptr);
  lines = LogLines(h.home.path());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "BF: No BF Loaded"), lines.end());

  Fixture s;
  s.app.m_advancedMode = 0;
  RecordingProgress progress;
  s.Run(&progress);
  EXPECT_NE(std::find(progress.events.begin(), progress.events.end(), "status Black Frame"), progress.events.end());
}

TEST(Pipeline, DeFocusModeSequence) {
  Fixture f;
  f.dlg.m_pages.denoiserAdvanced.m_deFocus = 1;
  RecordingProgress progress;
  f.Run(&progress);
  // Skin smoothing: progress 60 and a poll inside the step, then 70; no speckle passes.
  std::vector<std::string> expected = Without(kFullRunEvents, {"pos 53", "poll"});
  EXPECT_EQ(progress.events, expected);
  const std::vector<std::string> lines = LogLines(f.home.path());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "DECS:Alpha=0.25098, Radius=1"), lines.end());
}

TEST(Pipeline, TextStampLastInARunPreviewInfoOnly) {
  Fixture f(200, 120);
  f.dlg.m_pages.sizeQuality.m_sizeType = 0;
  f.dlg.m_date = "2004:05:06 07:08:09";
  Fixture plain(200, 120);
  plain.dlg.m_pages.sizeQuality.m_sizeType = 0;
  plain.Run(nullptr);
  f.dlg.m_pages.textStamp.m_enabled = 1;
  f.dlg.m_pages.textStamp.m_string = "%DATE%";
  RecordingProgress progress;
  f.Run(&progress);
  std::vector<std::string> expected = kFullRunEvents;
  expected.erase(std::find(expected.begin(), expected.end(), "status Resize"));
  for (std::string& e : expected)
    if (e == "thumb 20x15" || e == "thumb 40x30") e = "thumb 200x120";
  EXPECT_EQ(progress.events, expected);  // the stamp has no status, progress or poll
  EXPECT_NE(f.dlg.m_workImage, plain.dlg.m_workImage);

  // Preview: nothing drawn, the page gets the date for its own preview.
  Fixture g(200, 120);
  g.dlg.m_date = "2004:05:06 07:08:09";
  g.dlg.m_pages.textStamp.m_enabled = 1;
  std::vector<BYTE> a = TestPicture(24, 18), b = TestPicture(16, 12);
  g.dlg.m_cropRect = {0, 0, 16, 12};
  g.dlg.ProcessImage(a.data(), 24, 18, b.data(), 16, 12, nullptr);
  EXPECT_EQ(g.dlg.m_pages.textStamp.m_prevDate, "2004:05:06 07:08:09");
  EXPECT_EQ(g.dlg.m_pages.textStamp.m_previewRedraws, 1);
}

TEST(Pipeline, NothingToDo) {
  Fixture f;
  RecordingProgress progress;
  f.dlg.ProcessImage(nullptr, 0, 0, nullptr, 0, 0, &progress);
  EXPECT_TRUE(progress.events.empty());
  EXPECT_EQ(f.dlg.m_pages.output.m_refreshCount, 0);
}

TEST(PipelineNumbers, ApproxLog2AndPower) {
  EXPECT_DOUBLE_EQ(ApproxLog2(1.0), 0.0);
  EXPECT_DOUBLE_EQ(ApproxLog2(2.0), 1.0);
  EXPECT_NEAR(ApproxLog2(2.8), 1.4, 1e-12);
  EXPECT_DOUBLE_EQ(ApproxLog2(3.0), 1.5);
  EXPECT_DOUBLE_EQ(ApproxLog2(4.0), 2.0);
  EXPECT_NEAR(ApproxLog2(5.6), 2.4, 1e-12);
  EXPECT_DOUBLE_EQ(ApproxLog2(11.0), 3.375);
  EXPECT_DOUBLE_EQ(ApproxLog2(0.5), 0.5);
  EXPECT_DOUBLE_EQ(ApproxLog2(NAN), 0.0);
  EXPECT_TRUE(std::isfinite(ApproxLog2(INFINITY)));
  EXPECT_NEAR(ApproxLog2(1e300), 60.0, 1.0);
  EXPECT_DOUBLE_EQ(ApproxPower(2.0, 3.0), 8.0);
  EXPECT_DOUBLE_EQ(ApproxPower(2.0, 2.5), 6.0);  // 4 + (8 - 4) * 0.5
  EXPECT_DOUBLE_EQ(ApproxPower(0.001, 5.0), 0.0);
}

TEST(PipelineNumbers, GammaMappings) {
  EXPECT_DOUBLE_EQ(CastGamma(0), 1.49609375);
  EXPECT_DOUBLE_EQ(CastGamma(64), 1.24609375);
  EXPECT_DOUBLE_EQ(CastGamma(127), 1.0);
  EXPECT_DOUBLE_EQ(CastGamma(128), 1.0);
  EXPECT_NEAR(CastGamma(192), 0.8, 1e-12);
  EXPECT_NEAR(CastGamma(255), 0.66840731, 1e-8);
  EXPECT_NEAR(MidtonesGamma(0), 0.33507853, 1e-8);
  EXPECT_NEAR(MidtonesGamma(64), 0.50393701, 1e-8);
  EXPECT_DOUBLE_EQ(MidtonesGamma(127), 1.0);
  EXPECT_DOUBLE_EQ(MidtonesGamma(129), 1.00390625);
  EXPECT_DOUBLE_EQ(MidtonesGamma(192), 1.25);
  EXPECT_DOUBLE_EQ(MidtonesGamma(255), 1.49609375);
}

TEST(PipelineNumbers, ResizeTargets) {
  int w = 0, h = 0;
  ResizeTarget(2, 50, 800, 600, 3000, 2000, &w, &h);
  EXPECT_EQ(w, 800);
  EXPECT_EQ(h, 533);
  ResizeTarget(2, 50, 600, 800, 2000, 3000, &w, &h);  // portrait: the height limits
  EXPECT_EQ(w, 533);
  EXPECT_EQ(h, 800);
  ResizeTarget(2, 50, 640, 480, 1024, 768, &w, &h);  // the division would give 479
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  ResizeTarget(2, 50, 4000, 3000, 3000, 2000, &w, &h);  // never enlarged
  EXPECT_EQ(w, 3000);
  EXPECT_EQ(h, 2000);
  ResizeTarget(2, 50, 0, 0, 2000, 2000, &w, &h);  // a 0 x 0 box is 1 x 1
  EXPECT_EQ(w, 1);
  EXPECT_EQ(h, 1);
  ResizeTarget(2, 50, -5, 0, 3000, 2000, &w, &h);  // other side would be 0: unchanged
  EXPECT_EQ(w, 0);
  ResizeTarget(1, 50, 0, 0, 3000, 2000, &w, &h);
  EXPECT_EQ(w, 1500);
  EXPECT_EQ(h, 1000);
  ResizeTarget(1, 0, 0, 0, 3000, 2000, &w, &h);  // 0 %: no resize
  EXPECT_EQ(w, 0);
  ResizeTarget(1, -20, 0, 0, 3000, 2000, &w, &h);  // negative: 1 %
  EXPECT_EQ(w, 30);
  EXPECT_EQ(h, 20);
  ResizeTarget(1, 99999, 0, 0, 30, 20, &w, &h);  // at most 1000 %
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 200);
  ResizeTarget(1, 1, 0, 0, 50, 50, &w, &h);  // truncates to 0: unchanged
  EXPECT_EQ(w, 0);
  ResizeTarget(3, 50, 800, 600, 3000, 2000, &w, &h);
  EXPECT_EQ(w, 0);
}

TEST(Pipeline, ResizeWithBothResamplersAndFailure) {
  for (int filter : {0, 1}) {
    Fixture f(300, 200);
    f.dlg.m_pages.sizeQuality.m_sizeType = 2;
    f.dlg.m_pages.sizeQuality.m_width = 80;
    f.dlg.m_pages.sizeQuality.m_height = 60;
    f.dlg.m_pages.sizeQuality.m_filter = filter;
    f.Run(nullptr);
    EXPECT_EQ(f.dlg.m_workWidth, 80);
    EXPECT_EQ(f.dlg.m_workHeight, 53);
    const std::vector<std::string> lines = LogLines(f.home.path());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Size: 50 perc = (80 x 53)"), lines.end());
  }
  // The library refuses a target below its filter's support: the picture keeps its size and a
  // red line says so.
  Fixture g(40, 30);
  g.dlg.m_pages.sizeQuality.m_sizeType = 2;
  g.dlg.m_pages.sizeQuality.m_width = 2;
  g.dlg.m_pages.sizeQuality.m_height = 2;
  g.Run(nullptr);
  EXPECT_EQ(g.dlg.m_workWidth, 40);
  const std::vector<uint8_t> b = qrvtest::ReadFileBytes(g.home.File("help/log.html"));
  const std::string log(b.begin(), b.end());
  EXPECT_NE(log.find("<font color=\"#ff0900\">Resize to 2 x 1 failed"), std::string::npos) << log;
  // A target of less than one pixel on a side is refused with a red line too; 0 % asks for
  // no resize at all.
  const struct {
    int type, percent, box;
    const char* line;
  } refused[] = {{2, 50, 1, "Resize refused: a 1 x 1 box leaves less than one pixel on a side of the 40 x 30 picture"},
                 {1, 2, 0, "Resize refused: 2 % leaves less than one pixel on a side of the 40 x 30 picture"},
                 {1, 0, 0, nullptr}};
  for (const auto& r : refused) {
    Fixture h(40, 30);
    h.dlg.m_pages.sizeQuality.m_sizeType = r.type;
    h.dlg.m_pages.sizeQuality.m_percent = r.percent;
    h.dlg.m_pages.sizeQuality.m_width = h.dlg.m_pages.sizeQuality.m_height = r.box;
    h.dlg.m_outcomes.assign(1, {});
    h.Run(nullptr);
    EXPECT_EQ(h.dlg.m_workWidth, 40);
    EXPECT_EQ(h.dlg.m_workHeight, 30);
    if (r.line) {
      ASSERT_EQ(h.dlg.m_outcomes[0].warnings.size(), 1u);
      EXPECT_EQ(h.dlg.m_outcomes[0].warnings[0].rfind(r.line, 0), 0u) << h.dlg.m_outcomes[0].warnings[0];
    } else {
      EXPECT_TRUE(h.dlg.m_outcomes[0].warnings.empty());
    }
  }
}

}  // namespace

// A long exposure corrected without the black frame asked for carries a warning that says why;
// a short one, which needs no frame, and a subtracted frame carry none.
TEST(Pipeline, BlackFrameNotAppliedIsTheEntrysWarning) {
  const struct {
    const char* name;
    double seconds;  // 0: no EXIF data, which counts as a long exposure
    int frameWidth, frameHeight;  // 0 x 0: none loaded
    const char* loadError;
    std::string warning;
  } cases[] = {
      {"other size", 2.0, 100, 100, "", "black frame 100 x 100 does not match the picture's 40 x 30"},
      {"no EXIF, other size", 0.0, 30, 40, "", "black frame 30 x 40 does not match the picture's 40 x 30"},
      {"not loaded", 2.0, 0, 0, "", "black frame not loaded"},
      {"unreadable", 2.0, 0, 0, "bad JPG file", "black frame not loaded: bad JPG file"},
      {"short, other size", 0.5, 100, 100, "", ""},
      {"short, not loaded", 1.0, 0, 0, "", ""},
      {"subtracted", 2.0, 40, 30, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    f.dlg.m_exifPresent = c.seconds > 0.0;
    f.dlg.m_exposureSeconds = c.seconds;
    f.dlg.m_blackFrame.assign(static_cast<size_t>(c.frameWidth) * c.frameHeight * 3, 3);
    f.dlg.m_blackFrameWidth = c.frameWidth;
    f.dlg.m_blackFrameHeight = c.frameHeight;
    f.dlg.m_blackFrameError = c.loadError;
    f.dlg.m_outcomes.emplace_back();
    f.Run(nullptr);
    const std::vector<std::string>& warnings = f.dlg.m_outcomes.back().warnings;
    EXPECT_EQ(warnings, c.warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.warning});
  }
  // The preview says nothing.
  Fixture p;
  p.dlg.m_blackFrame.clear();
  p.dlg.m_outcomes.emplace_back();
  std::vector<BYTE> b(4 * 3 * 3, 200);
  p.dlg.m_cropRect = {0, 0, 4, 3};
  p.dlg.ProcessImage(p.dlg.m_workImage.data(), 40, 30, b.data(), 4, 3, nullptr);
  EXPECT_TRUE(p.dlg.m_outcomes.back().warnings.empty());
}

// A frame is taken in the sensor's orientation: one of the picture's stored size (4 x 3 here)
// is turned as the picture was and subtracted; one of the upright size is used as it stands;
// any other size warns. Each frame pixel holds its own stored position, so the subtracted
// picture shows which sensor pixel lies under each upright one.
TEST(Pipeline, BlackFrameIsTurnedAsThePictureWas) {
  struct Stored {
    int x, y;
  };
  const struct {
    int orientation, frameWidth, frameHeight;
    Stored (*under)(int x, int y);  // the stored pixel under upright (x, y); null: nothing subtracted
    std::string warning;
  } cases[] = {
      {1, 4, 3, [](int x, int y) { return Stored{x, y}; }, ""},
      {3, 4, 3, [](int x, int y) { return Stored{3 - x, 2 - y}; }, ""},
      {6, 4, 3, [](int x, int y) { return Stored{y, 2 - x}; }, ""},
      {8, 4, 3, [](int x, int y) { return Stored{3 - y, x}; }, ""},
      {6, 3, 4, [](int x, int y) { return Stored{x, y}; }, ""},  // an upright frame, as it stands
      {6, 4, 4, nullptr, "black frame 4 x 4 does not match the picture's 3 x 4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.orientation);
    const bool swapped = c.orientation >= 5;
    const int w = swapped ? 3 : 4, h = swapped ? 4 : 3;
    Fixture f(w, h);
    f.OnlyBlackFrame();
    f.dlg.m_pages.sizeQuality.m_sizeType = 0;
    f.dlg.m_orientation = c.orientation;
    f.dlg.m_workImage.assign(size_t(w) * h * 3, 200);
    f.dlg.m_blackFrameWidth = c.frameWidth;
    f.dlg.m_blackFrameHeight = c.frameHeight;
    f.dlg.m_blackFrame.resize(size_t(c.frameWidth) * c.frameHeight * 3);
    for (int y = 0; y < c.frameHeight; ++y)
      for (int x = 0; x < c.frameWidth; ++x) {
        BYTE* px = &f.dlg.m_blackFrame[(size_t(y) * c.frameWidth + x) * 3];
        px[0] = BYTE(x), px[1] = BYTE(y), px[2] = 50;
      }
    f.dlg.m_outcomes.emplace_back();
    f.Run(nullptr);
    const std::vector<std::string>& warnings = f.dlg.m_outcomes.back().warnings;
    EXPECT_EQ(warnings, c.warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.warning});
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const BYTE* px = &f.dlg.m_workImage[(size_t(y) * w + x) * 3];
        const Stored s = c.under ? c.under(x, y) : Stored{0, 0};
        const std::vector<int> want = c.under ? std::vector<int>{200 - s.x, 200 - s.y, 150}
                                              : std::vector<int>{200, 200, 200};
        EXPECT_EQ((std::vector<int>{px[0], px[1], px[2]}), want) << x << "," << y;
      }
  }
}
