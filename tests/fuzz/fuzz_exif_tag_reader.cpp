// seeds: jpeg/exif jpeg/makernotes jpeg/orientation
// The application's EXIF tag reader on arbitrary bytes: as an APP1 segment given directly, and
// as a file searched for its segment (through an in-memory file, so nothing touches the disk).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "imaging/formats/exif/CExifTagReader.h"

namespace {

// Every text a parse leaves must be terminated inside its record.
void CheckTexts(const CExifTagReader& r) {
  for (const ExifTagRecord& t : r.m_Tags) {
    if (::strnlen(t.name, sizeof t.name) >= sizeof t.name) std::abort();
    if (t.found && ::strnlen(t.value, sizeof t.value) >= sizeof t.value) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<CExifTagReader> reader = std::make_unique<CExifTagReader>();
  reader->ParseExifBlock(data, size);
  CheckTexts(*reader);

  // A file is read for the segment in its first bytes; only that much and the segment (at most
  // 64 KB) matter, so larger inputs are cut.
  size_t fileSize = size < (70u << 10) ? size : (70u << 10);
  int fd = ::memfd_create("exif", 0);
  if (fd < 0) return 0;
  bool written = fileSize == 0 || ::write(fd, data, fileSize) == static_cast<ssize_t>(fileSize);
  if (written) {
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    reader->ReadExifFromFile(path.c_str());
    CheckTexts(*reader);
  }
  ::close(fd);
  return 0;
}
