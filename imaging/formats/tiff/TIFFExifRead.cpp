// The camera data of a TIFF page (IFD0's camera tags, the EXIF, GPS and interoperability
// directories) kept as an EXIF block for ISGetReadMetadata.
#include <cstdio>
#include <new>

#include "imaging/formats/MetadataRead.h"
#include "imaging/formats/tiff/TIFFExifBlock.h"

void KeepTIFFExifBlock(TIFF* tif, CISIO& source, bool upright) {
  uint32_t fileSize = 0;
  if (!source.GetSize(&fileSize)) return;
  try {
    const TIFFEntryWalker walker(
        [&](uint64_t at, uint64_t size, uint8_t* out) {
          return at <= INT32_MAX && size <= UINT32_MAX && source.Seek(static_cast<int32_t>(at), IS_SEEK_SET) &&
                 source.ReadExact(out, static_cast<uint32_t>(size));
        },
        fileSize, TIFFIsBigEndian(tif), TIFFIsBigTIFF(tif));
    TIFFExifDirectories dirs;
    TIFFExifPointers pointers;
    if (!walker.Directory(TIFFCurrentDirOffset(tif), dirs.ifd0, pointers, IsTIFFCameraTag)) return;
    if (pointers.exif == 0 && pointers.gps == 0) return;
    // The pixels the reader gave are upright already.
    for (TIFFExifEntry& e : dirs.ifd0)
      if (e.tag == TIFFTAG_ORIENTATION && e.type == TIFF_SHORT && upright) WriteLE16(e.data.data(), 1);
    for (const char* lost : ReadTIFFExifSubDirectories(walker, pointers, dirs)) {
      char text[120];
      std::snprintf(text, sizeof text, "the TIFF's %s cannot be read", lost);
      NoteMetadataLeftOut(IS_META_EXIF, text);
    }
    const struct {
      uint32_t count;
      const char* why;
    } lostTags[] = {{dirs.entriesTooLarge, "do not fit in an EXIF block"},
                    {dirs.entriesOutside, "hold values that lie outside the file"}};
    for (const auto& lost : lostTags)
      if (lost.count) {
        char text[120];
        std::snprintf(text, sizeof text, "%u camera tag(s) of the TIFF %s", static_cast<unsigned>(lost.count),
                      lost.why);
        NoteMetadataLeftOut(IS_META_EXIF, text);
      }
    std::string why;
    const std::vector<uint8_t> payload = BuildTIFFExifPayload(dirs, &why);
    if (!payload.empty())
      KeepMetadataRead(IS_META_EXIF, payload.data(), payload.size());
    else if (!why.empty())
      NoteMetadataLeftOut(IS_META_EXIF, why.c_str());
  } catch (const std::bad_alloc&) {
    NoteMetadataLeftOut(IS_META_EXIF, "there was no memory for the TIFF's camera data");
  }
}
