// Yes/no question, folder validation and creation, the program's own folder.
#include "engine/shell/ShellServices.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::function<int(const std::string&)>& QuestionHandler() {
  static std::function<int(const std::string&)> handler;
  return handler;
}

}  // namespace

void SetQuestionHandler(std::function<int(const std::string&)> handler) { QuestionHandler() = std::move(handler); }

int AskYesNo(const std::string& question) {
  if (QuestionHandler()) return QuestionHandler()(question);
  if (!isatty(STDIN_FILENO)) return 0;
  std::fprintf(stderr, "\n%s [y/N] ", question.c_str());
  std::fflush(stderr);
  char answer[64];
  if (!std::fgets(answer, sizeof answer, stdin)) return 0;
  return answer[0] == 'y' || answer[0] == 'Y';
}

int ValidateAndCreateFolder(const std::string& path, int ask, std::string* why, int* error) {
  auto fail = [why, error](int code, const std::string& text, int system) {
    if (why) *why = text;
    if (error) *error = system;
    return code;
  };
  if (path.empty() || path[0] != '/') return fail(1, path + " is not an absolute path", EINVAL);
  if (path.size() > 1 && path.back() == '/') return fail(1, path + " ends in /", EINVAL);
  if (path.find('\0') != std::string::npos) return fail(1, "the path holds a NUL byte", EINVAL);

  struct stat st {};
  if (stat(path.c_str(), &st) == 0)
    return S_ISDIR(st.st_mode) ? 0 : fail(2, path + " is a file, not a folder", ENOTDIR);

  if (ask) {
    char text[4200];
    std::snprintf(text, sizeof text, "The folder:\n\n%.4000s\n\ndoes not exist. Do you want the folder to be created?",
                  path.c_str());
    if (!AskYesNo(text)) return -1;
  }

  // Create each missing folder from the root down.
  size_t pos = 1;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(0, slash);
    if (slash > pos) {  // skip empty components ("//")
      if (stat(part.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) return fail(2, part + " is a file, not a folder", ENOTDIR);
      } else if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
        const int made = errno;
        return fail(2, part + ": " + std::strerror(made), made);
      } else if (stat(part.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return fail(2, part + " is not a folder", ENOTDIR);
      }
    }
    pos = slash + 1;
  }
  return 0;
}

std::string ProgramFolder() {
  std::vector<char> buf(4096);
  const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return ".";
  std::string exe(buf.data(), static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : exe.substr(0, slash);
}
