// The qrv command killed (SIGKILL) at points spread over a run: no temporary file is left in the
// output folder, and every output that has its final name is whole.
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
  // A whole run gives the outputs to compare with, and its length places the kills.
  const auto start = std::chrono::steady_clock::now();
  int status = -1;
  const pid_t whole = qrvtest::StartQrv(dir.File("h"), {"Output.Type=1", "Output.SimDir=" + dir.File("ref")}, in);
  ASSERT_EQ(waitpid(whole, &status, 0), whole);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto length = std::chrono::steady_clock::now() - start;

  int killedWithOutputs = 0;
  for (int tenth : {1, 3, 5, 7, 9}) {
    SCOPED_TRACE(tenth);
    const std::string out = dir.File("out" + std::to_string(tenth));
    const pid_t run = qrvtest::StartQrv(dir.File("h"), {"Output.Type=1", "Output.SimDir=" + out}, in);
    ASSERT_GT(run, 0);
    std::this_thread::sleep_for(length * tenth / 10);
    kill(run, SIGKILL);
    ASSERT_EQ(waitpid(run, &status, 0), run);
    int outputs = 0;
    for (const std::string& name : qrvtest::FolderNames(out)) {
      const bool temporary = name.rfind(".qrv-", 0) == 0;
      EXPECT_FALSE(temporary) << "temporary file left: " << name;
      if (temporary || name == "qrvoutput.dir") continue;
      const std::vector<BYTE> expected = FilePixels(dir.File("ref/" + name));
      ASSERT_FALSE(expected.empty()) << name;
      EXPECT_TRUE(FilePixels(out + "/" + name) == expected) << name;
      ++outputs;
    }
    if (outputs > 0 && outputs < kPictures) ++killedWithOutputs;
  }
  // How many kills fell between the first and the last output (a machine too busy to reach the
  // first output in time only makes this test weaker).
  RecordProperty("KilledWithSomeOutputs", killedWithOutputs);
}
