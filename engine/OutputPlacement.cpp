// Placement of outputs: the unnamed (or hidden temporary) file flushed and given its final name
// by a link or rename that never replaces a file it did not choose to.
#include "engine/OutputPlacement.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <vector>

#include "engine/OutputNaming.h"

namespace {

bool IsUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP; }

// File systems that cannot link an unnamed file (or any file) answer one of these.
bool LinkRefused(int error) { return IsUnsupported(error) || error == EPERM || error == EXDEV; }

// The mode a new file gets under the process's umask.
mode_t NewFileMode() {
  static const mode_t mode = [] {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

// A hidden name in the folder that is unlikely to be taken: ".qrv-" and six random letters.
std::string RandomTemporaryName(const std::string& folder) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char random[6];
  if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    const unsigned long long seed = static_cast<unsigned long long>(std::time(nullptr)) * 2654435761u ^
                                    static_cast<unsigned long long>(getpid()) * 40503u ^
                                    reinterpret_cast<uintptr_t>(&random);
    for (size_t i = 0; i < sizeof random; ++i) random[i] = static_cast<unsigned char>(seed >> (i * 8));
  }
  std::string name = WithSlash(folder) + ".qrv-";
  for (unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
  return name;
}

// Writes all of the bytes, resuming after interruptions: 0 or the errno.
int WriteAll(int fd, const char* data, size_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, data, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += n;
    count -= static_cast<size_t>(n);
  }
  return 0;
}

// Renames `from` to `to` only when `to` does not exist at that instant: 0, EEXIST when the name
// is taken, another errno on failure. File systems without RENAME_NOREPLACE go through a hard
// link; those without hard links reserve the name with O_EXCL and replace that reservation.
int RenameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  int error = errno;
  if (!IsUnsupported(error)) return error;
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return 0;
  }
  error = errno;
  if (error != EPERM && !IsUnsupported(error)) return error;
  const int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  close(fd);
  if (std::rename(from.c_str(), to.c_str()) == 0) return 0;
  error = errno;
  unlink(to.c_str());
  return error;
}

// Highest number tried after a name; a folder holding that many outputs of one picture fails.
constexpr long long kMaxOutputNumber = 1000000;

}  // namespace

PendingOutput::~PendingOutput() { Discard(); }

void PendingOutput::Discard() {
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  unnamed_ = false;
  writePath_.clear();
}

int PendingOutput::Create(const std::string& folder, bool unnamedAllowed) {
  Discard();
  folder_ = folder;
  if (unnamedAllowed) {
    fd_ = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      // The writers and the final link reach the file through /proc; without it, it gets a name.
      const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
      const FileIdentity own = IdentityOfOpenFile(fd_);
      if (own.known && IdentityOf(proc) == own) {
        unnamed_ = true;
        writePath_ = proc;
        return 0;
      }
      close(fd_);
      fd_ = -1;
    }
    // A file system that refuses unnamed files (or any other refusal) gets a named one; a real
    // failure such as a missing folder shows there again.
  }
  return CreateNamed();
}

int PendingOutput::CreateNamed() {
  std::string name = WithSlash(folder_) + ".qrv-XXXXXX";
  const int fd = mkostemp(&name[0], O_CLOEXEC);
  if (fd < 0) return errno;
  fd_ = fd;
  unnamed_ = false;
  temporary_ = name;
  writePath_ = name;
  return 0;
}

int PendingOutput::Finish() {
  if (fd_ < 0) return EBADF;
  fchmod(fd_, NewFileMode());
  // The data reaches the disk before the file has a name: after a power failure a name holds
  // the whole file or nothing. File systems that cannot sync are taken as they are.
  if (fdatasync(fd_) != 0 && !IsUnsupported(errno)) return errno;
  return 0;
}

int PendingOutput::LinkUnnamed(const std::string& target) {
  return linkat(AT_FDCWD, writePath_.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

int PendingOutput::NameTemporarily() {
  for (int attempt = 0; unnamed_ && attempt < 100; ++attempt) {
    const std::string name = RandomTemporaryName(folder_);
    const int error = LinkUnnamed(name);
    if (error == 0) {
      unnamed_ = false;
      temporary_ = name;
      writePath_ = name;
      return 0;
    }
    if (LinkRefused(error)) return CopyToNamed();
    if (error != EEXIST) return error;
  }
  return unnamed_ ? EEXIST : 0;
}

int PendingOutput::CopyToNamed() {
  const int unnamed = fd_;
  fd_ = -1;
  int error = CreateNamed();
  std::vector<char> buffer(1 << 16);
  for (off_t at = 0; error == 0;) {
    const ssize_t n = pread(unnamed, buffer.data(), buffer.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    if (n <= 0) break;
    error = WriteAll(fd_, buffer.data(), static_cast<size_t>(n));
    at += n;
  }
  close(unnamed);
  return error != 0 ? error : Finish();
}

PlacedOutput PlaceOutputFile(PendingOutput& file, const std::string& folder, const std::string& base,
                             const std::string& extension, long long first, bool replace,
                             const std::vector<FileIdentity>& keep) {
  PlacedOutput placed;
  const auto named = [&](const std::string& target) {
    placed.path = target;
    placed.identity = IdentityOfOpenFile(file.fd_);
    file.temporary_.clear();  // the name is the output's now
    file.Discard();
    return placed;
  };
  int error = file.fd_ < 0 ? EBADF : 0;
  for (long long n = std::max(0LL, first); error == 0 && n <= kMaxOutputNumber; ++n) {
    const std::string target = WithSlash(folder) + NumberedOutputName(base, n, extension);
    if (replace) {
      const FileIdentity existing = IdentityOf(target);
      if (existing.known && std::find(keep.begin(), keep.end(), existing) != keep.end()) {
        // Never replaced: the output moves to the numbered names, each taken only when free.
        placed.keptPath = target;
        placed.kept = existing;
        replace = false;
        continue;
      }
      if (file.unnamed_) {
        // A free name is taken by the link alone; a taken one is replaced by a rename, which
        // needs the file to have a name of its own first.
        error = file.LinkUnnamed(target);
        if (error == 0) return named(target);
        if (error != EEXIST && !LinkRefused(error)) break;
        error = file.NameTemporarily();
        if (error != 0) break;
      }
      if (std::rename(file.temporary_.c_str(), target.c_str()) == 0) return named(target);
      error = errno;
      break;
    }
    if (file.unnamed_) {
      error = file.LinkUnnamed(target);
      if (error == 0) return named(target);
      if (error == EEXIST) {
        error = 0;
        continue;
      }
      if (!LinkRefused(error)) break;
      error = file.CopyToNamed();
      if (error != 0) break;
    }
    error = RenameNoReplace(file.temporary_, target);
    if (error == 0) return named(target);
    if (error == EEXIST) error = 0;
  }
  placed.error = error != 0 ? error : EEXIST;
  file.Discard();
  return placed;
}
