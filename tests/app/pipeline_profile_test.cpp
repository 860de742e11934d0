// Each step's settings mapping through the shipped profile: the picture's exposure, F-number,
// ISO, flash and distance (or no EXIF data) turn into the look-up values and filter parameters
// that the detailed log records.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/pages/Profile.h"
#include "engine/shell/CMainDialog.h"
#include "support/test_support.h"

namespace {

struct Picture {
  int exif;
  double seconds, fNumber, distance;
  int iso, flash;
};

// Runs the pipeline with the shipped profile (plus assignments) and returns the step lines.
struct ProfileRun {
  qrvtest::TempDir home;
  CBatchApp app;
  CMainDialog dlg{app};
};

std::vector<std::string> RunWithDefault(const Picture& pic, const std::vector<std::string>& sets = {},
                                        ProfileRun* run = nullptr) {
  ProfileRun local;
  if (!run) run = &local;
  qrvtest::TempDir* home = &run->home;
  CBatchApp& app = run->app;
  CMainDialog* dlg = &run->dlg;
  mkdir((home->path() + "/help").c_str(), 0777);
  dlg->SetHomeFolder(home->path());
  CIniFile ini;
  EXPECT_TRUE(ini.Load(std::string(QRV_SOURCE_DIR) + "/app/default.qrv"));
  for (const std::string& s : sets) EXPECT_TRUE(ini.SetFromAssignment(s)) << s;
  ReadProfile(ini, dlg->m_pages, app.m_advancedMode);
  dlg->m_workWidth = 300;
  dlg->m_workHeight = 200;
  dlg->m_workImage.assign(300u * 200u * 3u, 0);
  for (size_t i = 0; i < dlg->m_workImage.size(); ++i) dlg->m_workImage[i] = static_cast<BYTE>((i * 7) % 251);
  dlg->m_exifPresent = pic.exif;
  dlg->m_exposureSeconds = pic.seconds;
  dlg->m_fNumber = pic.fNumber;
  dlg->m_subjectDistance = pic.distance;
  dlg->m_iso = pic.iso;
  dlg->m_flash = pic.flash;
  dlg->m_model = "Canon PowerShot G5";
  dlg->ProcessImage(dlg->m_workImage.data(), 300, 200, nullptr, 0, 0, nullptr);
  const std::vector<uint8_t> b = qrvtest::ReadFileBytes(home->File("help/log.html"));
  const std::string log(b.begin(), b.end());
  std::vector<std::string> lines;
  const std::string open = "<font color=\"#0000ee\">";
  for (size_t pos = log.find(open); pos != std::string::npos; pos = log.find(open, pos)) {
    pos += open.size();
    lines.push_back(log.substr(pos, log.find("</font>", pos) - pos));
  }
  return lines;
}

TEST(ProfileMapping, DaylightShortExposure) {
  // 1/125 s at F5.6, ISO 200, no flash, 3 m: balance at position 2 between 1:150 and 5:128.
  const std::vector<std::string> lines = RunWithDefault({1, 0.008, 5.6, 3.0, 200, 0});
  const std::vector<std::string> expected = {"Color Matching Skipping - it is not Minolta image",
                                             "CC:Gamma=1",
                                             "BL:Alpha=0.564706, S.Speed=0.008",
                                             "MI:Gamma=1.02344",
                                             "DE:Alpha=0.25098, Level=1",
                                             "SH: Thresh=0, Amount=0.39, Sigma=1.36471",
                                             "SA: NT=140"};
  EXPECT_EQ(lines, expected);
}

TEST(ProfileMapping, LongExposureHighIso) {
  // 2 s at F8, ISO 800 (looked up at 400), no flash data, unknown distance (no-EXIF passes).
  ProfileRun r;
  CMainDialog* dlg = &r.dlg;
  const std::vector<std::string> lines = RunWithDefault({1, 2.0, 8.0, 0.0, 800, -1}, {}, &r);
  const std::vector<std::string> expected = {"Color Matching Skipping - it is not Minolta image",
                                             "CC:Gamma=1",
                                             "BL:Alpha=0.396078, S.Speed=2",
                                             "MI:Gamma=1.02344",
                                             "HP:NT=152,WI=3",
                                             "DE:Alpha=0.501961, Level=1",
                                             "SH: Thresh=0, Amount=0.31, Sigma=1.18824",
                                             "SA: NT=140"};
  EXPECT_EQ(lines, expected);
  // Saturation without flash data: asked at -1 (held to the slider's range) without EXIF.
  EXPECT_EQ(dlg->m_pages.castAdvanced.m_saturation.m_fromExif, 0);
  EXPECT_DOUBLE_EQ(dlg->m_pages.denoiserAdvanced.m_denoise.m_indicator, 400.0);
  EXPECT_DOUBLE_EQ(dlg->m_pages.sharpenAdvanced.m_radius.m_indicator, 3.0);
}

TEST(ProfileMapping, FlashFired) {
  ProfileRun r;
  CMainDialog* dlg = &r.dlg;
  const std::vector<std::string> lines = RunWithDefault({1, 1.0 / 60, 2.8, 2.0, 100, 1}, {}, &r);
  const std::vector<std::string> expected = {"Color Matching Skipping - it is not Minolta image",
                                             "CC:Gamma=0.955224",
                                             "BL:Alpha=0.627451, S.Speed=0.0166667",
                                             "MI:Gamma=1.0625",
                                             "SH: Thresh=0, Amount=0.39, Sigma=1.65882",
                                             "SA: NT=134"};
  EXPECT_EQ(lines, expected);
  EXPECT_DOUBLE_EQ(dlg->m_pages.balanceAdvanced.m_balance.m_indicator, 13.0);
  EXPECT_DOUBLE_EQ(dlg->m_pages.sharpenAdvanced.m_radius.m_indicator, 1.4);
}

TEST(ProfileMapping, NoExifData) {
  ProfileRun r;
  CMainDialog* dlg = &r.dlg;
  const std::vector<std::string> lines = RunWithDefault({0, 0.0, 0.0, 0.0, 0, -1}, {}, &r);
  const std::vector<std::string> expected = {"Color Matching Skipping - it is not Minolta image",
                                             "CC:Gamma=1",
                                             "BL:Alpha=0.501961, S.Speed=0.002",
                                             "MI:Gamma=1.02344",
                                             "SH: Thresh=0, Amount=0.39, Sigma=1.77647",
                                             "SA: NT=140"};
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(dlg->m_pages.balanceAdvanced.m_balance.m_fromExif, 0);
  EXPECT_DOUBLE_EQ(dlg->m_pages.denoiserAdvanced.m_denoise.m_indicator, 100.0);
}

TEST(ProfileMapping, SimpleModeUsesTheSimplePages) {
  const std::vector<std::string> lines =
      RunWithDefault({1, 2.0, 8.0, 3.0, 400, 1}, {"Mode.Advanced=0", "Sharpen.Type=1", "Sharpen.Steps=0:255"});
  const std::vector<std::string> expected = {"Color Matching Skipping - it is not Minolta image",
                                             "CC:Gamma=1",
                                             "BL:Alpha=0.501961",
                                             "MI:Gamma=1.02344",
                                             "HP:NT=128,WI=3",
                                             "DE:Alpha=0.25098, Level=1",
                                             "SH: NT=39",
                                             "SA: NT=140"};
  EXPECT_EQ(lines, expected);
}

TEST(ProfileMapping, AssignmentsReachTheSteps) {
  const std::vector<std::string> lines = RunWithDefault(
      {1, 0.008, 4.0, 3.0, 100, 0},
      {"Sharpen.Type=0", "Sharpen.Steps=0:255", "Hot Pixels.Steps=0:200", "HotPixels.Exclude=1",
       "HotPixels.ExcludeModels=powershot", "sRGB.Test=1", "Size.Type=2", "Size.Width=80", "Size.Height=60",
       "Midtones.Steps=0:128,1:128", "Denoisser.Enabled=0", "FilterSim.Enabled=1", "FilterSim.Name=#1A Filter"});
  const std::vector<std::string> expected = {"DiMAGE->sRGB",
                                             "CC:Gamma=1",
                                             "BL:Alpha=0.564706, S.Speed=0.008",
                                             "filter: #1A Filter",
                                             "Size: 50 perc = (80 x 53)",
                                             "SH: NT=100",
                                             "SA: NT=140"};
  EXPECT_EQ(lines, expected);
}

TEST(ProfileMapping, PortraitDeFocus) {
  // ISO 200 and flash fired: skin smoothing with radius 75 / 50; alpha is logged, not used.
  ProfileRun r;
  const std::vector<std::string> lines =
      RunWithDefault({1, 1.0 / 60, 4.0, 2.0, 200, 1},
                     {"CleanSkin.DeFocus=1", "CleanSkin.PinkTones=1", "Sharpen.Enabled=0", "Saturation.Enabled=0",
                      "Balance.Enabled=0", "Midtones.Enabled=0", "ColorCast.Enabled=0"},
                     &r);
  const std::vector<std::string> expected = {"Color Matching Skipping - it is not Minolta image",
                                             "DECS:Alpha=0.25098, Radius=1.5"};
  EXPECT_EQ(lines, expected);
  EXPECT_DOUBLE_EQ(r.dlg.m_pages.denoiserAdvanced.m_softFocus.m_indicator, 1.0);
}

}  // namespace
