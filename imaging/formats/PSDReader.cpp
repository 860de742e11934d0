// Photoshop readers: the flattened image of bitmap, grey, indexed, RGB, CMYK and duotone files
// of 1, 8 or 16 bits, raw or PackBits, to R, G, B (A), to indices or as a packed DIB.
// Errors: 1, 3, 5, 14, 46, 47.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/CISMemBlock.h"
#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISDIB.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/formats/ConvertResolution.h"
#include "imaging/formats/DecodedDIB.h"
#include "imaging/formats/FormatRefusal.h"
#include "imaging/formats/MetadataRead.h"
#include "imaging/formats/PSDFormat.h"

namespace {

using RovIrirev::BudgetMultiply;

// A PackBits run (a control byte and the byte it repeats) gives at most 128 bytes; a literal
// run gives n bytes for n + 1.
constexpr uint64_t kPackBitsBytesPerByte = 64;

enum PSDMode : DWORD { kBitmap = 0, kGrey = 1, kIndexed = 2, kRGB = 3, kCMYK = 4, kMultichannel = 7, kDuotone = 8,
                       kLab = 9 };

const char* ModeName(DWORD mode) {
  switch (mode) {
    case kBitmap: return "bitmap";
    case kGrey: return "grey";
    case kIndexed: return "indexed";
    case kRGB: return "RGB";
    case kCMYK: return "CMYK";
    case kMultichannel: return "multichannel";
    case kDuotone: return "duotone";
    case kLab: return "Lab";
    default: return nullptr;
  }
}

// A colour mode the reader does not read: a known one by name, any other by number.
bool RefuseMode(ISErrorCode& error, ISErrorCode code, DWORD mode) {
  if (const char* name = ModeName(mode)) return RefuseFile(error, code, "PSD in %s mode is not read by this build", name);
  return RefuseFile(error, code, "PSD colour mode %u is none that a PSD file has", mode);
}

struct PSDContext {
  DWORD channels = 0;
  uint64_t width = 0;
  uint64_t height = 0;
  DWORD depth = 0;
  DWORD mode = 0;
  RGBQUAD palette[256] = {};
  ISArray<unsigned char> resources;
  DWORD compression = 0;
  uint32_t sourceSize = 0;
  uint32_t position = 0;
  int sections = 0;  // section lengths read so far
};

// The section whose length was read last, for refusals.
const char* SectionName(const PSDContext& c) {
  static const char* const kNames[] = {"colour mode data", "image resources", "layer and mask information"};
  return c.sections >= 1 && c.sections <= 3 ? kNames[c.sections - 1] : "header";
}

bool EndsWithin(ISErrorCode& error, const PSDContext& c, const char* what) {
  return RefuseFile(error, IS_ERR_READ, "PSD file of %u bytes ends within its %s", c.sourceSize, what);
}

// A section that claims more than the file holds after its length.
bool SectionPastEnd(ISErrorCode& error, const PSDContext& c, uint32_t length) {
  return RefuseFile(error, IS_ERR_READ, "PSD %s section of %u bytes at byte %u runs past the end of the file (%u bytes)",
                SectionName(c), length, c.position, c.sourceSize);
}

bool ReadLength(CISIO& io, ISErrorCode& error, PSDContext& c, uint32_t& value) {
  BYTE b[4];
  ++c.sections;
  if (!io.ReadExact(b, 4)) return EndsWithin(error, c, "section lengths");
  c.position += 4;
  value = ReadBE32(b);
  return true;
}

// Moves past `length` bytes of a section, which must lie inside the file.
bool SkipSection(CISIO& io, ISErrorCode& error, PSDContext& c, uint32_t length) {
  if (length > c.sourceSize - std::min(c.position, c.sourceSize)) return SectionPastEnd(error, c, length);
  if (length && !io.Seek(static_cast<int32_t>(length), IS_SEEK_CUR)) return SectionPastEnd(error, c, length);
  c.position += length;
  return true;
}

// The header and the sections before the image data, up to and including the compression word.
bool ReadHead(CISIO& io, ISErrorCode& error, PSDContext& c) {
  ClearMetadataRead();
  BYTE h[26];
  if (!io.ReadExact(h, 6)) {
    if (!io.GetSize(&c.sourceSize)) c.sourceSize = 0;
    return EndsWithin(error, c, "26-byte header");
  }
  if (std::memcmp(h, "8BPS", 4) != 0) return RefuseFile(error, IS_ERR_NOTPSD, "the file does not begin with \"8BPS\"");
  const DWORD version = ReadBE16(h + 4);
  if (version == 2)
    return RefuseFile(error, IS_ERR_NOTPSD, "PSD large-document format (version 2) is not read by this build");
  if (version != 1) return RefuseFile(error, IS_ERR_NOTPSD, "PSD version %u is none that a PSD file has", version);
  if (!io.ReadExact(h + 6, 20)) {
    if (!io.GetSize(&c.sourceSize)) c.sourceSize = 0;
    return EndsWithin(error, c, "26-byte header");
  }
  if (!io.GetSize(&c.sourceSize)) return RefuseFile(error, IS_ERR_READ, "the size of the PSD source cannot be had");
  c.position = 26;
  c.channels = ReadBE16(h + 12);
  c.height = ReadBE32(h + 14);
  c.width = ReadBE32(h + 18);
  c.depth = ReadBE16(h + 22);
  c.mode = ReadBE16(h + 24);
  if (c.depth != 1 && c.depth != 8 && c.depth != 16)
    return RefuseFile(error, IS_ERR_PSDMODE, "PSD of %u bits a channel is not read by this build", c.depth);
  if (c.width == 0 || c.height == 0)
    return RefuseFile(error, IS_ERR_NOTPSD, "PSD of %u x %u pixels has no picture", static_cast<unsigned>(c.width),
                  static_cast<unsigned>(c.height));
  // Bitmap files are 1 bit deep and only they are; each mode needs its channels.
  if ((c.mode == kBitmap) != (c.depth == 1)) {
    if (!ModeName(c.mode)) return RefuseMode(error, IS_ERR_PSDMODE, c.mode);
    return RefuseFile(error, IS_ERR_PSDMODE, "PSD in %s mode of %u bits a channel is not read by this build",
                  ModeName(c.mode), c.depth);
  }
  const DWORD need = c.mode == kRGB ? 3 : c.mode == kCMYK ? 4 : 1;
  if (c.channels > 56) return RefuseFile(error, IS_ERR_PSDMODE, "PSD of %u channels (a PSD file has at most 56)", c.channels);
  if (c.channels < need)
    return RefuseFile(error, IS_ERR_PSDMODE, "PSD of %u channels (%s mode needs at least %u)", c.channels,
                  ModeName(c.mode) ? ModeName(c.mode) : "its", need);

  uint32_t length = 0;
  if (!ReadLength(io, error, c, length)) return false;
  for (int i = 0; i < 256; ++i) c.palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  if (c.mode == kBitmap) {
    std::memset(c.palette, 0, sizeof c.palette);
    c.palette[0] = RGBQUAD{255, 255, 255, 0};
    if (!SkipSection(io, error, c, length)) return false;
  } else if ((c.mode == kGrey || c.mode == kIndexed) && length == 768) {
    BYTE table[768];
    if (!io.ReadExact(table, sizeof table)) return EndsWithin(error, c, "colour table");
    c.position += 768;
    for (int i = 0; i < 256; ++i) c.palette[i] = RGBQUAD{table[512 + i], table[256 + i], table[i], 0};
  } else if (c.mode == kIndexed && length != 0) {
    return RefuseFile(error, IS_ERR_PSDMODE, "PSD colour table of %u bytes (768 expected)", length);
  } else if (!SkipSection(io, error, c, length)) {
    return false;
  }

  if (!ReadLength(io, error, c, length)) return false;
  if (length > c.sourceSize - std::min(c.position, c.sourceSize)) return SectionPastEnd(error, c, length);
  if (length) {
    c.resources.Resize(length);
    if (!c.resources.Data()) return Fail(error, IS_ERR_NOMEM);
    if (!io.ReadExact(c.resources.Data(), length)) return SectionPastEnd(error, c, length);
    c.position += length;
    KeepPhotoshopResourcesRead(c.resources.Data(), length, true, true, true);  // IPTC, profile and XMP
  }
  if (!ReadLength(io, error, c, length) || !SkipSection(io, error, c, length)) return false;
  BYTE comp[2];
  if (!io.ReadExact(comp, 2)) return EndsWithin(error, c, "compression word, before its image data");
  c.position += 2;
  c.compression = ReadBE16(comp);
  if (c.compression == 2 || c.compression == 3)
    return RefuseFile(error, IS_ERR_READ, "PSD channels compressed with ZIP (compression %u) are not read by this build",
                  c.compression);
  if (c.compression > 1) return RefuseFile(error, IS_ERR_READ, "PSD compression %u is none that a PSD file has", c.compression);
  return true;
}

// One PackBits row of `n` bytes from `size` input bytes; runs passing the row end are cut.
bool UnpackBitsRow(const BYTE* in, uint64_t size, BYTE* out, uint64_t n) {
  uint64_t i = 0, o = 0;
  while (o < n) {
    if (i >= size) return false;
    const int control = static_cast<int8_t>(in[i++]);
    if (control >= 0) {
      const uint64_t count = control + 1u;
      if (i + count > size) return false;
      const uint64_t take = std::min(count, n - o);
      std::memcpy(out + o, in + i, take);
      o += take;
      i += count;
    } else if (control != -128) {
      if (i >= size) return false;
      const uint64_t take = std::min<uint64_t>(1 - control, n - o);
      std::memset(out + o, in[i++], take);
      o += take;
    }
  }
  return true;
}

// After the budget refused the picture as more than the data could give, the refusal names
// the channels it counted and the bytes a whole picture of them takes.
void NameChannelsNeeded(const PSDContext& c, DWORD used, uint64_t dataBytes) {
  const uint64_t weight = RovIrirev::DecodeBudgetWeight(c.width, c.height);
  if (weight > RovIrirev::kUncheckedPixelLimit && weight > BudgetMultiply(dataBytes, RovIrirev::kPixelsPerStoredByte))
    return;  // refused for the stored bytes alone, as in every format
  const uint64_t rowBytes = c.depth == 1 ? (c.width + 7) / 8 : c.width * (c.depth / 8);
  const uint64_t whole = BudgetMultiply(BudgetMultiply(rowBytes, c.height), used);
  char reason[kMaxWarningText + 1];
  const int n = std::snprintf(reason, sizeof reason, "%s (%u channel%s of %u bit%s: %llu bytes", ISGetLastWarning(), used,
                              used == 1 ? "" : "s", c.depth, c.depth == 1 ? "" : "s", static_cast<unsigned long long>(whole));
  if (n > 0 && static_cast<size_t>(n) < sizeof reason)
    std::snprintf(reason + n, sizeof reason - n, "%s)", c.compression != 0 ? " unpacked" : "");
  ReplaceLastWarning(reason);
}

// The first `used` channels as 8-bit samples, interleaved `used` bytes a pixel, rows top first.
// 1-bit samples are 0 or 1; 16-bit ones value x 255 / 65535. Before anything is allocated the
// picture must be one the bytes left could give, counting only the channels read. Data that
// ends early (or a PackBits row that runs out) leaves the samples not read at 128; `complete`
// is the number of rows whose every channel was read.
bool ReadChannels(CISIO& io, ISErrorCode& error, PSDContext& c, DWORD used, ISArray<BYTE>& samples,
                  uint64_t& complete) {
  const uint64_t rowBytes = c.depth == 1 ? (c.width + 7) / 8 : c.width * (c.depth / 8);
  const uint64_t available = c.sourceSize - std::min(c.position, c.sourceSize);
  uint64_t countBytes = 0;
  if (c.compression != 0 && (!ISMulSize(countBytes, c.channels, c.height, 2) || countBytes > available))
    return RefuseFile(error, IS_ERR_READ, "PSD row byte counts of %u channels x %llu rows need more than %llu bytes",
                  c.channels, static_cast<unsigned long long>(c.height), static_cast<unsigned long long>(available));
  const uint64_t dataBytes = available - countBytes;
  const uint64_t decodable = c.compression != 0 ? BudgetMultiply(dataBytes, kPackBitsBytesPerByte) : dataBytes;
  if (!RovIrirev::DecodeBudgetAllows(c.width, c.height, BudgetMultiply(decodable, 8) / (uint64_t{c.depth} * used),
                                     dataBytes)) {
    NameChannelsNeeded(c, used, dataBytes);
    return Fail(error, IS_ERR_READ);
  }
  ISArray<uint16_t> counts;
  ISArray<BYTE> packed;
  if (c.compression != 0) {
    ISArray<BYTE> raw;
    if (!ResizeScratch(raw, countBytes) || !ResizeScratch(counts, countBytes / 2)) return Fail(error, IS_ERR_NOMEM);
    if (!io.ReadExact(raw.Data(), static_cast<uint32_t>(countBytes))) return EndsWithin(error, c, "row byte counts");
    uint64_t largest = 0;
    for (uint32_t i = 0; i < counts.Count(); ++i) {
      counts[i] = ReadBE16(raw.Data() + 2 * i);
      largest = std::max<uint64_t>(largest, counts[i]);
    }
    if (largest && !ResizeScratch(packed, largest)) return Fail(error, IS_ERR_NOMEM);
  }
  uint64_t sampleBytes = 0;
  ISArray<BYTE> row;
  if (!ISAllocSize(sampleBytes, c.width, c.height, used) || !ResizeScratch(samples, sampleBytes) ||
      !ResizeScratch(row, rowBytes))
    return Fail(error, IS_ERR_NOMEM);
  std::memset(samples.Data(), 128, sampleBytes);
  const uint64_t rows = uint64_t{c.height} * used;
  uint64_t read = 0;  // channel rows read, in file order
  for (DWORD ch = 0; ch < used && read == uint64_t{ch} * c.height; ++ch) {
    for (uint64_t y = 0; y < c.height; ++y) {
      if (!ProgressOrStop(error, ch * c.height + y, rows)) return false;
      if (c.compression == 0) {
        if (!io.ReadExact(row.Data(), static_cast<uint32_t>(rowBytes))) break;
      } else {
        const uint32_t n = counts[static_cast<uint32_t>(ch * c.height + y)];
        if ((n && !io.ReadExact(packed.Data(), n)) || !UnpackBitsRow(packed.Data(), n, row.Data(), rowBytes)) break;
      }
      ++read;
      BYTE* d = samples.Data() + y * c.width * used + ch;
      const BYTE* s = row.Data();
      if (c.depth == 8) {
        for (uint64_t x = 0; x < c.width; ++x, d += used) *d = s[x];
      } else if (c.depth == 16) {
        for (uint64_t x = 0; x < c.width; ++x, d += used) *d = static_cast<BYTE>(ReadBE16(s + 2 * x) * 255u / 65535u);
      } else {
        for (uint64_t x = 0; x < c.width; ++x, d += used) *d = (s[x >> 3] >> (7 - (x & 7))) & 1;
      }
    }
  }
  // Rows of the last channel read whole, when every channel before it is whole.
  complete = read >= rows ? c.height : (read / c.height == used - 1 ? read % c.height : 0);
  if (read < rows) WarnEndedEarly("PSD", read, rows, "channel rows");
  return true;
}

// The picture at 24 or 32 bits (or the four CMYK channels) into `block`.
bool DecodeRGB(CISIO& io, ISErrorCode& error, PSDContext& c, DWORD bits, DWORD flags, ISOwnedBlock& block,
               DWORD& outBytesPerPixel) {
  DWORD used;
  switch (c.mode) {
    case kBitmap:
    case kGrey:
    case kIndexed:
    case kDuotone: used = 1; break;
    case kRGB: used = 3; break;
    case kCMYK: used = 4; break;
    default: return RefuseMode(error, IS_ERR_PSDMODE, c.mode);
  }
  const bool rawCMYK = c.mode == kCMYK && (flags & kPSDReadCMYK);
  const uint64_t bpp = rawCMYK ? 4 : bits / 8;
  outBytesPerPixel = static_cast<DWORD>(bpp);
  ISArray<BYTE> samples;
  uint64_t complete = 0;
  if (!ReadChannels(io, error, c, used, samples, complete)) return false;
  uint64_t outBytes = 0;
  if (!ISAllocSize(outBytes, c.width, c.height, bpp) || !block.Alloc(outBytes)) return Fail(error, IS_ERR_NOMEM);
  BYTE* d = static_cast<BYTE*>(block.Get());
  const BYTE* s = samples.Data();
  const uint64_t n = c.width * c.height;
  if (rawCMYK) {
    std::memcpy(d, s, n * 4);
    return true;
  }
  RGBQUAD lut[256];
  std::memcpy(lut, c.palette, sizeof lut);
  if (c.mode == kDuotone)
    for (int i = 0; i < 256; ++i) lut[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  // Samples not read are 128; a pixel converted from them is mid grey instead, unless its
  // samples are what the caller receives (RGB).
  const uint64_t converted = c.mode == kRGB ? n : complete * c.width;
  for (uint64_t i = 0; i < converted; ++i, d += bpp) {
    switch (c.mode) {
      case kBitmap: d[0] = d[1] = d[2] = s[i] ? 0 : 255; break;
      case kRGB: d[0] = s[3 * i], d[1] = s[3 * i + 1], d[2] = s[3 * i + 2]; break;
      case kCMYK: {
        const DWORD k = s[4 * i + 3];
        d[0] = static_cast<BYTE>(s[4 * i] * k / 255);
        d[1] = static_cast<BYTE>(s[4 * i + 1] * k / 255);
        d[2] = static_cast<BYTE>(s[4 * i + 2] * k / 255);
        break;
      }
      default: {
        const RGBQUAD& q = lut[s[i]];
        d[0] = q.rgbRed, d[1] = q.rgbGreen, d[2] = q.rgbBlue;
        break;
      }
    }
    if (bpp == 4) d[3] = 255;
  }
  std::memset(d, 128, (n - converted) * bpp);
  return true;
}

// The picture as indices with its palette into `block`.
bool DecodeIndices(CISIO& io, ISErrorCode& error, PSDContext& c, RGBQUAD* palette, ISOwnedBlock& block) {
  if (c.mode != kBitmap && c.mode != kGrey && c.mode != kIndexed && c.mode != kDuotone)
    return RefuseMode(error, IS_ERR_PSDMODE, c.mode);
  ISArray<BYTE> samples;
  uint64_t complete = 0;
  if (!ReadChannels(io, error, c, 1, samples, complete)) return false;
  if (!block.Alloc(c.width * c.height)) return Fail(error, IS_ERR_NOMEM);
  std::memcpy(block.Get(), samples.Data(), c.width * c.height);
  if (c.mode == kBitmap) {
    std::memset(palette, 0, 256 * sizeof(RGBQUAD));
    palette[0] = RGBQUAD{255, 255, 255, 255};
  } else if (c.mode == kDuotone) {
    for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  } else {
    std::memcpy(palette, c.palette, sizeof c.palette);
  }
  return true;
}

// Pixels per metre from the resolution resource (1005), when the file has one.
void ResolutionFromResources(const PSDContext& c, LONG& xPerMetre, LONG& yPerMetre) {
  xPerMetre = yPerMetre = 0;
  if (c.resources.Empty()) return;
  CPhotoshopResources parser;
  parser.wanted.push_back(1005);
  if (!parser.ParsePhotoshopResources(c.resources.Data(), c.resources.Count(), false)) return;
  const PSDResource* r = parser.FindResource(1005);
  if (!r || r->record.Count() < r->dataOffset + 16) return;
  const BYTE* p = r->record.Data() + r->dataOffset;
  DWORD record[3] = {ReadBE16(p), ReadBE16(p + 8), 0};
  const DWORD hUnit = ReadBE16(p + 4), vUnit = ReadBE16(p + 12);
  if (hUnit == 1) {
    record[2] = 1;
    if (vUnit == 2) record[1] = static_cast<DWORD>(record[1] * 0.39370079);
  } else if (hUnit == 2) {
    record[2] = 2;
  }
  if (ConvertResolution(record, kResJFIF, kResPerMetre)) {
    xPerMetre = static_cast<LONG>(record[0]);
    yPerMetre = static_cast<LONG>(record[1]);
  }
}

}  // namespace

HGLOBAL ReadPSDRGB(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, DWORD bits, DWORD flags) {
  SetSize(width, height, 0, 0);
  PSDContext c;
  if (!ReadHead(io, error, c)) return nullptr;
  ISOwnedBlock block;
  DWORD bpp = 0;
  if (!DecodeRGB(io, error, c, bits, flags, block, bpp)) return nullptr;
  SetSize(width, height, c.width, c.height);
  return static_cast<HGLOBAL>(block.Release());
}

HGLOBAL ReadPSD8(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, RGBQUAD* palette) {
  SetSize(width, height, 0, 0);
  if (!palette) return Fail(error, IS_ERR_BADPARAM), nullptr;
  PSDContext c;
  if (!ReadHead(io, error, c)) return nullptr;
  ISOwnedBlock block;
  if (!DecodeIndices(io, error, c, palette, block)) return nullptr;
  SetSize(width, height, c.width, c.height);
  return static_cast<HGLOBAL>(block.Release());
}

HGLOBAL ReadPSDAsStored(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, DWORD flags) {
  SetSize(width, height, 0, 0);
  PSDContext c;
  if (!ReadHead(io, error, c)) return nullptr;
  if (c.mode != kBitmap && c.mode != kGrey && c.mode != kIndexed && c.mode != kDuotone && c.mode != kRGB &&
      c.mode != kCMYK)
    return RefuseMode(error, IS_ERR_NOTPSD, c.mode), nullptr;
  if (c.width > 0x7FFFFFFF || c.height > 0x7FFFFFFF) return Fail(error, IS_ERR_NOMEM), nullptr;
  LONG xPerMetre = 0, yPerMetre = 0;
  ResolutionFromResources(c, xPerMetre, yPerMetre);
  const DWORD w = static_cast<DWORD>(c.width), h = static_cast<DWORD>(c.height);
  ISOwnedBlock pixels;
  void* dib = nullptr;
  if (c.mode == kRGB || c.mode == kCMYK) {
    DWORD bpp = 0;
    if (!DecodeRGB(io, error, c, 24, flags, pixels, bpp)) return nullptr;
    dib = DecodedRGBToDIB(error, static_cast<const BYTE*>(pixels.Get()), w, h, bpp == 4);
  } else {
    RGBQUAD palette[256];
    if (!DecodeIndices(io, error, c, palette, pixels)) return nullptr;
    dib = DecodedIndicesToDIB(error, static_cast<const BYTE*>(pixels.Get()), w, h, palette);
  }
  if (!dib) return nullptr;
  BITMAPINFOHEADER info = ReadDIBHeader(dib);
  info.biXPelsPerMeter = xPerMetre;
  info.biYPelsPerMeter = yPerMetre;
  WriteDIBHeader(dib, info);
  SetSize(width, height, c.width, c.height);
  return static_cast<HGLOBAL>(dib);
}
