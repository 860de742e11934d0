// Placement of outputs: a file is written in its output folder without a name, flushed to the
// disk, and then takes its final name in one step, so that a name never holds a partial file.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <qrv/imaging.h>

#include "engine/FileIdentity.h"

// The system calls that create, write and name outputs. A test replaces some of them to act as
// a file system that refuses them (FAT and exFAT have no unnamed files and no hard links, some
// of their drivers no no-replace rename) or that runs out of space; it restores them after.
struct OutputFileCalls {
  int (*openUnnamed)(const char* folder, int flags, mode_t mode);  // open() with O_TMPFILE in flags
  ssize_t (*pwrite)(int fd, const void* data, size_t count, off_t offset);
  int (*linkat)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
  int (*renameat2)(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags);
};
// The calls in use; the system's own unless a test replaced them.
OutputFileCalls& OutputCalls();
// The calls of the system.
OutputFileCalls SystemOutputCalls();

// Where a finished output went: its path and identity (empty and unknown when it could not be
// placed, with the errno), and the path of a file to keep that stopped a replacement.
struct PlacedOutput {
  std::string path;
  FileIdentity identity;
  long long size = -1;  // the placed file's size in bytes
  int error = 0;
  std::string keptPath;
  FileIdentity kept;
};
// An output file while it is written. Where the file system allows it, the file has no name
// (O_TMPFILE) and nothing of it is left when the process dies; elsewhere it has a hidden
// temporary name ".qrv-XXXXXX" in the output folder, removed when the object goes unplaced.
// No file of an output's name ever holds a partial or empty file, and nothing is ever removed
// that this object did not create.
class PendingOutput {
 public:
  PendingOutput();
  ~PendingOutput();
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Creates the file in `folder`: unnamed when `unnamedAllowed` and the file system allows it,
  // else under a temporary name. 0 or the errno.
  int Create(const std::string& folder, bool unnamedAllowed = true);
  // The path the file is reached by ("/proc/self/fd/N" for an unnamed file).
  const std::string& WritePath() const { return writePath_; }
  // A library sink that writes the file through its descriptor; null when the file is not
  // created. The first failed write's errno is kept as WriteError(). Close it before Finish().
  ISIOHandle OpenSink();
  int WriteError() const;
  bool Unnamed() const { return unnamed_; }
  // The temporary name; empty while the file has none.
  const std::string& TemporaryName() const { return temporary_; }
  // Gives the written file the mode of a new file and flushes its data to the disk: 0 or the errno.
  int Finish();

 private:
  friend PlacedOutput PlaceOutputFile(PendingOutput&, const std::string&, const std::string&, const std::string&,
                                      long long, bool, const std::vector<FileIdentity>&,
                                      const std::function<bool(long long)>&);
  int CreateNamed();
  int LinkUnnamed(const std::string& target);
  int NameTemporarily();
  int CopyToNamed();
  void Discard();

  struct Sink;
  int fd_ = -1;
  bool unnamed_ = false;
  std::unique_ptr<Sink> sink_;
  std::string folder_;
  std::string writePath_;
  std::string temporary_;
};

// Gives the finished file its name in `folder` in one step, trying NumberedOutputName(base, n,
// extension) for n = first, next numbers... Without `replace` a name is taken only when it is
// free at that instant (another process may be writing the same folder), else the next number is
// tried. With `replace` an existing file is replaced in one rename unless it is one of `keep`
// (device and inode), which sends the output on to the numbered names as without replace. A file
// not placed is removed. Where the file system has neither a no-replace rename nor hard links,
// the runs placing outputs in a folder take turns on a lock of that folder, and a name free
// while the lock is held is taken by a plain rename. A number for which `skip` answers true is
// never taken (its name belongs to another picture's output).
PlacedOutput PlaceOutputFile(PendingOutput& file, const std::string& folder, const std::string& base,
                             const std::string& extension, long long first, bool replace,
                             const std::vector<FileIdentity>& keep,
                             const std::function<bool(long long)>& skip = nullptr);
