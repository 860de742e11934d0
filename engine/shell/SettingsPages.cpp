// Built-in defaults of the settings pages and their look-ups that do more than ask a slider.
#include "engine/shell/SettingsPages.h"

#include <cctype>
#include <cstdio>

namespace {

constexpr double kBalanceMax = 13.0;     // 11 = 4 s exposure, 13 = flash fired
constexpr double kSecondsMax = 3600.0;   // exposure times
constexpr double kRadiusMax = 10.0;      // log2 of the F-number
constexpr double kIsoMax = 6400.0;
constexpr double kDistanceMax = 1000.0;  // metres

std::string Lower(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

}  // namespace

void CModePage::ShowHtmlFile(const std::string& name) {
  m_shownFile = m_homeDir + "/help/" + name;
  ++m_showCount;
}

CBalanceBasicPage::CBalanceBasicPage()
    : CBalancePage(CStepSlider(0.0, kBalanceMax, false, {{0.0, 128}}, 0),
                   CStepSlider(0.0, 1.0, true, {{0.0, 134}, {1.0, 134}}, 0)) {}

CBalanceAdvancedPage::CBalanceAdvancedPage()
    : CBalancePage(CStepSlider(0.0, kBalanceMax, false, {{1.0, 150}, {5.0, 128}, {11.0, 96}, {13.0, 160}}, 1),
                   CStepSlider(0.0, 1.0, true, {{0.0, 134}, {1.0, 144}}, 0)) {}

CColorCastBasicPage::CColorCastBasicPage()
    : CColorCastPage(CStepSlider(0.0, 1.0, true, {{0.0, 128}, {1.0, 128}}, 0),
                     CStepSlider(0.0, 1.0, false, {{0.0, 140}, {1.0, 140}}, 0)) {}

CColorCastAdvancedPage::CColorCastAdvancedPage()
    : CColorCastPage(CStepSlider(0.0, 1.0, true, {{0.0, 128}, {1.0, 140}}, 0),
                     CStepSlider(0.0, 1.0, false, {{0.0, 140}, {1.0, 134}}, 0)) {}

CHotPixelsBasicPage::CHotPixelsBasicPage() : m_hotPixels(0.0, kSecondsMax, false, {{0.0, 128}}, 0) {}

int CHotPixelsBasicPage::GetHotPixelsBasicAt(double position, int exifKnown, const std::string&) {
  return m_hotPixels.ValueAt(position, exifKnown);
}

CHotPixelsAdvancedPage::CHotPixelsAdvancedPage()
    : m_hotPixels(0.0, kSecondsMax, false, {{0.0, 0}, {1.0, 128}, {4.0, 200}, {30.0, 255}}, 0),
      m_window(0.0, kSecondsMax, false, {{0.0, 1}, {4.0, 1}, {15.0, 3}}, 0) {}

bool CHotPixelsAdvancedPage::IsExcludedModel(const std::string& model) const {
  const std::string m = Lower(model);
  size_t start = 0;
  while (start <= m_excludeModels.size()) {
    size_t comma = m_excludeModels.find(',', start);
    if (comma == std::string::npos) comma = m_excludeModels.size();
    const std::string entry = Lower(Trim(m_excludeModels.substr(start, comma - start)));
    if (!entry.empty() && m.find(entry) != std::string::npos) return true;
    start = comma + 1;
  }
  return false;
}

int CHotPixelsAdvancedPage::GetHotPixelsAt(double exposureSeconds, int exifKnown, const std::string& model) {
  const int v = m_hotPixels.ValueAt(exposureSeconds, exifKnown);
  if (m_exclude && IsExcludedModel(model)) {
    return m_excludeValue < 0 ? 0 : (m_excludeValue > 255 ? 255 : m_excludeValue);
  }
  return v;
}

CSharpenBasicPage::CSharpenBasicPage() : CSharpenPage(CStepSlider(0.0, kSecondsMax, false, {{0.0, 100}}, 0)) {}

CSharpenAdvancedPage::CSharpenAdvancedPage()
    : CSharpenPage(CStepSlider(0.0, kSecondsMax, false, {{0.0, 100}, {2.0, 80}, {10.0, 50}}, 0)),
      m_radius(0.0, kRadiusMax, false, {{1.0, 60}, {3.0, 30}}, 0) {}

CDenoiserBasicPage::CDenoiserBasicPage()
    : CDenoiserPage(CStepSlider(0.0, kIsoMax, false, {{0.0, 64}}, 0),
                    CStepSlider(0.0, kDistanceMax, false, {{0.0, 1}}, 0),
                    CStepSlider(0.0, 1.0, true, {{0.0, 50}, {1.0, 50}}, 0)) {}

CDenoiserAdvancedPage::CDenoiserAdvancedPage()
    : CDenoiserPage(CStepSlider(0.0, kIsoMax, false, {{100.0, 0}, {200.0, 64}, {400.0, 128}}, 0),
                    CStepSlider(0.0, kDistanceMax, false, {{0.0, 1}, {10.0, 2}}, 0),
                    CStepSlider(0.0, 1.0, true, {{0.0, 50}, {1.0, 75}}, 0)) {}

void CTextStampPage::SetPreviewInfo(const std::string& dateText) {
  m_prevDate = dateText;
  ++m_previewRedraws;
}

void CTextStampPage::ComposeStampText(std::string& dateText, std::string& fileDateText, const std::string& exifDate,
                                      time_t fileTime) const {
  // Y, M, D, h, m, s of a text "YYYY:MM:DD HH:MM:SS" (the time part may be missing).
  auto format = [this](int Y, int M, int D, int h, int mi, int s, bool hasTime) {
    char buf[64];
    switch (m_dateStyle) {
      case 1:
        std::snprintf(buf, sizeof buf, "%04d:%02d:%02d", Y, M, D);
        break;
      case 2:
        std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", D, M, Y);
        break;
      default:
        if (hasTime)
          std::snprintf(buf, sizeof buf, "%04d:%02d:%02d %02d:%02d:%02d", Y, M, D, h, mi, s);
        else
          std::snprintf(buf, sizeof buf, "%04d:%02d:%02d", Y, M, D);
        break;
    }
    return std::string(buf);
  };

  int Y = 0, M = 0, D = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  const int n = std::sscanf(exifDate.c_str(), "%4d:%2d:%2d %2d:%2d:%2d%c", &Y, &M, &D, &h, &mi, &s, &tail);
  if ((n == 3 || n == 6) && M >= 1 && M <= 12 && D >= 1 && D <= 31 && Y >= 0)
    dateText = format(Y, M, D, h, mi, s, n == 6);
  else
    dateText = exifDate;

  fileDateText.clear();
  if (fileTime != 0) {
    struct tm tmv {};
    if (localtime_r(&fileTime, &tmv))
      fileDateText = format(tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, true);
  }
}
