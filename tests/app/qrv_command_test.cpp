// The qrv command as a user runs it: a queue from the command line, its messages and exit
// codes, the checks of a profile and of --set, and Ctrl-C in the middle of a run.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/CRGBImage.h"
#include "app/qrv_process.h"
#include "support/test_support.h"

namespace {

using qrvtest::FolderNames;
using qrvtest::FilePixels;
using qrvtest::StartQrv;

bool IsFolderPresent(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> b = qrvtest::ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

// Runs the command in `dir` with stdin from /dev/null: its stdout, stderr and exit status.
struct Outcome {
  std::string out, err;
  int status = -1;
};
Outcome Qrv(const qrvtest::TempDir& dir, const std::string& args) {
  Outcome r;
  r.out = qrvtest::RunCommand("cd '" + dir.path() + "' && " + QRV_COMMAND + " " + args + " </dev/null 2>" +
                                  dir.File("stderr.txt"),
                              &r.status);
  r.err = ReadText(dir.File("stderr.txt"));
  return r;
}

// A folder "in" with two pictures and a broken JPEG.
void MakeQueue(const qrvtest::TempDir& dir) {
  const std::string in = dir.File("in");
  mkdir(in.c_str(), 0777);
  MakeJpeg(in + "/a.jpg", 64, 48);
  MakeJpeg(in + "/b.png", 40, 30);
  ASSERT_TRUE(qrvtest::WriteFileBytes(in + "/broken.jpg", {0xFF, 0xD8, 0xFF}));
}

// Runs the command on a pseudo-terminal of 80 columns (or `columns`): every byte it wrote there, read from the
// master side until it ends, and its exit status. `act` sees the bytes so far until it returns
// true (it may signal the child).
Outcome OnTerminal(const std::vector<std::string>& args, const std::function<bool(pid_t, const std::string&)>& act,
                   unsigned short columns = 80) {
  Outcome r;
  struct winsize size {};
  size.ws_row = 24;
  size.ws_col = columns;
  int master = -1;
  const pid_t child = forkpty(&master, nullptr, nullptr, &size);
  if (child < 0) return r;
  if (child == 0) {
    unsetenv("COLUMNS");
    std::vector<std::string> copy = args;
    std::vector<char*> argv = {const_cast<char*>(QRV_COMMAND)};
    for (std::string& a : copy) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    execv(QRV_COMMAND, argv.data());
    _exit(127);
  }
  bool acted = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  char buffer[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EIO: the child has gone
    r.err.append(buffer, static_cast<size_t>(n));
    if (!acted) acted = act(child, r.err);
  }
  close(master);
  int status = 0;
  if (waitpid(child, &status, WNOHANG) == 0) kill(child, SIGKILL);
  waitpid(child, &status, 0);
  r.status = ExitCode(status);
  return r;
}

// Terminal output cut at \r and \n once the erase-line escapes are gone: the lines written to
// stay (ended by a line feed) and the lines drawn over again.
void TerminalLines(std::string bytes, std::vector<std::string>* lasting, std::vector<std::string>* drawn) {
  for (size_t at; (at = bytes.find("\033[K")) != std::string::npos;) bytes.erase(at, 3);
  std::string piece;
  for (size_t i = 0; i <= bytes.size(); ++i) {
    const char c = i < bytes.size() ? bytes[i] : '\r';
    if (c != '\r' && c != '\n') {
      piece += c;
      continue;
    }
    const bool ended = c == '\n' || (i + 1 < bytes.size() && bytes[i + 1] == '\n');
    if (!piece.empty()) (ended ? lasting : drawn)->push_back(piece);
    piece.clear();
  }
}

// Terminal columns of a text of ASCII, Latin and CJK characters: U+3000..U+9FFF (a three-byte
// sequence led by E3..E9) takes two.
size_t Columns(const std::string& text) {
  size_t n = 0;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    n += (u & 0xC0) != 0x80 ? (u >= 0xE3 && u <= 0xE9 ? 2 : 1) : 0;
  }
  return n;
}

}  // namespace

TEST(QrvCommand, RunsTheQueueListsWhatWasNotWrittenAndSums) {
  qrvtest::TempDir dir;
  MakeQueue(dir);
  const std::string in = dir.File("in");
  Outcome r = Qrv(dir, "--home home in");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "log: " + dir.File("home") + "/help/log.html\n");
  // Not a terminal: a line per entry as it ends, then the list, then the summary.
  const std::string failed = "Can't load file: " + in + "/broken.jpg (bad JPG file: Premature end of JPEG file)";
  EXPECT_EQ(r.err.find("[1/3] a.jpg -> QRV/a_QRV.jpg\n[2/3] b.png -> QRV/b_QRV.png\n"
                       "[3/3] broken.jpg: not written: " + failed + "\n"
                       "not written: " + failed + "\n"
                       "2 written, 0 with warnings, 1 not written in "),
            0u)
      << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - 3), " s\n");
  CRGBImage back;
  EXPECT_EQ(back.Load(in + "/QRV/a_QRV.jpg"), 0);
  EXPECT_EQ(back.Load(in + "/QRV/b_QRV.png"), 0);

  // -q: only the list.
  r = Qrv(dir, "-q --home home in/broken.jpg in/a.jpg");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "not written: " + failed + "\n");
  // The output folder is never taken as a source folder.
  EXPECT_EQ(Qrv(dir, "-q --home home in/QRV").status, 1);
  r = Qrv(dir, "--home home --current 1 in");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find("[1/1] a.jpg -> QRV/a2_QRV.jpg\n1 written, 0 with warnings, 0 not written in "), 0u)
      << r.err;
}

// A JBIG page of 64 x 64 whose stream header claims a bitmap its library cannot allocate
// (2^31 x 2^31, or 2^30 rows with a NEWLEN-like FF 05 inside a COMMENT that libjbig skips): the
// entry is refused and the run goes on to the next one.
TEST(QrvCommand, HostileCodecHeaderEndsOnlyItsEntry) {
  // The stream header: planes, width, height, options (VLENGTH 0x20); then what follows it.
  const auto stream = [](uint32_t xd, uint32_t yd, uint8_t options, std::vector<uint8_t> tail) {
    std::vector<uint8_t> b = {0, 0, 1, 0};
    for (uint32_t v : {xd, yd, 128u})
      for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
    b.insert(b.end(), {0, 0, 3, options});
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  };
  std::vector<uint8_t> comment(40, 0);
  comment.insert(comment.end(), {0xFF, 0x02, 0xFF, 0x07, 0, 0, 0, 6, 0xFF, 0x05, 0, 0, 0, 64});
  const struct {
    std::vector<uint8_t> bie;
    const char* claim;
  } cases[] = {
      {stream(1u << 31, 1u << 31, 0x1C, {}), "2147483648 x 2147483648"},
      {stream(64, 1u << 30, 0x3C, comment), "64 x 1073741824"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.claim);
    qrvtest::TempDir dir;
    const std::string in = dir.File("in");
    mkdir(in.c_str(), 0777);
    std::vector<uint8_t> f = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
    const auto put = [&f](uint32_t v, int n) {
      for (int i = 0; i < n; ++i) f.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const uint32_t data = 10 + 9 * 12 + 4;
    // Tag, value (LONG): width, height, bits, JBIG, min-is-white, offset, samples, rows, bytes.
    const uint32_t tags[9][2] = {{256, 64}, {257, 64}, {258, 1}, {259, 34661}, {262, 0},
                                 {273, data}, {277, 1}, {278, 64}, {279, 100}};
    for (const auto& t : tags) put(t[0], 2), put(4, 2), put(1, 4), put(t[1], 4);
    put(0, 4);
    // The stream as libtiff stores JBIG data: each byte's bits reversed.
    for (uint8_t b : c.bie) {
      uint8_t r = 0;
      for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | ((b >> i) & 1) << (7 - i));
      f.push_back(r);
    }
    f.resize(data + 100, 0);
    ASSERT_TRUE(qrvtest::WriteFileBytes(in + "/a.tif", f));
    MakeJpeg(in + "/b.jpg", 64, 48);
    const Outcome r = Qrv(dir, "--home home in/a.tif in/b.jpg");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.find("[1/2] a.tif: not written: Can't load file: " + in +
                         "/a.tif (invalid TIFF file: JBIG header of TIFF strip 0 claims 1 plane(s) of " + c.claim +
                         " pixels, not the strip's 64 x 64 (512 bytes))\n[2/2] b.jpg -> QRV/b_QRV.jpg\n"),
              0u)
        << r.err;
    EXPECT_NE(r.err.find("1 written, 0 with warnings, 1 not written in "), std::string::npos) << r.err;
    CRGBImage back;
    EXPECT_EQ(back.Load(in + "/QRV/b_QRV.jpg"), 0);
  }
}

// A refusal in words of its own is shown in them alone, not after a code number.
TEST(QrvCommand, RefusalsAreShownInTheirOwnWords) {
  qrvtest::TempDir dir;
  std::vector<uint8_t> lab = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 2, 0, 8, 0, 9};
  lab.resize(lab.size() + 14 + 12, 0);
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("lab.psd"), lab));
  const std::string words = "PSD in Lab mode is not read by this build";
  const Outcome r = Qrv(dir, "--home home lab.psd");
  const std::string line = "[1/1] lab.psd: not written: Can't load file: " + dir.File("lab.psd") + " (" + words + ")\n";
  EXPECT_EQ(r.err.find(line), 0u) << r.err;
  const Outcome frame = Qrv(dir, "--home home --black-frame lab.psd lab.psd");
  EXPECT_EQ(frame.err, "qrv: cannot load black frame lab.psd: " + words + "\n");
}

// Every bad argument or setting is named and refused with status 2 before anything runs.
TEST(QrvCommand, RefusesBadArgumentsAndSettingsByName) {
  qrvtest::TempDir dir;
  MakeQueue(dir);
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("binary.qrv"), {'[', 'S', ']', '\n', 0x7F, 'E', 'L', 'F', 0, 1, '\n'}));
  const struct {
    const char* args;
    int status;
    const char* message;
  } cases[] = {
      {"--frobnicate in", 2, "qrv: unknown option --frobnicate\n"},
      {"-v in", 2, "qrv: unknown option -v\n"},
      {"--mode expert in", 2, "qrv: --mode takes simple or advanced, not expert\n"},
      {"in --home", 2, "qrv: --home needs a folder\n"},
      {"--profile '' in", 2, "qrv: --profile needs a profile file\n"},
      {"--current 0 in", 2, "qrv: --current takes an entry number 1, 2, ..., not 0\n"},
      {"--current 9 in", 2, "qrv: --current 9: the queue has 3 entries\n"},
      {"-q", 2, "qrv: no picture or folder given\n"},
      {"--set Size.Type=9x in", 2, "qrv: --set Size.Type=9x: \"9x\" is not a whole number; allowed: any whole "},
      {"--set Size.Filter=0x in", 2, "allowed: any whole number: 0 the program's own resampler, any other the library's\n"},
      {"--set Sharpen.Type=2147483648 in", 2, "Sharpen.Type=2147483648: 2147483648 is out of range; allowed: any whole "},
      {"--set Foo.Bar=1 in", 2, "qrv: --set Foo.Bar=1: unknown section \"Foo\"; the sections are Mode, Output, "},
      {"--set size.Bar=1 in", 2, "section \"Size\" has no key \"Bar\"; its keys are Type, Percent, Width, "},
      {"--set Quality.CQ=-1 in", 2, "qrv: --set Quality.CQ=-1: -1 is out of range; allowed: 1..100\n"},
      {"--set Output.FileType=99 in", 2, "Output.FileType=99: 99 is out of range; allowed: 0..3\n"},
      {"--set Quality.MaxKB=1,5 in", 2, "\"1,5\" is not a number; allowed: 1..2147483 (a number)\n"},
      {"--set Text.TextColor=0x1000000 in", 2, "allowed: 0..0xFFFFFF (a colour 0xBBGGRR)\n"},
      {"--set Output.SimDir=out in", 2, "allowed: empty or an absolute folder path\n"},
      {"--set 'Hot Pixels.SimSteps=1:5,1:6' in", 2, "is not a list of steps; allowed: position:value,"},
      {"--set Balance.NoExif=1 --set Balance.Steps=0:99 in", 2,
       "Balance.NoExif=1: 1 is out of range; allowed: 0 (the slider has one step)\n"},
      {"--profile " QRV_SOURCE_DIR "/app/default.qrv --set Balance.Steps=0:99 in", 2,
       "qrv: --set Balance.Steps=0:99: with these steps NoExif=1 is out of range; allowed: 0 (the slider has one "
       "step)\n"},
      {"--set Size.Type in", 2, "qrv: --set Size.Type: takes Section.Key=Value"},
      {"--profile /dev/zero in", 2, "qrv: cannot read profile /dev/zero: larger than 16 MB\n"},
      {"--profile in in", 2, "qrv: cannot read profile in: it is a folder\n"},
      {"--profile binary.qrv in", 2, "qrv: binary.qrv:2: not a text file (this line holds NUL bytes)\n"},
      {"--black-frame in/none.png in", 2,
       "qrv: cannot load black frame in/none.png: error on file open (No such file or directory)\n"},
      {"--help", 0, "(app/default.qrv in the sources)"},
  };
  for (const auto& c : cases) {
    const Outcome r = Qrv(dir, std::string("--home home ") + c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    const std::string& text = c.status == 0 ? r.out : r.err;
    EXPECT_NE(text.find(c.message), std::string::npos) << c.args << "\n" << text;
    if (c.status == 2) {
      EXPECT_EQ(r.out, "") << c.args;  // nothing ran
    }
  }
  EXPECT_FALSE(IsFolderPresent(dir.File("in/QRV")));
  const Outcome version = Qrv(dir, "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.compare(0, 4, "qrv "), 0);
  EXPECT_NE(version.out.find_first_of("0123456789"), std::string::npos);
  // "--" ends the options.
  MakeJpeg(dir.File("-dash.jpg"), 16, 16);
  EXPECT_EQ(Qrv(dir, "-q --home home -- -dash.jpg").status, 0);
  EXPECT_FALSE(qrvtest::ReadFileBytes(dir.File("QRV/-dash_QRV.jpg")).empty());
}

// A profile is checked line by line: errors refuse it as FILE:LINE, an unknown name is one
// warning with its lines.
TEST(QrvCommand, ProfileProblemsAsFileAndLine) {
  qrvtest::TempDir dir;
  MakeQueue(dir);
  const std::string bad =
      "; comment\n[Size]\nPercent=0\nfoo\n[Quality\n[Text] junk\nString=x\nstring=y\n[Future]\nKey=1\n"
      "[Balance]\nNewKey=2\nSteps=0:1,5:2\nNoExif=2\n[future]\nkey=2\n";
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("p.qrv"), std::vector<uint8_t>(bad.begin(), bad.end())));
  Outcome r = Qrv(dir, "--home home --profile p.qrv in");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "qrv: p.qrv:3: Size.Percent=0: 0 is out of range; allowed: 1..1000\n"
            "qrv: p.qrv:4: not a [Section] header, a Key=Value line, a comment or a blank line: \"foo\"\n"
            "qrv: p.qrv:5: section header without its closing ']': \"[Quality\"\n"
            "qrv: p.qrv:6: text after the section header: \"junk\"\n"
            "qrv: warning: p.qrv:8: string repeats line 7; ignored (the first one counts)\n"
            "qrv: warning: p.qrv: unknown section [Future] (lines 10, 16), ignored\n"
            "qrv: warning: p.qrv: section \"Balance\" has no key \"NewKey\" (line 12), ignored\n"
            "qrv: p.qrv:14: Balance.NoExif=2: 2 is out of range; allowed: a step index 0..1 (the slider has 2 "
            "steps)\n");
  // Warnings alone: the run goes on. The shipped default profile gives no word at all.
  const std::string newer = "[Size]\r\nType=0\r\n[Future]\r\nKey=1\r\n";
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("p.qrv"), std::vector<uint8_t>(newer.begin(), newer.end())));
  r = Qrv(dir, "-q --home home --profile p.qrv in/a.jpg");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "qrv: warning: p.qrv: unknown section [Future] (line 4), ignored\n");
  r = Qrv(dir, std::string("-q --home home --profile ") + QRV_SOURCE_DIR + "/app/default.qrv in/a.jpg");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

// --home, or QRV_HOME without it, is made with its parents; one that cannot be made is refused
// with the reason.
TEST(QrvCommand, HomeFolderMadeOrRefused) {
  qrvtest::TempDir dir;
  MakeQueue(dir);
  Outcome r = Qrv(dir, "--home new/deep/home in/a.jpg");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "log: " + dir.File("new/deep/home") + "/help/log.html\n");
  EXPECT_NE(ReadText(dir.File("new/deep/home/help/log.html")).find("Finished"), std::string::npos);
  r = Qrv(dir, "--home ./new/../new//deep/./home in/a.jpg");  // the log's path as it is
  EXPECT_EQ(r.out, "log: " + dir.File("new/deep/home") + "/help/log.html\n");
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("plain"), {'x'}));
  r = Qrv(dir, "--home plain/home in/a.jpg");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "qrv: --home plain/home: cannot create " + dir.File("plain/home/help") + " (" +
                       dir.File("plain") + " is a file, not a folder)\n");
  setenv("QRV_HOME", "plain/home", 1);
  r = Qrv(dir, "in/a.jpg");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "qrv: QRV_HOME plain/home: cannot create " + dir.File("plain/home/help") + " (" +
                       dir.File("plain") + " is a file, not a folder)\n");
  setenv("QRV_HOME", "env/home", 1);
  r = Qrv(dir, "in/a.jpg");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "log: " + dir.File("env/home") + "/help/log.html\n");
  r = Qrv(dir, "--home home in/a.jpg");  // --home decides
  EXPECT_EQ(r.out, "log: " + dir.File("home") + "/help/log.html\n");
  unsetenv("QRV_HOME");
}

// Nobody can answer the size-limit question: the run is refused and the question shown.
TEST(QrvCommand, UnansweredSizeLimitQuestionIsShown) {
  qrvtest::TempDir dir;
  MakeQueue(dir);
  Outcome r = Qrv(dir, "--home home --set Quality.Type=1 --set Quality.MaxKB=250 in/a.jpg");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("smaller or equal 250kB\nThis may result"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--yes answers Yes"), std::string::npos) << r.err;
  EXPECT_FALSE(IsFolderPresent(dir.File("in/QRV")));
  EXPECT_EQ(Qrv(dir, "-q --yes --home home --set Quality.Type=1 in/a.jpg").status, 0);
}

// Ctrl-C, SIGTERM or SIGHUP after the first output: the command ends with 128 + the signal and
// its summary line, the entries it did not reach have no output, and no partial or temporary
// file is left.
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
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    const std::string out = dir.File("out" + std::to_string(signal)), err = dir.File("err.txt");
    const std::string simDir = "Output.SimDir=" + out;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const int null = open("/dev/null", O_WRONLY);
      const int errFile = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      dup2(null, 1);
      dup2(errFile, 2);
      execl(QRV_COMMAND, QRV_COMMAND, "--home", home.c_str(), "--set", "Output.Type=1", "--set", simDir.c_str(),
            in.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Wait for the first finished output, then send the signal.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    bool first = false;
    while (!first && std::chrono::steady_clock::now() < deadline) {
      for (const std::string& n : FolderNames(out)) first |= n.find("_QRV.jpg") != std::string::npos;
      if (!first) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(first);
    kill(child, signal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(ExitCode(status), 128 + signal);
    int written = 0;
    for (const std::string& n : FolderNames(out)) {
      EXPECT_NE(n[0], '.') << "left over: " << n;
      if (n.find("_QRV.jpg") == std::string::npos) continue;
      ++written;
      CRGBImage back;
      EXPECT_EQ(back.Load(out + "/" + n), 0) << n;
      EXPECT_EQ(back.GetWidth(), 1600) << n;
    }
    EXPECT_GE(written, 1);
    EXPECT_LT(written, count);
    const std::string text = ReadText(err);
    const std::string summary = std::to_string(written) + " written, 0 with warnings, 1 not written in ";
    EXPECT_NE(text.find("\n" + summary), std::string::npos) << text;
    EXPECT_NE(text.find(" s; cancelled, " + std::to_string(count - written - 1) + " not reached\n"),
              std::string::npos)
        << text;
  }
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
    expected[b] = FilePixels(reference + "/" + b + "_QRV.png");
    ASSERT_FALSE(expected[b].empty()) << b;
  }
  std::set<std::string> names;
  for (const std::string& n : FolderNames(out)) {
    if (n == "qrvoutput.dir") continue;
    names.insert(n);
    const std::string base = n.substr(0, 5);
    ASSERT_TRUE(expected.count(base)) << n;
    EXPECT_EQ(FilePixels(out + "/" + n), expected[base]) << n;
  }
  EXPECT_EQ(names.size(), 3u * kPictures);
  for (const std::string& b : bases)
    for (const char* suffix : {"_QRV.png", "1_QRV.png", "2_QRV.png"}) EXPECT_TRUE(names.count(b + suffix)) << b;
  EXPECT_EQ(qrvtest::ReadFileBytes(out + "/qrvoutput.dir").size(), 3u * kPictures);
}

// A folder expands to the pictures it holds: not the outputs that earlier runs wrote beside the
// sources (their folder holds the output marker), not camera-RAW files (counted in one line);
// a file named twice, or named and in its folder, is queued once; a named output is taken.
TEST(QrvCommand, FolderExpansionSkipsOutputsAndRawFilesAndQueuesEachFileOnce) {
  qrvtest::TempDir dir;
  const std::string in = dir.File("in");
  mkdir(in.c_str(), 0777);
  MakeJpeg(in + "/DSCN0012.jpg", 64, 48);
  for (const char* raw : {"a.NEF", "b.cr2", "c.dng"}) ASSERT_TRUE(qrvtest::WriteFileBytes(in + "/" + raw, {'I', 'I'}));
  const std::string beside = "--home home --set Output.Type=2 --set Output.Replace=1 in";
  const std::string skipped = "qrv: 3 camera RAW files skipped: RAW decoding is not part of this build\n";
  Outcome r = Qrv(dir, beside);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find(skipped + "[1/1] DSCN0012.jpg -> DSCN0012_QRV.jpg\n"), 0u) << r.err;
  // The folder now holds the output marker, as every folder an output went to does.
  ASSERT_EQ(qrvtest::ReadFileBytes(in + "/qrvoutput.dir"), std::vector<uint8_t>{'*'});
  const std::vector<BYTE> first = FilePixels(in + "/DSCN0012_QRV.jpg");
  ASSERT_FALSE(first.empty());
  r = Qrv(dir, beside);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find(skipped + "[1/1] DSCN0012.jpg -> DSCN0012_QRV.jpg\n1 written, "), 0u) << r.err;
  std::set<std::string> names;
  for (const std::string& n : FolderNames(in)) names.insert(n);
  EXPECT_EQ(names, (std::set<std::string>{"DSCN0012.jpg", "DSCN0012_QRV.jpg", "qrvoutput.dir", "a.NEF", "b.cr2",
                                          "c.dng"}));
  EXPECT_EQ(FilePixels(in + "/DSCN0012_QRV.jpg"), first);

  ASSERT_EQ(link((in + "/DSCN0012.jpg").c_str(), dir.File("linked.jpg").c_str()), 0);
  mkdir(dir.File("raw1").c_str(), 0777);
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("raw1/x.ORF"), {'I', 'I'}));
  mkdir(dir.File("many").c_str(), 0777);
  MakeJpeg(dir.File("many/m.jpg"), 16, 16);
  for (const char* sub : {"g", "a", "b", "c", "d", "e", "f"}) mkdir(dir.File(std::string("many/") + sub).c_str(), 0777);
  mkdir(dir.File("only").c_str(), 0777);
  mkdir(dir.File("only/x").c_str(), 0777);
  const struct {
    const char* args;
    int status;
    const char* err;
    bool whole;  // err is all of stderr, not its start
  } cases[] = {
      {"in/DSCN0012_QRV.jpg", 0, "[1/1] DSCN0012_QRV.jpg -> QRV/DSCN0012_QRV_QRV.jpg\n", false},  // named: taken
      {"in/DSCN0012.jpg in in/./DSCN0012.jpg linked.jpg", 0,
       "qrv: 3 camera RAW files skipped: RAW decoding is not part of this build\n"
       "[1/1] DSCN0012.jpg -> QRV/DSCN0012_QRV.jpg\n1 written, ",
       false},
      {"missing.jpg ./missing.jpg", 1, "[1/1] missing.jpg: not written: ", false},
      {"nosuchdir/", 1, "[1/1] nosuchdir/: not written: Can't load file: ", false},  // named as given
      {"raw1", 1,
       "qrv: 1 camera RAW file skipped: RAW decoding is not part of this build\n"
       "qrv: no picture files in raw1 (1 camera RAW file)\n",
       false},
      // Slashes at a folder's end change no path shown; a few subfolders are named, then counted
      // (not an output folder), also for a folder that holds no picture.
      {"in// many/ raw1/ only", 0,
       "qrv: 4 camera RAW files skipped: RAW decoding is not part of this build\n"
       "qrv: 7 subfolders not searched: many/a, many/b, many/c, many/d, many/e and 2 more\n"
       "qrv: 1 subfolder not searched: only/x\n"
       "[1/2] DSCN0012.jpg -> QRV/DSCN00121_QRV.jpg\n[2/2] m.jpg -> QRV/m_QRV.jpg\n2 written, ",
       false},
      {"-q in many raw1", 0, "", true},  // -q: no word on what the folders left out
  };
  for (const auto& c : cases) {
    r = Qrv(dir, std::string("--home home ") + c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    if (c.whole)
      EXPECT_EQ(r.err, c.err) << c.args;
    else
      EXPECT_EQ(r.err.find(c.err), 0u) << c.args << "\n" << r.err;
  }
}

// Pictures of formats this build does not read are named in one line (by signature or by
// extension; other files stay silent), -q leaves it out; a camera-RAW file named directly that
// cannot be read says that RAW is not decoded, whatever its reader met.
TEST(QrvCommand, UnreadPicturesOfAFolderAndRawFilesNamedDirectlyAreNamed) {
  qrvtest::TempDir dir;
  const std::string in = dir.File("in");
  mkdir(in.c_str(), 0777);
  MakeJpeg(in + "/IMG_0001.JPG", 32, 24);
  const std::vector<uint8_t> heic = {0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0};
  const std::vector<uint8_t> webp = {'R', 'I', 'F', 'F', 8, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', ' '};
  for (const char* name : {"IMG_0002.HEIC", "IMG_0003.heic", "IMG_0004.HEIC", "IMG_0005.HEIC", "IMG_0006.HEIC"})
    ASSERT_TRUE(qrvtest::WriteFileBytes(in + "/" + name, heic));
  ASSERT_TRUE(qrvtest::WriteFileBytes(in + "/clip.webp", webp));
  ASSERT_TRUE(qrvtest::WriteFileBytes(in + "/sent", webp));                 // told by its signature
  ASSERT_TRUE(qrvtest::WriteFileBytes(in + "/cut.avif", {0, 0}));          // told by its extension
  ASSERT_TRUE(qrvtest::WriteFileBytes(in + "/notes.txt", {'h', 'i'}));    // no picture: silent
  // A TIFF-like NEF and CR2 whose strip lies past their end, a RAF of no format the sniffer knows.
  const std::vector<uint8_t> tiffLike = {'I', 'I', 42, 0, 8, 0, 0, 0, 3, 0, 0, 1, 3, 0, 1, 0, 0, 0, 160, 0, 0, 0,
                                         1, 1, 3, 0, 1, 0, 0, 0, 106, 0, 0, 0, 17, 1, 4, 0, 1, 0, 0, 0, 0, 0, 1, 0,
                                         0, 0, 0, 0};
  mkdir(dir.File("raw").c_str(), 0777);
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("raw/DSC_0001.NEF"), tiffLike));
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("raw/IMG_0001.CR2"), tiffLike));
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("raw/DSCF0001.RAF"),
                                      {'F', 'U', 'J', 'I', 'F', 'I', 'L', 'M', 'C', 'C', 'D', '-', 'R', 'A', 'W'}));
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("raw/empty.nef"), {}));

  const std::string line =
      "qrv: 8 pictures skipped: this build does not read AVIF, HEIF or WebP: in/IMG_0002.HEIC, in/IMG_0003.heic, "
      "in/IMG_0004.HEIC, in/IMG_0005.HEIC, in/IMG_0006.HEIC and 3 more\n";
  Outcome r = Qrv(dir, "--home home in");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find(line + "[1/1] IMG_0001.JPG -> QRV/IMG_0001_QRV.JPG\n"), 0u) << r.err;
  r = Qrv(dir, "-q --home home in");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(unlink((in + "/IMG_0001.JPG").c_str()), 0);
  r = Qrv(dir, "--home home in");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, line + "qrv: no picture files in in (8 pictures of formats this build does not read, "
                          "1 file without a picture extension, 1 subfolder, which is not searched)\n");

  r = Qrv(dir, "--home home raw/DSC_0001.NEF raw/IMG_0001.CR2 raw/DSCF0001.RAF raw/empty.nef");
  EXPECT_EQ(r.status, 1);
  const std::string raw = dir.File("raw/");
  for (const std::string name : {"DSC_0001.NEF", "IMG_0001.CR2", "DSCF0001.RAF"})
    EXPECT_NE(r.err.find(name + ": not written: Can't load file: " + raw + name +
                         " (camera RAW file: RAW decoding is not part of this build)\n"),
              std::string::npos)
        << r.err;
  EXPECT_NE(r.err.find("empty.nef: not written: Can't load file: " + raw +
                       "empty.nef (error on file read: the file is empty)"),
            std::string::npos)
      << r.err;
}

// A numbered output never takes the name of another picture's output: the number that would
// give another picture's name (case ignored, RAW files too) is passed over.
TEST(QrvCommand, NumberedOutputsPassOverTheNamesOfOtherPictures) {
  const struct {
    const char* first;              // written twice
    std::vector<const char*> others;  // beside it
    const char* second;             // its second output
    const char* other;              // the first other's output, its own picture
  } cases[] = {
      {"P1.jpg", {"P11.jpg"}, "P12_QRV.jpg", "P11_QRV.jpg"},
      {"P1.jpg", {"p11.PNG", "P12.nef", "P13.txt"}, "P13_QRV.jpg", "p11_QRV.PNG"},
      {"IMG_0001.JPG", {"IMG_00011.JPG", "IMG_00012.JPG"}, "IMG_00013_QRV.JPG", "IMG_00011_QRV.JPG"},
  };
  for (const auto& c : cases) {
    qrvtest::TempDir dir;
    const std::string in = dir.File("in/");
    mkdir(in.c_str(), 0777);
    MakeJpeg(in + c.first, 64, 48);
    for (const char* other : c.others) {
      const std::string name = other;
      if (FormatFromExtension(name) == IFF_UNKNOWN)
        ASSERT_TRUE(qrvtest::WriteFileBytes(in + other, {'x'}));
      else
        MakeJpeg(in + other, 40, 30);
    }
    const std::string first = std::string("--home home in/") + c.first;
    ASSERT_EQ(Qrv(dir, first).status, 0);
    const Outcome r = Qrv(dir, first);
    EXPECT_NE(r.err.find(std::string(" -> QRV/") + c.second + "\n"), std::string::npos) << c.first << "\n" << r.err;
    ASSERT_EQ(Qrv(dir, std::string("--home home in/") + c.others[0]).status, 0);
    CRGBImage second, other;
    ASSERT_EQ(second.Load(in + "QRV/" + c.second), 0) << c.second;
    ASSERT_EQ(other.Load(in + "QRV/" + c.other), 0) << c.other;
    EXPECT_EQ(second.GetWidth(), 64);
    EXPECT_EQ(other.GetWidth(), 40);
  }
  // One output folder gathering two folders: the queue's pictures count too.
  qrvtest::TempDir dir;
  mkdir(dir.File("a").c_str(), 0777);
  mkdir(dir.File("b").c_str(), 0777);
  MakeJpeg(dir.File("a/P1.jpg"), 64, 48);
  MakeJpeg(dir.File("b/P11.jpg"), 40, 30);
  const std::string out = dir.File("out/");
  const std::string gather = "--home home --set Output.Type=1 --set Output.SimDir=" + out + " ";
  ASSERT_EQ(Qrv(dir, gather + "a").status, 0);
  const Outcome r = Qrv(dir, gather + "a b");
  EXPECT_NE(r.err.find("[1/2] P1.jpg -> " + out + "P12_QRV.jpg\n[2/2] P11.jpg -> " + out + "P11_QRV.jpg\n"),
            std::string::npos)
      << r.err;
}

// Black and white needs a filter to take the grey of: without one the picture keeps its colours
// and the entry is written with a warning; with one it is grey and no warning is given.
TEST(QrvCommand, BlackAndWhiteWithoutAFilterWarnsAndKeepsTheColours) {
  qrvtest::TempDir dir;
  mkdir(dir.File("in").c_str(), 0777);
  MakeJpeg(dir.File("in/a.png"), 32, 24);
  const struct {
    const char* args;
    bool grey;
    bool warned;
  } cases[] = {
      {"--mode simple --set FilterSim.SimEnabled=1 --set FilterSim.SimBW=1", false, true},
      {"--mode advanced --set FilterSim.Enabled=1 --set FilterSim.BW=1", false, true},
      {"--mode advanced --set FilterSim.Enabled=1 --set FilterSim.BW=1 --set 'FilterSim.Name=#25 Filter'", true, false},
  };
  for (const auto& c : cases) {
    const Outcome r = Qrv(dir, std::string("--home home --set Output.Replace=1 ") + c.args + " in/a.png");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("black and white needs a colour filter: none is named") != std::string::npos, c.warned)
        << c.args << "\n" << r.err;
    const std::vector<BYTE> px = FilePixels(dir.File("in/QRV/a_QRV.png"));
    ASSERT_FALSE(px.empty());
    bool grey = true;
    for (size_t i = 0; i + 2 < px.size(); i += 3) grey &= px[i] == px[i + 1] && px[i] == px[i + 2];
    EXPECT_EQ(grey, c.grey) << c.args;
  }
}

// A source's XMP packet in UTF-16 reaches the output as UTF-8 XMP that another reader reads.
TEST(QrvCommand, Utf16XmpIsCarriedAsUtf8) {
  QRV_REQUIRE_TOOL("exiftool");
  qrvtest::TempDir dir;
  const std::u16string packet =
      u"<?xpacket begin='\uFEFF' id='W5M0MpCehiHzreSzNTczkc9d'?>"
      u"<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
      u"<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/'>"
      u"<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Caf\u00E9</rdf:li></rdf:Alt></dc:title>"
      u"</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
  // Little-endian with a byte-order mark.
  std::vector<uint8_t> marker(std::begin("http://ns.adobe.com/xap/1.0/"), std::end("http://ns.adobe.com/xap/1.0/"));
  marker.insert(marker.end(), {0xFF, 0xFE});
  for (char16_t u : packet) marker.insert(marker.end(), {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8)});
  const std::vector<BYTE> px(32 * 24 * 3, 128);
  ISIOHandle sink = ISOpenFileSink(dir.File("a.jpg").c_str(), 0);
  ISClearJPGMarkers();
  ISAddJPGMarker(marker.data(), static_cast<DWORD>(marker.size()), 0xE1);
  ASSERT_NE(ISWriteJPG(sink, px.data(), 32, 24, 90, 24, nullptr, 0), 0u);
  ISCloseSink(sink);
  ISClearJPGMarkers();
  const Outcome r = Qrv(dir, "--home home a.jpg");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find("warning:"), std::string::npos) << r.err;
  EXPECT_EQ(qrvtest::RunCommand("exiftool -s3 -XMP-dc:Title '" + dir.File("QRV/a_QRV.jpg") + "'"), "Caf\xC3\xA9\n");
}

// A queue that stays empty says why, and exits with 1 having run nothing; the keys that the
// pipeline reads as "0, else ..." take any whole number.
TEST(QrvCommand, EmptyQueueSaysWhyAndOtherWholeNumbersRun) {
  qrvtest::TempDir dir;
  MakeQueue(dir);
  mkdir(dir.File("empty").c_str(), 0777);
  mkdir(dir.File("misc").c_str(), 0777);
  mkdir(dir.File("misc/sub").c_str(), 0777);
  ASSERT_TRUE(qrvtest::WriteFileBytes(dir.File("misc/notes.txt"), {'x'}));
  ASSERT_EQ(Qrv(dir, "-q --home home in/a.jpg").status, 0);  // makes in/QRV
  const struct {
    const char *args, *message;
  } cases[] = {
      {"empty", "qrv: no picture files in empty (the folder is empty)\n"},
      {"misc --current 1",
       "qrv: no picture files in misc (1 file without a picture extension, 1 subfolder, which is not searched)\n"},
      {"in/QRV empty",
       "qrv: in/QRV holds only an earlier run's outputs (its qrvoutput.dir marker)\n"
       "qrv: no picture files in empty (the folder is empty)\n"},
  };
  for (const auto& c : cases) {
    const Outcome r = Qrv(dir, std::string("--home home ") + c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.err, c.message) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
  }
  const Outcome r = Qrv(dir, "-q --home home --set Size.Type=1 --set Size.Filter=2 --set Sharpen.Type=2 in/a.jpg");
  EXPECT_EQ(r.status, 0) << r.err;
  CRGBImage back;
  ASSERT_EQ(back.Load(dir.File("in/QRV/a1_QRV.jpg")), 0);
  EXPECT_EQ(back.GetWidth(), 32);
}

// A file name's control characters reach stderr escaped, off a terminal and on one. On a
// terminal of 80 columns the progress line is redrawn in place, never wider than the terminal,
// and names the entry; each entry ends with a lasting line; Ctrl-C's message stands on a line
// of its own.
TEST(QrvCommand, TerminalProgressFitsNamesEntriesAndEscapesControlCharacters) {
  qrvtest::TempDir dir;
  const std::string in = dir.File("in"), home = dir.File("home");
  mkdir(in.c_str(), 0777);
  const std::string bad = "bad\x1b]0;TITLE\x07\x1b[2J\xc2\x9b\xff.jpg";
  const std::string shown = "bad\\x1b]0;TITLE\\x07\\x1b[2J\\xc2\\x9b\\xff.jpg";
  ASSERT_TRUE(qrvtest::WriteFileBytes(in + "/" + bad, {0xFF, 0xD8, 0xFF}));
  MakeJpeg(dir.File("p.jpg"), 1600, 1200);
  const auto bytes = qrvtest::ReadFileBytes(dir.File("p.jpg"));
  std::vector<std::string> names;
  for (int i = 1; i <= 16; ++i) {  // enough that Ctrl-C comes before the last one
    names.push_back("holiday_pictures_from_the_seaside_with_a_rather_long_name_" + std::to_string(10 + i));
    ASSERT_TRUE(qrvtest::WriteFileBytes(in + "/" + names.back() + ".jpg", bytes));
  }
  auto noRawControls = [](const std::string& text) {
    std::string rest = text;
    for (size_t at; (at = rest.find("\033[K")) != std::string::npos;) rest.erase(at, 3);
    for (char c : rest) {
      const unsigned char u = static_cast<unsigned char>(c);
      if ((u < 0x20 && c != '\r' && c != '\n') || u == 0x7F || u == 0xFF) return false;
    }
    return rest.find("\xc2\x9b") == std::string::npos;
  };
  const std::string notWritten = "not written: Can't load file: " + in + "/" + shown;

  // Off a terminal.
  const Outcome off = Qrv(dir, "--home home --current 1 in");
  EXPECT_EQ(off.status, 1);
  EXPECT_EQ(off.err.find("[1/1] " + shown + ": not written: Can't load file: " + in + "/" + shown), 0u) << off.err;
  EXPECT_NE(off.err.find("\n" + notWritten), std::string::npos) << off.err;
  EXPECT_TRUE(noRawControls(off.err)) << off.err;
  const std::string log = ReadText(home + "/help/log.html");  // the log shows the name as stderr does
  EXPECT_NE(log.find("Can't load file: " + in + "/" + shown), std::string::npos) << log;
  EXPECT_TRUE(noRawControls(log)) << log;

  // On a terminal, with Ctrl-C once the second entry is written.
  const Outcome on = OnTerminal({"--home", home, in}, [&](pid_t child, const std::string& so_far) {
    if (so_far.find(" -> QRV/" + names[0]) == std::string::npos) return false;
    kill(child, SIGINT);
    return true;
  });
  EXPECT_EQ(on.status, 130) << on.err;
  EXPECT_TRUE(noRawControls(on.err)) << on.err;
  std::vector<std::string> lasting, drawn;
  TerminalLines(on.err, &lasting, &drawn);
  ASSERT_GE(lasting.size(), 4u) << on.err;
  EXPECT_EQ(lasting[0].find("[1/17] " + shown + ": not written: Can't load file: "), 0u) << lasting[0];
  EXPECT_EQ(lasting[1], "[2/17] " + names[0] + ".jpg -> QRV/" + names[0] + "_QRV.jpg");
  bool named = false, badNamed = false;
  for (const std::string& line : drawn) {
    EXPECT_LE(Columns(line), 80u) << line;
    named |= line.compare(0, 20, "[3/17] holiday_pictu") == 0 && line.find("...") != std::string::npos &&
             line.find("_12.jpg") != std::string::npos && line.back() == '%';
    badNamed |= line.compare(0, 7 + shown.size(), "[1/17] " + shown) == 0;
  }
  EXPECT_TRUE(named && badNamed) << on.err;
  // The cancel message clears the drawn line first.
  const size_t cancelled = on.err.find("Process Cancelled by user\r\n");
  ASSERT_NE(cancelled, std::string::npos) << on.err;
  EXPECT_TRUE(on.err.compare(cancelled - 4, 4, "\r\033[K") == 0 || on.err[cancelled - 1] == '\n') << on.err;
  EXPECT_NE(on.err.find("\n" + notWritten), std::string::npos) << on.err;
}

// On terminals of 80 and 40 columns, long Japanese names (two columns a character) keep the
// progress line within the width; each entry's first frame names its own step; a format
// character in a name (a right-to-left override) is shown escaped, on the terminal and in the
// log, as control characters are.
TEST(QrvCommand, TerminalProgressCountsWideCharactersAndNamesEachEntrysStep) {
  qrvtest::TempDir dir;
  const std::string in = dir.File("in"), home = dir.File("home");
  mkdir(in.c_str(), 0777);
  const std::string phrase = "\xe5\xa4\x8f\xe4\xbc\x91\xe3\x81\xbf\xe3\x81\xae\xe6\xb5\xb7\xe8\xbe\xba\xe3\x81\xae"
                             "\xe5\x86\x99\xe7\x9c\x9f";  // 8 characters, 16 columns
  for (int i = 1; i <= 3; ++i) MakeJpeg(in + "/" + phrase + phrase + phrase + "_" + std::to_string(i) + ".jpg", 96, 64);
  MakeJpeg(in + "/z\xe2\x80\xaegpj.jpg", 96, 64);
  for (unsigned short width : {80, 40}) {
    SCOPED_TRACE(width);
    const Outcome on = OnTerminal({"--home", home, in}, [](pid_t, const std::string&) { return true; }, width);
    EXPECT_EQ(on.status, 0) << on.err;
    EXPECT_EQ(on.err.find("\xe2\x80\xae"), std::string::npos);
    EXPECT_NE(on.err.find("z\\u202egpj.jpg -> QRV/z\\u202egpj"), std::string::npos) << on.err;
    std::vector<std::string> lasting, drawn;
    TerminalLines(on.err, &lasting, &drawn);
    std::set<std::string> started;
    for (const std::string& line : drawn) {
      EXPECT_LT(Columns(line), width) << line;
      const std::string number = line.substr(0, line.find(']') + 1);
      if (started.insert(number).second && number != "[1/4]") {
        EXPECT_NE(line.find("Load"), std::string::npos) << line;  // "Loading...", maybe cut
      }
    }
    EXPECT_EQ(started.size(), 4u) << on.err;
  }
  const std::string log = ReadText(home + "/help/log.html");
  EXPECT_EQ(log.find("\xe2\x80\xae"), std::string::npos);
  EXPECT_NE(log.find("z\\u202egpj_QRV.jpg"), std::string::npos) << log;
}
