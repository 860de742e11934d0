#include "support/peak_memory.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

namespace qrvtest {

namespace {

long StatusKB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  return -1;
}

}  // namespace

ChildPeak PeakInChild(const std::function<long()>& work) {
  ChildPeak result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  const pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  if (child == 0) {
    close(fds[0]);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = StatusKB("VmRSS:");
    const long report[2] = {work(), (StatusKB("VmHWM:") - before) / 1024};
    const bool sent = write(fds[1], report, sizeof report) == static_cast<ssize_t>(sizeof report);
    _exit(sent ? 0 : 1);
  }
  close(fds[1]);
  long report[2] = {};
  const bool got = read(fds[0], report, sizeof report) == static_cast<ssize_t>(sizeof report);
  close(fds[0]);
  int status = 0;
  const bool exited = waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  result.ran = got && exited;
  result.failures = report[0];
  result.growthMB = report[1];
  return result;
}

}  // namespace qrvtest
