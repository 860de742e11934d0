// The EXIF block of a TIFF's camera data as bytes: built from directory entries (little-endian,
// values out of line where over 4 bytes) and walked back into entries, every offset and count
// bounded by the block.
#include "imaging/formats/tiff/TIFFExifBlock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

constexpr uint8_t kExifPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint64_t kHeader = sizeof kExifPrefix;  // the TIFF header's place in the payload

// Lays directories into a buffer whose byte `i` is the TIFF's byte `i - delta`, in either byte
// order.
class DirectoryWriter {
 public:
  DirectoryWriter(std::vector<uint8_t>& out, int64_t delta, bool big) : out_(out), delta_(delta), big_(big) {}
  void Put(uint64_t at, uint32_t v, int bytes) {
    uint8_t* p = out_.data() + (static_cast<int64_t>(at) + delta_);
    for (int i = 0; i < bytes; ++i) p[big_ ? bytes - 1 - i : i] = static_cast<uint8_t>(v >> (8 * i));
  }
  // The entry's little-endian values in the buffer's order, each of its own size (a rational
  // is two longs).
  void PutValues(uint64_t at, const TIFFExifEntry& e) {
    uint8_t* p = out_.data() + (static_cast<int64_t>(at) + delta_);
    std::copy(e.data.begin(), e.data.end(), p);
    const uint32_t unit = TIFFExifTypeSize(e.type);
    const uint32_t part = (e.type == TIFF_RATIONAL || e.type == TIFF_SRATIONAL) ? 4 : unit;
    if (big_ && part > 1)
      for (uint64_t v = 0; v < e.data.size(); v += part) std::reverse(p + v, p + v + part);
  }
  // A directory at `at`, entries sorted by tag, values out of line after it.
  void Directory(uint64_t at, std::vector<TIFFExifEntry> entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TIFFExifEntry& a, const TIFFExifEntry& b) { return a.tag < b.tag; });
    Put(at, static_cast<uint32_t>(entries.size()), 2);
    uint64_t data = at + 2 + 12 * entries.size() + 4;
    for (size_t i = 0; i < entries.size(); ++i) {
      const TIFFExifEntry& e = entries[i];
      const uint64_t entry = at + 2 + 12 * i;
      Put(entry, e.tag, 2);
      Put(entry + 2, e.type, 2);
      Put(entry + 4, e.count, 4);
      if (e.data.size() <= 4) {
        PutValues(entry + 8, e);
      } else {
        Put(entry + 8, static_cast<uint32_t>(data), 4);
        PutValues(data, e);
        data += (e.data.size() + 1) & ~uint64_t{1};
      }
    }
    Put(at + 2 + 12 * entries.size(), 0, 4);
  }

 private:
  std::vector<uint8_t>& out_;
  int64_t delta_;
  bool big_;
};

// Bytes a directory takes: its count, entries and next-directory word, then its values out of
// line, each at an even offset.
uint64_t DirectoryBytes(const std::vector<TIFFExifEntry>& entries, uint64_t pointers) {
  uint64_t bytes = 2 + 12 * (entries.size() + pointers) + 4;
  for (const TIFFExifEntry& e : entries)
    if (e.data.size() > 4) bytes += (e.data.size() + 1) & ~uint64_t{1};
  return bytes;
}

TIFFExifEntry Pointer(uint16_t tag, uint64_t offset) {
  TIFFExifEntry e;
  e.tag = tag;
  e.type = TIFF_LONG;
  e.count = 1;
  e.data.resize(4);
  WriteLE32(e.data.data(), static_cast<DWORD>(offset));
  return e;
}

}  // namespace

uint32_t TIFFExifTypeSize(uint32_t type) {
  switch (type) {
    case TIFF_BYTE: case TIFF_ASCII: case TIFF_SBYTE: case TIFF_UNDEFINED: return 1;
    case TIFF_SHORT: case TIFF_SSHORT: return 2;
    case TIFF_LONG: case TIFF_SLONG: case TIFF_FLOAT: return 4;
    case TIFF_RATIONAL: case TIFF_SRATIONAL: case TIFF_DOUBLE: return 8;
    default: return 0;
  }
}

bool IsTIFFCameraTag(uint32_t tag) {
  switch (tag) {
    case TIFFTAG_IMAGEDESCRIPTION: case TIFFTAG_MAKE: case TIFFTAG_MODEL: case TIFFTAG_ORIENTATION:
    case TIFFTAG_XRESOLUTION: case TIFFTAG_YRESOLUTION: case TIFFTAG_RESOLUTIONUNIT: case TIFFTAG_SOFTWARE:
    case TIFFTAG_DATETIME: case TIFFTAG_ARTIST: case TIFFTAG_COPYRIGHT:
      return true;
    default:
      return false;
  }
}

namespace {

// Where the EXIF, GPS and interoperability directories lie when laid one after the other from
// `at`: 0 for a directory not written (the interoperability one hangs from the EXIF one).
struct SubDirectories {
  uint64_t exif = 0, gps = 0, interop = 0, end = 0;
};
SubDirectories PlaceSubDirectories(const TIFFExifDirectories& dirs, uint64_t at) {
  SubDirectories p;
  const bool interop = !dirs.interop.empty();
  if (!dirs.exif.empty() || interop) p.exif = at, at += DirectoryBytes(dirs.exif, interop ? 1 : 0);
  if (!dirs.gps.empty()) p.gps = at, at += DirectoryBytes(dirs.gps, 0);
  if (interop) p.interop = at, at += DirectoryBytes(dirs.interop, 0);
  p.end = at;
  return p;
}
void LaySubDirectories(DirectoryWriter& w, const TIFFExifDirectories& dirs, const SubDirectories& p) {
  if (p.exif) {
    std::vector<TIFFExifEntry> exif = dirs.exif;
    if (p.interop) exif.push_back(Pointer(TIFFTAG_INTEROPERABILITYIFD, p.interop));
    w.Directory(p.exif, std::move(exif));
  }
  if (p.gps) w.Directory(p.gps, dirs.gps);
  if (p.interop) w.Directory(p.interop, dirs.interop);
}

}  // namespace

std::vector<uint8_t> BuildTIFFExifPayload(const TIFFExifDirectories& dirs, std::string* why) {
  if (dirs.ifd0.empty() && dirs.exif.empty() && dirs.gps.empty() && dirs.interop.empty()) return {};
  const uint64_t pointers = (dirs.exif.empty() && dirs.interop.empty() ? 0 : 1) + (dirs.gps.empty() ? 0 : 1);
  const uint64_t ifd0 = 8;
  const SubDirectories p = PlaceSubDirectories(dirs, ifd0 + DirectoryBytes(dirs.ifd0, pointers));
  if (kHeader + p.end > kMaxTIFFExifPayload) {
    char text[200];
    std::snprintf(text, sizeof text, "its camera data take %llu bytes, more than the %llu an EXIF block holds",
                  static_cast<unsigned long long>(kHeader + p.end),
                  static_cast<unsigned long long>(kMaxTIFFExifPayload));
    *why = text;
    return {};
  }
  std::vector<uint8_t> out(kHeader + p.end, 0);
  std::copy(kExifPrefix, kExifPrefix + kHeader, out.begin());
  out[kHeader] = out[kHeader + 1] = 'I';
  DirectoryWriter w(out, kHeader, false);
  w.Put(2, 42, 2);
  w.Put(4, static_cast<uint32_t>(ifd0), 4);
  std::vector<TIFFExifEntry> first = dirs.ifd0;
  if (p.exif) first.push_back(Pointer(TIFFTAG_EXIFIFD, p.exif));
  if (p.gps) first.push_back(Pointer(TIFFTAG_GPSIFD, p.gps));
  w.Directory(ifd0, std::move(first));
  LaySubDirectories(w, dirs, p);
  return out;
}

std::vector<uint8_t> BuildTIFFExifDirectories(const TIFFExifDirectories& dirs, uint64_t at, bool bigEndian,
                                              uint64_t* exifOffset, uint64_t* gpsOffset) {
  const SubDirectories p = PlaceSubDirectories(dirs, at);
  *exifOffset = p.exif;
  *gpsOffset = p.gps;
  std::vector<uint8_t> out(p.end - at, 0);
  DirectoryWriter w(out, -static_cast<int64_t>(at), bigEndian);
  LaySubDirectories(w, dirs, p);
  return out;
}

TIFFEntryWalker::TIFFEntryWalker(ReadFn read, uint64_t tiffBytes, bool bigEndian, bool bigTiff)
    : read_(std::move(read)), tiffBytes_(tiffBytes), big_(bigEndian), bigTiff_(bigTiff) {}

uint64_t TIFFEntryWalker::Value(const uint8_t* p, int bytes) const {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint64_t{p[big_ ? i : bytes - 1 - i]} << (8 * (bytes - 1 - i));
  return v;
}

bool TIFFEntryWalker::Directory(uint64_t at, std::vector<TIFFExifEntry>& out, TIFFExifPointers& pointers,
                                bool (*keep)(uint32_t tag)) const {
  const int countBytes = bigTiff_ ? 8 : 2, entryBytes = bigTiff_ ? 20 : 12, valueBytes = bigTiff_ ? 8 : 4;
  uint8_t head[8];
  if (at < 8 || at > tiffBytes_ || tiffBytes_ - at < static_cast<uint64_t>(countBytes) ||
      !read_(at, countBytes, head))
    return false;
  const uint64_t count = Value(head, countBytes);
  if (count > (tiffBytes_ - at - countBytes) / entryBytes || count > kMaxTIFFExifPayload / 12) return false;
  std::vector<uint8_t> entries(count * entryBytes);
  if (count && !read_(at + countBytes, entries.size(), entries.data())) return false;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* entry = entries.data() + i * entryBytes;
    const uint8_t* field = entry + 4 + valueBytes;
    TIFFExifEntry e;
    e.tag = static_cast<uint16_t>(Value(entry, 2));
    e.type = static_cast<uint16_t>(Value(entry + 2, 2));
    const uint64_t n = Value(entry + 4, valueBytes);
    // Directory pointers are laid out again with the directories.
    if (e.tag == TIFFTAG_EXIFIFD || e.tag == TIFFTAG_GPSIFD || e.tag == TIFFTAG_INTEROPERABILITYIFD) {
      const bool offsetType = e.type == TIFF_LONG || e.type == TIFF_IFD || e.type == TIFF_LONG8 || e.type == TIFF_IFD8;
      const int bytes = (e.type == TIFF_LONG8 || e.type == TIFF_IFD8) ? 8 : 4;
      if (n == 1 && offsetType && bytes <= valueBytes)
        (e.tag == TIFFTAG_EXIFIFD ? pointers.exif : e.tag == TIFFTAG_GPSIFD ? pointers.gps : pointers.interop) =
            Value(field, bytes);
      continue;
    }
    const uint32_t unit = TIFFExifTypeSize(e.type);
    if (unit == 0 || n == 0 || (keep && !keep(e.tag))) continue;  // unit 0: types a classic block cannot hold
    // What all entries take together is bounded by what a block holds, whatever the file
    // repeats: entries past that are left out.
    if (n > kMaxTIFFExifPayload / unit || taken_ + n * unit > kMaxTIFFExifPayload) {
      ++pointers.entriesTooLarge;
      continue;
    }
    const uint64_t bytes = n * unit;
    e.count = static_cast<uint32_t>(n);
    e.data.resize(bytes);
    if (bytes <= static_cast<uint64_t>(valueBytes)) {
      std::copy(field, field + bytes, e.data.begin());
    } else {
      const uint64_t from = Value(field, valueBytes);
      if (from > tiffBytes_ || bytes > tiffBytes_ - from || !read_(from, bytes, e.data.data())) {
        ++pointers.entriesOutside;
        continue;
      }
    }
    // Values become little-endian, each of its own size (a rational is two longs).
    const uint32_t part = (e.type == TIFF_RATIONAL || e.type == TIFF_SRATIONAL) ? 4 : unit;
    if (big_ && part > 1)
      for (uint64_t v = 0; v < bytes; v += part) std::reverse(e.data.begin() + v, e.data.begin() + v + part);
    taken_ += bytes;
    out.push_back(std::move(e));
  }
  return true;
}

bool ParseTIFFExifPayload(const uint8_t* payload, uint64_t size, TIFFExifDirectories& dirs, std::string* why,
                          std::vector<std::string>* notes) {
  dirs = TIFFExifDirectories();
  if (!payload || size < kHeader + 8 || std::memcmp(payload, kExifPrefix, 4) != 0)
    return *why = "it does not begin with an EXIF header", false;
  const uint8_t* tiff = payload + kHeader;
  const bool big = tiff[0] == 'M' && tiff[1] == 'M';
  if (!big && !(tiff[0] == 'I' && tiff[1] == 'I')) return *why = "its TIFF header has no byte order mark", false;
  const uint64_t tiffBytes = size - kHeader;
  TIFFEntryWalker walker(
      [&](uint64_t at, uint64_t n, uint8_t* out) {
        std::memcpy(out, tiff + at, n);
        return true;
      },
      tiffBytes, big, false);
  uint8_t word[4];
  std::memcpy(word, tiff + 2, 2);
  if (walker.Value(word, 2) != 42) return *why = "its TIFF header is not version 42", false;
  std::memcpy(word, tiff + 4, 4);
  TIFFExifPointers pointers;
  if (!walker.Directory(walker.Value(word, 4), dirs.ifd0, pointers, IsTIFFCameraTag))
    return *why = "its first directory lies outside the block", false;
  for (const char* problem : ReadTIFFExifSubDirectories(walker, pointers, dirs))
    notes->push_back(std::string(problem) + " left out: it lies outside the block");
  return true;
}

std::vector<const char*> ReadTIFFExifSubDirectories(const TIFFEntryWalker& walker, const TIFFExifPointers& ifd0,
                                                    TIFFExifDirectories& dirs) {
  std::vector<const char*> lost;
  TIFFExifPointers inner, none;
  if (ifd0.exif && !walker.Directory(ifd0.exif, dirs.exif, inner)) {
    dirs.exif.clear();
    inner = TIFFExifPointers();
    lost.push_back("EXIF directory");
  }
  if (ifd0.gps && !walker.Directory(ifd0.gps, dirs.gps, none)) {
    dirs.gps.clear();
    lost.push_back("GPS directory");
  }
  // Only the EXIF directory points to it; one that points back to a directory read already
  // is no interoperability directory.
  const bool loop = inner.interop == ifd0.exif || inner.interop == ifd0.gps;
  if (inner.interop && (loop || !walker.Directory(inner.interop, dirs.interop, none))) {
    dirs.interop.clear();
    lost.push_back("interoperability directory");
  }
  dirs.entriesOutside = ifd0.entriesOutside + inner.entriesOutside + none.entriesOutside;
  dirs.entriesTooLarge = ifd0.entriesTooLarge + inner.entriesTooLarge + none.entriesTooLarge;
  return lost;
}
