// The output writer: output folder and name from the source path and the output page, the
// marker file of output folders, the format and JPEG quality, the carried EXIF block, and the
// write itself, into a temporary file that replaces the target only when the writer succeeded.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "engine/CRGBImage.h"
#include "engine/HtmlLog.h"
#include "engine/OutputWriter.h"
#include "engine/shell/CMainDialog.h"
#include "engine/shell/ShellServices.h"

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The extension of a file name from its last "." on ("" when it has none).
std::string ExtensionOf(const std::string& name) {
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

// The lower-case extension of a format code's first row in the format table ("" for none).
std::string ExtensionOfFormat(int code) {
  for (const ImageFormatRow& row : kImageFormatTable)
    if (row.code == code && row.code != IFF_UNKNOWN) return Lower(row.extension);
  return std::string();
}

std::string WithSlash(const std::string& folder) {
  return (folder.empty() || folder.back() == '/') ? folder : folder + "/";
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

uint16_t Get16(const BYTE* p, bool little) {
  return little ? static_cast<uint16_t>(p[0] | (p[1] << 8)) : static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t Get32(const BYTE* p, bool little) {
  return little ? (uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24))
                : ((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]});
}

std::string Number(const char* format, long long value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

// Sets the Orientation entry of IFD0 to 1 in an APP1 payload ("Exif\0\0" and a TIFF block).
// Blocks too short or malformed are left as they are.
void SetExifOrientationUpright(std::vector<BYTE>& payload) {
  constexpr size_t kTiff = 6;
  if (payload.size() < kTiff + 8) return;
  const BYTE* t = payload.data() + kTiff;
  const size_t n = payload.size() - kTiff;
  bool little;
  if (t[0] == 'I' && t[1] == 'I')
    little = true;
  else if (t[0] == 'M' && t[1] == 'M')
    little = false;
  else
    return;
  const uint32_t ifd = Get32(t + 4, little);
  if (ifd > n || n - ifd < 2) return;
  const uint32_t count = Get16(t + ifd, little);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t entry = uint64_t{ifd} + 2 + uint64_t{i} * 12;
    if (entry + 12 > n) return;
    BYTE* e = payload.data() + kTiff + entry;
    if (Get16(e, little) == 0x0112 && Get16(e + 2, little) == 3) {
      e[8] = little ? 1 : 0;
      e[9] = little ? 0 : 1;
      return;
    }
  }
}

namespace {

// The TIFF block of an APP1 "Exif" payload, read and patched with every offset bounded.
class ExifTiff {
 public:
  static constexpr size_t kStart = 6;  // after "Exif\0\0"

  explicit ExifTiff(std::vector<BYTE>& payload) : p_(payload) {
    if (p_.size() < kStart + 8) return;
    const BYTE* t = p_.data() + kStart;
    if (t[0] == 'I' && t[1] == 'I')
      little_ = true, valid_ = true;
    else if (t[0] == 'M' && t[1] == 'M')
      little_ = false, valid_ = true;
  }
  bool Valid() const { return valid_; }
  uint64_t Size() const { return p_.size() - kStart; }
  uint32_t Ifd0() const { return Read32(4); }

  // The number of entries of the IFD at `ifd` when the whole IFD and its next link fit.
  bool Entries(uint64_t ifd, uint32_t* count) const {
    if (ifd < 8 || ifd + 2 > Size()) return false;
    *count = Read16(ifd);
    return ifd + 2 + uint64_t{*count} * 12 + 4 <= Size();
  }
  // Offset of the entry with `tag` in the IFD at `ifd`; 0 when there is none.
  uint64_t Find(uint64_t ifd, uint16_t tag) const {
    uint32_t count = 0;
    if (!Entries(ifd, &count)) return 0;
    for (uint32_t i = 0; i < count; ++i)
      if (Read16(ifd + 2 + uint64_t{i} * 12) == tag) return ifd + 2 + uint64_t{i} * 12;
    return 0;
  }
  uint64_t NextLink(uint64_t ifd) const {
    uint32_t count = 0;
    return Entries(ifd, &count) ? ifd + 2 + uint64_t{count} * 12 : 0;
  }
  // A one-value SHORT or LONG entry's value; false for any other shape.
  bool Value(uint64_t entry, uint32_t* value) const {
    if (!entry || Read32(entry + 4) != 1) return false;
    const uint16_t type = Read16(entry + 2);
    if (type == 3) return *value = Read16(entry + 8), true;
    if (type == 4) return *value = Read32(entry + 8), true;
    return false;
  }
  // Sets a one-value SHORT or LONG entry; a value too large for a SHORT makes it a LONG.
  void SetValue(uint64_t entry, uint32_t value) {
    uint32_t old = 0;
    if (!Value(entry, &old)) return;
    if (Read16(entry + 2) == 3 && value <= 0xFFFF) {
      Write16(entry + 8, static_cast<uint16_t>(value));
      Write16(entry + 10, 0);
    } else {
      Write16(entry + 2, 4);
      Write32(entry + 8, value);
    }
  }
  uint16_t Read16(uint64_t at) const { return Get16(p_.data() + kStart + at, little_); }
  uint32_t Read32(uint64_t at) const { return Get32(p_.data() + kStart + at, little_); }
  void Write16(uint64_t at, uint16_t v) {
    BYTE* d = p_.data() + kStart + at;
    d[little_ ? 0 : 1] = static_cast<BYTE>(v);
    d[little_ ? 1 : 0] = static_cast<BYTE>(v >> 8);
  }
  void Write32(uint64_t at, uint32_t v) {
    Write16(at + (little_ ? 0 : 2), static_cast<uint16_t>(v));
    Write16(at + (little_ ? 2 : 0), static_cast<uint16_t>(v >> 16));
  }

 private:
  std::vector<BYTE>& p_;
  bool little_ = true;
  bool valid_ = false;
};

// The library's lossless transform that turns a picture stored with an EXIF orientation
// upright, as the loader turns the pixels; 0 for orientations that need none.
DWORD UprightTransform(int orientation) {
  switch (orientation) {
    case 2: return 1;  // flip horizontal
    case 3: return 6;  // rotate 180
    case 4: return 2;  // flip vertical
    case 5: return 4;  // transpose
    case 6: return 5;  // rotate 90 clockwise
    case 7: return 3;  // transverse
    case 8: return 7;  // rotate 270 clockwise
    default: return 0;
  }
}

// A JPEG turned by the library's lossless transform; empty when it cannot be turned.
std::vector<BYTE> TurnJpeg(const BYTE* jpeg, uint32_t length, DWORD operation) {
  std::vector<BYTE> out(uint64_t{length} * 2 + 4096);
  ISIOHandle source = ISOpenMemorySource(jpeg, length);
  ISIOHandle sink = source ? ISOpenMemorySink(out.data(), static_cast<DWORD>(out.size()), 0) : nullptr;
  const BOOL ok = sink && ISTransformJPG(source, sink, operation, 0, 0, 0, 0);
  const DWORD written = sink ? ISCloseSink(sink) : 0;
  if (source) ISCloseSource(source);
  if (!ok || written == 0 || written > out.size()) return {};
  out.resize(written);
  return out;
}

constexpr size_t kMaxApp1Payload = 65533;  // a marker's length field counts itself

}  // namespace

void FitExifToOutput(std::vector<BYTE>& payload, int width, int height, int orientation) {
  ExifTiff tiff(payload);
  if (!tiff.Valid()) return;
  const uint32_t ifd0 = tiff.Ifd0();
  // The Exif sub-IFD's pixel dimensions become the written picture's.
  uint32_t exifIfd = 0;
  if (tiff.Value(tiff.Find(ifd0, 0x8769), &exifIfd) && exifIfd != ifd0) {
    tiff.SetValue(tiff.Find(exifIfd, 0xA002), static_cast<uint32_t>(std::max(width, 0)));
    tiff.SetValue(tiff.Find(exifIfd, 0xA003), static_cast<uint32_t>(std::max(height, 0)));
  }
  // The IFD1 thumbnail: turned like the picture, or dropped when it cannot be.
  const DWORD operation = UprightTransform(orientation);
  const uint64_t link = tiff.NextLink(ifd0);
  if (operation == 0 || link == 0) return;
  const uint32_t ifd1 = tiff.Read32(link);
  if (ifd1 == 0) return;
  uint32_t offset = 0, length = 0;
  const uint64_t offsetEntry = tiff.Find(ifd1, 0x0201), lengthEntry = tiff.Find(ifd1, 0x0202);
  std::vector<BYTE> turned;
  if (tiff.Value(offsetEntry, &offset) && tiff.Value(lengthEntry, &length) && length > 0 &&
      uint64_t{offset} + length <= tiff.Size())
    turned = TurnJpeg(payload.data() + ExifTiff::kStart + offset, length, operation);
  // The old thumbnail may be cut off only when it ends the block and no IFD0 or IFD1 bytes
  // that are patched below lie in it.
  uint32_t count1 = 0;
  tiff.Entries(ifd1, &count1);
  const uint64_t tablesEnd = std::max<uint64_t>(link + 4, uint64_t{ifd1} + 2 + uint64_t{count1} * 12 + 4);
  const bool atEnd = length > 0 && uint64_t{offset} + length == tiff.Size() && offset >= tablesEnd;
  // The turned thumbnail replaces the old one when that ends the block, otherwise it follows
  // the block (at an even offset); nothing else moves.
  const uint64_t newOffset = atEnd ? offset : (tiff.Size() + 1) & ~uint64_t{1};
  if (!turned.empty() && ExifTiff::kStart + newOffset + turned.size() <= kMaxApp1Payload) {
    payload.resize(ExifTiff::kStart + newOffset);
    payload.insert(payload.end(), turned.begin(), turned.end());
    tiff.SetValue(offsetEntry, static_cast<uint32_t>(newOffset));
    tiff.SetValue(lengthEntry, static_cast<uint32_t>(turned.size()));
    tiff.SetValue(tiff.Find(ifd1, 0x0112), 1);
    return;
  }
  tiff.Write32(link, 0);
  if (atEnd) payload.resize(ExifTiff::kStart + offset);
}

void SetJpegMetadataForOutput(const CMainDialog& dialog) {
  std::vector<BYTE> payload;
  if (dialog.m_pages.sizeQuality.m_keepExif && dialog.m_exifBlock.size() > 4) {
    payload.assign(dialog.m_exifBlock.begin() + 4, dialog.m_exifBlock.end());
    if (dialog.m_orientation != 1) SetExifOrientationUpright(payload);
    FitExifToOutput(payload, dialog.m_workWidth, dialog.m_workHeight, dialog.m_orientation);
  }
  // The markers to write are set after the thumbnail transform, which has its own.
  ISClearJPGMarkers();
  if (!payload.empty()) ISAddJPGMarker(payload.data(), static_cast<DWORD>(payload.size()), 0xE1);
  ISClearJPGComments();
  if (dialog.m_colorMatched) ISAddJPGComment("sRGB Matched");
}

bool FileExists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

void WriteOutputMarker(const std::string& folder) {
  // One write(2) at the end of the file: runs marking the same folder each add their own byte.
  const std::string path = WithSlash(folder) + "qrvoutput.dir";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return;
  const char mark = '*';
  while (write(fd, &mark, 1) < 0 && errno == EINTR) {
  }
  close(fd);
}

namespace {

bool IsUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP; }

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

std::string NumberedOutputName(const std::string& base, long long number, const std::string& extension) {
  return number == 0 ? base + "_QRV" + extension : base + Number("%lld", number) + "_QRV" + extension;
}

FileIdentity IdentityOf(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return {};
  return {true, static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

PlacedOutput PlaceOutputFile(const std::string& temporary, const std::string& folder, const std::string& base,
                             const std::string& extension, long long first, bool replace,
                             const std::vector<FileIdentity>& keep) {
  PlacedOutput placed;
  for (long long n = std::max(0LL, first); n <= kMaxOutputNumber; ++n) {
    const std::string target = WithSlash(folder) + NumberedOutputName(base, n, extension);
    if (replace) {
      const FileIdentity existing = IdentityOf(target);
      if (existing.known && std::find(keep.begin(), keep.end(), existing) != keep.end()) {
        // Never replaced: the output moves to the numbered names, each taken only when free.
        placed.sourceKept = true;
        replace = false;
        continue;
      }
      if (std::rename(temporary.c_str(), target.c_str()) == 0) {
        placed.path = target;
        return placed;
      }
      placed.error = errno;
      break;
    }
    const int error = RenameNoReplace(temporary, target);
    if (error == 0) {
      placed.path = target;
      return placed;
    }
    if (error != EEXIST) {
      placed.error = error;
      break;
    }
  }
  if (placed.error == 0) placed.error = EEXIST;
  std::remove(temporary.c_str());
  return placed;
}

bool CMainDialog::WriteOutputImage(const std::string& path, CProgressDlg* progress) {
  const COutputPage& out = m_pages.output;
  const CSizeQualityPage& sq = m_pages.sizeQuality;
  auto logError = [&](const std::string& text) { LogEntryError(text); };

  // Source folder and file name, split at the last "/"; a path without one is in the current folder.
  std::string sourceFolder, fileName;
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    sourceFolder = ".";
    fileName = path;
  } else {
    sourceFolder = slash == 0 ? "/" : path.substr(0, slash);
    fileName = path.substr(slash + 1);
  }
  if (!sourceFolder.empty() && sourceFolder[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) sourceFolder = sourceFolder == "." ? cwd : WithSlash(cwd) + sourceFolder;
  }
  std::string extension = ExtensionOf(fileName);
  const std::string base = fileName.substr(0, fileName.size() - extension.size());

  // Keep-format sources other than JPEG, PNG and BMP go through the picture object.
  const std::string sourceExt = Lower(ExtensionOf(path));
  // A file type outside 0..3 keeps the source's format, as an unknown quality type is fixed.
  const int requestedType = (out.m_fileType >= 0 && out.m_fileType <= 3) ? out.m_fileType : 0;
  int fileType = requestedType;
  int keepCode = 0;
  if (fileType == 0) {
    if (sourceExt == ".jpg" || sourceExt == ".jpeg")
      fileType = 1;
    else if (sourceExt == ".png")
      fileType = 2;
    else if (sourceExt == ".bmp")
      fileType = 3;
    else {
      keepCode = FormatFromExtension(path);
      if (keepCode == IFF_UNKNOWN || keepCode == IFF_GIF || keepCode == IFF_PAX)
        keepCode = FormatFromFileContents(path);
      // A format found by content is written under its own extension, never the source's.
      if (keepCode != IFF_UNKNOWN && FormatFromExtension(path) != keepCode) extension = ExtensionOfFormat(keepCode);
    }
  }
  if (fileType == 1 && requestedType != 0) extension = ".jpg";
  if (fileType == 2 && requestedType != 0) extension = ".png";
  if (fileType == 3 && requestedType != 0) extension = ".bmp";

  // Output folder.
  std::string folder = WithSlash(sourceFolder);
  if (out.m_type == 1 && !out.m_simDir.empty()) {
    folder = WithSlash(out.m_simDir);
    if (out.m_mirror) {
      const size_t last = sourceFolder.find_last_of('/');
      const std::string leaf = last == std::string::npos ? sourceFolder : sourceFolder.substr(last + 1);
      if (!leaf.empty()) folder = WithSlash(folder + leaf);
    }
  } else if (out.m_type != 2) {
    folder += "QRV";
  }
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (ValidateAndCreateFolder(folder, 0) != 0) {
    logError("Can't create path: " + folder);
    return false;
  }
  if (out.m_type != 2) WriteOutputMarker(folder);
  folder = WithSlash(folder);

  long long number = 0;
  std::string outputPath = folder + NumberedOutputName(base, number, extension);
  bool replace = out.m_replace != 0;
  if (SameFile(outputPath, path)) {
    logError("Output file path is same as source (NEVER ALLOWED)");
    replace = false;
  }
  // Replace never replaces a source of this run: this file or any entry of the queue.
  std::vector<FileIdentity> sources;
  const auto logSourceKept = [&](const std::string& target) {
    AppendLog(LogTime() + kLogFontError + "Output file is a source of this run, not replaced: " + HtmlEscape(target) +
                  "</font><br>\r\n",
              0);
  };
  if (replace) {
    sources = m_cueList.Identities();
    sources.push_back(IdentityOf(path));
    const FileIdentity target = IdentityOf(outputPath);
    if (target.known && std::find(sources.begin(), sources.end(), target) != sources.end()) {
      logSourceKept(outputPath);
      replace = false;
    }
  }
  if (FileExists(outputPath) && !replace) {
    AppendLog(LogTime() + kLogFontError + "File already exist (No Replace): " + HtmlEscape(outputPath) +
                  "</font><br>\r\n=>",
              0);
    do {
      outputPath = folder + NumberedOutputName(base, ++number, extension);
    } while (FileExists(outputPath) && number < INT_MAX);
  }
  if (FileExists(outputPath) && SameFile(outputPath, path)) {
    logError("Output file path is same as source (NEVER ALLOWED)");
    return false;
  }

  if (fileType == 0 && keepCode == IFF_UNKNOWN) {
    logError("Unknown source format, not saved: " + path);
    return false;
  }
  if (m_workImage.empty() || m_workWidth <= 0 || m_workHeight <= 0) {
    logError("No picture to save: " + outputPath);
    return false;
  }

  // The writers fill a temporary file in the output folder that replaces the target at the end.
  std::string temporary = folder + ".qrv-XXXXXX";
  const int fd = mkstemp(&temporary[0]);
  if (fd < 0) {
    logError("Can't write file: " + outputPath);
    return false;
  }
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);

  long long result = 0;
  bool ok = false;
  std::string sizeMissed;  // the quality search could not reach the size limit
  if (fileType == 0) {
    CRGBImage picture;
    if (picture.Create(m_workImage.data(), m_workWidth, m_workHeight) == 0) {
      result = picture.Save(temporary, keepCode);
      ok = result == 0;
    } else {
      result = IS_ERR_NOMEM;
    }
  } else {
    ISIOHandle sink = ISOpenFileSink(temporary.c_str(), 0);
    if (sink) {
      const DWORD w = static_cast<DWORD>(m_workWidth), h = static_cast<DWORD>(m_workHeight);
      if (fileType == 1) {
        int qualityType = sq.m_qualityType;
        if (qualityType < 0 || qualityType > 2) qualityType = 0;
        int quality = sq.m_cq;
        int64_t limit = 0;
        if (qualityType != 0) {
          if (qualityType == 1) {
            const double bytes = sq.m_maxKB * 1000.0;
            limit = bytes >= 2147483647.0 ? INT64_C(2147483647) : (bytes > 0.0 ? static_cast<int64_t>(bytes) : 0);
          } else {
            limit = std::min<int64_t>(m_srcFileSize, INT64_C(2147483647));
          }
          quality = FindQualityAtLeast(static_cast<int>(limit), sq.m_minQ, progress);
          // One step up only when that file still fits the size searched for.
          if (qualityType == 2 && quality != sq.m_minQ && quality < 98) {
            const int next = EncodedSizeAtQuality(quality + 1);
            if (next > 0 && next <= limit) ++quality;
          }
          const std::string text = Number("Determined Quality: %lld", quality);
          if (progress) progress->SetStatusText(text);
          AppendLog(LogTime() + text + "<br>", 0);
        }
        const ISResolution density{1, 1, 0};
        result = WriteWorkingJpeg(*this, sink, quality, &density);
        if (qualityType != 0 && result > limit)
          sizeMissed = Number("Size limit missed: %lld bytes written", result) +
                       Number(" at quality %lld", quality) + Number(", over the limit of %lld bytes", limit);
      } else if (fileType == 2) {
        result = ISWritePNG(sink, m_workImage.data(), w, h, w * 3, 8, 0, nullptr, 2, 0.0, nullptr, 0);
      } else {
        result = ISWriteBMP(sink, m_workImage.data(), w, h, 24, 0x1000000, nullptr, nullptr, 0);
      }
      const bool closed = ISCloseSink(sink) != 0;
      ok = result != 0 && closed;
    }
  }
  // The name chosen above may have been taken meanwhile by another run: the placement takes the
  // next free number then, in the same step that gives the file its name.
  if (ok) {
    const PlacedOutput placed = PlaceOutputFile(temporary, folder, base, extension, number, replace, sources);
    if (placed.sourceKept) logSourceKept(folder + NumberedOutputName(base, number, extension));
    if (placed.path.empty())
      ok = false;
    else
      outputPath = placed.path;
  }
  if (!ok) {
    std::remove(temporary.c_str());
    AppendLog(LogTime() + HtmlEscape(outputPath) + Number(" (%lld)", result) + "<br>", 0);
    logError("Can't write file: " + outputPath);
    return false;
  }
  AppendLog(LogTime() + HtmlEscape(outputPath) + Number(" (%lld)", result) + "<br>", 0);
  if (!sizeMissed.empty()) LogEntryWarning(sizeMissed);
  if (!m_outcomes.empty()) {
    m_outcomes.back().written = true;
    m_outcomes.back().output = outputPath;
  }
  return true;
}
