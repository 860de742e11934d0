// Peak memory of a piece of work, measured in a forked child whose peak resident size is reset
// first, so that what the test process already holds does not count.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

namespace qrvtest {

// A field of /proc/self/status in kB ("VmRSS:", "VmHWM:"), or -1.
inline long ProcStatusKB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  return -1;
}

struct ChildPeak {
  bool ran = false;        // the child ran the work and exited
  bool passed = false;     // the work returned true
  long peakGrowthMB = -1;  // growth of the peak resident size, at most 127
};

// Runs `work` (returning bool; it reports its own failures on stderr) in a child process.
template <typename Work>
ChildPeak PeakGrowthInChild(Work work) {
  ChildPeak result;
  const pid_t child = fork();
  if (child < 0) return result;
  if (child == 0) {
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = ProcStatusKB("VmRSS:");
    const bool ok = work();
    const long grown = (ProcStatusKB("VmHWM:") - before) / 1024;
    _exit((ok ? 0 : 128) | static_cast<int>(std::min(127L, std::max(0L, grown))));
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return result;
  result.ran = true;
  result.passed = (WEXITSTATUS(status) & 128) == 0;
  result.peakGrowthMB = WEXITSTATUS(status) & 127;
  return result;
}

}  // namespace qrvtest
