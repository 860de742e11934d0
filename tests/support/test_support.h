// Helpers shared by the test programs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qrvtest {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The folder of real sample pictures, or "" when it is absent.
std::string TestDataDir();
// Full path of a sample file (relative to the sample folder), or "" when absent.
std::string TestDataFile(const std::string& relative);
// Every regular file below a sample sub-folder, sorted; empty when absent.
std::vector<std::string> TestDataFiles(const std::string& subfolder);

// True when a command-line tool is on the PATH.
bool HasTool(const std::string& name);
// The real ImageMagick convert, run single-threaded; "" when it is not installed.
std::string MagickConvert();
// Runs a shell command; its standard output, and its exit status through *status.
std::string RunCommand(const std::string& command, int* status = nullptr);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace qrvtest

// Skips the current test when the sample folder (or a file in it) is missing.
#define QRV_REQUIRE_TESTDATA(rel)                                                   \
  do {                                                                              \
    if (qrvtest::TestDataFile(rel).empty()) GTEST_SKIP() << "no sample " << (rel);  \
  } while (0)

// Skips the current test when a reference tool is missing.
#define QRV_REQUIRE_TOOL(tool)                                                      \
  do {                                                                              \
    if (!qrvtest::HasTool(tool)) GTEST_SKIP() << "reference tool missing: " << (tool); \
  } while (0)
