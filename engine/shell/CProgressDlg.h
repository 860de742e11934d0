// The progress window of a run, as a console display on stderr: on a terminal a bar for the
// current picture and one for the queue, the status line and the queue counter, redrawn in
// place; when stderr is not a terminal nothing is drawn (a caller that knows each entry's outcome
// prints a line per entry instead). Ctrl-C (SIGINT) is its Cancel button while the window
// exists. The operations are virtual so that a test can record them.
#pragma once

#include <string>

#include "platform/win32_types.h"

class CProgressDlg {
 public:
  CProgressDlg() = default;
  virtual ~CProgressDlg();
  CProgressDlg(const CProgressDlg&) = delete;
  CProgressDlg& operator=(const CProgressDlg&) = delete;

  // Shows the window: Ctrl-C now counts as Cancel instead of ending the program.
  virtual int Create();
  // Closes the window and gives Ctrl-C its earlier meaning back.
  virtual int DestroyWindow();

  virtual void SetImageRange(int low, int high);
  virtual void SetFileTotal(int n);
  virtual void SetFileCounter(int i);
  virtual void SetImagePos(int percent);
  // Non-zero when Cancel (Ctrl-C) was pressed since the last call; clears the flag.
  virtual int CheckCancel();
  virtual void ShowThumbnail(const BYTE* pixels, int width, int height);
  virtual void SetStatusText(const std::string& text);

  // No drawing at all (the command's -q).
  bool m_quiet = false;
  // True while shown when stderr is a terminal (known from Create on).
  bool OnTerminal() const { return m_terminal; }

  // Recorded state of the window.
  bool m_shown = false;
  int m_imageLow = 0, m_imageHigh = 100, m_imagePos = 0;
  int m_fileTotal = 0, m_fileCounter = 0;
  std::string m_status;

  // Raises the Cancel flag as Ctrl-C does (for callers other than the signal handler).
  static void RequestCancel();

 private:
  void Draw();
  bool m_handlerInstalled = false;
  bool m_terminal = false;
  std::string m_lastLine;
};
