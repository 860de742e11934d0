// The qrv command: the queue from the command line, the settings from a profile and --set
// assignments (each checked before the run), then a run over every checked entry (or one entry)
// as the main dialog does it, and what became of each entry on stderr.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/CIniFile.h"
#include "app/CommandReport.h"
#include "app/pages/Profile.h"
#include "engine/CRGBImage.h"
#include "engine/ErrorText.h"
#include "engine/shell/CMainDialog.h"
#include "engine/shell/ShellServices.h"

#ifndef QRV_VERSION
#define QRV_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: qrv [--home DIR] [--profile FILE.qrv] [--set Section.Key=Value]... [--mode simple|advanced]\n"
    "           [--black-frame FILE] [--yes] [--current N] [-q] [--] PATH...\n";

void Help() {
  std::printf(
      "%s"
      "Corrects each picture given (a folder stands for its picture files) and writes the results\n"
      "as NAME_QRV files, by default in a \"QRV\" folder beside each source.\n"
      "\n"
      "  --home DIR          home folder (HOME) with the profiles and help/log.html; made when missing\n"
      "  --profile FILE.qrv  settings profile (default: HOME/current.qrv, else HOME/default.qrv)\n"
      "  --set S.K=V         changes one setting after the profile, e.g. --set Size.Type=1; repeatable\n"
      "  --mode MODE         simple or advanced (default: the profile's [Mode] Advanced)\n"
      "  --black-frame FILE  black frame to subtract from long exposures (with HotPixels.BF=1)\n"
      "  --yes               answers Yes to the size-limit question (Quality.Type=1)\n"
      "  --current N         runs entry N of the queue only\n"
      "  -q                  prints only the entries not written and those written with warnings\n"
      "  --version           prints the version\n"
      "  -h, --help          prints this help\n"
      "  --                  ends the options: every later argument is a path\n"
      "\n"
      "Without --home, HOME is $QRV_HOME, else the program's folder.\n"
      "Every section and key of a profile, with its allowed values, is described in the shipped\n"
      "default profile, default.qrv (app/default.qrv in the sources).\n"
      "Exit status: 0 every entry written, 1 some not written, 2 a usage error, a bad setting or an\n"
      "unconfirmed size limit, 130 cancelled with Ctrl-C.\n",
      kUsage);
}

// A usage error: what is wrong, and where the options are described. Exit status 2.
int UsageError(const std::string& text) {
  std::fprintf(stderr, "qrv: %s\nTry 'qrv --help' for the options.\n", text.c_str());
  return 2;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
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

// The home folder and its "help" folder, made when missing; "" when the log can be written there.
std::string PrepareHome(const std::string& home) {
  const std::string help = home + "/help";
  std::string reason;
  if (ValidateAndCreateFolder(help, 0, &reason) != 0) return "cannot create " + help + " (" + reason + ")";
  if (access(help.c_str(), W_OK | X_OK) != 0) return "cannot write in " + help + ": " + std::strerror(errno);
  return std::string();
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

// Reads and checks a profile; false (reported) when it cannot be read or holds an error.
bool LoadCheckedProfile(const std::string& path, CIniFile& ini) {
  std::string text, error;
  if (!CIniFile::ReadText(path, &text, &error)) {
    std::fprintf(stderr, "qrv: cannot read profile %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  constexpr size_t kShown = 20;
  const std::vector<ProfileProblem> problems = CheckProfileText(text);
  bool refused = false;
  for (size_t i = 0; i < problems.size(); ++i) {
    const ProfileProblem& p = problems[i];
    refused |= p.error;
    if (i < kShown)
      std::fprintf(stderr, "qrv: %s%s:%d: %s\n", p.error ? "" : "warning: ", path.c_str(), p.line, p.text.c_str());
  }
  if (problems.size() > kShown)
    std::fprintf(stderr, "qrv: %s: %zu more problems not shown\n", path.c_str(), problems.size() - kShown);
  if (refused) return false;
  ini.Parse(text);
  return true;
}

// Applies the --set items, then checks each against the settings they give together.
bool ApplySettings(const std::vector<std::string>& assignments, CIniFile& ini) {
  for (const std::string& a : assignments) {
    if (!ini.SetFromAssignment(a)) {
      UsageError("--set " + a + ": takes Section.Key=Value, such as Size.Type=1");
      return false;
    }
  }
  bool ok = true;
  for (const std::string& a : assignments) {
    std::string section, key, value, message, hint;
    CIniFile::SplitAssignment(a, &section, &key, &value);
    if (CheckSetting(section, key, value, ini, &message, &hint) == SettingStatus::kOk) {
      // New steps must still hold the slider's NoExif step, wherever that came from.
      const size_t n = key.size();
      if (n < 5 || strcasecmp(key.c_str() + n - 5, "steps") != 0) continue;
      const std::string noExif = key.substr(0, n - 5) + "NoExif";
      if (!ini.Has(section, noExif)) continue;
      const std::string index = ini.GetString(section, noExif, "");
      if (CheckSetting(section, noExif, index, ini, &message) == SettingStatus::kOk) continue;
      message = "with these steps " + noExif + "=" + message;
    }
    std::fprintf(stderr, "qrv: --set %s: %s%s%s\n", a.c_str(), message.c_str(), hint.empty() ? "" : "; ",
                 hint.c_str());
    ok = false;
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::string home, profile, blackFrame, mode;
  std::vector<std::string> assignments, paths;
  bool yes = false, quiet = false;
  long current = -1;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options || arg.empty() || arg[0] != '-' || arg == "-") {
      paths.push_back(arg);
      continue;
    }
    // An option that takes a value: false (reported) when the value is missing.
    std::string value;
    auto take = [&](const char* what) {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        UsageError(arg + " needs " + what);
        return false;
      }
      value = argv[++i];
      return true;
    };
    if (arg == "--") {
      options = false;
    } else if (arg == "--home") {
      if (!take("a folder")) return 2;
      home = value;
    } else if (arg == "--profile") {
      if (!take("a profile file")) return 2;
      profile = value;
    } else if (arg == "--set") {
      if (!take("Section.Key=Value")) return 2;
      assignments.push_back(value);
    } else if (arg == "--mode") {
      if (!take("simple or advanced")) return 2;
      if (value != "simple" && value != "advanced")
        return UsageError("--mode takes simple or advanced, not " + value);
      mode = value;
    } else if (arg == "--black-frame") {
      if (!take("a picture file")) return 2;
      blackFrame = value;
    } else if (arg == "--yes") {
      yes = true;
    } else if (arg == "-q") {
      quiet = true;
    } else if (arg == "--current") {
      if (!take("an entry number")) return 2;
      char* end = nullptr;
      errno = 0;
      current = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || !end || *end || errno == ERANGE || current < 1 || current > INT_MAX)
        return UsageError("--current takes an entry number 1, 2, ..., not " + value);
    } else if (arg == "--version") {
      std::printf("qrv %s\n", QRV_VERSION);
      return 0;
    } else if (arg == "-h" || arg == "--help") {
      Help();
      return 0;
    } else {
      return UsageError("unknown option " + arg);
    }
  }
  if (paths.empty()) return UsageError("no picture or folder given");

  CMainDialog dialog;
  if (!home.empty()) {
    dialog.SetHomeFolder(Absolute(home));
    const std::string reason = PrepareHome(dialog.HomeFolder());
    if (!reason.empty()) {
      std::fprintf(stderr, "qrv: --home %s: %s\n", home.c_str(), reason.c_str());
      return 2;
    }
  } else {
    mkdir((dialog.HomeFolder() + "/help").c_str(), 0777);  // the log is lost when this fails
  }

  // Settings: the profile, else the home folder's current or default profile, then --set.
  CIniFile ini;
  std::string profilePath = profile;
  if (profilePath.empty()) {
    for (const char* name : {"/current.qrv", "/default.qrv"}) {
      if (Exists(dialog.HomeFolder() + name)) {
        profilePath = dialog.HomeFolder() + name;
        break;
      }
    }
  }
  if (!profilePath.empty() && !LoadCheckedProfile(profilePath, ini)) return 2;
  if (!ApplySettings(assignments, ini)) return 2;
  ReadProfile(ini, dialog.m_pages, dialog.m_app.m_advancedMode);
  if (mode == "simple") dialog.m_app.m_advancedMode = 0;
  if (mode == "advanced") dialog.m_app.m_advancedMode = 1;

  // The size-limit question: Yes with --yes; asked on a terminal; otherwise No, and its text is
  // kept to say what was declined.
  std::string declinedQuestion;
  if (yes)
    SetQuestionHandler([](const std::string&) { return 1; });
  else if (!isatty(STDIN_FILENO))
    SetQuestionHandler([&declinedQuestion](const std::string& question) {
      declinedQuestion = question;
      return 0;
    });

  if (!blackFrame.empty()) {
    CRGBImage frame;
    const int error = frame.Load(blackFrame);
    if (error != 0 || frame.GetWidth() <= 0) {
      std::fprintf(stderr, "qrv: cannot load black frame %s: %s\n", blackFrame.c_str(),
                   error != 0 ? LibraryErrorText(static_cast<ISErrorCode>(error)).c_str() : "an empty picture");
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
  if (current > dialog.m_cueList.GetCount()) {
    std::fprintf(stderr, "qrv: --current %ld: the queue has %d entries\n", current, dialog.m_cueList.GetCount());
    return 2;
  }

  CCommandProgress progress(dialog);
  progress.m_quiet = quiet;
  dialog.m_progress = &progress;
  if (current > 0) dialog.m_cueList.SetCurSel(static_cast<int>(current - 1));
  const int before = dialog.m_tab.GetCurSel();
  const time_t started = std::time(nullptr);
  const auto clockStart = std::chrono::steady_clock::now();
  if (current > 0)
    dialog.RunCurrentImage();
  else
    dialog.RunAllFiles();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - clockStart).count();
  dialog.m_progress = nullptr;
  SetQuestionHandler(nullptr);

  if (!declinedQuestion.empty() ||
      (dialog.m_pages.sizeQuality.m_qualityType == 1 && dialog.m_tab.GetCurSel() == 7 && before != 7)) {
    if (!declinedQuestion.empty())
      std::fprintf(stderr, "qrv: the size-limit question:\n%s\nqrv: not started: nobody can answer it here; --yes answers Yes\n",
                   declinedQuestion.c_str());
    else
      std::fprintf(stderr, "qrv: not started (size limit not confirmed)\n");
    return 2;
  }
  if (dialog.m_cueList.GetCount() == 0) return 1;  // "No files to process" was shown

  // The log line only when this run wrote the log.
  const std::string log = dialog.HomeFolder() + "/help/log.html";
  struct stat st {};
  if (!quiet && stat(log.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime >= started)
    std::printf("log: %s\n", log.c_str());
  std::fflush(stdout);

  const bool cancelled = dialog.m_cancel != 0;
  int notWritten = 0;
  for (const CMainDialog::EntryOutcome& o : dialog.m_outcomes) notWritten += o.written ? 0 : 1;
  const std::string lists = OutcomeLists(dialog.m_outcomes, cancelled);
  std::fputs(lists.c_str(), stderr);
  if (!quiet) {
    const int reached = static_cast<int>(dialog.m_outcomes.size());
    const int total = current > 0 ? 1 : dialog.m_cueList.GetCount();
    std::fprintf(stderr, "%s\n", SummaryLine(dialog.m_outcomes, seconds, cancelled, total - reached).c_str());
  }
  if (cancelled) return 130;
  return notWritten ? 1 : 0;
}
