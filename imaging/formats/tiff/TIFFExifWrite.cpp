// The camera data of an EXIF block written into a TIFF page: the EXIF and GPS directories laid
// out as they are (libtiff would turn every rational into a float and back, and drops the tags
// its tables do not know), IFD0's camera texts and the two pointers set through libtiff.
#include <string>
#include <vector>

#include "imaging/core/ISThreadState.h"
#include "imaging/formats/tiff/TIFFExifBlock.h"

namespace {

// Appends the directories to the file and sets IFD0's camera texts and pointers; false, with
// why, when they cannot be written.
bool WriteDirectories(TIFF* tif, CISIO& stream, const TIFFExifDirectories& dirs, std::string* why) {
  uint32_t end = 0;
  if (TIFFIsBigTIFF(tif)) return *why = "the page is added to a BigTIFF file", false;
  if (!stream.Seek(0, IS_SEEK_END) || !stream.Tell(&end)) return *why = "the file cannot be extended", false;
  // The directories go after everything written so far, at an even offset; libtiff puts the
  // page's strips and directory after them.
  const uint64_t at = (uint64_t{end} + 1) & ~uint64_t{1};
  uint64_t exifOffset = 0, gpsOffset = 0;
  std::vector<uint8_t> bytes = BuildTIFFExifDirectories(dirs, at, TIFFIsBigEndian(tif), &exifOffset, &gpsOffset);
  if (at != end && !bytes.empty()) bytes.insert(bytes.begin(), 0);
  if (!bytes.empty() &&
      (at + bytes.size() > UINT32_MAX || !stream.Write(bytes.data(), static_cast<uint32_t>(bytes.size()))))
    return *why = "the file could not take its directories", false;
  // Orientation, resolution and Software describe the file written: the writer set them.
  for (const TIFFExifEntry& e : dirs.ifd0)
    if (e.type == TIFF_ASCII && e.tag != TIFFTAG_SOFTWARE) {
      const std::string text(e.data.begin(), e.data.end());
      TIFFSetField(tif, e.tag, text.c_str());
    }
  if (exifOffset) TIFFSetField(tif, TIFFTAG_EXIFIFD, exifOffset);
  if (gpsOffset) TIFFSetField(tif, TIFFTAG_GPSIFD, gpsOffset);
  return true;
}

}  // namespace

void WriteTIFFExifBlock(TIFF* tif, CISIO& stream, const ISArray<unsigned char>& payload) {
  if (payload.Count() == 0 || !payload.Data()) return;
  TIFFExifDirectories dirs;
  std::string why;
  std::vector<std::string> notes;
  if (!ParseTIFFExifPayload(payload.Data(), payload.Count(), dirs, &why, &notes) ||
      !WriteDirectories(tif, stream, dirs, &why))
    notes.push_back("EXIF block left out: " + why);
  else if (dirs.entriesOutside + dirs.entriesTooLarge)
    notes.push_back(std::to_string(dirs.entriesOutside + dirs.entriesTooLarge) +
                    " EXIF tag(s) left out: their values lie outside the block or do not fit in 65533 bytes");
  std::string note;
  for (const std::string& n : notes) note += (note.empty() ? "" : "; ") + n;
  if (!note.empty()) SetLastWarning(note.c_str());
}
