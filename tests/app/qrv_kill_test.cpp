// The qrv command killed (SIGKILL) at points spread over a run: no temporary file is left in the
// output folder, and every output that has its final name is whole.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/CRGBImage.h"
#include "support/test_support.h"

namespace {

std::vector<std::string> Names(const std::string& folder) {
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

// Starts `qrv -q --home HOME --set Output.Type=1 --set Output.SimDir=OUT IN`, its messages
// thrown away.
pid_t StartQrv(const std::string& home, const std::string& out, const std::string& in) {
  std::vector<std::string> args = {QRV_COMMAND, "-q", "--home", home, "--set", "Output.Type=1",
                                   "--set", "Output.SimDir=" + out, in};
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

std::vector<BYTE> Pixels(const std::string& path) {
  CRGBImage img;
  if (img.Load(path) != 0) return {};
  const BYTE* p = img.LockPixels();
  std::vector<BYTE> out(p, p + static_cast<size_t>(img.GetWidth()) * img.GetHeight() * 3);
  img.UnlockPixels();
  return out;
}

}  // namespace

TEST(QrvKill, KilledRunLeavesNoTemporaryAndNoPartialOutput) {
  qrvtest::TempDir dir;
  const std::string in = dir.File("in");
  mkdir(in.c_str(), 0777);
  constexpr int kPictures = 16;
  for (int i = 0; i < kPictures; ++i) {
    std::vector<BYTE> px(480 * 360 * 3);
    for (size_t k = 0; k < px.size(); ++k) px[k] = static_cast<BYTE>((k * (i + 3)) ^ (k >> 9));
    CRGBImage img;
    ASSERT_EQ(img.Create(px.data(), 480, 360), 0);
    ASSERT_EQ(img.Save(in + "/p" + std::to_string(i) + ".png", IFF_PNG), 0);
  }
  // A whole run gives the outputs to compare with, and its length places the kills.
  const auto start = std::chrono::steady_clock::now();
  int status = -1;
  const pid_t whole = StartQrv(dir.File("h"), dir.File("ref"), in);
  ASSERT_EQ(waitpid(whole, &status, 0), whole);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto length = std::chrono::steady_clock::now() - start;

  int killedWithOutputs = 0;
  for (int tenth : {1, 3, 5, 7, 9}) {
    SCOPED_TRACE(tenth);
    const std::string out = dir.File("out" + std::to_string(tenth));
    const pid_t run = StartQrv(dir.File("h"), out, in);
    ASSERT_GT(run, 0);
    std::this_thread::sleep_for(length * tenth / 10);
    kill(run, SIGKILL);
    ASSERT_EQ(waitpid(run, &status, 0), run);
    int outputs = 0;
    for (const std::string& name : Names(out)) {
      const bool temporary = name.rfind(".qrv-", 0) == 0;
      EXPECT_FALSE(temporary) << "temporary file left: " << name;
      if (temporary || name == "qrvoutput.dir") continue;
      const std::vector<BYTE> expected = Pixels(dir.File("ref/" + name));
      ASSERT_FALSE(expected.empty()) << name;
      EXPECT_TRUE(Pixels(out + "/" + name) == expected) << name;
      ++outputs;
    }
    if (outputs > 0 && outputs < kPictures) ++killedWithOutputs;
  }
  // How many kills fell between the first and the last output (a machine too busy to reach the
  // first output in time only makes this test weaker).
  RecordProperty("KilledWithSomeOutputs", killedWithOutputs);
}
