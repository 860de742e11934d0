// Stepped sliders, the pages' look-ups, the queue, the tab row and the stamp date texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "engine/shell/CMainDialog.h"

namespace {

TEST(StepSlider, InterpolatesTruncatesAndClamps) {
  CStepSlider s(0.0, 20.0, false, {{1.0, 100}, {3.0, 201}, {11.0, 0}}, 1);
  EXPECT_EQ(s.ValueAt(2.0, 1), 150);   // 100 + 101 * 0.5 = 150.5 -> 150
  EXPECT_EQ(s.ValueAt(1.0, 1), 100);
  EXPECT_EQ(s.ValueAt(3.0, 1), 201);
  EXPECT_EQ(s.ValueAt(7.0, 1), 100);   // 201 - 201 * 0.5 = 100.5 -> 100
  EXPECT_EQ(s.ValueAt(0.5, 1), 100);   // before the first step: its value
  EXPECT_DOUBLE_EQ(s.m_indicator, 0.5);
  EXPECT_EQ(s.ValueAt(99.0, 1), 0);    // clamped to the range, past the last step
  EXPECT_DOUBLE_EQ(s.m_indicator, 20.0);
  EXPECT_EQ(s.m_fromExif, 1);
  EXPECT_EQ(s.ValueAt(-5.0, 1), 100);
  EXPECT_DOUBLE_EQ(s.m_indicator, 0.0);
  EXPECT_EQ(s.ValueAt(NAN, 1), 100);
}

TEST(StepSlider, NoExifStepIgnoresThePosition) {
  CStepSlider s(0.0, 20.0, false, {{1.0, 100}, {3.0, 200}, {11.0, 0}}, 2);
  EXPECT_EQ(s.ValueAt(3.0, 0), 0);
  EXPECT_EQ(s.m_fromExif, 0);
  EXPECT_DOUBLE_EQ(s.m_indicator, 3.0);  // the indicator still moves
  s.SetNoExifStep(7);                    // held to the last step
  EXPECT_EQ(s.NoExifStep(), 2);
  s.SetNoExifStep(-1);
  EXPECT_EQ(s.ValueAt(3.0, 0), 100);
}

TEST(StepSlider, FlashSlidersHoldPositionsToZeroOrOne) {
  CStepSlider s(0.0, 13.0, true, {{0.0, 10}, {1.0, 90}}, 0);
  EXPECT_EQ(s.ValueAt(0.9, 1), 10);  // truncated to 0
  EXPECT_EQ(s.ValueAt(1.0, 1), 90);
  EXPECT_EQ(s.ValueAt(25.0, 1), 90);
  EXPECT_DOUBLE_EQ(s.m_indicator, 1.0);
  EXPECT_EQ(s.ValueAt(-1.0, 1), 10);
  EXPECT_DOUBLE_EQ(s.m_indicator, 0.0);
}

TEST(StepSlider, RejectsBadCurves) {
  CStepSlider s(0.0, 10.0, false, {{0.0, 1}, {5.0, 2}}, 0);
  EXPECT_FALSE(s.SetSteps({}));
  EXPECT_FALSE(s.SetSteps({{1.0, 1}, {1.0, 2}}));  // not ascending
  EXPECT_FALSE(s.SetSteps({{0.0, 256}}));
  EXPECT_FALSE(s.SetSteps({{0.0, -1}}));
  EXPECT_FALSE(s.SetSteps({{NAN, 3}}));
  EXPECT_EQ(s.Steps().size(), 2u);
  EXPECT_TRUE(s.SetSteps({{2.0, 7}}));
  EXPECT_EQ(s.ValueAt(9.0, 1), 7);
}

// Steps whose distance, or distance times the value change, overflows a double still give the
// value between them (UBSan sees no float-cast overflow).
TEST(StepSlider, StepsFarApartInterpolateWithoutOverflow) {
  const struct {
    double a, b;
    int va, vb;
    double at;
    int value;
  } cases[] = {
      {-1e308, 1e308, 0, 255, 10.0, 127},     // the distance overflows: half way, 127.5
      {-1.7e308, 1.7e308, 255, 0, 0.0, 127},  // falling
      {-1e308, 1e307, 0, 255, 0.0, 231},      // finite distance, the product overflows: 10/11
      {0.0, 1e300, 0, 255, 100.0, 0},
  };
  for (const auto& c : cases) {
    CStepSlider s(-100.0, 100.0, false, {{c.a, c.va}, {c.b, c.vb}}, 0);
    EXPECT_EQ(s.ValueAt(c.at, 1), c.value) << c.a << " " << c.b;
  }
}

TEST(SettingsPages, LookUpsAskTheirSliders) {
  SettingsPages p;
  p.balanceAdvanced.m_balance.SetSteps({{1.0, 100}, {11.0, 200}, {13.0, 255}});
  EXPECT_EQ(p.balanceAdvanced.GetBalanceAt(6.0, 1), 150);
  EXPECT_EQ(p.balanceAdvanced.GetBalanceAt(13.0, 1), 255);
  p.castAdvanced.m_colorCast.SetSteps({{0.0, 100}, {1.0, 160}});
  EXPECT_EQ(p.castAdvanced.GetColorCastAt(1, 1), 160);
  EXPECT_EQ(p.castAdvanced.GetColorCastAt(1, 0), 100);
  p.denoiserAdvanced.m_deFocus = 1;
  EXPECT_EQ(p.denoiserAdvanced.IsDeFocusMode(), 1);
  p.denoiserAdvanced.m_deFocus = 2;
  EXPECT_EQ(p.denoiserAdvanced.IsDeFocusMode(), 0);
  EXPECT_EQ(p.castBasic.GetFilterName(), "");
  p.castBasic.m_filterName = "Sepia";
  EXPECT_EQ(p.castBasic.GetFilterName(), "Sepia");
}

TEST(SettingsPages, HotPixelModelExclusion) {
  CHotPixelsAdvancedPage p;
  p.m_hotPixels.SetSteps({{0.0, 0}, {2.0, 200}});
  p.m_excludeModels = " Canon EOS 10D ,  dimage a1";
  p.m_excludeValue = 17;
  EXPECT_EQ(p.GetHotPixelsAt(1.0, 1, "Minolta DiMAGE A1"), 100);  // exclusion off
  p.m_exclude = 1;
  EXPECT_EQ(p.GetHotPixelsAt(1.0, 1, "Minolta DiMAGE A1"), 17);
  EXPECT_EQ(p.GetHotPixelsAt(1.0, 1, "CANON EOS 10D"), 17);
  EXPECT_EQ(p.GetHotPixelsAt(1.0, 1, "Canon EOS 300D"), 100);
  EXPECT_EQ(p.GetHotPixelsAt(1.0, 1, ""), 100);
  EXPECT_DOUBLE_EQ(p.m_hotPixels.m_indicator, 1.0);
  p.m_excludeModels = ",,";
  EXPECT_FALSE(p.IsExcludedModel("anything"));
}

TEST(SettingsPages, StampDateTexts) {
  CTextStampPage p;
  std::string date, fileDate;
  p.ComposeStampText(date, fileDate, "2004:05:06 07:08:09", 0);
  EXPECT_EQ(date, "2004:05:06 07:08:09");
  EXPECT_EQ(fileDate, "");
  p.m_dateStyle = 1;
  p.ComposeStampText(date, fileDate, "2004:05:06 07:08:09", 0);
  EXPECT_EQ(date, "2004:05:06");
  p.m_dateStyle = 2;
  p.ComposeStampText(date, fileDate, "2004:05:06 07:08:09", 0);
  EXPECT_EQ(date, "06.05.2004");
  p.ComposeStampText(date, fileDate, "sometime", 0);
  EXPECT_EQ(date, "sometime");
  const time_t t = 1700000000;
  struct tm tmv {};
  localtime_r(&t, &tmv);
  p.ComposeStampText(date, fileDate, "", t);
  char expect[32];
  std::snprintf(expect, sizeof expect, "%02d.%02d.%04d", tmv.tm_mday, tmv.tm_mon + 1, tmv.tm_year + 1900);
  EXPECT_EQ(fileDate, expect);
  p.SetPreviewInfo("2004:05:06");
  EXPECT_EQ(p.m_prevDate, "2004:05:06");
  EXPECT_EQ(p.m_previewRedraws, 1);
}

TEST(MainDialog, QueueTabsAndHtmlView) {
  CBatchApp app;
  CMainDialog dlg(app);
  dlg.m_cueList.AddString("/a/1.jpg");
  dlg.m_cueList.AddString("/a/2.jpg", 0);
  EXPECT_EQ(dlg.m_cueList.GetCount(), 2);
  EXPECT_EQ(dlg.m_cueList.GetText(0), "/a/1.jpg");
  EXPECT_GT(dlg.m_cueList.GetCheck(0), 0);
  EXPECT_EQ(dlg.m_cueList.GetCheck(1), 0);
  dlg.m_cueList.SetCheck(0, 0);
  EXPECT_EQ(dlg.m_cueList.GetCheck(0), 0);
  EXPECT_EQ(dlg.m_cueList.GetText(5), "");
  EXPECT_EQ(dlg.m_cueList.GetCurSel(), -1);

  dlg.m_tab.SetCurSel(7);
  dlg.ShowCurrentPage();
  EXPECT_EQ(dlg.m_visiblePage, "Size & Quality");
  dlg.m_tab.SetCurSel(4);
  app.m_advancedMode = 0;
  dlg.ShowCurrentPage();
  EXPECT_EQ(dlg.m_visiblePage, "Hot Pixels (simple)");
  app.m_advancedMode = 1;
  dlg.ShowCurrentPage();
  EXPECT_EQ(dlg.m_visiblePage, "Hot Pixels (advanced)");

  setenv("QRV_HOME", "/srv/qrv-home", 1);
  CMainDialog fromEnv(app);
  unsetenv("QRV_HOME");
  EXPECT_EQ(fromEnv.HomeFolder(), "/srv/qrv-home");
  CMainDialog fromProgram(app);
  EXPECT_NE(fromProgram.HomeFolder(), "/srv/qrv-home");
  EXPECT_FALSE(fromProgram.HomeFolder().empty());
  dlg.SetHomeFolder("/opt/qrv");
  dlg.m_pages.mode.ShowHtmlFile("log.html");
  EXPECT_EQ(dlg.m_pages.mode.m_shownFile, "/opt/qrv/help/log.html");
}

}  // namespace
