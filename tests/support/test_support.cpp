// Temporary folders, sample-file lookup and reference-tool probes for the tests.
#include "support/test_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace qrvtest {

namespace {

bool IsDir(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void RemoveTree(const std::string& p) {
  if (DIR* d = opendir(p.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      std::string child = p + "/" + n;
      struct stat st;
      if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        chmod(child.c_str(), 0700);
        RemoveTree(child);
      } else {
        unlink(child.c_str());
      }
    }
    closedir(d);
  }
  rmdir(p.c_str());
}

void Collect(const std::string& dir, std::vector<std::string>& out) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n.empty() || n[0] == '.') continue;
    std::string child = dir + "/" + n;
    if (IsDir(child)) Collect(child, out);
    else out.push_back(child);
  }
  closedir(d);
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/qrvtest-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  char* made = mkdtemp(buf.data());
  path_ = made ? made : "";
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(path_);
}

std::string TestDataDir() {
  const char* env = std::getenv("QRV_TESTDATA_DIR");
  std::string dir = env && *env ? env : QRV_TESTDATA_DIR;
  if (!IsDir(dir)) return "";
  // The canonical path, as reference tools print it ("a/../shared" becomes "shared").
  char* real = realpath(dir.c_str(), nullptr);
  if (!real) return dir;
  std::string canonical = real;
  std::free(real);
  return canonical;
}

std::string TestDataFile(const std::string& relative) {
  std::string dir = TestDataDir();
  if (dir.empty()) return "";
  std::string p = dir + "/" + relative;
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? p : "";
}

std::vector<std::string> TestDataFiles(const std::string& subfolder) {
  std::vector<std::string> out;
  std::string dir = TestDataDir();
  if (dir.empty()) return out;
  Collect(dir + "/" + subfolder, out);
  std::sort(out.begin(), out.end());
  return out;
}

bool HasTool(const std::string& name) {
  int status = 0;
  RunCommand("command -v " + name + " >/dev/null 2>&1", &status);
  if (status != 0) return false;
  // ImageMagick's convert must be the real one, not a stand-in that only converts for viewing.
  if (name == "convert") {
    std::string v = RunCommand("convert -version 2>/dev/null", &status);
    return status == 0 && v.find("ImageMagick") != std::string::npos;
  }
  return true;
}

std::string RunCommand(const std::string& command, int* status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string MagickConvert() {
  FILE* p = popen("/usr/bin/convert -version 2>/dev/null", "r");
  if (!p) return "";
  char buf[256] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, p);
  pclose(p);
  return std::string(buf, n).find("ImageMagick") != std::string::npos ? "MAGICK_THREAD_LIMIT=1 /usr/bin/convert"
                                                                       : "";
}

}  // namespace qrvtest
