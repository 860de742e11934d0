// Fitting the carried EXIF block to the written picture (upright orientation, pixel size, a
// turned or dropped thumbnail) and the JPEG metadata and sampling every output is encoded with.
#include "engine/OutputExif.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "engine/ErrorText.h"
#include "engine/OutputMetadata.h"
#include "engine/shell/CMainDialog.h"
#include "platform/global_memory.h"

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

std::string ErrorWithWarning(ISErrorCode error) {
  const std::string warning = ISGetLastWarning();
  return LibraryErrorText(error) + (warning.empty() ? "" : ": " + warning);
}

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

// The size of a JPEG stream's block group (its MCU: 8 x 8 for one component, else the largest
// sampling factors' blocks), from the frame header before its first scan; false when none is
// found there.
bool BlockGroupSize(const BYTE* jpeg, uint32_t length, DWORD* width, DWORD* height) {
  uint64_t at = 2;
  while (at + 4 <= length && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
    const BYTE marker = jpeg[at + 1];
    const uint32_t size = ReadBE16(jpeg + at + 2);
    if (size < 2 || at + 2 + size > length) return false;
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame && size >= 8) {
      const uint32_t components = jpeg[at + 9];
      if (components == 0 || size < 8 + 3 * components) return false;
      DWORD h = 1, v = 1;
      for (uint32_t c = 0; c < components; ++c) {
        const BYTE factors = jpeg[at + 11 + 3 * c];
        h = std::max<DWORD>(h, factors >> 4);
        v = std::max<DWORD>(v, factors & 0x0F);
      }
      *width = components == 1 ? 8 : 8 * h;
      *height = components == 1 ? 8 : 8 * v;
      return true;
    }
    at += 2 + size;
  }
  return false;
}

// Whether the lossless operation moves only whole block groups, so that its copy holds every
// pixel turned: a flip or turn that brings the right edge's partial group to the left needs
// whole columns of groups, and so for the bottom edge and rows. libjpeg turns a partial group
// at such an edge only as the blocks are turned (not moved) and trims it only when the picture
// holds a whole group besides, so a copy of the right size can still be wrong at an edge.
bool TurnsWhole(const BYTE* jpeg, uint32_t length, DWORD operation, DWORD width, DWORD height) {
  DWORD groupWidth = 0, groupHeight = 0;
  if (!BlockGroupSize(jpeg, length, &groupWidth, &groupHeight)) return false;
  // A single column or row is its own mirror image.
  const bool wholeColumns = width % groupWidth == 0 || width == 1;
  const bool wholeRows = height % groupHeight == 0 || height == 1;
  switch (operation) {
    case 1:  // flip horizontal
    case 7:  // rotate 270 clockwise
      return wholeColumns;
    case 2:  // flip vertical
    case 5:  // rotate 90 clockwise
      return wholeRows;
    case 3:  // transverse
    case 6:  // rotate 180
      return wholeColumns && wholeRows;
    default:  // transpose
      return true;
  }
}

// A thumbnail decoded, turned and encoded again, at the quality its tables show: the way to
// turn one whose lossless turn would drop a partial block group at an edge. Empty, with the
// reason in `why`, when it cannot be.
std::vector<BYTE> TurnThumbnailPixels(const BYTE* jpeg, uint32_t length, DWORD operation, DWORD bits,
                                      std::string* why) {
  ISIOHandle source = ISOpenMemorySource(jpeg, length);
  if (!source) return *why = LibraryErrorText(ISGetLastError()), std::vector<BYTE>();
  DWORD width = 0, height = 0;
  const std::unique_ptr<void, HGLOBAL (*)(HGLOBAL)> image(
      ISReadJPG(source, &width, &height, bits, bits == 32 ? 1 : 0), GlobalFree);
  std::string failure = ISGetLastError() == IS_ERR_OK ? "" : ErrorWithWarning(ISGetLastError());
  ISCloseSource(source);
  if (!image || !failure.empty()) return *why = "it could not be decoded (" + failure + ")", std::vector<BYTE>();
  BYTE* pixels = static_cast<BYTE*>(image.get());
  const DWORD bytes = bits / 8;
  // Quarter turns and flips of the pixels, as the lossless operations move the blocks.
  bool turned = true;
  DWORD w = width, h = height;
  if (operation == 3 || operation == 4 || operation == 5)
    turned = ISRotateImage(pixels, w, h, 0, bytes), std::swap(w, h);
  if (operation == 7) turned = ISRotateImage(pixels, w, h, 2, bytes), std::swap(w, h);
  if (operation == 6) turned = ISRotateImage(pixels, w, h, 1, bytes);
  if (operation == 1 || operation == 4) turned = turned && ISFlipHorizontal(pixels, w, h, bytes, w * bytes);
  if (operation == 2 || operation == 3) turned = turned && ISFlipVertical(pixels, w * bytes, h);
  if (!turned) return *why = "it could not be turned (" + ErrorWithWarning(ISGetLastError()) + ")", std::vector<BYTE>();
  // The thumbnail is written with the library's defaults and none of the output's metadata,
  // which is set after the EXIF block is fitted.
  ISClearJPGMarkers();
  ISClearJPGComments();
  ISSetJPGSampling(nullptr, nullptr);
  ISSetWriteMetadata(IS_META_ICC, nullptr, 0);
  ByteSink out;
  DWORD written = 0;
  ISIOHandle sink = out.Handle();
  if (sink) {
    const int quality = EstimatedQuality(jpeg, length);
    written = ISWriteJPG(sink, pixels, w, h, quality > 0 ? quality : 90, bits, nullptr, 8);
  }
  failure = ErrorWithWarning(ISGetLastError());
  if (sink) ISCloseSink(sink);
  if (written == 0 || written != out.bytes.size())
    return *why = "it could not be encoded again (" + failure + ")", std::vector<BYTE>();
  return std::move(out.bytes);
}

// A thumbnail turned by the library's lossless transform, judged first as a thumbnail: its frame
// must be within kExifThumbnailPixelLimit and not larger than its picture. A turn that would
// drop a partial block group at an edge is made on the decoded pixels instead, so every pixel
// is kept. Empty, with the reason in `why`, when it is not turned.
std::vector<BYTE> TurnThumbnail(const BYTE* jpeg, uint32_t length, DWORD operation, uint64_t pictureArea,
                                std::string* why) {
  ISIOHandle source = ISOpenMemorySource(jpeg, length);
  if (!source) return *why = LibraryErrorText(ISGetLastError()), std::vector<BYTE>();
  DWORD width = 0, height = 0, bits = 0, colourSpace = 0, coding = 0;
  ISResolution density{};
  if (!ISGetJPGInfo(source, &width, &height, &bits, &density, &colourSpace, &coding)) {
    *why = ErrorWithWarning(ISGetLastError());
    ISCloseSource(source);
    return {};
  }
  const uint64_t area = uint64_t{width} * height;
  if (area > kExifThumbnailPixelLimit || area > pictureArea) {
    *why = AreaText(width, height) + (area > kExifThumbnailPixelLimit
                                          ? " is over the " + std::to_string(kExifThumbnailPixelLimit) +
                                                " pixels of a thumbnail"
                                          : " is larger than its picture");
    ISCloseSource(source);
    return {};
  }
  // The sink holds whatever the transform writes: a Huffman-coded copy of an arithmetic-coded
  // thumbnail can be many times its size.
  ByteSink out;
  ISIOHandle sink = ISSeekSource(source, 0, IS_SEEK_SET) ? out.Handle() : nullptr;
  const BOOL ok = sink && ISTransformJPG(source, sink, operation, 0, 0, 0, 0);
  const ISErrorCode error = ISGetLastError();
  const std::string warning = ISGetLastWarning();
  if (sink) ISCloseSink(sink);
  ISCloseSource(source);
  if (!ok || out.bytes.empty()) {
    *why = "it could not be turned (" + LibraryErrorText(ok ? IS_ERR_WRITE : error) +
           (warning.empty() ? "" : ": " + warning) + ")";
    return {};
  }
  // The turned size: a partial block group at an edge the turn moves was dropped when it is
  // smaller than the thumbnail turned whole.
  const bool transposed = operation == 3 || operation == 4 || operation == 5 || operation == 7;
  DWORD turnedWidth = 0, turnedHeight = 0;
  if (ISIOHandle check = ISOpenMemorySource(out.bytes.data(), static_cast<DWORD>(out.bytes.size()))) {
    ISGetJPGInfo(check, &turnedWidth, &turnedHeight, nullptr, nullptr, nullptr, nullptr);
    ISCloseSource(check);
  }
  if (turnedWidth != (transposed ? height : width) || turnedHeight != (transposed ? width : height) ||
      !TurnsWhole(jpeg, length, operation, width, height))
    return TurnThumbnailPixels(jpeg, length, operation, bits, why);
  return std::move(out.bytes);
}

constexpr size_t kMaxApp1Payload = 65533;  // a marker's length field counts itself

}  // namespace

std::string FitExifToOutput(std::vector<BYTE>& payload, int width, int height, int orientation,
                            uint64_t pictureArea) {
  ExifTiff tiff(payload);
  if (!tiff.Valid()) return {};
  const uint32_t ifd0 = tiff.Ifd0();
  // The Exif sub-IFD's pixel dimensions become the written picture's.
  uint32_t exifIfd = 0;
  if (tiff.Value(tiff.Find(ifd0, 0x8769), &exifIfd) && exifIfd != ifd0) {
    tiff.SetValue(tiff.Find(exifIfd, 0xA002), static_cast<uint32_t>(std::max(width, 0)));
    tiff.SetValue(tiff.Find(exifIfd, 0xA003), static_cast<uint32_t>(std::max(height, 0)));
  }
  // The IFD1 thumbnail: turned like the picture, or left out when it cannot be.
  const DWORD operation = UprightTransform(orientation);
  const uint64_t link = tiff.NextLink(ifd0);
  if (operation == 0 || link == 0) return {};
  const uint32_t ifd1 = tiff.Read32(link);
  if (ifd1 == 0) return {};
  uint32_t offset = 0, length = 0;
  const uint64_t offsetEntry = tiff.Find(ifd1, 0x0201), lengthEntry = tiff.Find(ifd1, 0x0202);
  std::vector<BYTE> turned;
  std::string why = "it is not a JPEG stream within the EXIF block";
  if (tiff.Value(offsetEntry, &offset) && tiff.Value(lengthEntry, &length) && length > 0 &&
      uint64_t{offset} + length <= tiff.Size())
    turned = TurnThumbnail(payload.data() + ExifTiff::kStart + offset, length, operation, pictureArea, &why);
  // The old thumbnail may be cut off only when it ends the block and no IFD0 or IFD1 bytes
  // that are patched below lie in it.
  uint32_t count1 = 0;
  tiff.Entries(ifd1, &count1);
  const uint64_t tablesEnd = std::max<uint64_t>(link + 4, uint64_t{ifd1} + 2 + uint64_t{count1} * 12 + 4);
  const bool atEnd = length > 0 && uint64_t{offset} + length == tiff.Size() && offset >= tablesEnd;
  // The turned thumbnail replaces the old one when that ends the block, otherwise it follows
  // the block (at an even offset); nothing else moves.
  const uint64_t newOffset = atEnd ? offset : (tiff.Size() + 1) & ~uint64_t{1};
  if (!turned.empty()) {
    if (ExifTiff::kStart + newOffset + turned.size() <= kMaxApp1Payload) {
      payload.resize(ExifTiff::kStart + newOffset);
      payload.insert(payload.end(), turned.begin(), turned.end());
      tiff.SetValue(offsetEntry, static_cast<uint32_t>(newOffset));
      tiff.SetValue(lengthEntry, static_cast<uint32_t>(turned.size()));
      tiff.SetValue(tiff.Find(ifd1, 0x0112), 1);
      return {};
    }
    why = "turned, it does not fit the EXIF block";
  }
  tiff.Write32(link, 0);
  if (atEnd) payload.resize(ExifTiff::kStart + offset);
  return "EXIF thumbnail left out of the output: " + why;
}

namespace {

// The last EXIF block fitted on this thread, for the encodings of one output (the quality
// search's probes and the file) that each carry it: the thumbnail is turned once.
struct FittedExif {
  std::vector<BYTE> source;
  int width = 0, height = 0, orientation = 0;
  uint64_t pictureArea = 0;
  std::vector<BYTE> payload;
  std::string note;
};

const FittedExif& FitForOutput(const CMainDialog& dialog) {
  thread_local FittedExif fitted;
  const uint64_t pictureArea =
      dialog.m_loadedArea > 0 ? dialog.m_loadedArea
                              : uint64_t(std::max(dialog.m_workWidth, 0)) * uint64_t(std::max(dialog.m_workHeight, 0));
  if (fitted.source == dialog.m_exifBlock && fitted.width == dialog.m_workWidth &&
      fitted.height == dialog.m_workHeight && fitted.orientation == dialog.m_orientation &&
      fitted.pictureArea == pictureArea)
    return fitted;
  fitted = FittedExif{};
  fitted.source = dialog.m_exifBlock;
  fitted.width = dialog.m_workWidth;
  fitted.height = dialog.m_workHeight;
  fitted.orientation = dialog.m_orientation;
  fitted.pictureArea = pictureArea;
  if (dialog.m_exifBlock.size() > 4) {
    fitted.payload.assign(dialog.m_exifBlock.begin() + 4, dialog.m_exifBlock.end());
    if (dialog.m_orientation != 1) SetExifOrientationUpright(fitted.payload);
    fitted.note = FitExifToOutput(fitted.payload, dialog.m_workWidth, dialog.m_workHeight, dialog.m_orientation,
                                  pictureArea);
  }
  return fitted;
}

}  // namespace

std::vector<BYTE> ExifForOutput(const CMainDialog& dialog, std::string* note) {
  if (!dialog.m_pages.sizeQuality.m_keepExif || dialog.m_exifBlock.size() <= 4) return {};
  const FittedExif& fitted = FitForOutput(dialog);
  if (note) *note = fitted.note;
  return fitted.payload;
}

std::string SetJpegMetadataForOutput(const CMainDialog& dialog) {
  std::string note;
  const std::vector<BYTE> exif = ExifForOutput(dialog, &note);
  // The markers to write are set after the thumbnail transform, which has its own.
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
