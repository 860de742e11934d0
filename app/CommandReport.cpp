// Entry lines, the lists of entries not written or written with warnings, and the summary.
#include "app/CommandReport.h"

#include <cstdio>

#include "engine/OutputNaming.h"

namespace {

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
  std::string line =
      "[" + std::to_string(number) + "/" + std::to_string(total) + "] " + ConsoleText(EntryName(outcome.path));
  if (!outcome.written) return line + ": not written: " + ConsoleText(Reason(outcome, cancelled));
  const std::string folder = Folder(outcome.path);
  std::string shown = outcome.output;
  if (!folder.empty() && shown.compare(0, folder.size(), folder) == 0) shown.erase(0, folder.size());
  line += " -> " + ConsoleText(shown);
  const size_t n = outcome.warnings.size();
  if (n) line += " (" + std::to_string(n) + (n == 1 ? " warning)" : " warnings)");
  return line;
}

std::string OutcomeLists(const EntryOutcomes& outcomes, bool cancelled) {
  std::string out;
  for (size_t i = 0; i < outcomes.size(); ++i) {
    const CMainDialog::EntryOutcome& o = outcomes[i];
    // The source's path leads each line, unless the text names it already.
    auto line = [&o](const char* head, const std::string& text) {
      const bool named = !o.path.empty() && text.find(o.path) != std::string::npos;
      return head + (named ? std::string() : ConsoleText(o.path) + ": ") + ConsoleText(text) + "\n";
    };
    if (!o.written) out += line("not written: ", Reason(o, cancelled && i + 1 == outcomes.size()));
    for (const std::string& w : o.warnings) out += line("warning: ", w);
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

void CCommandProgress::EntriesDone() {
  const EntryOutcomes& outcomes = m_dialog.m_outcomes;
  if (m_done > outcomes.size()) m_done = m_printed = 0;  // a new run
  m_done = outcomes.size();
  if (m_quiet || !m_shown) {
    m_printed = m_done;
    return;
  }
  std::string lines;
  for (; m_printed < m_done; ++m_printed) {
    const bool cancelled = m_dialog.m_cancel && m_printed + 1 == outcomes.size();
    lines += EntryLine(outcomes[m_printed], static_cast<int>(m_printed) + 1, m_fileTotal, cancelled) + "\n";
  }
  if (!lines.empty()) ConsoleWrite(lines);
}

int CCommandProgress::DestroyWindow() {
  EntriesDone();
  m_done = m_printed = 0;
  return CProgressDlg::DestroyWindow();
}

// The run loop sets 0 as an entry starts and 100 once it is written (the pipeline's own steps
// lie between): at both, every entry reached before is done.
void CCommandProgress::SetImagePos(int percent) {
  if (m_shown && (percent == 0 || percent == 100)) EntriesDone();
  CProgressDlg::SetImagePos(percent);
}

// The entry being run, or between two entries the one the run loop is about to load (its file
// counter is then the entry's queue index); nothing once the last entry is done.
bool CCommandProgress::DrawnEntry(int* number, std::string* path) const {
  const EntryOutcomes& outcomes = m_dialog.m_outcomes;
  if (outcomes.size() > m_done) {
    *number = static_cast<int>(outcomes.size());
    *path = outcomes.back().path;
    return true;
  }
  if (m_imagePos == 100 && !outcomes.empty()) return false;  // just done; the next has not begun
  const int index = m_only >= 0 ? m_only : m_fileCounter;
  if (index < 0 || index >= m_dialog.m_cueList.GetCount()) return false;
  *number = static_cast<int>(outcomes.size()) + 1;
  *path = m_dialog.m_cueList.GetText(index);
  return true;
}
