// The HTML log: each piece is appended to help/log.html of the home folder, opened and closed
// for every piece; failures lose the piece silently.
#include "engine/HtmlLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "engine/shell/CMainDialog.h"

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : ConsoleText(text)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
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
  // Each piece is one write(2) on an O_APPEND descriptor: runs sharing the log interleave whole
  // pieces, never bytes of them.
  const std::string path = m_homeDir + "/help/log.html";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (start ? O_TRUNC : 0), 0666);
  if (fd < 0) return;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
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
