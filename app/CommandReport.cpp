// Entry lines, the lists of entries not written or written with warnings, and the summary.
#include "app/CommandReport.h"

#include <cstdio>

namespace {

std::string FileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Folder(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Reason(const CMainDialog::EntryOutcome& outcome, bool cancelled) {
  if (!outcome.reason.empty()) return outcome.reason;
  return cancelled ? "cancelled" : "no reason recorded (see the log)";
}

}  // namespace

std::string EntryLine(const CMainDialog::EntryOutcome& outcome, int number, int total, bool cancelled) {
  std::string line = "[" + std::to_string(number) + "/" + std::to_string(total) + "] " + FileName(outcome.path);
  if (!outcome.written) return line + ": not written: " + Reason(outcome, cancelled);
  const std::string folder = Folder(outcome.path);
  std::string shown = outcome.output;
  if (!folder.empty() && shown.compare(0, folder.size(), folder) == 0) shown.erase(0, folder.size());
  line += " -> " + shown;
  const size_t n = outcome.warnings.size();
  if (n) line += " (" + std::to_string(n) + (n == 1 ? " warning)" : " warnings)");
  return line;
}

std::string OutcomeLists(const EntryOutcomes& outcomes, bool cancelled) {
  std::string out;
  for (size_t i = 0; i < outcomes.size(); ++i) {
    const CMainDialog::EntryOutcome& o = outcomes[i];
    if (!o.written) out += "not written: " + o.path + ": " + Reason(o, cancelled && i + 1 == outcomes.size()) + "\n";
    for (const std::string& w : o.warnings) out += "warning: " + o.path + ": " + w + "\n";
  }
  return out;
}

std::string SummaryLine(const EntryOutcomes& outcomes, double seconds, bool cancelled, int notReached) {
  int written = 0, warned = 0, failed = 0;
  for (const CMainDialog::EntryOutcome& o : outcomes) {
    if (!o.written) {
      ++failed;
      continue;
    }
    ++written;
    if (!o.warnings.empty()) ++warned;
  }
  char text[160];
  std::snprintf(text, sizeof text, "%d written, %d with warnings, %d not written in %.1f s", written, warned, failed,
                seconds < 0 ? 0.0 : seconds);
  std::string line = text;
  if (cancelled) line += "; cancelled, " + std::to_string(notReached < 0 ? 0 : notReached) + " not reached";
  return line;
}

void CCommandProgress::PrintDone(bool all) {
  if (m_quiet || !m_shown || OnTerminal()) return;
  const EntryOutcomes& outcomes = m_dialog.m_outcomes;
  if (m_printed > outcomes.size()) m_printed = 0;  // a new run
  const size_t done = all ? outcomes.size() : (outcomes.empty() ? 0 : outcomes.size() - 1);
  for (; m_printed < done; ++m_printed) {
    const bool cancelled = all && m_dialog.m_cancel && m_printed + 1 == outcomes.size();
    const std::string line =
        EntryLine(outcomes[m_printed], static_cast<int>(m_printed) + 1, m_fileTotal, cancelled);
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  std::fflush(stderr);
}

int CCommandProgress::DestroyWindow() {
  PrintDone(true);
  m_printed = 0;
  return CProgressDlg::DestroyWindow();
}

void CCommandProgress::SetFileCounter(int i) {
  CProgressDlg::SetFileCounter(i);
  PrintDone(false);
}

void CCommandProgress::SetStatusText(const std::string& text) {
  CProgressDlg::SetStatusText(text);
  PrintDone(false);
}
