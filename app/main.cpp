// The qrv command: the queue from the command line, the settings from a profile and --set
// assignments (each checked before the run), then a run over every checked entry (or one entry)
// as the main dialog does it, and what became of each entry on stderr.
#include <dirent.h>
#include <signal.h>
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
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/CIniFile.h"
#include "app/CommandReport.h"
#include "app/pages/Profile.h"
#include "engine/CRGBImage.h"
#include "engine/ErrorText.h"
#include "engine/OutputNaming.h"
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
      "Corrects each picture given (a folder stands for its picture files; its subfolders are not\n"
      "searched) and writes the results as NAME_QRV files, by default in a \"QRV\" folder beside\n"
      "each source.\n"
      "\n"
      "  --home DIR          home folder (HOME) with the profiles and help/log.html; made when missing\n"
      "  --profile FILE.qrv  settings profile (default: HOME/current.qrv, else HOME/default.qrv)\n"
      "  --set S.K=V         changes one setting after the profile, e.g. --set Size.Type=1; repeatable\n"
      "  --mode MODE         simple or advanced (default: the profile's [Mode] Advanced)\n"
      "  --black-frame FILE  black frame to subtract from long exposures (with HotPixels.BF=1)\n"
      "  --yes               answers Yes to the size-limit question (Quality.Type=1)\n"
      "  --current N         runs entry N of the queue only\n"
      "  -q                  prints only the lists of entries not written and written with warnings\n"
      "                      (besides the problems of the settings and why nothing ran)\n"
      "  --version           prints the version\n"
      "  -h, --help          prints this help\n"
      "  --                  ends the options: every later argument is a path\n"
      "\n"
      "FilterSim.BW=1 (SimBW in simple mode) makes the picture grey through the filter named in\n"
      "FilterSim.Name (SimName); with no filter named it keeps its colours and is written with a warning.\n"
      "Without --home, HOME is $QRV_HOME (made when missing, as with --home), else the program's folder.\n"
      "Size.KeepEXIF=0 writes outputs without the source's EXIF (camera, date, GPS), XMP, IPTC and\n"
      "comments; the colour profile is still carried.\n"
      "Every section and key of a profile, with its allowed values, is described in the shipped\n"
      "default profile, default.qrv (app/default.qrv in the sources).\n"
      "Exit status: 0 every entry written, 1 some not written or no picture to work on (the folders\n"
      "given hold none), 2 a usage error, a bad setting or an unconfirmed size limit, 130 cancelled\n"
      "with Ctrl-C (143 with SIGTERM, 129 with SIGHUP).\n",
      kUsage);
}

// A usage error: what is wrong, and where the options are described. Exit status 2.
int UsageError(const std::string& text) {
  ConsoleWrite("qrv: " + text + "\nTry 'qrv --help' for the options.");
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

// The absolute path without "." and ".." parts and doubled slashes, when that names the same
// folder (a ".." after a symbolic link does not); else the path with its links resolved.
std::string NormalFolder(const std::string& path) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(pos, slash - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = slash + 1;
  }
  std::string lexical;
  for (const std::string& part : parts) lexical += "/" + part;
  if (lexical.empty()) lexical = "/";
  struct stat a {}, b {};
  if (stat(path.c_str(), &a) == 0 && stat(lexical.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino)
    return lexical;
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// The home folder and its "help" folder, made when missing; "" when the log can be written there.
std::string PrepareHome(const std::string& home) {
  const std::string help = home + "/help";
  std::string reason;
  if (ValidateAndCreateFolder(help, 0, &reason) != 0) return "cannot create " + help + " (" + reason + ")";
  if (access(help.c_str(), W_OK | X_OK) != 0) return "cannot write in " + help + ": " + std::strerror(errno);
  return std::string();
}

// An output's name: "_QRV" ends the name before its extension (the numbered form too, base +
// number + "_QRV").
bool IsOutputName(const std::string& name) {
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  return stem.size() > 4 && stem.compare(stem.size() - 4, 4, "_QRV") == 0;
}

// "1 camera RAW file", "3 earlier outputs"...
std::string Count(int n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

// A path given on the command line with each run of "/" made one, and a folder's path without a
// "/" at its end ("/" stays): "dir/" and "dir//" name what "dir" names and are shown as "dir".
std::string TidyPath(const std::string& path) {
  std::string tidy;
  for (char c : path)
    if (c != '/' || tidy.empty() || tidy.back() != '/') tidy += c;
  if (tidy.size() > 1 && tidy.back() == '/' && IsFolder(tidy)) tidy.pop_back();
  return tidy;
}

// What the expansion of the folders given left out, over all of them.
struct FolderSkips {
  int raw = 0;  // camera-RAW files
  // Pictures of formats this build does not read: each file as shown, with its format's name.
  std::vector<std::pair<std::string, std::string>> unread;
};

// "qrv: 2 pictures skipped: this build does not read HEIF or WebP: DIR/a.heic, DIR/b.webp": the
// first few files, then how many more.
std::string UnreadLine(const std::vector<std::pair<std::string, std::string>>& unread) {
  constexpr size_t kNamed = 5;
  std::set<std::string> named;
  for (const auto& file : unread) named.insert(file.second);
  const std::vector<std::string> formats(named.begin(), named.end());
  std::string names;
  for (size_t i = 0; i < formats.size(); ++i)
    names += (i == 0 ? "" : i + 1 == formats.size() ? " or " : ", ") + formats[i];
  std::string line = "qrv: " + Count(static_cast<int>(unread.size()), "picture", "pictures") +
                     " skipped: this build does not read " + names + ": ";
  for (size_t i = 0; i < unread.size() && i < kNamed; ++i) line += (i ? ", " : "") + unread[i].first;
  if (unread.size() > kNamed) line += " and " + std::to_string(unread.size() - kNamed) + " more";
  return line;
}

// "qrv: 2 subfolders not searched: DIR/a, DIR/b" for a folder given: the first few subfolders by
// name, then how many more.
std::string UnsearchedLine(const std::string& shown, const std::vector<std::string>& subfolders) {
  constexpr size_t kNamed = 5;
  std::string line = "qrv: " + Count(static_cast<int>(subfolders.size()), "subfolder", "subfolders") + " not searched: ";
  for (size_t i = 0; i < subfolders.size() && i < kNamed; ++i)
    line += (i ? ", " : "") + WithSlash(shown) + ConsoleText(subfolders[i]);
  if (subfolders.size() > kNamed) line += " and " + std::to_string(subfolders.size() - kNamed) + " more";
  return line;
}

// A folder's picture files (listed extensions), sorted, without the outputs that earlier runs
// wrote there (in a folder holding the output marker, the names that end in "_QRV"); camera-RAW
// files are counted in *skips, pictures of formats this build does not read named there (sorted,
// as `shown` holds them), and the subfolders, which are not searched, named in *subfolders
// (sorted; output folders left out). When there are no pictures, *why says so about `shown` (the
// folder as the user gave it).
std::vector<std::string> FolderPictures(const std::string& folder, const std::string& shown, FolderSkips* skips,
                                        std::vector<std::string>* subfolders, std::string* why) {
  std::vector<std::string> files;
  const bool outputFolder = IsFile(WithSlash(folder) + "qrvoutput.dir");
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    *why = "cannot read the folder " + shown + ": " + std::strerror(errno);
    return files;
  }
  int others = 0, folders = 0, outputs = 0, raw = 0;
  std::vector<std::pair<std::string, std::string>> unread;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || (outputFolder && name == "qrvoutput.dir")) continue;
    const std::string full = WithSlash(folder) + name;
    if (IsFolder(full)) {
      ++folders;
      // An output folder (one holding the marker) is never searched for pictures: not named.
      if (!IsFile(WithSlash(full) + "qrvoutput.dir")) subfolders->push_back(name);
    } else if (!IsFile(full))
      ++others;
    else if (outputFolder && IsOutputName(name))
      ++outputs;
    else if (FormatFromExtension(name) != IFF_UNKNOWN)
      files.push_back(full);
    else if (IsCameraRawName(name))
      ++raw;
    else if (const char* format = UnreadPictureFormat(full))
      unread.emplace_back(name, format);
    else
      ++others;
  }
  closedir(dir);
  skips->raw += raw;
  std::sort(unread.begin(), unread.end());
  for (const auto& file : unread) skips->unread.emplace_back(WithSlash(shown) + ConsoleText(file.first), file.second);
  std::sort(files.begin(), files.end());
  std::sort(subfolders->begin(), subfolders->end());
  if (files.empty()) {
    if (outputs && !others && !raw && unread.empty()) {
      *why = shown + " holds only an earlier run's outputs (its qrvoutput.dir marker)";
      return files;
    }
    std::vector<std::string> skipped;
    if (raw) skipped.push_back(Count(raw, "camera RAW file", "camera RAW files"));
    if (!unread.empty())
      skipped.push_back(Count(static_cast<int>(unread.size()), "picture of a format this build does not read",
                              "pictures of formats this build does not read"));
    if (outputs) skipped.push_back(Count(outputs, "earlier output", "earlier outputs"));
    if (others) skipped.push_back(Count(others, "file without a picture extension", "files without a picture extension"));
    if (folders)
      skipped.push_back(Count(folders, "subfolder, which is", "subfolders, which are") + " not searched");
    std::string list;
    for (const std::string& item : skipped) list += (list.empty() ? "" : ", ") + item;
    *why = "no picture files in " + shown + " (" + (list.empty() ? "the folder is empty" : list) + ")";
  }
  return files;
}

// Reads and checks a profile; false (reported) when it cannot be read or holds an error.
bool LoadCheckedProfile(const std::string& path, CIniFile& ini) {
  std::string text, error;
  if (!CIniFile::ReadText(path, &text, &error)) {
    ConsoleWrite("qrv: cannot read profile " + ConsoleText(path) + ": " + error);
    return false;
  }
  constexpr size_t kShown = 20;
  const std::vector<ProfileProblem> problems = CheckProfileText(text);
  bool refused = false;
  const std::string shown = ConsoleText(path);
  for (size_t i = 0; i < problems.size(); ++i) {
    const ProfileProblem& p = problems[i];
    refused |= p.error;
    if (i >= kShown) continue;
    // A problem of several lines names them in its text.
    const std::string where = p.lines.empty() ? shown + ":" + std::to_string(p.line) : shown;
    ConsoleWrite(std::string("qrv: ") + (p.error ? "" : "warning: ") + where + ": " + ConsoleText(p.text));
  }
  if (problems.size() > kShown)
    ConsoleWrite("qrv: " + shown + ": " + std::to_string(problems.size() - kShown) + " more problems not shown");
  if (refused) return false;
  ini.Parse(text);
  return true;
}

// Applies the --set items, then checks each against the settings they give together.
bool ApplySettings(const std::vector<std::string>& assignments, CIniFile& ini) {
  for (const std::string& a : assignments) {
    if (!ini.SetFromAssignment(a)) {
      UsageError("--set " + ConsoleText(a) + ": takes Section.Key=Value, such as Size.Type=1");
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
    ConsoleWrite("qrv: --set " + ConsoleText(a) + ": " + ConsoleText(message) + (hint.empty() ? "" : "; ") + hint);
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
        return UsageError("--mode takes simple or advanced, not " + ConsoleText(value));
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
        return UsageError("--current takes an entry number 1, 2, ..., not " + ConsoleText(value));
    } else if (arg == "--version") {
      std::printf("qrv %s\n", QRV_VERSION);
      return 0;
    } else if (arg == "-h" || arg == "--help") {
      Help();
      return 0;
    } else {
      return UsageError("unknown option " + ConsoleText(arg));
    }
  }
  if (paths.empty()) return UsageError("no picture or folder given");

  CMainDialog dialog;
  // A home folder the user named (--home, else $QRV_HOME) is made when missing, and refused
  // with the reason when it cannot be.
  const char* homeFrom = "--home";
  if (home.empty()) {
    const char* env = std::getenv("QRV_HOME");
    if (env && *env) {
      home = env;
      homeFrom = "QRV_HOME";
    }
  }
  if (!home.empty()) {
    dialog.SetHomeFolder(Absolute(home));
    const std::string reason = PrepareHome(dialog.HomeFolder());
    if (!reason.empty()) {
      ConsoleWrite(std::string("qrv: ") + homeFrom + " " + ConsoleText(home) + ": " + ConsoleText(reason));
      return 2;
    }
  } else {
    mkdir((dialog.HomeFolder() + "/help").c_str(), 0777);  // the log is lost when this fails
  }
  if (!dialog.HomeFolder().empty()) dialog.SetHomeFolder(NormalFolder(Absolute(dialog.HomeFolder())));

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
      const ISErrorCode code = static_cast<ISErrorCode>(error);
      std::string why = error != 0 ? LibraryErrorText(code) : std::string("an empty picture");
      // A code without a message of its own gives way to the reader's words.
      if (!frame.LoadWarning().empty())
        why = error != 0 && !LibraryErrorHasText(code) ? frame.LoadWarning() : why + " (" + frame.LoadWarning() + ")";
      ConsoleWrite("qrv: cannot load black frame " + ConsoleText(blackFrame) + ": " + ConsoleText(why));
      return 2;
    }
    const BYTE* p = frame.LockPixels();
    dialog.m_blackFrame.assign(p, p + static_cast<size_t>(frame.GetWidth()) * frame.GetHeight() * 3);
    frame.UnlockPixels();
    dialog.m_blackFrameWidth = frame.GetWidth();
    dialog.m_blackFrameHeight = frame.GetHeight();
    dialog.m_blackFramePath = Absolute(blackFrame);
  }

  // The queue, each file once (a file named twice, or named and in a folder given, is one
  // entry); when it stays empty, why (each folder given holds no picture to work on).
  std::vector<std::string> emptyWhy, unsearched;
  FolderSkips skips;
  std::set<std::pair<dev_t, ino_t>> queuedFiles;
  std::set<std::string> queuedPaths;  // those that are no file (yet)
  auto enqueue = [&](const std::string& full) {
    struct stat st {};
    const bool fresh = stat(full.c_str(), &st) == 0 ? queuedFiles.insert({st.st_dev, st.st_ino}).second
                                                    : queuedPaths.insert(full).second;
    if (fresh) dialog.m_cueList.AddString(full, 1);
  };
  for (const std::string& given : paths) {
    const std::string p = TidyPath(given);
    const std::string full = Absolute(p);
    if (IsFolder(full)) {
      std::string why;
      std::vector<std::string> subfolders;
      const std::vector<std::string> files = FolderPictures(full, ConsoleText(p), &skips, &subfolders, &why);
      for (const std::string& f : files) enqueue(f);
      if (!why.empty()) emptyWhy.push_back(why);
      if (!subfolders.empty()) unsearched.push_back(UnsearchedLine(ConsoleText(p), subfolders));
    } else {
      enqueue(full);
    }
  }
  // What the folders given left out is said on a run without -q, which prints only the entries
  // not written or written with warnings (and why nothing ran); when nothing runs, the reason
  // given for each folder counts its subfolders.
  if (skips.raw && !quiet)
    ConsoleWrite("qrv: " + Count(skips.raw, "camera RAW file", "camera RAW files") +
                 " skipped: RAW decoding is not part of this build");
  if (!skips.unread.empty() && !quiet) ConsoleWrite(UnreadLine(skips.unread));
  if (dialog.m_cueList.GetCount() == 0) {
    for (const std::string& why : emptyWhy) ConsoleWrite("qrv: " + why);
    return 1;
  }
  if (!quiet)
    for (const std::string& line : unsearched) ConsoleWrite(line);
  if (current > dialog.m_cueList.GetCount()) {
    ConsoleWrite("qrv: --current " + std::to_string(current) + ": the queue has " +
                 std::to_string(dialog.m_cueList.GetCount()) + " entries");
    return 2;
  }

  CCommandProgress progress(dialog);
  progress.m_quiet = quiet;
  progress.m_only = current > 0 ? static_cast<int>(current - 1) : -1;
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
      ConsoleWrite("qrv: the size-limit question:\n" + declinedQuestion +
                   "\nqrv: not started: nobody can answer it here; --yes answers Yes");
    else
      ConsoleWrite("qrv: not started (size limit not confirmed)");
    return 2;
  }

  // The log line only when this run wrote the log.
  const std::string log = dialog.HomeFolder() + "/help/log.html";
  struct stat st {};
  if (!quiet && stat(log.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime >= started)
    std::printf("log: %s\n", ConsoleText(log).c_str());
  std::fflush(stdout);

  const bool cancelled = dialog.m_cancel != 0;
  int notWritten = 0;
  for (const CMainDialog::EntryOutcome& o : dialog.m_outcomes) notWritten += o.written ? 0 : 1;
  const std::string lists = OutcomeLists(dialog.m_outcomes, cancelled);
  if (!lists.empty()) ConsoleWrite(lists);
  if (!quiet) {
    const int reached = static_cast<int>(dialog.m_outcomes.size());
    const int total = current > 0 ? 1 : dialog.m_cueList.GetCount();
    ConsoleWrite(SummaryLine(dialog.m_outcomes, seconds, cancelled, total - reached));
  }
  // Cancelled: by Ctrl-C, SIGTERM or SIGHUP, told as a shell tells a process ended by it.
  if (cancelled) return 128 + (CProgressDlg::CancelSignal() ? CProgressDlg::CancelSignal() : SIGINT);
  return notWritten ? 1 : 0;
}
