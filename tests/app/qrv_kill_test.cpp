// The qrv command killed (SIGKILL) at points spread over a run, each after some outputs and
// before the last: no temporary file is left in the output folder, and every output that has its
// final name is whole.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/qrv_process.h"
#include "support/test_support.h"

using qrvtest::FilePixels;

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
  // A whole run gives the outputs to compare with, and its length one picture's time.
  const auto start = std::chrono::steady_clock::now();
  int status = -1;
  const pid_t whole = qrvtest::StartQrv(dir.File("h"), {"Output.Type=1", "Output.SimDir=" + dir.File("ref")}, in);
  ASSERT_EQ(waitpid(whole, &status, 0), whole);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto length = std::chrono::steady_clock::now() - start;

  // Each kill comes once `done` outputs are there, a share of one picture's time later: between
  // two outputs, or while one is being written. With several pictures still to go, the run has
  // not ended by then, however busy the machine.
  const auto perPicture = length / kPictures;
  const struct {
    int done, quarters;
  } kills[] = {{1, 0}, {3, 1}, {5, 2}, {7, 3}, {9, 1}};
  for (const auto& k : kills) {
    SCOPED_TRACE(k.done);
    const std::string out = dir.File("out" + std::to_string(k.done));
    const pid_t run = qrvtest::StartQrv(dir.File("h"), {"Output.Type=1", "Output.SimDir=" + out}, in);
    ASSERT_GT(run, 0);
    auto outputs = [&out] {
      int n = 0;
      for (const std::string& name : qrvtest::FolderNames(out)) n += name.find("_QRV.png") != std::string::npos;
      return n;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
    while (outputs() < k.done && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(perPicture * k.quarters / 4);
    kill(run, SIGKILL);
    ASSERT_EQ(waitpid(run, &status, 0), run);
    // The kill landed in the middle of the run.
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    int written = 0;
    for (const std::string& name : qrvtest::FolderNames(out)) {
      const bool temporary = name.rfind(".qrv-", 0) == 0;
      EXPECT_FALSE(temporary) << "temporary file left: " << name;
      if (temporary || name == "qrvoutput.dir") continue;
      const std::vector<BYTE> expected = FilePixels(dir.File("ref/" + name));
      ASSERT_FALSE(expected.empty()) << name;
      EXPECT_TRUE(FilePixels(out + "/" + name) == expected) << name;
      ++written;
    }
    EXPECT_GE(written, k.done);
    EXPECT_LT(written, kPictures);
  }
}
