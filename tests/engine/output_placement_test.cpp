#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "engine/CRGBImage.h"
#include "engine/OutputWriter.h"
#include "engine/shell/CMainDialog.h"
#include "output_test_dialog.h"
#include "support/test_support.h"

extern char** environ;

namespace {

using enginetest::ReadText;

void Touch(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// The names in a folder, "." and ".." left out, sorted.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (const dirent* e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A file system that refuses some of the calls, as FAT and exFAT (and their FUSE drivers) do.
struct Refusals {
  int unnamed = 0;     // errno of open(O_TMPFILE)
  int link = 0;        // errno of linkat
  int noReplace = 0;   // errno of renameat2(RENAME_NOREPLACE)
  int plainRename = 0; // errno of a plain rename, after another run put a file at the name
};
Refusals g_refuse;
std::string g_folder;
int g_emptyNames = 0;  // times a name other than a temporary one held an empty file

// What a kill at this instant would leave: no output name may hold an empty file.
void CheckNames() {
  for (const std::string& name : Names(g_folder)) {
    struct stat status {};
    if (name.rfind(".qrv-", 0) != 0 && stat((g_folder + "/" + name).c_str(), &status) == 0 && status.st_size == 0)
      ++g_emptyNames;
  }
}

int RefusingOpen(const char* folder, int flags, mode_t mode) {
  if (g_refuse.unnamed) return errno = g_refuse.unnamed, -1;
  return SystemOutputCalls().openUnnamed(folder, flags, mode);
}
int RefusingLink(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  CheckNames();
  if (g_refuse.link) return errno = g_refuse.link, -1;
  return SystemOutputCalls().linkat(fromFolder, from, toFolder, to, flags);
}
int RefusingRename(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
  CheckNames();
  if ((flags & RENAME_NOREPLACE) && g_refuse.noReplace) return errno = g_refuse.noReplace, -1;
  if (flags == 0 && g_refuse.plainRename) {
    Touch(to, "another run's output");
    return errno = g_refuse.plainRename, -1;
  }
  return SystemOutputCalls().renameat2(fromFolder, from, toFolder, to, flags);
}

// Puts the system's calls back when the test ends.
struct CallsRestored {
  ~CallsRestored() { OutputCalls() = SystemOutputCalls(); }
};

// A main dialog with a small working picture, writing PNG files into `out` (one output folder).
struct Writer : enginetest::OutputDialog {
  Writer(const qrvtest::TempDir& dir, const std::string& out) : OutputDialog(dir, 64, 48) {
    dlg.m_pages.output.m_type = 1;
    dlg.m_pages.output.m_simDir = out;
  }
};

// A file system image mounted for the test's life; Mounted() is false when the machine can't.
class MountedImage {
 public:
  MountedImage(const std::string& image, const std::string& at) : at_(at) {
    mkdir(at.c_str(), 0777);
    int status = -1;
    qrvtest::RunCommand("truncate -s 8M '" + image + "' && mkfs.vfat '" + image + "' >/dev/null 2>&1", &status);
    if (status != 0) return;
    // The kernel's driver where there is one, else the FUSE one.
    qrvtest::RunCommand("mount -o loop '" + image + "' '" + at + "' >/dev/null 2>&1", &status);
    if (status != 0 && qrvtest::HasTool("fusefat"))
      qrvtest::RunCommand("fusefat -o rw+ '" + image + "' '" + at + "' >/dev/null 2>&1", &status);
    mounted_ = status == 0;
  }
  ~MountedImage() {
    if (mounted_) qrvtest::RunCommand("umount '" + at_ + "' >/dev/null 2>&1 || fusermount -u '" + at_ + "'");
  }
  bool Mounted() const { return mounted_; }

 private:
  std::string at_;
  bool mounted_ = false;
};

}  // namespace

TEST(OutputPlacement, RefusalsOfFatFileSystems) {
  // Each fallback takes a free name without replacing anything, or replaces when asked; no
  // output name ever holds an empty file, and nothing the placement did not create is removed.
  struct Case {
    const char* what;
    Refusals refuse;
    int error;  // the placement's errno; 0 when it places the file
  };
  const Case cases[] = {
      {"no unnamed files", {EOPNOTSUPP, 0, 0, 0}, 0},
      {"unnamed files refused as invalid", {EINVAL, 0, 0, 0}, 0},
      {"unnamed files, no link of them", {0, EPERM, 0, 0}, 0},
      {"unnamed files, links unsupported", {0, EOPNOTSUPP, 0, 0}, 0},
      {"no no-replace rename", {0, 0, EINVAL, 0}, 0},
      {"FAT and exFAT through FUSE", {EOPNOTSUPP, EPERM, EINVAL, 0}, 0},
      {"no links, no no-replace rename", {EINVAL, EOPNOTSUPP, EINVAL, 0}, 0},
      {"the last rename fails", {EOPNOTSUPP, EPERM, EINVAL, EIO}, EIO},
  };
  CallsRestored restored;
  OutputCalls() = {RefusingOpen, SystemOutputCalls().pwrite, RefusingLink, RefusingRename};
  for (const Case& c : cases) {
    for (const bool replace : {false, true}) {
      if (replace && c.error != 0) continue;
      SCOPED_TRACE(std::string(c.what) + (replace ? ", replace" : ""));
      qrvtest::TempDir dir;
      g_folder = dir.path();
      g_refuse = Refusals{};
      g_emptyNames = 0;
      Touch(dir.File("p_QRV.png"), "taken");
      PendingOutput file;
      g_refuse = c.refuse;
      ASSERT_EQ(file.Create(dir.path()), 0);
      EXPECT_EQ(file.Unnamed(), c.refuse.unnamed == 0);
      Touch(file.WritePath(), "new");
      ASSERT_EQ(file.Finish(), 0);
      const PlacedOutput placed = PlaceOutputFile(file, dir.path(), "p", ".png", 0, replace, {});
      EXPECT_EQ(placed.error, c.error);
      EXPECT_EQ(g_emptyNames, 0);
      if (c.error != 0) {
        EXPECT_TRUE(placed.path.empty());
        EXPECT_EQ(ReadText(dir.File("p1_QRV.png")), "another run's output");
        EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"p1_QRV.png", "p_QRV.png"}));
        continue;
      }
      const std::string expected = replace ? "p_QRV.png" : "p1_QRV.png";
      EXPECT_EQ(placed.path, dir.File(expected));
      EXPECT_EQ(placed.size, 3);
      EXPECT_EQ(ReadText(dir.File(expected)), "new");
      if (!replace) {
        EXPECT_EQ(ReadText(dir.File("p_QRV.png")), "taken");
      }
      EXPECT_EQ(Names(dir.path()).size(), replace ? 1u : 2u);  // no temporary file is left
    }
  }
}

TEST(OutputPlacement, WritesOntoAFatImage) {
  QRV_REQUIRE_TOOL("mkfs.vfat");
  qrvtest::TempDir dir;
  const std::string card = dir.File("card");
  MountedImage image(dir.File("card.img"), card);
  if (!image.Mounted()) GTEST_SKIP() << "a FAT image can't be mounted here";
  Touch(dir.File("p.png"), "source");
  Writer w(dir, card + "/DCIM");
  w.dlg.m_pages.output.m_fileType = 3;  // a BMP of 72 KB: the file is written in more than one piece
  w.dlg.m_workWidth = 200;
  w.dlg.m_workHeight = 120;
  w.dlg.m_workImage.resize(200 * 120 * 3, 5);
  ASSERT_TRUE(w.dlg.WriteOutputImage(dir.File("p.png"), nullptr));
  ASSERT_TRUE(w.dlg.WriteOutputImage(dir.File("p.png"), nullptr));  // the name is taken: numbered
  Touch(card + "/DCIM/p_QRV.bmp", "old");
  w.dlg.m_pages.output.m_replace = 1;
  ASSERT_TRUE(w.dlg.WriteOutputImage(dir.File("p.png"), nullptr));
  EXPECT_EQ(Names(card + "/DCIM"), (std::vector<std::string>{"p1_QRV.bmp", "p_QRV.bmp", "qrvoutput.dir"}));
  for (const char* name : {"p_QRV.bmp", "p1_QRV.bmp"}) {
    CRGBImage back;
    ASSERT_EQ(back.Load(card + "/DCIM/" + name), 0) << name;
    const BYTE* px = back.LockPixels();
    EXPECT_TRUE(std::equal(w.dlg.m_workImage.begin(), w.dlg.m_workImage.end(), px)) << name;
    back.UnlockPixels();
  }
  // The folder is marked (some drivers can't add to an existing file: the marker then stays as
  // it was, with a warning).
  EXPECT_FALSE(ReadText(card + "/DCIM/qrvoutput.dir").empty());
  EXPECT_EQ(w.Log().find("Can't write file"), std::string::npos) << w.Log();
}

TEST(OutputPlacement, FullDiskSaysSoAndLeavesNothing) {
  qrvtest::TempDir dir;
  const std::string small = dir.File("small");
  mkdir(small.c_str(), 0777);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=32k") != 0) GTEST_SKIP() << "no tmpfs can be mounted here";
  struct Unmount {
    std::string at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{small};
  Touch(dir.File("s.png"), "source");
  Writer w(dir, small);
  w.dlg.m_pages.output.m_fileType = 3;  // 64 x 48 BMP: 9 KB
  ASSERT_TRUE(w.dlg.WriteOutputImage(dir.File("s.png"), nullptr));
  w.dlg.m_workWidth = 256;  // 256 x 48: 36 KB, more than the disk has left
  w.dlg.m_workImage.resize(256 * 48 * 3, 9);
  EXPECT_FALSE(w.dlg.WriteOutputImage(dir.File("s.png"), nullptr));
  EXPECT_NE(w.Log().find("Can't write file: " + small + "/s1_QRV.bmp (No space left on device)"), std::string::npos)
      << w.Log();
  EXPECT_EQ(Names(small), (std::vector<std::string>{"qrvoutput.dir", "s_QRV.bmp"}));
  EXPECT_EQ(ReadText(small + "/qrvoutput.dir"), "*");  // one '*' for the one output written
}

TEST(OutputPlacement, NewFileModeLeavesTheUmaskAlone) {
  // Outputs take the mode of a new file under the umask, read while the program starts: the
  // umask is never set during a run, where another thread may be creating a file.
  if (const char* folder = std::getenv("QRV_TEST_UMASK_FOLDER")) {
    PendingOutput file;
    struct stat status {};
    if (file.Create(folder) != 0 || file.Finish() != 0 || stat(file.WritePath().c_str(), &status) != 0) _exit(3);
    _exit((status.st_mode & 0777) == 0640 ? 0 : 4);
  }
  // A fresh process of this program, killed when it sets the umask after it started.
  qrvtest::TempDir dir;
  std::vector<std::string> entries{"QRV_TEST_UMASK_FOLDER=" + dir.path()};
  for (char** e = environ; *e; ++e) entries.push_back(*e);
  std::vector<char*> env;
  for (std::string& e : entries) env.push_back(&e[0]);
  env.push_back(nullptr);
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_umask, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) dup2(quiet, STDOUT_FILENO);
    umask(027);
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
      _exit(77);
    execle("/proc/self/exe", "test_engine", "--gtest_filter=OutputPlacement.NewFileModeLeavesTheUmaskAlone",
           static_cast<char*>(nullptr), env.data());
    _exit(78);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no seccomp filter here";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << (WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                              : "exit " + std::to_string(WEXITSTATUS(status)));
}
