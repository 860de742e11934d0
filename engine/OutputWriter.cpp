// The output writer: a source's corrected working picture encoded in the chosen format and
// quality into a file of the output folder, which takes its name only once it is whole.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/CRGBImage.h"
#include "engine/ErrorText.h"
#include "engine/HtmlLog.h"
#include "engine/OutputExif.h"
#include "engine/OutputMetadata.h"
#include "engine/OutputWriter.h"
#include "engine/shell/CMainDialog.h"
#include "engine/shell/ShellServices.h"

namespace {

std::string Number(const char* format, long long value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// " (the system's words for the error)", or nothing for no error.
std::string SystemReason(int error) {
  return error != 0 ? std::string(" (") + std::strerror(error) + ")" : std::string();
}

bool Holds(const std::vector<FileIdentity>& files, const FileIdentity& file) {
  return file.known && std::find(files.begin(), files.end(), file) != files.end();
}

}  // namespace

const std::set<std::string>& CMainDialog::PictureNamesNear(const std::string& sourceFolder) {
  const auto known = m_pictureNames.find(sourceFolder);
  if (known != m_pictureNames.end()) return known->second;
  std::set<std::string> names = PictureBaseNames(sourceFolder);
  // Pictures of the queue from other folders too: one output folder may gather several.
  for (int i = 0; i < m_cueList.GetCount(); ++i) {
    const std::string name = EntryName(m_cueList.GetText(i));
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) names.insert(LowerName(name.substr(0, dot)));
  }
  return m_pictureNames.emplace(sourceFolder, std::move(names)).first->second;
}

bool CMainDialog::WriteOutputImage(const std::string& path, CProgressDlg* progress) {
  const COutputPage& out = m_pages.output;
  const CSizeQualityPage& sq = m_pages.sizeQuality;
  auto logError = [&](const std::string& text) { LogEntryError(text); };

  const OutputTarget target = OutputTargetFor(path, out);
  const std::string& base = target.base;
  const std::string& extension = target.extension;
  std::string folder = target.folder;
  int folderError = 0;
  if (ValidateAndCreateFolder(folder, 0, nullptr, &folderError) != 0) {
    logError("Can't create path: " + folder + SystemReason(folderError));
    return false;
  }
  // Every folder an output goes to holds the marker, the source's own folder too: a later run
  // given that folder then leaves out the outputs written there. It is there before the output
  // takes its name, and gains its '*' only once the output has one.
  const auto logMarker = [&](const std::string& why) {
    LogEntryWarning("Can't write output marker: " + WithSlash(target.folder) + "qrvoutput.dir (" + why + ")");
  };
  const std::string markerWhy = WriteOutputMarker(target.folder, 0);
  if (!markerWhy.empty()) logMarker(markerWhy);
  folder = WithSlash(folder);

  // A number is skipped when base + number names another picture: P1's second output goes to
  // P12_QRV when P11 is there, whose output is P11_QRV.
  const auto skipNumber = [&](long long n) {
    return n > 0 && NumberTakesPictureName(base, n, PictureNamesNear(target.sourceFolder));
  };
  long long number = 0;
  std::string outputPath = folder + NumberedOutputName(base, number, extension);
  bool replace = out.m_replace != 0;
  if (SameFile(outputPath, path)) {
    logError("Output file path is same as source (NEVER ALLOWED)");
    replace = false;
  }
  // Replace never replaces a source of this run (this file, any entry of the queue or the black
  // frame), nor a file this run wrote: the next number is taken as when the name is taken.
  std::vector<FileIdentity> sources, written;
  FileIdentity blackFrame;
  const auto logKept = [&](const std::string& kept, const FileIdentity& file) {
    const char* why = file == blackFrame      ? "Output file is the black frame of this run, not replaced: "
                      : Holds(sources, file) ? "Output file is a source of this run, not replaced: "
                                             : "Output file was written earlier in this run, not replaced: ";
    AppendLog(LogTime() + kLogFontError + why + HtmlEscape(kept) + "</font><br>\r\n", 0);
  };
  if (replace) {
    sources = m_cueList.Identities();
    sources.push_back(IdentityOf(path));
    if (!m_blackFramePath.empty()) {
      blackFrame = IdentityOf(m_blackFramePath);
      sources.push_back(blackFrame);
    }
    for (const EntryOutcome& o : m_outcomes)
      if (o.written && o.outputIdentity.known) written.push_back(o.outputIdentity);
    const FileIdentity existing = IdentityOf(outputPath);
    if (Holds(sources, existing) || Holds(written, existing)) {
      logKept(outputPath, existing);
      replace = false;
    }
  }
  if (FileExists(outputPath) && !replace) {
    AppendLog(LogTime() + kLogFontError + "File already exist (No Replace): " + HtmlEscape(outputPath) +
                  "</font><br>\r\n=>",
              0);
    do {
      ++number;
      while (skipNumber(number) && number < INT_MAX) ++number;
      outputPath = folder + NumberedOutputName(base, number, extension);
    } while (FileExists(outputPath) && number < INT_MAX);
  }
  if (FileExists(outputPath) && SameFile(outputPath, path)) {
    logError("Output file path is same as source (NEVER ALLOWED)");
    return false;
  }

  if (target.fileType == 0 && target.keepCode == IFF_UNKNOWN) {
    logError("Unknown source format, not saved: " + path);
    return false;
  }
  if (m_workImage.empty() || m_workWidth <= 0 || m_workHeight <= 0) {
    logError("No picture to save: " + outputPath);
    return false;
  }

  // The writers fill a file of the output folder that has no name yet; it takes its name once
  // it is whole and on the disk.
  PendingOutput file;
  int systemError = file.Create(folder);
  if (systemError != 0) {
    logError("Can't write file: " + outputPath + SystemReason(systemError));
    return false;
  }
  bool ok = false;
  long long result = 0;          // the writer's result, 0 on failure
  ISErrorCode libraryError = 0;  // why the library's writer failed
  std::string sizeMissed;        // the quality search could not reach the size limit
  std::string exifNote;          // why the carried EXIF block lost its thumbnail
  // What the output carries of the source's colour profile, IPTC and XMP, and what it leaves out.
  const int outputFormat = target.fileType == 0   ? target.keepCode
                           : target.fileType == 1 ? IFF_JPEG
                           : target.fileType == 2 ? IFF_PNG
                                                  : IFF_BMP;
  const OutputKind outputKind = OutputKindOf(outputFormat);
  CarriedMetadata carried = MetadataForOutput(*this, outputKind, OutputFormatName(outputFormat));
  std::vector<std::string> metadataNotes = carried.notes;
  // A PNG writer that met a profile libpng refuses says so.
  const auto notePNGProfile = [&]() {
    const std::string warning = ISGetLastWarning();
    if (outputKind == OutputKind::kPng && warning.compare(0, 23, "colour profile left out") == 0)
      metadataNotes.push_back("Colour profile of the source left out: " + warning.substr(25));
  };
  if (ISIOHandle sink = file.OpenSink()) {
    const DWORD w = static_cast<DWORD>(m_workWidth), h = static_cast<DWORD>(m_workHeight);
    if (target.fileType == 0) {
      CRGBImage picture;
      if (picture.Create(m_workImage.data(), m_workWidth, m_workHeight) == 0) {
        if (target.keepCode == IFF_JPEG) ISSetJPGDCTMethod(1);  // as the picture object saves a JPEG
        // A JPEG takes its EXIF block and comments as the JPEG outputs do, and leaves no marker
        // or comment for the next file.
        const bool jpeg = outputKind == OutputKind::kJpeg;
        if (jpeg)
          exifNote = SetJpegMetadataForOutput(*this);
        else
          SetCarriedMetadata(carried, outputKind);
        result = picture.WriteTo(sink, target.keepCode);
        notePNGProfile();
        ClearCarriedMetadata();
        if (jpeg) ISClearJPGMarkers(), ISClearJPGComments();
      } else {
        libraryError = IS_ERR_NOMEM;
      }
    } else if (target.fileType == 1) {
      // The probes of the quality search and the file carry one EXIF block, fitted once.
      const OutputExifScope exifScope(*this);
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
      result = WriteWorkingJpeg(*this, sink, quality, &density, &exifNote);
      if (qualityType != 0 && result > limit)
        sizeMissed = Number("Size limit missed: %lld bytes written", result) +
                     Number(" at quality %lld", quality) + Number(", over the limit of %lld bytes", limit);
    } else if (target.fileType == 2) {
      SetCarriedMetadata(carried, outputKind);
      result = ISWritePNG(sink, m_workImage.data(), w, h, w * 3, 8, 0, nullptr, 2, 0.0, nullptr, 0);
      notePNGProfile();
      ClearCarriedMetadata();
    } else {
      result = ISWriteBMP(sink, m_workImage.data(), w, h, 24, 0x1000000, nullptr, nullptr, 0);
    }
    if (result == 0 && libraryError == 0) libraryError = ISGetLastError();
    const bool closed = ISCloseSink(sink) != 0;
    ok = result != 0 && closed;
  } else {
    libraryError = ISGetLastError();
  }
  systemError = file.WriteError();
  if (ok) {
    systemError = file.Finish();
    ok = systemError == 0;
  }
  // The name chosen above may have been taken meanwhile by another run: the placement takes the
  // next free number then, in the same step that gives the file its name.
  PlacedOutput placed;
  if (ok) {
    std::vector<FileIdentity> keep = sources;
    keep.insert(keep.end(), written.begin(), written.end());
    placed = PlaceOutputFile(file, folder, base, extension, number, replace, keep, skipNumber);
    if (placed.kept.known) logKept(placed.keptPath, placed.kept);
    if (placed.path.empty()) {
      ok = false;
      systemError = placed.error;
    } else {
      outputPath = placed.path;
    }
  }
  // The size of the file as it was placed; 0 when none was.
  AppendLog(LogTime() + HtmlEscape(outputPath) + Number(" (%lld)", ok ? std::max(placed.size, 0LL) : 0) + "<br>",
            0);
  if (!ok) {
    const std::string reason = systemError != 0 ? SystemReason(systemError)
                               : libraryError != 0 ? " (" + LibraryErrorText(libraryError) + ")"
                                                   : std::string();
    logError("Can't write file: " + outputPath + reason);
    return false;
  }
  if (markerWhy.empty()) {
    const std::string why = WriteOutputMarker(target.folder);
    if (!why.empty()) logMarker(why);
  }
  if (!exifNote.empty()) LogEntryWarning(exifNote);
  for (const std::string& note : metadataNotes) LogEntryWarning(note);
  if (!sizeMissed.empty()) LogEntryWarning(sizeMissed);
  if (!m_outcomes.empty()) {
    m_outcomes.back().written = true;
    m_outcomes.back().output = outputPath;
    m_outcomes.back().outputIdentity = placed.identity;
  }
  return true;
}
