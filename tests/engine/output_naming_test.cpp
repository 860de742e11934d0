// Output names within whole runs: sources whose names are other sources' numbered output names,
// outputs of earlier runs, Replace on and off. No output of a run is lost or holds another
// source's picture.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>

#include "engine/CRGBImage.h"
#include "engine/OutputWriter.h"
#include "engine/shell/CMainDialog.h"
#include "picture_helpers.h"
#include "support/test_support.h"

namespace {

class SilentProgress : public CProgressDlg {
 public:
  int Create() override { return 1; }
  int DestroyWindow() override { return 1; }
  int CheckCancel() override { return 0; }
  void ShowThumbnail(const BYTE*, int, int) override {}
  void SetStatusText(const std::string&) override {}
};

// A distinct 8 x 8 PNG picture for each seed.
void MakePicture(const std::string& path, uint32_t seed) {
  const std::vector<uint8_t> px = enginetest::RandomPicture(8, 8, seed);
  CRGBImage img;
  ASSERT_EQ(img.Create(px.data(), 8, 8), 0);
  ASSERT_EQ(img.Save(path, IFF_PNG), 0);
}

// A source's file: the name, ".png" added when it has no extension.
std::string FileOf(const std::string& name) { return name.find('.') == std::string::npos ? name + ".png" : name; }

// Runs the queue of files in `folder` through RunAllFiles `runs` times, outputs beside the
// sources as PNG; the outputs of the last run, in queue order ("" for an entry not written),
// and its log.
std::vector<std::string> RunQueue(const std::string& folder, const std::vector<std::string>& queue, bool replace,
                                  int runs = 1, std::string* log = nullptr) {
  SilentProgress progress;
  CMainDialog dlg;
  mkdir((folder + "/home").c_str(), 0777);
  mkdir((folder + "/home/help").c_str(), 0777);
  dlg.SetHomeFolder(folder + "/home");
  dlg.m_progress = &progress;
  dlg.m_pages.output.m_type = 2;
  dlg.m_pages.output.m_fileType = 2;
  dlg.m_pages.output.m_replace = replace ? 1 : 0;
  std::vector<std::string> outputs;
  for (int r = 0; r < runs; ++r) {
    dlg.m_cueList.ResetContent();
    for (const std::string& name : queue) dlg.m_cueList.AddString(folder + "/" + FileOf(name));
    dlg.RunAllFiles();
  }
  for (const CMainDialog::EntryOutcome& o : dlg.m_outcomes)
    outputs.push_back(o.output.empty() ? "" : o.output.substr(folder.size() + 1));
  if (log) *log = qrvtest::RunCommand("cat " + folder + "/home/help/log.html");
  return outputs;
}

}  // namespace

TEST(OutputNaming, EveryOutputOfARunIsKeptAndHoldsItsOwnPicture) {
  struct Case {
    std::vector<std::string> queue;      // sources, in queue order
    std::vector<std::string> earlier;    // outputs of an earlier run, not queued
    bool replace;
    int runs;
    std::vector<std::string> outputs;    // of the last run, in queue order
    bool keptWritten = false;            // Replace kept an output written earlier in the run
  };
  const Case cases[] = {
      // a's first name is the queued a_QRV, and a1_QRV is the name of a1's output: a2_QRV.
      {{"a", "a_QRV", "a1"}, {}, false, 1, {"a2_QRV", "a_QRV_QRV", "a1_QRV"}},
      {{"a", "a_QRV", "a1"}, {}, true, 1, {"a2_QRV", "a_QRV_QRV", "a1_QRV"}},
      // Two sources of one name: the second output does not replace the first.
      {{"a", "a.bmp"}, {}, true, 1, {"a_QRV", "a1_QRV"}, true},
      {{"a", "a_QRV", "a1", "a1_QRV"}, {}, false, 1, {"a2_QRV", "a_QRV_QRV", "a11_QRV", "a1_QRV_QRV"}},
      {{"a", "a_QRV", "a1", "a1_QRV"}, {}, true, 1, {"a2_QRV", "a_QRV_QRV", "a11_QRV", "a1_QRV_QRV"}},
      {{"a1", "a", "a_QRV"}, {}, true, 1, {"a1_QRV", "a2_QRV", "a_QRV_QRV"}},
      // Outputs of an earlier run are replaced only with Replace on.
      {{"a", "a1"}, {"a_QRV", "a1_QRV"}, false, 1, {"a2_QRV", "a11_QRV"}},
      {{"a", "a1"}, {"a_QRV", "a1_QRV"}, true, 1, {"a_QRV", "a1_QRV"}},
      // A second run forgets the first one's outputs: Replace takes them again.
      // (a, kept off its first name, goes on to the numbers as without Replace.)
      {{"a", "a_QRV", "a1"}, {}, true, 2, {"a3_QRV", "a_QRV_QRV", "a1_QRV"}},
  };
  // What each source's picture becomes when it is run alone.
  qrvtest::TempDir refDir;
  std::map<uint32_t, std::vector<BYTE>> corrected;
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    MakePicture(refDir.File("r" + std::to_string(seed) + ".png"), seed);
    RunQueue(refDir.path(), {"r" + std::to_string(seed)}, false);
    corrected[seed] = enginetest::FilePixels(refDir.File("r" + std::to_string(seed) + "_QRV.png"));
    ASSERT_FALSE(corrected[seed].empty());
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.queue.size());
    SCOPED_TRACE(c.replace);
    SCOPED_TRACE(c.outputs.back());
    qrvtest::TempDir dir;
    for (size_t i = 0; i < c.queue.size(); ++i) MakePicture(dir.File(FileOf(c.queue[i])), static_cast<uint32_t>(i + 1));
    for (const std::string& name : c.earlier) MakePicture(dir.File(name + ".png"), 99);
    std::string log;
    const std::vector<std::string> outputs = RunQueue(dir.path(), c.queue, c.replace, c.runs, &log);
    EXPECT_EQ(log.find("written earlier in this run, not replaced: " + dir.File("a_QRV.png")) != std::string::npos,
              c.keptWritten);
    ASSERT_EQ(outputs.size(), c.queue.size());
    for (size_t i = 0; i < c.queue.size(); ++i) {
      SCOPED_TRACE(c.queue[i]);
      EXPECT_EQ(outputs[i], c.outputs[i] + ".png");
      EXPECT_TRUE(enginetest::FilePixels(dir.File(c.outputs[i] + ".png")) == corrected[static_cast<uint32_t>(i + 1)]);
      EXPECT_TRUE(enginetest::FilePixels(dir.File(FileOf(c.queue[i]))) ==
                  enginetest::RandomPicture(8, 8, static_cast<uint32_t>(i + 1)));
    }
  }
}
