// A TIFF's camera data as an EXIF block: the IFD0 camera tags, the EXIF directory and the GPS
// directory, read from a TIFF through libtiff and kept as the payload of a JPEG APP1 "Exif"
// marker, and such a payload put back into a TIFF that is written.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <tiffio.h>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISContainers.h"

// The largest EXIF block kept or written: what one JPEG APP1 marker holds ("Exif\0\0" included).
constexpr uint64_t kMaxTIFFExifPayload = 65533;

// One directory entry: its values in little-endian order, count x the type's size bytes.
struct TIFFExifEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  std::vector<uint8_t> data;
};

struct TIFFExifDirectories {
  std::vector<TIFFExifEntry> ifd0;  // camera tags only, never the pointers 34665 and 34853
  std::vector<TIFFExifEntry> exif;
  std::vector<TIFFExifEntry> gps;
  std::vector<TIFFExifEntry> interop;  // the interoperability directory of the EXIF one
  uint32_t entriesOutside = 0;         // entries left out: their values lie outside
  uint32_t entriesTooLarge = 0;        // entries left out: past what an EXIF block holds
};

// Bytes of one value of TIFF type `type` (1 to 12); 0 for the types an EXIF block cannot hold.
uint32_t TIFFExifTypeSize(uint32_t type);

// The IFD0 tags that describe the camera and the picture's author rather than the pixels'
// layout: these travel with the EXIF directories.
bool IsTIFFCameraTag(uint32_t tag);

// Walks the directories of a TIFF structure of `tiffBytes` bytes through `read(at, size, out)`
// (offsets from the TIFF header; it is only asked for bytes inside), every count and offset
// bounded by the structure.
struct TIFFExifPointers {
  uint64_t exif = 0;  // the EXIF directory pointer met (34665), 0 when none
  uint64_t gps = 0;   // the GPS directory pointer met (34853)
  uint64_t interop = 0;  // the interoperability directory pointer met (40965)
  uint32_t entriesOutside = 0;   // entries whose values lie outside the structure
  uint32_t entriesTooLarge = 0;  // entries past what an EXIF block holds
};
class TIFFEntryWalker {
 public:
  using ReadFn = std::function<bool(uint64_t at, uint64_t size, uint8_t* out)>;
  TIFFEntryWalker(ReadFn read, uint64_t tiffBytes, bool bigEndian, bool bigTiff);
  // The entries of the directory at `at` (pointers and types a classic block cannot hold
  // aside; the values of all directories walked together at most what an EXIF block holds);
  // false when its count or entries lie outside.
  // With `keep`, only the entries of the tags it accepts.
  bool Directory(uint64_t at, std::vector<TIFFExifEntry>& out, TIFFExifPointers& pointers,
                 bool (*keep)(uint32_t tag) = nullptr) const;
  uint64_t Value(const uint8_t* p, int bytes) const;

 private:
  ReadFn read_;
  uint64_t tiffBytes_;
  bool big_;
  bool bigTiff_;
  mutable uint64_t taken_ = 0;  // value bytes of the entries taken so far
};

// Reads the EXIF, GPS and interoperability directories that IFD0's pointers name; a directory
// that cannot be read is left empty and named in the result.
std::vector<const char*> ReadTIFFExifSubDirectories(const TIFFEntryWalker& walker, const TIFFExifPointers& ifd0,
                                                    TIFFExifDirectories& dirs);

// "Exif\0\0", a little-endian TIFF header, IFD0 (with the pointers of the directories that
// are not empty) and the EXIF, GPS and interoperability directories, entries sorted by tag;
// empty when nothing is to be kept or the block would be larger than kMaxTIFFExifPayload (*why then says so).
std::vector<uint8_t> BuildTIFFExifPayload(const TIFFExifDirectories& dirs, std::string* why);

// The entries of an EXIF payload ("Exif\0\0" and a TIFF block of either byte order): IFD0's
// camera tags, the EXIF, GPS and interoperability directories. False, with *why, when IFD0 cannot be read; a
// sub-directory that cannot be read is left empty, named in *notes.
bool ParseTIFFExifPayload(const uint8_t* payload, uint64_t size, TIFFExifDirectories& dirs, std::string* why,
                          std::vector<std::string>* notes);

// Keeps the camera data of the page that `tif` has selected (from `source`) for
// ISGetReadMetadata, when the page has an EXIF or a GPS directory: the entries as the file
// stores them (libtiff would round rationals to floats and drop entries of a type its tables
// do not expect). `upright`: the reader turned the pixels by the page's Orientation, so the
// block says 1. What cannot be read is left out and named in the read's metadata note, never
// in its warning.
void KeepTIFFExifBlock(TIFF* tif, CISIO& source, bool upright);

// The EXIF, GPS and interoperability directories laid out for a TIFF file of that byte order
// from its byte `at` (even) on, and the offsets IFD0 points to (0: the directory is empty).
std::vector<uint8_t> BuildTIFFExifDirectories(const TIFFExifDirectories& dirs, uint64_t at, bool bigEndian,
                                              uint64_t* exifOffset, uint64_t* gpsOffset);

// Writes the thread's EXIF block into the TIFF page being written: its EXIF, GPS and
// interoperability directories appended to the file as they are (values exact, every entry
// kept), then IFD0's camera texts and the directories' pointers set on the page. What is left
// out is said in ISGetLastWarning.
void WriteTIFFExifBlock(TIFF* tif, CISIO& stream, const ISArray<unsigned char>& payload);
