// The application object and the main window object of the shell: the mode word, the queue, the
// tab row, the settings pages, the working picture and the picture information. The engine's
// operations on them (the log, the correction pipeline, and the loading, writing and run loops)
// are member operations of CMainDialog, defined in the engine's own files.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/FileIdentity.h"
#include "engine/OutputMetadata.h"
#include "engine/shell/CProgressDlg.h"
#include "engine/shell/SettingsPages.h"
#include "platform/win32_types.h"

// The application object: its mode word is 1 in advanced mode, 0 in simple mode.
class CBatchApp {
 public:
  int m_advancedMode = 1;
};
extern CBatchApp theApp;

// The queue: a check list box of full paths.
class CCueListBox {
 public:
  int AddString(const std::string& text, int check = 1);
  int GetCount() const { return static_cast<int>(m_entries.size()); }
  std::string GetText(int i) const;
  // The check state of entry i; an entry counts as checked when this is greater than 0.
  int GetCheck(int i) const;
  void SetCheck(int i, int state);
  int GetCurSel() const { return m_curSel; }
  void SetCurSel(int i) { m_curSel = (i >= 0 && i < GetCount()) ? i : -1; }
  void ResetContent() {
    m_entries.clear();
    m_identities.clear();
    m_curSel = -1;
  }
  // The files the entries name, looked up once for as long as the queue stays as it is.
  const std::vector<FileIdentity>& Identities() const;

 private:
  struct Entry {
    std::string text;
    int check;
  };
  std::vector<Entry> m_entries;
  mutable std::vector<FileIdentity> m_identities;  // empty until asked for
  int m_curSel = -1;
};

// The tab row: 0 Mode (HTML view), 1 Output, 2 Balance, 3 Color Cast, 4 Hot Pixels, 5 Denoiser,
// 6 Details (sharpen), 7 Size & Quality, 8 Text Stamp. Tabs 2 to 6 have a simple and an advanced page.
class CTabCtrl {
 public:
  static constexpr int kTabCount = 9;
  int GetCurSel() const { return m_cur; }
  int SetCurSel(int i) {
    const int old = m_cur;
    if (i >= 0 && i < kTabCount) m_cur = i;
    return old;
  }

 private:
  int m_cur = 0;
};

struct PipelineRun;

// Writes a PackedRGB24 picture of width x height, stored as the camera's EXIF orientation
// (1 to 8) says, upright into dest: height x width for orientations 5 to 8, else width x height.
void TurnUpright(const BYTE* source, int width, int height, int orientation, BYTE* dest);

// A text label of the main window's information panel.
struct CInfoLabel {
  bool visible = true;
  std::string text;
};

class CMainDialog {
 public:
  explicit CMainDialog(CBatchApp& app = theApp);
  ~CMainDialog() = default;
  CMainDialog(const CMainDialog&) = delete;
  CMainDialog& operator=(const CMainDialog&) = delete;

  CBatchApp& m_app;

  // Program home folder ($QRV_HOME or the program's folder until set): holds "help/log.html"
  // and the profiles.
  void SetHomeFolder(const std::string& folder);
  const std::string& HomeFolder() const { return m_homeDir; }

  // ---- tab row ----
  // Shows the page of the selected tab (tabs 2 to 6 by the mode word), hides the others; the
  // shown page's name is recorded in m_visiblePage.
  void ShowCurrentPage();
  CTabCtrl m_tab;
  std::string m_visiblePage;

  // ---- HTML log (help/log.html) ----
  // Appends text to the log; start non-zero empties the file first. A missing "help" folder or
  // a file error loses the piece silently.
  void AppendLog(const std::string& text, int start);
  // The local time as "%H::%M::%S ".
  std::string LogTime() const;

  // ---- correction pipeline ----
  // Runs the twelve corrections in place over image A (the working picture of a run, or the
  // reduced picture of the preview) and image B (the preview's 1:1 crop; null in a run).
  void ProcessImage(BYTE* imageA, int widthA, int heightA, BYTE* imageB, int widthB, int heightB,
                    CProgressDlg* progress);

  // ---- source loading (engine/SourceLoader.cpp) ----
  // Loads one queue file into the working picture (turned upright) and the picture information;
  // 1 on success. A failed load, or one that gives an empty picture, returns 0 and leaves
  // everything but the source file size and time as it was.
  int LoadSourceImage(const std::string& path);
  // The library error code of the last load (0 also when a load gave an empty picture).
  int m_lastLoadError = 0;
  // What the decoder said about damaged data in the last successful load (the picture holds
  // what could be decoded); after a failed one, why the file was refused when that is known.
  std::string m_loadWarning;
  // Copies a PackedRGB24 picture into m_workImage (already sized width x height x 3) turned by
  // m_orientation, and sets the working width and height.
  void ApplyOrientation(const BYTE* source, int width, int height);
  // With the EXIF summary in the members: tidies make and model (longSide picks the names of
  // some cameras), fills the labels and the information text. exposureTime and shutterTime
  // are the summary's two exposure values in seconds (0 when unknown).
  void SetExifInformation(double exposureTime, double shutterTime, int longSide);

  // ---- output (engine/OutputWriter.cpp, engine/QualitySearch.cpp) ----
  // Writes the working picture as the output of the source at `path`; true when it was written.
  bool WriteOutputImage(const std::string& path, CProgressDlg* progress);
  int FindQualityAtLeast(int limit, int minimum, CProgressDlg* progress);
  int FindQualityInRange(int limit, int minimum, CProgressDlg* progress);
  int FindQualityForSize(int low, int high, int limit, CProgressDlg* progress);
  int EncodedSizeAtQuality(int quality);

  // ---- run loops (engine/RunLoops.cpp) ----
  void RunAllFiles();
  void RunCurrentImage();
  // The size-limit question of both runs; false when the run must not start.
  bool ConfirmSizeLimit();
  // A message box: the text goes to stderr and is kept in m_lastMessage.
  void ShowMessage(const std::string& text);
  std::string m_lastMessage;
  // 1 when the last WriteOutputImage of a run wrote its file.
  int m_lastWriteOk = 0;
  // The progress window of a run; the command replaces it by its terminal form.
  CProgressDlg* m_progress = nullptr;

  // What became of each entry that the last run reached, in queue order: the command lists the
  // entries not written and those written with warnings, then a summary.
  struct EntryOutcome {
    std::string path;                   // the source
    std::string output;                 // the file written; empty when none was
    FileIdentity outputIdentity;        // that file's device and inode when it was written
    bool written = false;
    std::string reason;                 // why it was not written, as the log's red line says it
    std::vector<std::string> warnings;  // what went wrong on a written entry, as the log says it
  };
  std::vector<EntryOutcome> m_outcomes;
  // The pictures whose names a numbered output must not take, for a source folder: the folder's
  // picture files and the queue's entries, by name without extension in lower case. Listed once
  // per run, when a number is first needed there.
  const std::set<std::string>& PictureNamesNear(const std::string& sourceFolder);
  std::map<std::string, std::set<std::string>> m_pictureNames;
  // A red log line (the text is escaped here) recorded against the entry being run: an error
  // says why the entry is not written, a warning marks a written entry as flawed.
  void LogEntryError(const std::string& text);
  void LogEntryWarning(const std::string& text);

  // ---- settings ----
  SettingsPages m_pages;
  CCueListBox m_cueList;

  // ---- working picture (PackedRGB24, replaced by the resize step) ----
  std::vector<BYTE> m_workImage;
  int m_workWidth = 0;
  int m_workHeight = 0;

  int m_cancel = 0;        // set to 1 when the user cancels inside the pipeline
  int m_colorMatched = 0;  // set by colour matching, read by the output writer

  // ---- picture information (filled when a picture is loaded) ----
  int64_t m_srcFileSize = 0;
  time_t m_srcFileTime = 0;
  std::string m_jpegComment;
  std::vector<BYTE> m_exifBlock;  // kept EXIF block; its length is the vector's size
  SourceMetadata m_sourceMetadata;  // colour profile, IPTC and XMP of the loaded file
  int m_sourceWidth = 0, m_sourceHeight = 0;  // the loaded picture's size, turned upright
  uint64_t m_loadedArea = 0;      // width x height of the picture as loaded (its EXIF's picture)
  int m_exifPresent = 0;
  std::string m_make, m_model, m_date;
  double m_exposureBias = 0.0;
  std::string m_exposureBiasText;
  double m_exposureSeconds = 0.0;
  std::string m_shutterText;
  double m_fNumber = 0.0;
  std::string m_fNumberText;
  double m_aperture = 0.0;
  std::string m_programText, m_meteringText;
  int m_lightSource = -1;
  int m_flash = -1;  // -1 absent, 0 not fired, otherwise fired
  int m_iso = 0;
  std::string m_isoText;
  double m_subjectDistance = 0.0;
  int m_colorSpace = 0;  // 1 = sRGB
  int m_orientation = 1;
  std::string m_userComment;
  std::string m_userCommentNote;  // why the camera's comment could not be decoded
  std::string m_infoHtml;
  std::string m_fileTitle, m_fileName;  // without and with the extension
  std::string m_widthText, m_heightText;
  CInfoLabel m_labelModel, m_labelShutter, m_labelFNumber, m_labelFlash, m_labelIso, m_labelFocus, m_labelSize;

  // Crop rectangle of the detail view, in picture coordinates.
  RECT m_cropRect{0, 0, 0, 0};

  // Loaded black frame (PackedRGB24 in the working picture's byte order); none when empty.
  std::vector<BYTE> m_blackFrame;
  int m_blackFrameWidth = 0;
  int m_blackFrameHeight = 0;
  // Why the black frame asked for could not be loaded; empty when it loaded or none was named.
  std::string m_blackFrameError;
  std::string m_blackFramePath;  // its file, which Replace never replaces

 private:
  friend struct PipelineRun;
  std::string m_homeDir;

  // The steps of the pipeline (engine/Pipeline*.cpp). Each returns false when the user cancelled.
  bool StepColorMatching(PipelineRun& run);
  bool StepCastRemoval(PipelineRun& run);
  bool StepAutoBalance(PipelineRun& run);
  bool StepFilterSimulation(PipelineRun& run);
  bool StepMidtones(PipelineRun& run);
  bool StepBlackFrame(PipelineRun& run);
  bool StepHotPixels(PipelineRun& run);
  bool StepDenoiser(PipelineRun& run);
  bool StepResize(PipelineRun& run);
  bool StepSharpen(PipelineRun& run);
  bool StepFinalColorFix(PipelineRun& run);
  bool StepTextStamp(PipelineRun& run);
};
