// The HTML log: each piece is appended to help/log.html of the home folder, opened and closed
// for every piece; failures lose the piece silently.
#include "engine/HtmlLog.h"

#include <cstdio>

#include "engine/shell/CMainDialog.h"

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c; break;
    }
  }
  return out;
}

std::string FormatLogTime(time_t when) {
  struct tm tmv {};
  if (!localtime_r(&when, &tmv)) return "00::00::00 ";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d::%02d::%02d ", tmv.tm_hour, tmv.tm_min, tmv.tm_sec);
  return buf;
}

std::string CMainDialog::LogTime() const { return FormatLogTime(std::time(nullptr)); }

void CMainDialog::AppendLog(const std::string& text, int start) {
  const std::string path = m_homeDir + "/help/log.html";
  std::FILE* f = std::fopen(path.c_str(), start ? "wb" : "ab");
  if (!f) return;
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

namespace {

std::string RedLine(const CMainDialog& dialog, const std::string& text) {
  return dialog.LogTime() + kLogFontError + HtmlEscape(text) + "</font><br>\r\n";
}

}  // namespace

void CMainDialog::LogEntryError(const std::string& text) {
  AppendLog(RedLine(*this, text), 0);
  if (!m_outcomes.empty() && m_outcomes.back().reason.empty()) m_outcomes.back().reason = text;
}

void CMainDialog::LogEntryWarning(const std::string& text) {
  AppendLog(RedLine(*this, text), 0);
  if (!m_outcomes.empty()) m_outcomes.back().warnings.push_back(text);
}
