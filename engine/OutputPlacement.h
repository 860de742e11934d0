// Placement of outputs: a file is written in its output folder without a name, flushed to the
// disk, and then takes its final name in one step, so that a name never holds a partial file.
#pragma once

#include <string>
#include <vector>

#include "engine/FileIdentity.h"

// Where a finished output went: its path and identity (empty and unknown when it could not be
// placed, with the errno), and the path of a file to keep that stopped a replacement.
struct PlacedOutput {
  std::string path;
  FileIdentity identity;
  int error = 0;
  std::string keptPath;
  FileIdentity kept;
};
// An output file while it is written. Where the file system allows it, the file has no name
// (O_TMPFILE) and nothing of it is left when the process dies; elsewhere it has a hidden
// temporary name ".qrv-XXXXXX" in the output folder, removed when the object goes unplaced.
class PendingOutput {
 public:
  PendingOutput() = default;
  ~PendingOutput();
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Creates the file in `folder`: unnamed when `unnamedAllowed` and the file system allows it,
  // else under a temporary name. 0 or the errno.
  int Create(const std::string& folder, bool unnamedAllowed = true);
  // The path the writers open the file by ("/proc/self/fd/N" for an unnamed file).
  const std::string& WritePath() const { return writePath_; }
  bool Unnamed() const { return unnamed_; }
  // The temporary name; empty while the file has none.
  const std::string& TemporaryName() const { return temporary_; }
  // Gives the written file the mode of a new file and flushes its data to the disk: 0 or the errno.
  int Finish();

 private:
  friend PlacedOutput PlaceOutputFile(PendingOutput&, const std::string&, const std::string&, const std::string&,
                                      long long, bool, const std::vector<FileIdentity>&);
  int CreateNamed();
  int LinkUnnamed(const std::string& target);
  int NameTemporarily();
  int CopyToNamed();
  void Discard();

  int fd_ = -1;
  bool unnamed_ = false;
  std::string folder_;
  std::string writePath_;
  std::string temporary_;
};

// Gives the finished file its name in `folder` in one step, trying NumberedOutputName(base, n,
// extension) for n = first, next numbers... Without `replace` a name is taken only when it is
// free at that instant (another process may be writing the same folder), else the next number is
// tried. With `replace` an existing file is replaced in one rename unless it is one of `keep`
// (device and inode), which sends the output on to the numbered names as without replace. A file
// not placed is removed.
PlacedOutput PlaceOutputFile(PendingOutput& file, const std::string& folder, const std::string& base,
                             const std::string& extension, long long first, bool replace,
                             const std::vector<FileIdentity>& keep);
