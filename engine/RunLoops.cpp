// The run loops: every checked queue entry (or the selected one) through loading, the correction
// pipeline and the output writer, under the progress window, recorded in the HTML log.
#include <cstdio>
#include <ctime>

#include "engine/ErrorText.h"
#include "engine/HtmlLog.h"
#include "engine/shell/CMainDialog.h"
#include "engine/shell/ShellServices.h"

namespace {

// The log is UTF-8: names and texts from files keep their characters in any browser.
constexpr const char* kLogHead =
    "<head><meta charset=\"utf-8\"></head><body bgcolor=\"#ffffff\"><p><b>Log</b></p><hr>\r\n";
constexpr const char* kCancelled = "**** Process Cancelled by User *************<hr>";

std::string DateLine() {
  const time_t now = std::time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  char text[128];
  std::strftime(text, sizeof text, "%H::%M::%S  %A, %B %d, %Y", &local);
  return std::string(text) + "<br>";
}

// The dialog's own progress window, or a console one for the length of a run.
struct RunProgress {
  explicit RunProgress(CProgressDlg* given) : dlg(given ? given : &own) {}
  CProgressDlg own;
  CProgressDlg* dlg;
};

}  // namespace

void CMainDialog::ShowMessage(const std::string& text) {
  m_lastMessage = text;
  ConsoleWrite(text);  // on a line of its own, below a drawn progress line
}

bool CMainDialog::ConfirmSizeLimit() {
  m_pages.sizeQuality.UpdateData(1);
  if (m_pages.sizeQuality.m_qualityType != 1) return true;
  char limit[64];
  std::snprintf(limit, sizeof limit, "%gkB", m_pages.sizeQuality.m_maxKB);
  const std::string question =
      std::string("The settings in Size & Quality Tab indicate that you want QRV to determine\n"
                  "the maximum quality providing the result file size is smaller or equal ") +
      limit +
      "\nThis may result in image with far lower quality than the original.\n\n"
      "Are you sure you would like to continue with this setting?";
  if (AskYesNo(question)) return true;
  m_tab.SetCurSel(7);
  ShowCurrentPage();
  return false;
}

namespace {

// Loads one entry, logs it and runs the pipeline; false when the load failed (logged in red).
bool LoadAndProcess(CMainDialog& dialog, const std::string& path, int counter, CProgressDlg& progress) {
  dialog.m_outcomes.emplace_back();
  dialog.m_outcomes.back().path = path;
  if (!dialog.LoadSourceImage(path)) {
    const int error = dialog.m_lastLoadError;
    // An empty picture with no error: an unknown format, or what the load said of the file.
    const std::string reason = error != 0 ? LibraryErrorText(static_cast<ISErrorCode>(error), dialog.m_loadWarning)
                               : dialog.m_loadWarning.empty() ? std::string("unknown picture format")
                                                              : dialog.m_loadWarning;
    dialog.LogEntryError("Can't load file: " + path + " (" + reason + ")");
    return false;
  }
  progress.SetFileCounter(counter);
  progress.ShowThumbnail(dialog.m_workImage.data(), dialog.m_workWidth, dialog.m_workHeight);
  if (dialog.m_pages.output.m_detailedLog) {
    dialog.AppendLog("<hr>" + dialog.LogTime() + kLogFontFile + "<b>Src:</b></font>" + HtmlEscape(path) + "<br>",
                     0);
    if (dialog.m_exifPresent)
      dialog.AppendLog(std::string(kLogFontStep) + "Date: " + HtmlEscape(dialog.m_date) +
                           " Model: " + dialog.m_infoHtml + "</font><br>\r\n",
                       0);
  }
  if (!dialog.m_loadWarning.empty())
    dialog.LogEntryWarning("Damaged source: " + dialog.m_loadWarning + " (written as far as it could be decoded)");
  dialog.m_colorMatched = 0;
  dialog.ProcessImage(dialog.m_workImage.data(), dialog.m_workWidth, dialog.m_workHeight, nullptr, 0, 0, &progress);
  return true;
}

}  // namespace

void CMainDialog::RunAllFiles() {
  if (!ConfirmSizeLimit()) return;
  m_cancel = 0;
  if (m_cueList.GetCount() == 0) {
    ShowMessage("No files to process");
    return;
  }
  RunProgress run(m_progress);
  CProgressDlg& progress = *run.dlg;
  progress.Create();
  progress.SetImageRange(0, 100);
  progress.SetFileTotal(m_cueList.GetCount());
  AppendLog(kLogHead, 1);
  m_outcomes.clear();
  m_pictureNames.clear();
  for (int i = 0; i < m_cueList.GetCount(); ++i) {
    if (m_cueList.GetCheck(i) <= 0) continue;
    AppendLog(DateLine(), 0);
    // The step first: the entry's first frame names its own step, not the last one's.
    progress.SetStatusText("Loading...");
    progress.SetFileCounter(i);
    progress.SetImagePos(0);
    const std::string path = m_cueList.GetText(i);
    const bool loaded = LoadAndProcess(*this, path, i + 1, progress);
    if (loaded) progress.ShowThumbnail(m_workImage.data(), m_workWidth, m_workHeight);
    if (m_cancel) {
      AppendLog("File was not saved<hr>" + LogTime() + kCancelled, 0);
      ShowMessage("Process Cancelled by user");
      break;
    }
    if (!loaded) continue;  // nothing written, the entry stays checked
    progress.SetStatusText("Saving...");
    if (WriteOutputImage(path, &progress)) m_cueList.SetCheck(i, 0);
    progress.SetImagePos(100);
  }
  AppendLog("<hr>" + LogTime() + "Finished<hr>", 0);
  AppendLog("<a href=\"qrv1.html\">QRV help</a><br>", 0);
  AppendLog("</body>", 0);
  m_pages.mode.ShowHtmlFile("log2.html");
  progress.DestroyWindow();
  m_tab.SetCurSel(0);
  ShowCurrentPage();
}

void CMainDialog::RunCurrentImage() {
  m_cancel = 0;
  const int current = m_cueList.GetCurSel();
  if (current < 0) {
    ShowMessage("There is no file selected.\nPlease select any image in the Cue List.");
    return;
  }
  if (!ConfirmSizeLimit()) return;
  AppendLog(kLogHead, 1);
  m_outcomes.clear();
  m_pictureNames.clear();
  AppendLog(DateLine(), 0);
  RunProgress run(m_progress);
  CProgressDlg& progress = *run.dlg;
  progress.Create();
  progress.SetImageRange(0, 100);
  progress.SetFileTotal(1);
  progress.SetStatusText("Loading...");
  progress.SetFileCounter(0);
  m_lastWriteOk = 0;
  const std::string path = m_cueList.GetText(current);
  const bool loaded = LoadAndProcess(*this, path, 1, progress);
  if (loaded) progress.ShowThumbnail(m_workImage.data(), m_workWidth, m_workHeight);
  if (m_cancel) {
    AppendLog("<hr>" + LogTime() + kCancelled, 0);
    ShowMessage("Process Cancelled by user");
  } else if (loaded) {
    progress.SetStatusText("Saving...");
    m_lastWriteOk = WriteOutputImage(path, &progress) ? 1 : 0;
  }
  progress.SetImagePos(100);
  AppendLog("<hr>" + LogTime() + "Finished<br><a href=\"qrv1.html\">Go Back</a></body>", 0);
  m_pages.mode.ShowHtmlFile("log.html");
  progress.DestroyWindow();
}
