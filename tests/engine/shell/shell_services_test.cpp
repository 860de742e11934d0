// Folder check and creation, the console progress window's Cancel, the HTML log file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>

#include "engine/HtmlLog.h"
#include "engine/shell/CMainDialog.h"
#include "engine/shell/ShellServices.h"
#include "support/test_support.h"

namespace {

bool IsDir(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(ValidateAndCreateFolder, MalformedExistingCreatedAndBlocked) {
  qrvtest::TempDir tmp;
  EXPECT_EQ(ValidateAndCreateFolder("", 0), 1);
  EXPECT_EQ(ValidateAndCreateFolder("relative/dir", 0), 1);
  EXPECT_EQ(ValidateAndCreateFolder(tmp.path() + "/", 0), 1);
  EXPECT_EQ(ValidateAndCreateFolder(tmp.path(), 0), 0);

  const std::string deep = tmp.path() + "/a/b//c";
  EXPECT_EQ(ValidateAndCreateFolder(deep, 0), 0);
  EXPECT_TRUE(IsDir(tmp.path() + "/a/b/c"));

  ASSERT_TRUE(qrvtest::WriteFileBytes(tmp.File("file"), {1, 2, 3}));
  EXPECT_EQ(ValidateAndCreateFolder(tmp.File("file"), 0), 2);          // a file is the path
  EXPECT_EQ(ValidateAndCreateFolder(tmp.File("file") + "/sub", 0), 2);  // a file in the way
}

TEST(ValidateAndCreateFolder, AskedQuestionDecides) {
  qrvtest::TempDir tmp;
  std::string asked;
  SetQuestionHandler([&](const std::string& q) {
    asked = q;
    return 0;
  });
  const std::string dir = tmp.path() + "/new";
  EXPECT_EQ(ValidateAndCreateFolder(dir, 1), -1);
  EXPECT_FALSE(IsDir(dir));
  EXPECT_EQ(asked, "The folder:\n\n" + dir + "\n\ndoes not exist. Do you want the folder to be created?");
  SetQuestionHandler([](const std::string&) { return 1; });
  EXPECT_EQ(ValidateAndCreateFolder(dir, 1), 0);
  EXPECT_TRUE(IsDir(dir));
  SetQuestionHandler(nullptr);
}

TEST(ProgressDlg, CtrlCIsCancelWhileShown) {
  CProgressDlg dlg;
  dlg.m_quiet = true;
  ASSERT_TRUE(dlg.Create());
  EXPECT_EQ(dlg.CheckCancel(), 0);
  raise(SIGINT);  // would end the test program without the window's handler
  EXPECT_EQ(dlg.CheckCancel(), 1);
  EXPECT_EQ(dlg.CheckCancel(), 0);  // the flag is cleared
  dlg.SetImageRange(0, 100);
  dlg.SetFileTotal(4);
  dlg.SetFileCounter(2);
  dlg.SetImagePos(30);
  dlg.SetStatusText("Sharpen");
  EXPECT_EQ(dlg.m_imagePos, 30);
  EXPECT_EQ(dlg.m_fileCounter, 2);
  EXPECT_EQ(dlg.m_status, "Sharpen");
  dlg.DestroyWindow();
  EXPECT_FALSE(dlg.m_shown);
}

// Texts from files reach stderr with every control character and every byte outside valid
// UTF-8 shown as \xNN; valid UTF-8 and backslashes stay, so shown text shows as itself.
TEST(ConsoleText, EscapesControlCharactersAndBadBytes) {
  const struct {
    const char *text, *shown;
  } cases[] = {
      {"bad\x1b]0;TITLE\x07\x1b[2J.jpg", "bad\\x1b]0;TITLE\\x07\\x1b[2J.jpg"},
      {"a\tb\nc\x7f", "a\\x09b\\x0ac\\x7f"},
      {"csi\xc2\x9b" "2J", "csi\\xc2\\x9b2J"},                // C1 control, as its two bytes
      {"\xff\xc3(\xe2\x82", "\\xff\\xc3(\\xe2\\x82"},       // stray, bad and cut sequences
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},                    // a UTF-16 surrogate
      {"Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7 a\\x", "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\xb7 a\\x"},
      // Invisible format characters: a right-to-left override, zero-width space and joiner, a
      // left-to-right isolate, the byte-order mark, the soft hyphen, a tag.
      {"gpj.\xe2\x80\xae" "exe", "gpj.\\u202eexe"},
      {"a\xe2\x80\x8b" "b\xe2\x80\x8d" "c\xe2\x81\xa6" "d", "a\\u200bb\\u200dc\\u2066d"},
      {"\xef\xbb\xbf" "x\xc2\xad" "y\xf3\xa0\x80\x81", "\\ufeffx\\u00ady\\U000e0001"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConsoleText(c.text), c.shown) << c.text;
    EXPECT_EQ(ConsoleText(c.shown), c.shown) << c.text;
  }
  EXPECT_EQ(ConsoleColumns("Caf\xc3\xa9\x1b"), 8u);
}

// Display columns: East Asian wide characters take two, combining marks none, and a cut keeps a
// mark with its character.
TEST(ConsoleText, ColumnsOfWideAndCombiningCharacters) {
  const struct {
    const char* text;
    size_t columns;
  } cases[] = {
      {"\xe5\x86\x99\xe7\x9c\x9f", 4},                   // two ideographs
      {"\xe3\x81\x8b\xe3\x82\x99", 2},                   // kana + combining voiced mark
      {"e\xcc\x81\xcc\xa3", 1},                              // e + two combining marks
      {"\xef\xbc\xa1\xea\xb0\x80\xf0\x9f\x93\xb7", 6},   // fullwidth A, a Hangul syllable, an emoji
      {"\xe2\x80\xae", 6},                                   // shown as \u202e
  };
  for (const auto& c : cases) EXPECT_EQ(ConsoleColumns(c.text), c.columns) << c.text;
  // Ten ideographs (20 columns) into 9: 2 + "..." + 4 columns, never half a character.
  const std::string ten = "\xe4\xb8\x80\xe4\xba\x8c\xe4\xb8\x89\xe5\x9b\x9b\xe4\xba\x94"
                          "\xe5\x85\xad\xe4\xb8\x83\xe5\x85\xab\xe4\xb9\x9d\xe5\x8d\x81";
  EXPECT_EQ(ConsoleFit(ten, 9), "\xe4\xb8\x80...\xe4\xb9\x9d\xe5\x8d\x81");
  EXPECT_EQ(ConsoleFit("abcdefg\xcc\x81" "h", 7), "ab...g\xcc\x81h");
  EXPECT_EQ(ConsoleFit("ae\xcc\x81" "cdefgh", 6), "ae\xcc\x81...h");
}

// The drawn line fits in width - 1 columns, shortening the name in the middle (never inside an
// escape) before the step.
TEST(ProgressDlg, ProgressLineFitsTheTerminal) {
  const std::string longName = "/p/holiday_pictures_from_the_seaside_with_a_rather_long_name_07.jpg";
  const struct {
    std::string path, step;
    int width;
    std::string line;
  } cases[] = {
      {"/p/a.jpg", "Sharpen", 80, "[2/9] a.jpg  Sharpen   90%"},
      {"", "Loading...", 80, "[2/9] Loading...   90%"},
      {"/p/nosuchdir/", "Loading...", 80, "[2/9] nosuchdir/  Loading...   90%"},
      {longName, "Adjusting Gamma", 80,
       "[2/9] holiday_pictures_from_t...rather_long_name_07.jpg  Adjusting Gamma   90%"},
      {longName, "Adjusting Gamma", 40, "[2/9] holiday...07.jpg  Adjust...   90%"},
      {"/p/\x1b\x1b\x1b\x1b\x1b\x1b.jpg", "Sharpen", 40, "[2/9] \\x1b...\\x1b.jpg  Sharpen   90%"},
      {longName, "Sharpen", 12, "[2/9] ho..."},
  };
  for (const auto& c : cases) {
    const std::string line = CProgressDlg::ProgressLine(2, 9, c.path, c.step, 90, c.width);
    EXPECT_EQ(line, c.line) << c.width;
    EXPECT_LT(ConsoleColumns(line), static_cast<size_t>(c.width)) << line;
  }
}

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> b = qrvtest::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

TEST(HtmlLog, AppendStartAndMissingFolder) {
  qrvtest::TempDir tmp;
  CBatchApp app;
  CMainDialog dlg(app);
  dlg.SetHomeFolder(tmp.path());
  dlg.AppendLog("lost", 0);  // no help folder: silently nothing
  EXPECT_FALSE(IsDir(tmp.path() + "/help"));

  ASSERT_EQ(mkdir((tmp.path() + "/help").c_str(), 0777), 0);
  const std::string log = tmp.path() + "/help/log.html";
  dlg.AppendLog("one", 0);  // created when missing
  dlg.AppendLog("two", 0);
  EXPECT_EQ(ReadText(log), "onetwo");
  dlg.AppendLog("fresh", 1);
  EXPECT_EQ(ReadText(log), "fresh");
}

TEST(HtmlLog, TimeFormatAndEscaping) {
  struct tm tmv {};
  tmv.tm_year = 104;
  tmv.tm_mon = 4;
  tmv.tm_mday = 6;
  tmv.tm_hour = 9;
  tmv.tm_min = 5;
  tmv.tm_sec = 3;
  tmv.tm_isdst = -1;
  EXPECT_EQ(FormatLogTime(mktime(&tmv)), "09::05::03 ");
  CMainDialog dlg;
  const std::string now = dlg.LogTime();
  ASSERT_EQ(now.size(), 11u);
  EXPECT_EQ(now.substr(2, 2), "::");
  EXPECT_EQ(now.back(), ' ');
  EXPECT_EQ(HtmlEscape("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c'");
}

}  // namespace
