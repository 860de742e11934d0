// A file's device and inode: two paths name one file when both are known and equal.
#pragma once

#include <cstdint>
#include <string>

struct FileIdentity {
  bool known = false;
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity& o) const { return known == o.known && device == o.device && inode == o.inode; }
};
// The identity of the file at `path`; `known` is false when it has no status.
FileIdentity IdentityOf(const std::string& path);
// The identity of an open file; `known` is false when it has no status.
FileIdentity IdentityOfOpenFile(int fd);
// True when both paths have a status and name the same file.
bool SameFile(const std::string& a, const std::string& b);
