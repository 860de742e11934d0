// Helpers of the tests that run the qrv command as a process: a folder's names, a run started
// in the background with its messages thrown away, and the pixels of the pictures it wrote.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "engine/picture_helpers.h"

namespace qrvtest {

// The names in a folder, "." and ".." left out; empty when it cannot be read.
inline std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* e = readdir(dir)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(dir);
  }
  return names;
}

// Starts `qrv -q --home HOME --set ... IN` with its output thrown away; the child's pid.
inline pid_t StartQrv(const std::string& home, const std::vector<std::string>& sets, const std::string& in) {
  std::vector<std::string> args = {QRV_COMMAND, "-q", "--home", home};
  for (const std::string& s : sets) {
    args.push_back("--set");
    args.push_back(s);
  }
  args.push_back(in);
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(QRV_COMMAND, argv.data());
    _exit(127);
  }
  return child;
}

using enginetest::FilePixels;

}  // namespace qrvtest
