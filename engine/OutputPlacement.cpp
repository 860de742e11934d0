// Placement of outputs: the unnamed (or hidden temporary) file flushed and given its final name
// by a link or rename that never replaces a file it did not choose to.
#include "engine/OutputPlacement.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "engine/OutputNaming.h"

namespace {

bool IsUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP; }

// File systems that cannot link an unnamed file (or any file) answer one of these.
bool LinkRefused(int error) { return IsUnsupported(error) || error == EPERM || error == EXDEV; }

int OpenUnnamed(const char* folder, int flags, mode_t mode) { return open(folder, flags, mode); }

// The process's umask, read without changing it where /proc tells it; elsewhere it is set and
// set back, which is safe only while no other thread creates files.
mode_t ProcessUmask() {
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask & 0777);
  }
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// The mode a new file gets under the process's umask, read once.
mode_t NewFileMode() {
  static const mode_t mode = static_cast<mode_t>(0666 & ~ProcessUmask());
  return mode;
}
// Read while the program starts, before any thread of it runs.
[[maybe_unused]] const mode_t kNewFileModeAtStart = NewFileMode();

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

// Writes all of the bytes at `at`, resuming after interruptions and short writes: 0 or the errno.
int WriteAllAt(int fd, const char* data, size_t count, off_t at) {
  while (count > 0) {
    const ssize_t n = OutputCalls().pwrite(fd, data, count, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    data += n;
    at += n;
    count -= static_cast<size_t>(n);
  }
  return 0;
}

int Rename(const std::string& from, const std::string& to, unsigned flags) {
  return OutputCalls().renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags) == 0 ? 0 : errno;
}

// Renames `from` to `to` while `to` is free, the folder's lock held (runs without a no-replace
// rename take turns there): 0, EEXIST when the name is taken, another errno on failure.
int RenameUnderFolderLock(const std::string& folder, const std::string& from, const std::string& to) {
  const int lock = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock < 0) return errno;
  int error = 0;
  while (flock(lock, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    // A file system without locks is taken as it is: the check below still holds between runs
    // that do not reach it in the same instant.
    if (!IsUnsupported(errno) && errno != ENOLCK) error = errno;
    break;
  }
  if (error == 0) {
    struct stat status {};
    if (lstat(to.c_str(), &status) == 0)
      error = EEXIST;
    else if (errno != ENOENT)
      error = errno;
    else
      error = Rename(from, to, 0);
  }
  close(lock);  // releases the lock
  return error;
}

// Renames the temporary file `from` of `folder` to `to` only when `to` does not exist at that
// instant: 0, EEXIST when the name is taken, another errno on failure. File systems without
// RENAME_NOREPLACE go through a hard link, those without hard links through the folder's lock.
// `to` never names an empty or partial file, and no file but `from` is ever removed.
int RenameNoReplace(const std::string& folder, const std::string& from, const std::string& to) {
  int error = Rename(from, to, RENAME_NOREPLACE);
  if (!IsUnsupported(error)) return error;
  if (OutputCalls().linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) == 0) {
    unlink(from.c_str());
    return 0;
  }
  error = errno;
  if (!LinkRefused(error)) return error;
  return RenameUnderFolderLock(folder, from, to);
}

// Highest number tried after a name; a folder holding that many outputs of one picture fails.
constexpr long long kMaxOutputNumber = 1000000;

}  // namespace

OutputFileCalls SystemOutputCalls() {
  return {OpenUnnamed,
          [](int fd, const void* data, size_t count, off_t offset) { return ::pwrite(fd, data, count, offset); },
          [](int fromFolder, const char* from, int toFolder, const char* to, int flags) {
            return ::linkat(fromFolder, from, toFolder, to, flags);
          },
          [](int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
            return ::renameat2(fromFolder, from, toFolder, to, flags);
          }};
}

OutputFileCalls& OutputCalls() {
  static OutputFileCalls calls = SystemOutputCalls();
  return calls;
}

// The library sink over the file's descriptor: writes gathered in a buffer and written at their
// offset, the first errno kept.
struct PendingOutput::Sink {
  static constexpr size_t kBuffer = 1 << 16;
  int fd = -1;
  uint64_t position = 0;  // where the next write goes
  uint64_t extent = 0;    // the file's size, written or buffered
  std::vector<char> buffer;
  uint64_t bufferAt = 0;  // the file offset of buffer[0]
  int error = 0;

  bool Flush() {
    if (error == 0 && !buffer.empty()) {
      error = fd < 0 ? EBADF : WriteAllAt(fd, buffer.data(), buffer.size(), static_cast<off_t>(bufferAt));
      buffer.clear();
    }
    return error == 0;
  }

  static Sink* Of(uintptr_t user) { return reinterpret_cast<Sink*>(user); }
  static BOOL Open(uintptr_t user) {
    Sink* s = Of(user);
    s->position = s->extent = s->bufferAt = 0;
    s->buffer.clear();
    s->buffer.reserve(kBuffer);
    s->error = s->fd < 0 ? EBADF : 0;
    return s->error == 0;
  }
  static BOOL Write(const void* data, DWORD count, uintptr_t user) {
    Sink* s = Of(user);
    if (s->error != 0) return 0;
    if (!s->buffer.empty() && s->bufferAt + s->buffer.size() != s->position && !s->Flush()) return 0;
    if (s->buffer.empty()) s->bufferAt = s->position;
    const char* bytes = static_cast<const char*>(data);
    if (count >= kBuffer) {
      if (!s->Flush()) return 0;
      s->error = WriteAllAt(s->fd, bytes, count, static_cast<off_t>(s->position));
    } else {
      s->buffer.insert(s->buffer.end(), bytes, bytes + count);
      if (s->buffer.size() >= kBuffer) s->Flush();
    }
    s->position += count;
    s->extent = std::max(s->extent, s->position);
    return s->error == 0;
  }
  static DWORD Read(void* data, DWORD count, uintptr_t user) {
    Sink* s = Of(user);
    if (!s->Flush()) return 0;
    DWORD done = 0;
    while (done < count) {
      const ssize_t n = pread(s->fd, static_cast<char*>(data) + done, count - done,
                              static_cast<off_t>(s->position + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<DWORD>(n);
    }
    s->position += done;
    return done;
  }
  static BOOL Seek(int32_t offset, int32_t origin, uintptr_t user) {
    Sink* s = Of(user);
    const int64_t from = origin == IS_SEEK_SET   ? 0
                         : origin == IS_SEEK_CUR ? static_cast<int64_t>(s->position)
                         : origin == IS_SEEK_END ? static_cast<int64_t>(s->extent)
                                                 : -1;
    const int64_t to = from + offset;
    if (from < 0 || to < 0 || to > INT64_C(0xFFFFFFFF)) return 0;
    s->position = static_cast<uint64_t>(to);
    return 1;
  }
  static BOOL Tell(uintptr_t user, DWORD* position) {
    if (position) *position = static_cast<DWORD>(Of(user)->position);
    return 1;
  }
  static BOOL Size(uintptr_t user, DWORD* size) {
    if (size) *size = static_cast<DWORD>(Of(user)->extent);
    return 1;
  }
  static BOOL AtEnd(uintptr_t user) { return Of(user)->position >= Of(user)->extent; }
  static BOOL Close(uintptr_t user) { return Of(user)->Flush(); }
};

PendingOutput::PendingOutput() = default;
PendingOutput::~PendingOutput() { Discard(); }

void PendingOutput::Discard() {
  // The temporary name is removed only while it still names this file.
  struct stat own {}, named {};
  if (!temporary_.empty() && fd_ >= 0 && fstat(fd_, &own) == 0 && lstat(temporary_.c_str(), &named) == 0 &&
      own.st_dev == named.st_dev && own.st_ino == named.st_ino)
    unlink(temporary_.c_str());
  temporary_.clear();
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (sink_) sink_->fd = -1;
  unnamed_ = false;
  writePath_.clear();
}

int PendingOutput::Create(const std::string& folder, bool unnamedAllowed) {
  Discard();
  folder_ = folder;
  if (unnamedAllowed) {
    fd_ = OutputCalls().openUnnamed(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      // The final link reaches the file through /proc; without it, it gets a name.
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

ISIOHandle PendingOutput::OpenSink() {
  if (fd_ < 0) return nullptr;
  if (!sink_) sink_.reset(new Sink);
  sink_->fd = fd_;
  return ISOpenCallbackSource(Sink::Open, Sink::Write, Sink::Read, Sink::Seek, Sink::Tell, Sink::Size, Sink::AtEnd,
                              Sink::Close, 0, reinterpret_cast<uintptr_t>(sink_.get()));
}

int PendingOutput::WriteError() const { return sink_ ? sink_->error : 0; }

int PendingOutput::Finish() {
  if (fd_ < 0) return EBADF;
  fchmod(fd_, NewFileMode());
  // The data reaches the disk before the file has a name: after a power failure a name holds
  // the whole file or nothing. File systems that cannot sync are taken as they are.
  if (fdatasync(fd_) != 0 && !IsUnsupported(errno)) return errno;
  return 0;
}

int PendingOutput::LinkUnnamed(const std::string& target) {
  return OutputCalls().linkat(AT_FDCWD, writePath_.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0
                                                                                                              : errno;
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
    error = WriteAllAt(fd_, buffer.data(), static_cast<size_t>(n), at);
    at += n;
  }
  close(unnamed);
  return error != 0 ? error : Finish();
}

PlacedOutput PlaceOutputFile(PendingOutput& file, const std::string& folder, const std::string& base,
                             const std::string& extension, long long first, bool replace,
                             const std::vector<FileIdentity>& keep, const std::function<bool(long long)>& skip) {
  PlacedOutput placed;
  const auto named = [&](const std::string& target) {
    placed.path = target;
    placed.identity = IdentityOfOpenFile(file.fd_);
    struct stat status {};
    if (fstat(file.fd_, &status) == 0) placed.size = static_cast<long long>(status.st_size);
    file.temporary_.clear();  // the name is the output's now
    file.Discard();
    return placed;
  };
  int error = file.fd_ < 0 ? EBADF : 0;
  for (long long n = std::max(0LL, first); error == 0 && n <= kMaxOutputNumber; ++n) {
    if (skip && skip(n)) continue;
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
      error = Rename(file.temporary_, target, 0);
      if (error == 0) return named(target);
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
    error = RenameNoReplace(folder, file.temporary_, target);
    if (error == 0) return named(target);
    if (error == EEXIST) error = 0;
  }
  placed.error = error != 0 ? error : EEXIST;
  file.Discard();
  return placed;
}
