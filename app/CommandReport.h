// What the qrv command tells about a run on stderr: a line per entry as it ends (on a terminal
// below the redrawn progress line), then the entries not written and those written with
// warnings, each with its reason as the log gives it, and a summary line. Names and reasons are
// shown with their control characters escaped (ConsoleText).
#pragma once

#include <string>
#include <vector>

#include "engine/shell/CMainDialog.h"

using EntryOutcomes = std::vector<CMainDialog::EntryOutcome>;

// "[3/20] IMG_0003.JPG -> QRV/IMG_0003_QRV.JPG" (the output relative to the source's folder when
// it lies below it), or "[3/20] IMG_0003.JPG: not written: <reason>".
std::string EntryLine(const CMainDialog::EntryOutcome& outcome, int number, int total, bool cancelled);
// One "not written: PATH: reason" line for each entry not written and one "warning: PATH: text"
// line for each warning, in queue order ("PATH: " left out where the text names the path).
// `cancelled` marks the last entry as the one cancelled.
std::string OutcomeLists(const EntryOutcomes& outcomes, bool cancelled);
// "18 written, 1 with warnings, 1 not written in 3.4 s"; the written count includes those with
// warnings. A cancelled run adds how many entries it did not reach.
std::string SummaryLine(const EntryOutcomes& outcomes, double seconds, bool cancelled, int notReached);

// The command's progress window: on a terminal the progress line names the entry being run; on
// a terminal or not, one EntryLine per entry is printed once the entry is done. Nothing at all
// with m_quiet.
class CCommandProgress : public CProgressDlg {
 public:
  explicit CCommandProgress(const CMainDialog& dialog) : m_dialog(dialog) {}
  int DestroyWindow() override;
  void SetImagePos(int percent) override;

  // The queue entry that a one-entry run (RunCurrentImage) works on; -1 for a run of all files.
  int m_only = -1;

 protected:
  bool DrawnEntry(int* number, std::string* path) const override;

 private:
  // Every entry reached so far is done: prints the lines of those not printed yet.
  void EntriesDone();
  const CMainDialog& m_dialog;
  size_t m_done = 0;     // entries known to be done
  size_t m_printed = 0;  // entries whose line was printed
};
