// What the command prints about a run: entry lines, the lists and the summary.
#include <gtest/gtest.h>

#include "app/CommandReport.h"

namespace {

CMainDialog::EntryOutcome Entry(const std::string& path, const std::string& output, const std::string& reason,
                                std::vector<std::string> warnings = {}) {
  CMainDialog::EntryOutcome o;
  o.path = path;
  o.output = output;
  o.written = !output.empty();
  o.reason = reason;
  o.warnings = std::move(warnings);
  return o;
}

TEST(CommandReport, EntryLinesListsAndSummary) {
  const EntryOutcomes outcomes = {
      Entry("/p/IMG_1.JPG", "/p/QRV/IMG_1_QRV.JPG", ""),
      Entry("/p/IMG_2.JPG", "/out/IMG_2_QRV.jpg", "", {"Resize to 9 x 9 failed; the picture keeps its size"}),
      Entry("/p/IMG_3.JPG", "", "Can't load file: /p/IMG_3.JPG (bad JPG file)"),
      Entry("/p/IMG_5.JPG", "", "File already exist (No Replace): /p/QRV/IMG_5_QRV.JPG"),
      Entry("/p/IMG_4.JPG", "", ""),  // the entry being run when Ctrl-C came
  };
  EXPECT_EQ(EntryLine(outcomes[0], 1, 20, false), "[1/20] IMG_1.JPG -> QRV/IMG_1_QRV.JPG");
  EXPECT_EQ(EntryLine(outcomes[1], 2, 20, false), "[2/20] IMG_2.JPG -> /out/IMG_2_QRV.jpg (1 warning)");
  EXPECT_EQ(EntryLine(outcomes[2], 3, 20, false),
            "[3/20] IMG_3.JPG: not written: Can't load file: /p/IMG_3.JPG (bad JPG file)");
  EXPECT_EQ(EntryLine(outcomes[4], 4, 20, true), "[4/20] IMG_4.JPG: not written: cancelled");
  EXPECT_EQ(OutcomeLists(outcomes, true),
            "warning: /p/IMG_2.JPG: Resize to 9 x 9 failed; the picture keeps its size\n"
            "not written: Can't load file: /p/IMG_3.JPG (bad JPG file)\n"  // the reason names the path
            "not written: /p/IMG_5.JPG: File already exist (No Replace): /p/QRV/IMG_5_QRV.JPG\n"
            "not written: /p/IMG_4.JPG: cancelled\n");
  EXPECT_EQ(SummaryLine(outcomes, 3.44, false, 0), "2 written, 1 with warnings, 3 not written in 3.4 s");
  EXPECT_EQ(SummaryLine(outcomes, 0.0, true, 16),
            "2 written, 1 with warnings, 3 not written in 0.0 s; cancelled, 16 not reached");
}

}  // namespace
