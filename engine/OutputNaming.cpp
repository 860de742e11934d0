// Naming of outputs: folder, name and format from the source path and the output page, numbered
// names, and the "qrvoutput.dir" marker that makes a later folder scan skip an output folder.
#include "engine/OutputNaming.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "engine/CRGBImage.h"
#include "engine/shell/SettingsPages.h"

namespace {

// The extension of a file name from its last "." on ("" when it has none).
std::string ExtensionOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

// The lower-case extension of a format code's first row in the format table ("" for none).
std::string ExtensionOfFormat(int code) {
  for (const ImageFormatRow& row : kImageFormatTable)
    if (row.code == code && row.code != IFF_UNKNOWN) return LowerName(row.extension);
  return std::string();
}

}  // namespace

std::string LowerName(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

std::string EntryName(const std::string& path) {
  const size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return path;
  const size_t slash = path.rfind('/', end);
  const size_t begin = slash == std::string::npos ? 0 : slash + 1;
  const std::string name = path.substr(begin, end + 1 - begin);
  return end + 1 < path.size() ? name + "/" : name;
}

std::string WithSlash(const std::string& folder) {
  return (folder.empty() || folder.back() == '/') ? folder : folder + "/";
}

OutputTarget OutputTargetFor(const std::string& path, const COutputPage& out) {
  OutputTarget t;
  // Source folder and file name, split at the last "/"; a path without one is in the current folder.
  std::string fileName;
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    t.sourceFolder = ".";
    fileName = path;
  } else {
    t.sourceFolder = slash == 0 ? "/" : path.substr(0, slash);
    fileName = path.substr(slash + 1);
  }
  if (!t.sourceFolder.empty() && t.sourceFolder[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) t.sourceFolder = t.sourceFolder == "." ? cwd : WithSlash(cwd) + t.sourceFolder;
  }
  t.extension = ExtensionOf(fileName);
  t.base = fileName.substr(0, fileName.size() - t.extension.size());

  // Keep-format sources other than JPEG, PNG and BMP go through the picture object.
  const std::string sourceExt = LowerName(ExtensionOf(path));
  // A file type outside 0..3 keeps the source's format, as an unknown quality type is fixed.
  const int requestedType = (out.m_fileType >= 0 && out.m_fileType <= 3) ? out.m_fileType : 0;
  t.fileType = requestedType;
  if (t.fileType == 0) {
    if (sourceExt == ".jpg" || sourceExt == ".jpeg")
      t.fileType = 1;
    else if (sourceExt == ".png")
      t.fileType = 2;
    else if (sourceExt == ".bmp")
      t.fileType = 3;
    else {
      t.keepCode = FormatFromExtension(path);
      if (t.keepCode == IFF_UNKNOWN || t.keepCode == IFF_GIF || t.keepCode == IFF_PAX)
        t.keepCode = FormatFromFileContents(path);
      // A format found by content is written under its own extension, never the source's.
      if (t.keepCode != IFF_UNKNOWN && FormatFromExtension(path) != t.keepCode)
        t.extension = ExtensionOfFormat(t.keepCode);
    }
  }
  if (requestedType != 0) t.extension = t.fileType == 1 ? ".jpg" : t.fileType == 2 ? ".png" : ".bmp";

  // Output folder.
  std::string folder = WithSlash(t.sourceFolder);
  if (out.m_type == 1 && !out.m_simDir.empty()) {
    folder = WithSlash(out.m_simDir);
    if (out.m_mirror) {
      const size_t last = t.sourceFolder.find_last_of('/');
      const std::string leaf = last == std::string::npos ? t.sourceFolder : t.sourceFolder.substr(last + 1);
      if (!leaf.empty()) folder = WithSlash(folder + leaf);
    }
  } else if (out.m_type != 2) {
    folder += "QRV";
  }
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  t.folder = folder;
  return t;
}

bool FileExists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

std::string WriteOutputMarker(const std::string& folder, int marks) {
  // Only a regular file of the folder itself: a link planted at the name is not followed (nor a
  // FIFO waited on), and a file with other names elsewhere is left alone.
  const std::string path = WithSlash(folder) + "qrvoutput.dir";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY,
                      0666);
  if (fd < 0) {
    if (errno == ELOOP) return "a symbolic link, not followed";
    if (errno == ENXIO) return "not a regular file";  // a FIFO nobody reads, a socket
    return std::strerror(errno);
  }
  struct stat status {};
  std::string why;
  if (fstat(fd, &status) != 0)
    why = std::strerror(errno);
  else if (!S_ISREG(status.st_mode))
    why = "not a regular file";
  else if (status.st_nlink != 1)
    why = "a file with other hard links";
  // One write(2) at the end of the file for each mark: runs marking the same folder each add
  // their own bytes.
  const char mark = '*';
  for (int i = 0; i < marks && why.empty(); ++i) {
    while (write(fd, &mark, 1) < 0) {
      if (errno == EINTR) continue;
      why = std::strerror(errno);
      break;
    }
  }
  close(fd);
  return why;
}

std::string NumberedOutputName(const std::string& base, long long number, const std::string& extension) {
  if (number == 0) return base + "_QRV" + extension;
  char digits[32];
  std::snprintf(digits, sizeof digits, "%lld", number);
  return base + digits + "_QRV" + extension;
}

std::set<std::string> PictureBaseNames(const std::string& folder) {
  std::set<std::string> bases;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return bases;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) continue;
    if (FormatFromExtension(name) != IFF_UNKNOWN || IsCameraRawName(name)) bases.insert(LowerName(name.substr(0, dot)));
  }
  closedir(dir);
  return bases;
}

bool NumberTakesPictureName(const std::string& base, long long number, const std::set<std::string>& bases) {
  if (number <= 0 || bases.empty()) return false;
  return bases.count(LowerName(base + std::to_string(number))) != 0;
}
