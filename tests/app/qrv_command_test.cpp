// The qrv command as a user runs it: a queue from the command line, exit codes, and Ctrl-C in
// the middle of a run.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/CRGBImage.h"
#include "support/test_support.h"

namespace {

std::vector<std::string> FolderNames(const std::string& folder) {
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

void MakeJpeg(const std::string& path, int w, int h) {
  std::vector<BYTE> px(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      BYTE* p = &px[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = static_cast<BYTE>(x * 255 / w);
      p[1] = static_cast<BYTE>(y * 255 / h);
      p[2] = static_cast<BYTE>((x ^ y) & 0xFF);
    }
  CRGBImage img;
  ASSERT_EQ(img.Create(px.data(), w, h), 0);
  ASSERT_EQ(img.Save(path, FormatFromExtension(path)), 0);
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Starts `qrv -q --home HOME --set ... IN` with its output thrown away.
pid_t StartQrv(const std::string& home, const std::vector<std::string>& sets, const std::string& in) {
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

// The pixels of a picture file; empty when it does not load.
std::vector<BYTE> Pixels(const std::string& path) {
  CRGBImage img;
  if (img.Load(path) != 0) return {};
  const BYTE* p = img.LockPixels();
  std::vector<BYTE> out(p, p + static_cast<size_t>(img.GetWidth()) * img.GetHeight() * 3);
  img.UnlockPixels();
  return out;
}

}  // namespace

TEST(QrvCommand, RunsTheQueueAndReportsWhatWasNotWritten) {
  qrvtest::TempDir dir;
  const std::string in = dir.File("in");
  mkdir(in.c_str(), 0777);
  MakeJpeg(in + "/a.jpg", 64, 48);
  MakeJpeg(in + "/b.png", 40, 30);
  ASSERT_TRUE(qrvtest::WriteFileBytes(in + "/broken.jpg", {0xFF, 0xD8, 0xFF}));
  const std::string qrv = std::string(QRV_COMMAND) + " -q --home " + dir.File("home") + " ";
  int status = -1;
  const std::string out = qrvtest::RunCommand(qrv + in + " 2>/dev/null", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("not written:\n  " + in + "/broken.jpg"), std::string::npos) << out;
  EXPECT_NE(out.find("log: " + dir.File("home") + "/help/log.html"), std::string::npos);
  CRGBImage back;
  EXPECT_EQ(back.Load(in + "/QRV/a_QRV.jpg"), 0);
  EXPECT_EQ(back.Load(in + "/QRV/b_QRV.png"), 0);
  // The output folder is never taken as a source folder.
  qrvtest::RunCommand(qrv + in + "/QRV 2>/dev/null", &status);
  EXPECT_EQ(status, 1);

  qrvtest::RunCommand(qrv + "2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  qrvtest::RunCommand(qrv + "--bogus " + in + " 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  qrvtest::RunCommand(qrv + "--current 9 " + in + " 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  qrvtest::RunCommand(qrv + "--current 1 " + in + " >/dev/null 2>&1", &status);
  EXPECT_EQ(status, 0);
  // The size-limit question is No without --yes when nobody can answer it.
  qrvtest::RunCommand(qrv + "--set Quality.Type=1 " + in + " </dev/null >/dev/null 2>&1", &status);
  EXPECT_EQ(status, 2);
  qrvtest::RunCommand(qrv + "--black-frame " + in + "/none.png " + in + " >/dev/null 2>&1", &status);
  EXPECT_EQ(status, 2);
}

// Ctrl-C after the first output: the command ends with 130, the entries it did not reach have
// no output, and no partial or temporary file is left.
TEST(QrvCommand, InterruptLeavesNoPartialFile) {
  qrvtest::TempDir dir;
  const std::string in = dir.File("in");
  mkdir(in.c_str(), 0777);
  MakeJpeg(in + "/p00.jpg", 1600, 1200);
  const auto bytes = qrvtest::ReadFileBytes(in + "/p00.jpg");
  const int count = 16;
  for (int i = 1; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/p%02d.jpg", i);
    ASSERT_TRUE(qrvtest::WriteFileBytes(in + name, bytes));
  }
  const std::string home = dir.File("home");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execl(QRV_COMMAND, QRV_COMMAND, "-q", "--home", home.c_str(), in.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Wait for the first finished output, then press Ctrl-C.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  bool first = false;
  while (!first && std::chrono::steady_clock::now() < deadline) {
    for (const std::string& n : FolderNames(in + "/QRV")) first |= n.find("_QRV.jpg") != std::string::npos;
    if (!first) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(first);
  kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(ExitCode(status), 130);
  int written = 0;
  for (const std::string& n : FolderNames(in + "/QRV")) {
    EXPECT_NE(n[0], '.') << "left over: " << n;
    if (n.find("_QRV.jpg") == std::string::npos) continue;
    ++written;
    CRGBImage back;
    EXPECT_EQ(back.Load(in + "/QRV/" + n), 0) << n;
    EXPECT_EQ(back.GetWidth(), 1600) << n;
  }
  EXPECT_GE(written, 1);
  EXPECT_LT(written, count);
}

// Three runs at once over one folder into one output folder: every output of every run is kept
// under its own name and holds the corrected picture of its own source.
TEST(QrvCommand, ConcurrentRunsIntoOneFolderLoseNothing) {
  qrvtest::TempDir dir;
  const std::string in = dir.File("in"), out = dir.File("out"), reference = dir.File("ref");
  mkdir(in.c_str(), 0777);
  constexpr int kPictures = 200;
  std::vector<std::string> bases;
  for (int i = 0; i < kPictures; ++i) {
    std::vector<BYTE> px(16 * 16 * 3);
    for (size_t k = 0; k < px.size(); ++k)
      px[k] = static_cast<BYTE>((k % 3 == 0 ? i : k % 3 == 1 ? i * 7 : 255 - i) + (k / 3 % 16 == static_cast<size_t>(i % 16)) * 40);
    char name[16];
    std::snprintf(name, sizeof name, "p%03dx", i);  // a letter before the output's number
    bases.push_back(name);
    CRGBImage img;
    ASSERT_EQ(img.Create(px.data(), 16, 16), 0);
    ASSERT_EQ(img.Save(in + "/" + name + ".png", FormatFromExtension(".png")), 0);
  }
  // What one run alone writes for each source.
  int status = -1;
  const pid_t alone = StartQrv(dir.File("h0"), {"Output.Type=1", "Output.SimDir=" + reference}, in);
  ASSERT_EQ(waitpid(alone, &status, 0), alone);
  ASSERT_EQ(ExitCode(status), 0);

  std::vector<pid_t> runs;
  for (int r = 1; r <= 3; ++r)
    runs.push_back(StartQrv(dir.File("h" + std::to_string(r)), {"Output.Type=1", "Output.SimDir=" + out}, in));
  for (pid_t run : runs) {
    ASSERT_GT(run, 0);
    ASSERT_EQ(waitpid(run, &status, 0), run);
    EXPECT_EQ(ExitCode(status), 0);
  }
  std::map<std::string, std::vector<BYTE>> expected;
  for (const std::string& b : bases) {
    expected[b] = Pixels(reference + "/" + b + "_QRV.png");
    ASSERT_FALSE(expected[b].empty()) << b;
  }
  std::set<std::string> names;
  for (const std::string& n : FolderNames(out)) {
    if (n == "qrvoutput.dir") continue;
    names.insert(n);
    const std::string base = n.substr(0, 5);
    ASSERT_TRUE(expected.count(base)) << n;
    EXPECT_EQ(Pixels(out + "/" + n), expected[base]) << n;
  }
  EXPECT_EQ(names.size(), 3u * kPictures);
  for (const std::string& b : bases)
    for (const char* suffix : {"_QRV.png", "1_QRV.png", "2_QRV.png"}) EXPECT_TRUE(names.count(b + suffix)) << b;
  EXPECT_EQ(qrvtest::ReadFileBytes(out + "/qrvoutput.dir").size(), 3u * kPictures);
}
