// The forked measurement of peak memory: /proc/self/clear_refs resets the peak resident size
// (VmHWM) to the current one, and the child reports through a pipe.
#include "support/peak_memory.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace qrvtest {

namespace {

long StatusKB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(in, line))
    if (line.compare(0, n, field) == 0) return std::stol(line.substr(n));
  return -1;
}

}  // namespace

ChildRun RunInChild(const std::function<int()>& body) {
  ChildRun run;
  int fds[2];
  if (pipe(fds) != 0) return run;
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return run;
  if (child == 0) {
    close(fds[0]);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = StatusKB("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    const int result = body();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long grown = (StatusKB("VmHWM:") - before) / 1024;
    char text[64];
    const int len = std::snprintf(text, sizeof text, "%d %ld %f", result, grown, seconds);
    if (write(fds[1], text, static_cast<size_t>(len)) != len) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  char text[64] = {};
  size_t got = 0;
  for (ssize_t n; got + 1 < sizeof text && (n = read(fds[0], text + got, sizeof text - 1 - got)) > 0;)
    got += static_cast<size_t>(n);
  close(fds[0]);
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return run;
  run.exited = std::sscanf(text, "%d %ld %lf", &run.result, &run.peakMB, &run.seconds) == 3;
  return run;
}

}  // namespace qrvtest
