// What the qrv command tells about a run on stderr: a line per entry as it ends when stderr is
// not a terminal, then the entries not written and those written with warnings, each with its
// reason as the log gives it, and a summary line.
#pragma once

#include <string>
#include <vector>

#include "engine/shell/CMainDialog.h"

using EntryOutcomes = std::vector<CMainDialog::EntryOutcome>;

// "[3/20] IMG_0003.JPG -> QRV/IMG_0003_QRV.JPG" (the output relative to the source's folder when
// it lies below it), or "[3/20] IMG_0003.JPG: not written: <reason>".
std::string EntryLine(const CMainDialog::EntryOutcome& outcome, int number, int total, bool cancelled);
// One "not written: PATH: reason" line for each entry not written and one "warning: PATH: text"
// line for each warning, in queue order. `cancelled` marks the last entry as the one cancelled.
std::string OutcomeLists(const EntryOutcomes& outcomes, bool cancelled);
// "18 written, 1 with warnings, 1 not written in 3.4 s"; the written count includes those with
// warnings. A cancelled run adds how many entries it did not reach.
std::string SummaryLine(const EntryOutcomes& outcomes, double seconds, bool cancelled, int notReached);

// The command's progress window: the bars on a terminal; otherwise one EntryLine per entry,
// printed once the entry is done. Nothing at all with m_quiet.
class CCommandProgress : public CProgressDlg {
 public:
  explicit CCommandProgress(const CMainDialog& dialog) : m_dialog(dialog) {}
  int DestroyWindow() override;
  void SetFileCounter(int i) override;
  void SetStatusText(const std::string& text) override;

 private:
  // Prints the lines of the entries that are done: all but the one being run, or all.
  void PrintDone(bool all);
  const CMainDialog& m_dialog;
  size_t m_printed = 0;
};
