// Files told apart by device and inode, so that two names of one file (links, case, "..") are
// recognised as the same file.
#include "engine/FileIdentity.h"

#include <sys/stat.h>

namespace {

FileIdentity FromStatus(const struct stat& status) {
  return {true, static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

}  // namespace

FileIdentity IdentityOf(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return {};
  return FromStatus(status);
}

FileIdentity IdentityOfOpenFile(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0) return {};
  return FromStatus(status);
}

bool SameFile(const std::string& a, const std::string& b) {
  const FileIdentity first = IdentityOf(a);
  return first.known && first == IdentityOf(b);
}
