// The progress window of a run, as a console display on stderr: on a terminal one line, redrawn
// in place and fitted to the terminal's width, with the entry's number, its file's name, the
// step and the percentage; when stderr is not a terminal nothing is drawn (a caller that knows
// each entry's outcome prints a line per entry instead). Ctrl-C (SIGINT), SIGTERM and SIGHUP
// are its Cancel button while the window is shown. The operations are virtual so that a test can record them.
//
// The command's messages and the dialog's message boxes go through ConsoleWrite, which shows
// control characters as \xNN (ConsoleText) and starts on a line of its own when a progress line
// is drawn.
#pragma once

#include <string>

#include "platform/win32_types.h"

// The text with every control character (C0, DEL and C1) and every byte that is not part of
// valid UTF-8 shown as \xNN (lower-case hex; a C1 character as its two bytes), and every
// invisible format character (bidirectional overrides and isolates, zero-width spaces and
// joiners, the soft hyphen, the byte-order mark, line and paragraph separators) as \uNNNN
// (\UNNNNNNNN above U+FFFF), so that a file name or a text read from a file cannot move the
// cursor, retitle the window, clear the screen or show itself reordered. Other valid UTF-8 and
// backslashes stay as they are, so shown text comes back unchanged. The log shows texts the same
// way (HtmlEscape).
std::string ConsoleText(const std::string& text);
// How many terminal columns the text takes once shown: an East Asian wide or fullwidth character
// two, a combining mark none, any other character one (the process locale plays no part).
size_t ConsoleColumns(const std::string& text);
// The shown text in at most `columns` columns: cut in the middle with "..." (or at the end when
// `middle` is false); an escape is never split, nor a character from its combining marks.
std::string ConsoleFit(const std::string& text, size_t columns, bool middle = true);
// The width of the terminal on stderr: its window size, else $COLUMNS, else 80.
int ConsoleWidth();
// Writes the text's lines to stderr, each shown through ConsoleText. A progress line drawn on
// the terminal is cleared first, so the text starts on a line of its own (the next redraw puts
// the progress line back below it).
void ConsoleWrite(const std::string& text);

class CProgressDlg {
 public:
  CProgressDlg() = default;
  virtual ~CProgressDlg();
  CProgressDlg(const CProgressDlg&) = delete;
  CProgressDlg& operator=(const CProgressDlg&) = delete;

  // Shows the window: Ctrl-C, SIGTERM and SIGHUP now count as Cancel instead of ending the
  // program.
  virtual int Create();
  // Closes the window (the drawn line is cleared) and gives those signals their earlier meaning
  // back.
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
  // The signal that pressed Cancel since the last Create (SIGINT, SIGTERM or SIGHUP); 0 when
  // none did.
  static int CancelSignal();

  // The drawn line for a terminal `width` columns wide: "[3/20] NAME  STEP  45%", the name
  // (the file's base name) shortened in the middle and then the step at its end until the
  // line fits in width - 1 columns.
  static std::string ProgressLine(int number, int total, const std::string& path, const std::string& step,
                                  int percent, int width);

 protected:
  // The entry the drawn line names: its number and its file's path. False draws nothing now
  // (between two entries). This class knows no file: it shows the file counter alone.
  virtual bool DrawnEntry(int* number, std::string* path) const;
  // Redraws the line (on a terminal, when shown and not quiet).
  void Draw();

 private:
  void RestoreSignals();
  bool m_handlerInstalled = false;
  bool m_terminal = false;
};
