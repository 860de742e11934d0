// The qrv command: the queue from the command line, the settings from a profile and --set
// assignments, then a run over every checked entry (or one entry) as the main dialog does it.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/CIniFile.h"
#include "app/pages/Profile.h"
#include "engine/CRGBImage.h"
#include "engine/shell/CMainDialog.h"
#include "engine/shell/ShellServices.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: qrv [--home DIR] [--profile FILE.qrv] [--set Section.Key=Value]... "
               "[--mode simple|advanced]\n"
               "           [--black-frame FILE] [--yes] [--current N] [-q] PATH...\n");
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return path;
  std::string base(cwd);
  std::string rest = path;
  while (rest.compare(0, 2, "./") == 0) rest.erase(0, 2);
  return base == "/" ? "/" + rest : base + "/" + rest;
}

// A folder's picture files (listed extensions), sorted; none when it is an output folder.
std::vector<std::string> FolderPictures(const std::string& folder) {
  std::vector<std::string> files;
  if (IsFile(folder + "/qrvoutput.dir")) return files;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return files;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const std::string full = folder + "/" + name;
    if (FormatFromExtension(name) != IFF_UNKNOWN && IsFile(full)) files.push_back(full);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  std::string home, profile, blackFrame, mode;
  std::vector<std::string> assignments, paths;
  bool yes = false, quiet = false;
  long current = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--home") {
      if (!value(home)) return Usage(), 2;
    } else if (arg == "--profile") {
      if (!value(profile)) return Usage(), 2;
    } else if (arg == "--set") {
      if (!value(text)) return Usage(), 2;
      assignments.push_back(text);
    } else if (arg == "--mode") {
      if (!value(mode) || (mode != "simple" && mode != "advanced")) return Usage(), 2;
    } else if (arg == "--black-frame") {
      if (!value(blackFrame)) return Usage(), 2;
    } else if (arg == "--yes") {
      yes = true;
    } else if (arg == "-q") {
      quiet = true;
    } else if (arg == "--current") {
      if (!value(text)) return Usage(), 2;
      char* end = nullptr;
      current = std::strtol(text.c_str(), &end, 10);
      if (!end || *end || current < 1) return Usage(), 2;
    } else if (arg == "-h" || arg == "--help") {
      Usage();
      return 0;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      Usage();
      return 2;
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.empty()) return Usage(), 2;

  CMainDialog dialog;
  if (!home.empty()) dialog.SetHomeFolder(Absolute(home));
  mkdir((dialog.HomeFolder() + "/help").c_str(), 0777);

  // Settings: the profile, else the home folder's current or default profile, then --set.
  CIniFile ini;
  if (!profile.empty()) {
    if (!ini.Load(profile)) {
      std::fprintf(stderr, "qrv: cannot read profile %s\n", profile.c_str());
      return 2;
    }
  } else if (!ini.Load(dialog.HomeFolder() + "/current.qrv")) {
    ini.Load(dialog.HomeFolder() + "/default.qrv");
  }
  for (const std::string& a : assignments) {
    if (!ini.SetFromAssignment(a)) {
      std::fprintf(stderr, "qrv: malformed --set %s\n", a.c_str());
      return 2;
    }
  }
  ReadProfile(ini, dialog.m_pages, dialog.m_app.m_advancedMode);
  if (mode == "simple") dialog.m_app.m_advancedMode = 0;
  if (mode == "advanced") dialog.m_app.m_advancedMode = 1;
  if (yes) SetQuestionHandler([](const std::string&) { return 1; });

  if (!blackFrame.empty()) {
    CRGBImage frame;
    if (frame.Load(blackFrame) != 0 || frame.GetWidth() <= 0) {
      std::fprintf(stderr, "qrv: cannot load black frame %s\n", blackFrame.c_str());
      return 2;
    }
    const BYTE* p = frame.LockPixels();
    dialog.m_blackFrame.assign(p, p + static_cast<size_t>(frame.GetWidth()) * frame.GetHeight() * 3);
    frame.UnlockPixels();
    dialog.m_blackFrameWidth = frame.GetWidth();
    dialog.m_blackFrameHeight = frame.GetHeight();
  }

  // The queue.
  for (const std::string& p : paths) {
    const std::string full = Absolute(p);
    if (IsFolder(full)) {
      for (const std::string& f : FolderPictures(full)) dialog.m_cueList.AddString(f, 1);
    } else {
      dialog.m_cueList.AddString(full, 1);
    }
  }

  CProgressDlg progress;
  progress.m_quiet = quiet;
  dialog.m_progress = &progress;
  if (current > 0) {
    if (current > dialog.m_cueList.GetCount()) {
      std::fprintf(stderr, "qrv: --current %ld: the queue has %d entries\n", current, dialog.m_cueList.GetCount());
      return 2;
    }
    dialog.m_cueList.SetCurSel(static_cast<int>(current - 1));
  }
  const int before = dialog.m_tab.GetCurSel();
  if (current > 0)
    dialog.RunCurrentImage();
  else
    dialog.RunAllFiles();
  dialog.m_progress = nullptr;

  if (dialog.m_pages.sizeQuality.m_qualityType == 1 && dialog.m_tab.GetCurSel() == 7 && before != 7) {
    std::fprintf(stderr, "qrv: not started (size limit not confirmed; use --yes)\n");
    return 2;
  }
  std::printf("log: %s/help/log.html\n", dialog.HomeFolder().c_str());
  if (dialog.m_cueList.GetCount() == 0) return 1;
  if (dialog.m_cancel) return 130;
  int unwritten = 0;
  for (int i = 0; i < dialog.m_cueList.GetCount(); ++i) {
    if (current > 0) break;
    if (dialog.m_cueList.GetCheck(i) > 0) {
      if (!unwritten) std::printf("not written:\n");
      std::printf("  %s\n", dialog.m_cueList.GetText(i).c_str());
      ++unwritten;
    }
  }
  if (current > 0) return dialog.m_lastWriteOk ? 0 : 1;
  return unwritten ? 1 : 0;
}
