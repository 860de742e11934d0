// Fitting the carried EXIF block to the written picture (upright orientation, pixel size, a
// thumbnail made from the written pixels, or the block left out when it cannot be carried
// whole) and the JPEG metadata and sampling every output is encoded with.
#include "engine/OutputExif.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "engine/ErrorText.h"
#include "engine/OutputMetadata.h"
#include "engine/shell/CMainDialog.h"
#include "platform/global_memory.h"
#include "platform/thread_pool.h"

namespace {

uint16_t Get16(const BYTE* p, bool little) {
  return little ? static_cast<uint16_t>(p[0] | (p[1] << 8)) : static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t Get32(const BYTE* p, bool little) {
  return little ? (uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24))
                : ((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]});
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
  // Where the IFD at `ifd` ends with the values it keeps apart, when the IFD is whole and
  // they all lie within the block, past the TIFF header and outside the IFD's own entries; 0
  // otherwise (entries of a type no reader knows are passed over: their size is unknown).
  uint64_t End(uint64_t ifd) const {
    static const uint8_t kTypeSize[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    uint32_t count = 0;
    if (!Entries(ifd, &count)) return 0;
    const uint64_t tableEnd = ifd + 2 + uint64_t{count} * 12 + 4;
    uint64_t end = tableEnd;
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t entry = ifd + 2 + uint64_t{i} * 12;
      const uint16_t type = Read16(entry + 2);
      if (type == 0 || type > 13) continue;
      const uint64_t bytes = uint64_t{kTypeSize[type]} * Read32(entry + 4);
      if (bytes <= 4) continue;
      const uint64_t at = Read32(entry + 8);
      if (at < 8 || at + bytes > Size() || (at < tableEnd && at + bytes > ifd)) return 0;
      end = std::max(end, at + bytes);
    }
    return end;
  }
  bool Whole(uint64_t ifd) const { return End(ifd) != 0; }
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

// Where the directories chained after IFD0 come back to one already met, the link is cut: a
// reader following them would go round for ever. So is a link past IFD1 to a directory that
// is not whole, which no reader can read (IFD1 itself is judged with its thumbnail).
void CutDirectoryLoops(ExifTiff& tiff) {
  std::vector<uint32_t> met = {tiff.Ifd0()};
  for (uint64_t link = tiff.NextLink(tiff.Ifd0()); link != 0;) {
    const uint32_t next = tiff.Read32(link);
    if (next == 0) return;
    if (std::find(met.begin(), met.end(), next) != met.end() || (met.size() > 1 && !tiff.Whole(next)))
      return tiff.Write32(link, 0);
    met.push_back(next);
    link = tiff.NextLink(next);
  }
}

// The directories that hold the camera's data: IFD0 and the Exif, interoperability and GPS IFDs
// it links to, in that order (IFD1 goes with its thumbnail).
struct CameraDirectory {
  const char* name;
  uint32_t ifd;
  bool linked;
};
std::array<CameraDirectory, 4> CameraDirectories(const ExifTiff& tiff) {
  const uint32_t ifd0 = tiff.Ifd0();
  uint32_t exif = 0, interop = 0, gps = 0;
  const bool hasExif = tiff.Value(tiff.Find(ifd0, 0x8769), &exif);
  const bool hasInterop = exif != 0 && tiff.Value(tiff.Find(exif, 0xA005), &interop);
  const bool hasGps = tiff.Value(tiff.Find(ifd0, 0x8825), &gps);
  return {{{"IFD0", ifd0, true},
           {"Exif IFD", exif, hasExif},
           {"interoperability IFD", interop, hasInterop},
           {"GPS IFD", gps, hasGps}}};
}

// Which camera directory is cut short by the block's end or keeps a value past it or where no
// value can lie (ExifTiff::End); empty when none is.
std::string CutShortDirectory(const ExifTiff& tiff) {
  for (const CameraDirectory& d : CameraDirectories(tiff))
    if (d.linked && !tiff.Whole(d.ifd)) return d.name;
  return {};
}

// Where the camera directories and `ifd1` end with their values.
uint64_t DirectoriesEnd(const ExifTiff& tiff, uint32_t ifd1) {
  uint64_t end = tiff.End(ifd1);
  for (const CameraDirectory& d : CameraDirectories(tiff))
    if (d.linked) end = std::max(end, tiff.End(d.ifd));
  return end;
}

std::string AreaText(uint64_t width, uint64_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// A sink over a growing byte array: it holds whatever the library writes into it (the
// transform bounds what it writes by its frame, and the thumbnail's frame is bounded).
struct ByteSink {
  std::vector<BYTE> bytes;
  size_t position = 0;

  static ByteSink* Of(uintptr_t user) { return reinterpret_cast<ByteSink*>(user); }
  static BOOL Open(uintptr_t user) { return user != 0; }
  static BOOL Write(const void* data, DWORD count, uintptr_t user) {
    ByteSink* s = Of(user);
    if (s->position + count > s->bytes.size()) s->bytes.resize(s->position + count);
    std::copy_n(static_cast<const BYTE*>(data), count, s->bytes.begin() + static_cast<long>(s->position));
    s->position += count;
    return 1;
  }
  static BOOL Seek(int32_t offset, int32_t origin, uintptr_t user) {
    ByteSink* s = Of(user);
    const int64_t base = origin == IS_SEEK_SET ? 0 : origin == IS_SEEK_CUR ? int64_t(s->position) : int64_t(s->bytes.size());
    if (base + offset < 0 || base + offset > int64_t(s->bytes.size())) return 0;
    s->position = static_cast<size_t>(base + offset);
    return 1;
  }
  static BOOL Tell(uintptr_t user, DWORD* position) {
    if (position) *position = static_cast<DWORD>(Of(user)->position);
    return 1;
  }
  static BOOL Size(uintptr_t user, DWORD* size) {
    if (size) *size = static_cast<DWORD>(Of(user)->bytes.size());
    return 1;
  }
  static BOOL AtEnd(uintptr_t) { return 0; }
  static BOOL Close(uintptr_t user) { return user != 0; }

  ISIOHandle Handle() {
    return ISOpenCallbackSource(Open, Write, nullptr, Seek, Tell, Size, AtEnd, Close, 0,
                                reinterpret_cast<uintptr_t>(this));
  }
};

std::string ErrorWithWarning(ISErrorCode error) { return LibraryErrorText(error, ISGetLastWarning()); }

// The quality whose scaled standard luminance table comes nearest, in sum, to the first
// quantisation table of a JPEG stream (the tables libjpeg and most cameras write are the
// standard ones scaled); 0 when the stream has none before its first scan.
int EstimatedQuality(const BYTE* jpeg, uint32_t length) {
  static const int kLuminance[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                     14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                     18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                     49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
  uint64_t at = 2, sum = 0;
  bool found = false;
  while (!found && at + 4 <= length && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
    const uint32_t size = ReadBE16(jpeg + at + 2);
    if (size < 2 || at + 2 + size > length) break;
    if (jpeg[at + 1] == 0xDB && size >= 3) {
      const bool wide = (jpeg[at + 4] >> 4) != 0;
      if (size >= 3 + 64u * (wide ? 2 : 1)) {
        for (int i = 0; i < 64; ++i)
          sum += wide ? ReadBE16(jpeg + at + 5 + 2 * i) : jpeg[at + 5 + i];
        found = true;
      }
    }
    at += 2 + size;
  }
  if (!found) return 0;
  int best = 0;
  uint64_t bestDistance = UINT64_MAX;
  for (int q = 1; q <= 100; ++q) {
    const long scale = q < 50 ? 5000 / q : 200 - 2 * q;
    uint64_t scaled = 0;
    for (int v : kLuminance) scaled += static_cast<uint64_t>(std::min(255L, std::max(1L, (v * scale + 50) / 100)));
    const uint64_t distance = scaled > sum ? scaled - sum : sum - scaled;
    if (distance < bestDistance) bestDistance = distance, best = q;
  }
  return best;
}

// The written picture scaled down to `width` x `height` by averaging the pixels each thumbnail
// pixel covers (every pixel of the picture counts once).
std::vector<BYTE> ScaledDown(const BYTE* pixels, DWORD sourceWidth, DWORD sourceHeight, DWORD width, DWORD height) {
  std::vector<BYTE> out(size_t{width} * height * 3);
  // Output column x averages the source columns [first[x], first[x + 1]), rows alike: the
  // source pixels whose scaled position falls in it.
  std::vector<DWORD> first(size_t{width} + 1, sourceWidth);
  for (DWORD x = sourceWidth; x-- > 0;) first[uint64_t{x} * width / sourceWidth] = x;
  for (DWORD x = width; x-- > 0;) first[x] = std::min(first[x], first[x + 1]);  // none: an empty range
  const uint64_t rowsEach = std::max<uint64_t>(1, sourceHeight / std::max<DWORD>(height, 1));
  const uint32_t minRows =
      static_cast<uint32_t>(std::max<uint64_t>(1, 65536 / std::max<uint64_t>(1, rowsEach * sourceWidth)));
  // Output rows are shared over the thread pool; each is summed on its own, so the result is
  // the same whatever the count. A row's source rows are added up column by column first (in 32
  // bits while 255 times their count fits), then each output column's range of those sums.
  const auto sumRows = [&](auto zero, DWORD top, DWORD bottom, auto& columns, std::vector<uint64_t>& sums) {
    std::fill(columns.begin(), columns.end(), zero);
    for (DWORD sy = top; sy < bottom; ++sy) {
      const BYTE* row = pixels + size_t{sy} * sourceWidth * 3;
      for (size_t i = 0; i < columns.size(); ++i) columns[i] += row[i];
    }
    for (DWORD x = 0; x < width; ++x) {
      uint64_t r = 0, g = 0, b = 0;
      for (size_t i = size_t{first[x]} * 3, e = size_t{first[x + 1]} * 3; i < e; i += 3)
        r += columns[i], g += columns[i + 1], b += columns[i + 2];
      sums[3 * x] = r, sums[3 * x + 1] = g, sums[3 * x + 2] = b;
    }
  };
  qrv::ParallelRows(height, minRows, [&](uint32_t y0, uint32_t y1) {
    std::vector<uint64_t> sums(size_t{width} * 3);
    std::vector<uint32_t> narrow;
    std::vector<uint64_t> wide;
    for (DWORD y = y0; y < y1; ++y) {
      const DWORD top = static_cast<DWORD>(uint64_t{y} * sourceHeight / height);
      const DWORD bottom =
          std::min(sourceHeight, std::max<DWORD>(top + 1, static_cast<DWORD>(uint64_t{y + 1} * sourceHeight / height)));
      const uint64_t rows = bottom > top ? bottom - top : 0;
      if (rows <= UINT32_MAX / 255) {
        narrow.resize(size_t{sourceWidth} * 3);
        sumRows(uint32_t{0}, top, bottom, narrow, sums);
      } else {
        wide.resize(size_t{sourceWidth} * 3);
        sumRows(uint64_t{0}, top, bottom, wide, sums);
      }
      BYTE* target = out.data() + size_t{y} * width * 3;
      for (DWORD x = 0; x < width * 3; ++x) {
        const uint64_t n = std::max<uint64_t>(uint64_t{first[x / 3 + 1] - first[x / 3]} * rows, 1);
        target[x] = static_cast<BYTE>((sums[x] + n / 2) / n);
      }
    }
  });
  return out;
}

// The thumbnail's pixels encoded as a baseline JPEG with the library's defaults and none of
// the output's metadata; empty, with why, when it cannot be.
std::vector<BYTE> EncodeThumbnail(const std::vector<BYTE>& pixels, DWORD width, DWORD height, int quality,
                                  std::string* why) {
  ISClearJPGMarkers();
  ISClearJPGComments();
  ISSetJPGSampling(nullptr, nullptr);
  ISSetWriteMetadata(IS_META_ICC, nullptr, 0);
  ByteSink out;
  DWORD written = 0;
  ISIOHandle sink = out.Handle();
  if (sink) written = ISWriteJPG(sink, pixels.data(), width, height, static_cast<DWORD>(quality), 24, nullptr, 8);
  const std::string failure = ErrorWithWarning(ISGetLastError());
  if (sink) ISCloseSink(sink);
  if (written == 0 || written != out.bytes.size())
    return *why = "it could not be encoded (" + failure + ")", std::vector<BYTE>();
  return std::move(out.bytes);
}

constexpr int kLowestThumbnailQuality = 20;

// The picture's thumbnail within `boxWidth` x `boxHeight`, its aspect kept and never larger
// than the picture, at the highest quality from `quality` down whose stream has at most
// `room` bytes; its size in *w x *h. Empty, with why, when even the lowest quality does not fit.
std::vector<BYTE> MakeThumbnail(const BYTE* pixels, DWORD width, DWORD height, DWORD boxWidth, DWORD boxHeight,
                                int quality, uint64_t room, std::string* why, DWORD* madeWidth, DWORD* madeHeight) {
  DWORD& w = *madeWidth;
  DWORD& h = *madeHeight;
  w = width, h = height;
  if (uint64_t{width} * boxHeight >= uint64_t{height} * boxWidth) {
    if (width > boxWidth)
      w = boxWidth, h = static_cast<DWORD>(std::max<uint64_t>(1, (uint64_t{height} * boxWidth + width / 2) / width));
  } else if (height > boxHeight) {
    h = boxHeight, w = static_cast<DWORD>(std::max<uint64_t>(1, (uint64_t{width} * boxHeight + height / 2) / height));
  }
  const std::vector<BYTE> small = ScaledDown(pixels, width, height, w, h);
  // The highest quality that fits, by halving the range between the lowest and `quality`.
  int low = kLowestThumbnailQuality, high = std::max(quality, low);
  std::vector<BYTE> best = EncodeThumbnail(small, w, h, high, why);
  if (best.empty()) return best;
  if (best.size() <= room) return best;
  best = EncodeThumbnail(small, w, h, low, why);
  if (best.empty()) return best;
  if (best.size() > room) {
    *why = "at " + AreaText(w, h) + " it does not fit the EXIF block of a JPEG APP1 segment even at quality " +
           std::to_string(low);
    return {};
  }
  while (high - low > 1) {
    const int mid = low + (high - low) / 2;
    std::vector<BYTE> probe = EncodeThumbnail(small, w, h, mid, why);
    if (probe.empty()) return probe;
    if (probe.size() <= room)
      low = mid, best = std::move(probe);
    else
      high = mid;
  }
  return best;
}

std::string BlockLeftOut(std::vector<BYTE>& payload, const std::string& why) {
  payload.clear();
  return "EXIF block left out of the output: " + why;
}

// Whether the payload begins as an EXIF block: "Exif", two bytes, then a TIFF header.
bool IsExifPayload(const std::vector<BYTE>& payload) {
  if (payload.size() < ExifTiff::kStart + 8 || std::memcmp(payload.data(), "Exif", 4) != 0) return false;
  const BYTE* t = payload.data() + ExifTiff::kStart;
  return (t[0] == 'I' && t[1] == 'I' && t[2] == 42 && t[3] == 0) || (t[0] == 'M' && t[1] == 'M' && t[2] == 0 && t[3] == 42);
}

// Whether the library's EXIF parser reads the payload; why not in `why`.
bool Parses(const std::vector<BYTE>& payload, std::string* why) {
  std::vector<BYTE> record(4, 0);
  record.insert(record.end(), payload.begin(), payload.end());
  CISEXIFBase* exif = ISReadEXIF(record.data(), static_cast<DWORD>(record.size()), 0);
  if (!exif) return *why = LibraryErrorText(ISGetLastError()), false;
  ISReleaseEXIF(exif);
  return true;
}

// Makes a new IFD1 thumbnail from the written picture in place of the old one; why it could
// not, when it could not (IFD1 is then unlinked); empty when the block has no thumbnail.
std::string RemakeThumbnail(std::vector<BYTE>& payload, const BYTE* pixels, DWORD width, DWORD height,
                            int orientation, uint64_t pictureArea) {
  ExifTiff tiff(payload);
  const uint64_t link = tiff.NextLink(tiff.Ifd0());
  if (link == 0) return {};
  const uint32_t ifd1 = tiff.Read32(link);
  if (ifd1 == 0) return {};
  const auto unlinked = [&](const std::string& why) {
    tiff.Write32(link, 0);
    return "EXIF thumbnail left out of the output: " + why;
  };
  if (!tiff.Whole(ifd1))
    return unlinked("its directory (IFD1) is cut short or misplaced in the EXIF block");
  const uint64_t offsetEntry = tiff.Find(ifd1, 0x0201), lengthEntry = tiff.Find(ifd1, 0x0202);
  // An uncompressed thumbnail in strips would still show the source's picture.
  if (!offsetEntry && !lengthEntry)
    return tiff.Find(ifd1, 0x0111) ? unlinked("it is uncompressed (in strips), not a JPEG stream") : std::string();
  uint32_t offset = 0, length = 0;
  std::string why = "it is not a JPEG stream within the EXIF block";
  const bool located = tiff.Value(offsetEntry, &offset) && tiff.Value(lengthEntry, &length);
  // The old thumbnail is cut off only when it ends the block (up to 3 bytes of padding, too few
  // for an IFD or a value stored apart) and no directory or value lies in it; otherwise a new
  // one follows the block (at an even offset).
  const uint64_t tablesEnd = DirectoriesEnd(tiff, ifd1);
  const bool within = located && uint64_t{offset} + length <= tiff.Size();
  const bool atEnd = within && uint64_t{offset} + length + 3 >= tiff.Size() && offset >= tablesEnd;
  if (located && length == 0) {
    why = "it is empty";
  } else if (within) {
    const BYTE* old = payload.data() + ExifTiff::kStart + offset;
    DWORD oldWidth = 0, oldHeight = 0, bits = 0, colourSpace = 0, coding = 0;
    ISResolution density{};
    ISIOHandle source = ISOpenMemorySource(old, length);
    const bool read = source && ISGetJPGInfo(source, &oldWidth, &oldHeight, &bits, &density, &colourSpace, &coding);
    const std::string readError = read ? std::string() : ErrorWithWarning(ISGetLastError());
    if (source) ISCloseSource(source);
    const uint64_t area = uint64_t{oldWidth} * oldHeight;
    const uint64_t newOffset = atEnd ? offset : (tiff.Size() + 1) & ~uint64_t{1};
    const uint64_t used = ExifTiff::kStart + newOffset;
    std::vector<BYTE> made;
    DWORD madeWidth = 0, madeHeight = 0;
    if (!read) {
      why = readError;
    } else if (area > kExifThumbnailPixelLimit) {
      why = AreaText(oldWidth, oldHeight) + " is over the " + std::to_string(kExifThumbnailPixelLimit) +
            " pixels of a thumbnail";
    } else if (area > pictureArea) {
      why = AreaText(oldWidth, oldHeight) + " is larger than its picture";
    } else if (!pixels || width == 0 || height == 0) {
      why = "there is no picture to make it from";
    } else if (used >= kMaxExifPayload) {
      why = "the EXIF block leaves no room for it in a JPEG APP1 segment";
    } else {
      const bool turned = orientation >= 5 && orientation <= 8;
      const int estimated = EstimatedQuality(old, length);
      made = MakeThumbnail(pixels, width, height, turned ? oldHeight : oldWidth, turned ? oldWidth : oldHeight,
                           estimated > 0 ? estimated : 90, kMaxExifPayload - used, &why, &madeWidth, &madeHeight);
    }
    if (!made.empty()) {
      payload.resize(used);
      payload.insert(payload.end(), made.begin(), made.end());
      tiff.SetValue(offsetEntry, static_cast<uint32_t>(newOffset));
      tiff.SetValue(lengthEntry, static_cast<uint32_t>(made.size()));
      tiff.SetValue(tiff.Find(ifd1, 0x0112), 1);
      tiff.SetValue(tiff.Find(ifd1, 0x0100), madeWidth);
      tiff.SetValue(tiff.Find(ifd1, 0x0101), madeHeight);
      return {};
    }
  }
  if (atEnd) payload.resize(ExifTiff::kStart + offset);
  return unlinked(why);
}

}  // namespace

std::string FitExifToOutput(std::vector<BYTE>& payload, const BYTE* pixels, int width, int height, int orientation,
                            uint64_t pictureArea) {
  if (payload.empty()) return {};
  if (!IsExifPayload(payload)) return BlockLeftOut(payload, "no TIFF header follows its \"Exif\" name");
  std::string why;
  if (!Parses(payload, &why)) return BlockLeftOut(payload, "it cannot be read (" + why + ")");
  ExifTiff tiff(payload);
  const std::string cutShort = CutShortDirectory(tiff);
  if (!cutShort.empty())
    return BlockLeftOut(payload, "its " + cutShort + " is cut short or misplaced in its " +
                                     std::to_string(tiff.Size()) + " bytes");
  if (orientation != 1) SetExifOrientationUpright(payload);
  CutDirectoryLoops(tiff);
  const uint32_t ifd0 = tiff.Ifd0();
  // The Exif sub-IFD's pixel dimensions become the written picture's.
  uint32_t exifIfd = 0;
  if (tiff.Value(tiff.Find(ifd0, 0x8769), &exifIfd) && exifIfd != ifd0) {
    tiff.SetValue(tiff.Find(exifIfd, 0xA002), static_cast<uint32_t>(std::max(width, 0)));
    tiff.SetValue(tiff.Find(exifIfd, 0xA003), static_cast<uint32_t>(std::max(height, 0)));
  }
  const std::string note = RemakeThumbnail(payload, pixels, static_cast<DWORD>(std::max(width, 0)),
                                           static_cast<DWORD>(std::max(height, 0)), orientation, pictureArea);
  if (payload.size() > kMaxExifPayload)
    return BlockLeftOut(payload, std::to_string(payload.size()) + " bytes" +
                                     (note.empty() ? "" : " without its thumbnail") + ", more than the " +
                                     std::to_string(kMaxExifPayload) + " a JPEG APP1 segment holds");
  if (!Parses(payload, &why)) return BlockLeftOut(payload, "it cannot be read once fitted (" + why + ")");
  return note;
}

namespace {

// The carried EXIF block fitted to the working picture, and why anything was left out.
struct FittedExif {
  std::vector<BYTE> payload;
  std::string note;
};

FittedExif FitForOutput(const CMainDialog& dialog) {
  FittedExif fitted;
  const uint64_t pictureArea =
      dialog.m_loadedArea > 0 ? dialog.m_loadedArea
                              : uint64_t(std::max(dialog.m_workWidth, 0)) * uint64_t(std::max(dialog.m_workHeight, 0));
  if (dialog.m_exifBlock.size() > 4) {
    fitted.payload.assign(dialog.m_exifBlock.begin() + 4, dialog.m_exifBlock.end());
    const bool whole = !dialog.m_workImage.empty() && dialog.m_workImage.size() >= size_t(std::max(dialog.m_workWidth, 0)) *
                                                                                      size_t(std::max(dialog.m_workHeight, 0)) * 3;
    fitted.note = FitExifToOutput(fitted.payload, whole ? dialog.m_workImage.data() : nullptr, dialog.m_workWidth,
                                  dialog.m_workHeight, dialog.m_orientation, pictureArea);
  }
  return fitted;
}

// The block of the output being written on this thread, while an OutputExifScope holds it.
thread_local const CMainDialog* scopeDialog = nullptr;
thread_local FittedExif scopeFitted;

}  // namespace

OutputExifScope::OutputExifScope(const CMainDialog& dialog) {
  scopeDialog = nullptr;
  if (dialog.m_pages.sizeQuality.m_keepExif) scopeFitted = FitForOutput(dialog);
  scopeDialog = &dialog;
}

OutputExifScope::~OutputExifScope() {
  scopeDialog = nullptr;
  scopeFitted = FittedExif{};
}

std::vector<BYTE> ExifForOutput(const CMainDialog& dialog, std::string* note) {
  if (!dialog.m_pages.sizeQuality.m_keepExif || dialog.m_exifBlock.size() <= 4) return {};
  FittedExif own;
  const FittedExif& fitted = scopeDialog == &dialog ? scopeFitted : (own = FitForOutput(dialog));
  if (note) *note = fitted.note;
  return fitted.payload;
}

std::string SetJpegMetadataForOutput(const CMainDialog& dialog) {
  std::string note;
  const std::vector<BYTE> exif = ExifForOutput(dialog, &note);
  // The markers to write are set after the thumbnail is encoded, which clears them.
  ISClearJPGMarkers();
  if (!exif.empty()) ISAddJPGMarker(exif.data(), static_cast<DWORD>(exif.size()), 0xE1);
  // The source's colour profile, XMP and IPTC, counted in every probe of the quality search.
  const CarriedMetadata carried = MetadataForOutput(dialog, OutputKind::kJpeg, "JPEG");
  SetCarriedMetadata(carried, OutputKind::kJpeg);
  // A later load reads the first comment: "sRGB Matched" leads, the source's own follow.
  ISClearJPGComments();
  if (dialog.m_colorMatched) ISAddJPGComment("sRGB Matched");
  for (const std::string& comment : carried.comments) ISAddJPGComment(comment.c_str());
  return note;
}

DWORD WriteWorkingJpeg(const CMainDialog& dialog, ISIOHandle sink, int quality, const ISResolution* density,
                       std::string* exifNote) {
  const std::string note = SetJpegMetadataForOutput(dialog);
  if (exifNote) *exifNote = note;
  static const int32_t kFull[10] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
  if (dialog.m_pages.sizeQuality.m_subsampling)
    ISSetJPGSampling(kFull, kFull);
  else
    ISSetJPGSampling(nullptr, nullptr);
  const DWORD size = ISWriteJPG(sink, dialog.m_workImage.data(), static_cast<DWORD>(dialog.m_workWidth),
                                static_cast<DWORD>(dialog.m_workHeight), static_cast<DWORD>(quality), 24, density, 0);
  ISSetJPGSampling(nullptr, nullptr);
  ClearCarriedMetadata();
  return size;
}
