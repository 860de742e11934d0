// Windows bitmap readers: as stored (a packed DIB), to R, G, B (A), and to palette indices;
// plain, bit-field, RLE4 and RLE8 data; Windows headers of 40 to 124 bytes and OS/2 headers.
// Errors: 1, 3, 5, 6, 7, 14, 28.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/CISMemBlock.h"
#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISDIB.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISPixelHelpers.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/formats/BMPFormat.h"
#include "imaging/formats/FormatRefusal.h"
#include "imaging/formats/MetadataRead.h"

namespace {

using RovIrirev::BudgetMultiply;

// What the RLE codes decode: a 2-byte run gives at most 255 pixels, and a literal run of n
// pixels takes n bytes (RLE8) or n / 2 (RLE4) behind its 2-byte escape, 255 pixels for
// 2 + 128 bytes at best; so n bytes decode to at most n x 255 / 2 pixels. Escapes that skip
// (an end of line before the row is full, a delta, an end of bitmap before the last pixel)
// pass over pixels without bytes, as the one-dimensional fax codes do: data that skips is
// bounded by nothing, and the picture is read up to the ceiling.
uint64_t RLEDataPixels(uint64_t bytes) { return BudgetMultiply(bytes, 255) / 2; }

// Pixels of `width`-pixel rows of `stride` bytes (`bits` a pixel) that `bytes` hold.
uint64_t PlainDataPixels(uint64_t bytes, uint64_t width, uint64_t stride, uint64_t bits) {
  return BudgetMultiply(bytes / stride, width) + std::min(width, (bytes % stride) * 8 / bits);
}

// Rows not decoded are mid grey (the filler of the JPEG reader), except in pictures of packed
// bits, where they are index 0.
void FillUndecoded(BYTE* rows, uint64_t bytes, bool packedBits) { std::memset(rows, packedBits ? 0 : 128, bytes); }

// The info headers read: the OS/2 core header (12 bytes), the Windows header (40) and its
// later forms with the colour masks inside (52 and 56) and with a colour space (108 and 124),
// and the OS/2 2.x header, whose fields past the first 16 bytes may be left out (16 to 64).
bool IsWindowsHeader(DWORD size) { return size == 40 || size == 52 || size == 56 || size == 108 || size == 124; }
bool IsOS22Header(DWORD size) { return size >= 16 && size <= 64 && size % 2 == 0 && !IsWindowsHeader(size); }

struct BMPHeaders;
bool RefuseBitCount(ISErrorCode& error, const BMPHeaders& h, ISErrorCode code = IS_ERR_NOTBMP);
bool RefuseCompression(ISErrorCode& error, const BMPHeaders& h, ISErrorCode code = IS_ERR_NOTBMP);

struct BMPHeaders {
  uint32_t sourceSize = 0;
  uint32_t dataOffset = 0;
  uint32_t position = 0;  // bytes read so far from the start of the file
  bool os2 = false;    // an OS/2 core header: 3-byte table entries
  bool os22 = false;   // an OS/2 2.x header: compressions 3 and 4 are its own
  BITMAPINFOHEADER info{};
  uint64_t width = 0;
  uint64_t rows = 0;
  bool topDown = false;
  DWORD tableEntries = 0;
  RGBQUAD table[256] = {};
  DWORD masks[3] = {};
  bool hasMasks = false;
};

// Where a version 5 header's colour profile is: embedded in the file, or linked by name.
constexpr DWORD kProfileEmbedded = 0x4D424544;  // 'MBED'
constexpr DWORD kProfileLinked = 0x4C494E4B;    // 'LINK'

// A version 5 header's embedded colour profile is kept for the caller; one that lies outside
// the file, or a linked one, is noted as left out. The source is left where it was found.
bool KeepV5Profile(CISIO& io, ISErrorCode& error, const BMPHeaders& h, const BYTE* ih) {
  const DWORD kind = ReadLE32(ih + 56), offset = ReadLE32(ih + 112), size = ReadLE32(ih + 116);
  if (kind == kProfileLinked) {
    NoteMetadataLeftOut(IS_META_ICC, "the BMP links to a colour profile in another file, which is not read");
    return true;
  }
  if (kind != kProfileEmbedded) return true;
  const uint64_t at = 14ull + offset;
  char why[160];
  if (size == 0 || at + size > h.sourceSize || at > INT32_MAX) {
    std::snprintf(why, sizeof why, "the BMP colour profile of %u bytes at byte %llu lies outside the file (%u bytes)",
                  size, static_cast<unsigned long long>(at), h.sourceSize);
    NoteMetadataLeftOut(IS_META_ICC, why);
    return true;
  }
  ISArray<BYTE> profile;
  if (!ResizeScratch(profile, size)) return Fail(error, IS_ERR_NOMEM);
  const bool read = io.Seek(static_cast<int32_t>(at), IS_SEEK_SET) && io.ReadExact(profile.Data(), size);
  if (!io.Seek(static_cast<int32_t>(h.position), IS_SEEK_SET))
    return RefuseFile(error, IS_ERR_READ, "the BMP source cannot be read again after its colour profile");
  if (read) {
    KeepICCProfileRead(profile.Data(), size, "BMP colour profile");
  } else {
    std::snprintf(why, sizeof why, "the BMP colour profile of %u bytes at byte %llu cannot be read", size,
                  static_cast<unsigned long long>(at));
    NoteMetadataLeftOut(IS_META_ICC, why);
  }
  return true;
}

// The file header and the info header; an OS/2 core header becomes the equivalent 40-byte one.
bool ReadHeaders(CISIO& io, ISErrorCode& error, BMPHeaders& h) {
  ClearMetadataRead();
  BYTE fh[14];
  if (!io.ReadExact(fh, sizeof fh)) {
    if (!io.GetSize(&h.sourceSize)) h.sourceSize = 0;
    return RefuseFile(error, IS_ERR_READ, "BMP file of %u bytes ends within its 14-byte file header", h.sourceSize);
  }
  if (fh[0] != 'B' || fh[1] != 'M')
    return RefuseFile(error, IS_ERR_NOTBMP, "the file begins %02X %02X, not \"BM\"", fh[0], fh[1]);
  h.dataOffset = ReadLE32(fh + 10);
  if (!io.GetSize(&h.sourceSize)) return RefuseFile(error, IS_ERR_READ, "the size of the BMP source cannot be had");
  auto endsInHeader = [&](DWORD size) {
    return RefuseFile(error, IS_ERR_READ, "BMP file of %u bytes ends within its %u-byte BMP header", h.sourceSize,
                      size);
  };
  BYTE ih[124] = {};
  if (!io.ReadExact(ih, 4)) return endsInHeader(40);
  const DWORD size = ReadLE32(ih);
  if (size == 12) {
    if (!io.ReadExact(ih + 4, 8)) return endsInHeader(size);
    h.os2 = true;
    h.info = BITMAPINFOHEADER{};
    h.info.biSize = 40;
    h.info.biWidth = ReadLE16(ih + 4);
    h.info.biHeight = ReadLE16(ih + 6);
    h.info.biPlanes = 1;
    h.info.biBitCount = ReadLE16(ih + 10);
    h.position = 26;
  } else if (IsWindowsHeader(size) || IsOS22Header(size)) {
    // The first 40 bytes are the Windows header's fields (an OS/2 2.x header's fields past
    // its size are 0); the rest adds nothing the pixels need but the masks and the profile.
    if (!io.ReadExact(ih + 4, size - 4)) return endsInHeader(size);
    h.info = ReadDIBHeader(ih);
    h.info.biSize = 40;
    h.position = 14 + size;
    h.os22 = IsOS22Header(size);
    if (h.os22 && (h.info.biCompression == 3 || h.info.biCompression == 4))
      return RefuseFile(error, IS_ERR_NOTBMP, "OS/2 2.x BMP compression %u (%s) is not read by this build",
                        static_cast<unsigned>(h.info.biCompression),
                        h.info.biCompression == 3 ? "Huffman 1-D" : "24-bit RLE");
    // The red, green and blue masks are in the header from 52 bytes on; the alpha mask that
    // follows them is not used, as no read keeps alpha.
    if (!h.os22 && size >= 52 && h.info.biCompression == BI_BITFIELDS) {
      for (int i = 0; i < 3; ++i) h.masks[i] = ReadLE32(ih + 40 + 4 * i);
      h.hasMasks = true;
    }
    if (size == 124 && !KeepV5Profile(io, error, h, ih)) return false;
  } else {
    return RefuseFile(error, IS_ERR_NOTBMP, "BMP header of %u bytes is not a known BMP header", size);
  }
  if (h.info.biWidth < 1 || h.info.biHeight == 0)
    return RefuseFile(error, IS_ERR_NOTBMP, "BMP of %d x %d pixels has no picture", static_cast<int>(h.info.biWidth),
                      static_cast<int>(h.info.biHeight));
  h.width = static_cast<uint64_t>(h.info.biWidth);
  const int64_t height = h.info.biHeight;
  h.rows = static_cast<uint64_t>(height < 0 ? -height : height);
  h.topDown = height < 0;
  return true;
}

// A bit count the reader does not read, said with what the file has.
bool RefuseBitCount(ISErrorCode& error, const BMPHeaders& h, ISErrorCode code) {
  const unsigned bits = h.info.biBitCount;
  if (h.os2) return RefuseFile(error, code, "OS/2 BMP of %u bits a pixel (1, 4, 8 or 24 expected)", bits);
  if (bits == 0)
    return RefuseFile(error, code, "BMP bit count of 0 with compression %u (1, 4, 8, 16, 24 or 32 expected)",
                      static_cast<unsigned>(h.info.biCompression));
  if (bits == 2) return RefuseFile(error, code, "BMP of 2 bits a pixel (a Windows CE depth) is not read by this build");
  return RefuseFile(error, code, "BMP of %u bits a pixel (1, 4, 8, 16, 24 or 32 expected)", bits);
}

// A compression the reader does not read, or one that does not fit the file's bit count.
bool RefuseCompression(ISErrorCode& error, const BMPHeaders& h, ISErrorCode code) {
  const unsigned comp = h.info.biCompression, bits = h.info.biBitCount;
  switch (comp) {
    case BI_RLE8: return RefuseFile(error, code, "BMP compression 1 (RLE8) with %u bits a pixel (RLE8 needs 8)", bits);
    case BI_RLE4: return RefuseFile(error, code, "BMP compression 2 (RLE4) with %u bits a pixel (RLE4 needs 4)", bits);
    case BI_BITFIELDS:
      return RefuseFile(error, code, "BMP compression 3 (bit fields) with %u bits a pixel (16 or 32 expected)", bits);
    case 4: return RefuseFile(error, code, "BMP compression 4 (JPEG data) is not read by this build");
    case 5: return RefuseFile(error, code, "BMP compression 5 (PNG data) is not read by this build");
    case 6: return RefuseFile(error, code, "BMP compression 6 (alpha bit fields) is not read by this build");
    case 11:
    case 12:
    case 13: return RefuseFile(error, code, "BMP compression %u (CMYK) is not read by this build", comp);
    default: return RefuseFile(error, code, "BMP compression %u is none that a BMP file has", comp);
  }
}

// Entries of the colour table of a 1-, 4- or 8-bit file: the stored count, 2^bits when it is
// 0, and never more than the depth can index.
DWORD TableEntries(const BMPHeaders& h) {
  const DWORD bits = h.info.biBitCount;
  if (bits != 1 && bits != 4 && bits != 8) return 0;
  const DWORD full = 1u << bits;
  const DWORD used = h.os2 ? 0 : h.info.biClrUsed;
  return (used == 0 || used > full) ? full : used;
}

// The colour table (3-byte OS/2 entries become 4-byte ones) and, for bit fields, the masks.
bool ReadTable(CISIO& io, ISErrorCode& error, BMPHeaders& h) {
  h.tableEntries = TableEntries(h);
  if (h.tableEntries) {
    const uint32_t entryBytes = h.os2 ? 3 : 4;
    BYTE raw[1024];
    const uint32_t n = h.tableEntries * entryBytes;
    if (!io.ReadExact(raw, n))
      return RefuseFile(error, IS_ERR_READ, "BMP file of %u bytes ends within its colour table of %u entries",
                        h.sourceSize, static_cast<unsigned>(h.tableEntries));
    for (DWORD i = 0; i < h.tableEntries; ++i) {
      const BYTE* e = raw + i * entryBytes;
      h.table[i] = RGBQUAD{e[0], e[1], e[2], h.os2 ? BYTE{0} : e[3]};
    }
    h.position += n;
    if (!h.os2 && h.info.biClrUsed > h.tableEntries) h.info.biClrUsed = h.tableEntries;
  }
  if (h.info.biCompression == BI_BITFIELDS && !h.hasMasks) {
    BYTE raw[12];
    if (!io.ReadExact(raw, sizeof raw))
      return RefuseFile(error, IS_ERR_READ, "BMP file of %u bytes ends within its bit-field masks", h.sourceSize);
    for (int i = 0; i < 3; ++i) h.masks[i] = ReadLE32(raw + 4 * i);
    h.hasMasks = true;
    h.position += 12;
  }
  return true;
}

// Drops the bytes up to the data offset, or seeks back to it; `shortCode` for a short gap.
bool GoToData(CISIO& io, ISErrorCode& error, BMPHeaders& h, ISErrorCode shortCode) {
  if (h.dataOffset > h.position) {
    uint32_t gap = h.dataOffset - h.position;
    auto pastEnd = [&] {
      return RefuseFile(error, shortCode, "BMP data offset %u lies past the end of the file (%u bytes)", h.dataOffset,
                        h.sourceSize);
    };
    if (h.dataOffset > h.sourceSize) return pastEnd();
    BYTE sink[4096];
    while (gap) {
      const uint32_t n = std::min<uint32_t>(gap, sizeof sink);
      if (!io.ReadExact(sink, n)) return pastEnd();
      gap -= n;
    }
  } else if (h.dataOffset < h.position) {
    if (!io.Seek(static_cast<int32_t>(h.dataOffset), IS_SEEK_SET))
      return RefuseFile(error, IS_ERR_READ, "BMP data offset %u cannot be reached", h.dataOffset);
  }
  h.position = h.dataOffset;
  return true;
}

uint32_t BytesLeft(const BMPHeaders& h) { return h.sourceSize > h.position ? h.sourceSize - h.position : 0; }

// The budget's refusal of RLE data says so when the file ends where that data begins.
bool RefuseRLEData(ISErrorCode& error, const BMPHeaders& h) {
  if (BytesLeft(h) == 0) ExplainRefusal("the file ends at byte %u, where its pixel data begins", h.sourceSize);
  return Fail(error, IS_ERR_READ);
}

// RLE8 or RLE4 data into one index a pixel, rows in stored order. Runs, literal runs and
// deltas that pass the row or the image are clipped. The result is the number of rows decoded:
// all of them, unless the data ends before the last row (the row it ends in is not counted).
uint64_t DecodeRLE(const BYTE* data, uint64_t size, bool rle4, uint64_t width, uint64_t rows, BYTE* out) {
  uint64_t x = 0, y = 0, i = 0;
  while (y < rows) {
    if (i + 2 > size) return y;
    const BYTE n = data[i], v = data[i + 1];
    i += 2;
    BYTE* row = out + y * width;
    if (n > 0) {
      for (uint32_t k = 0; k < n && x < width; ++k, ++x) row[x] = rle4 ? ((k & 1) ? (v & 15) : (v >> 4)) : v;
      continue;
    }
    if (v == 0) {
      x = 0;
      ++y;
    } else if (v == 1) {
      return rows;
    } else if (v == 2) {
      if (i + 2 > size) return y;
      x = std::min<uint64_t>(x + data[i], width);
      y += data[i + 1];
      i += 2;
    } else {
      const uint64_t bytes = rle4 ? (v + 1u) / 2 : v;
      if (i + bytes > size) return y;
      const BYTE* lit = data + i;
      for (uint32_t k = 0; k < v && x < width; ++k, ++x)
        row[x] = rle4 ? ((k & 1) ? (lit[k >> 1] & 15) : (lit[k >> 1] >> 4)) : lit[k];
      i = std::min<uint64_t>(i + ((bytes + 1) & ~uint64_t{1}), size);
    }
  }
  return rows;
}

// Whether RLE data skips pixels (see RLEDataPixels): DecodeRLE's walk over the codes, without
// the pixels, at most one step for every two bytes.
bool RLESkipsPixels(const BYTE* data, uint64_t size, bool rle4, uint64_t width, uint64_t rows) {
  uint64_t x = 0, y = 0, i = 0;
  while (y < rows && i + 2 <= size) {
    const BYTE n = data[i], v = data[i + 1];
    i += 2;
    if (n > 0) {
      x = std::min<uint64_t>(x + n, width);
    } else if (v == 0) {
      if (x < width) return true;
      x = 0;
      ++y;
    } else if (v == 1) {
      return x < width || y + 1 < rows;
    } else if (v == 2) {
      if (i + 2 > size) return false;
      if (data[i] || data[i + 1]) return true;
      i += 2;
    } else {
      x = std::min<uint64_t>(x + v, width);
      i += ((rle4 ? (v + 1u) / 2 : v) + 1u) & ~1u;
    }
  }
  return false;
}

// The RLE data from the data offset into `data` (`got` bytes, fewer when the source ends
// early), once the budget allows the picture they describe.
bool ReadRLEData(CISIO& io, ISErrorCode& error, const BMPHeaders& h, ISArray<BYTE>& data, uint32_t& got) {
  const uint32_t dataBytes = BytesLeft(h);
  got = 0;
  if (dataBytes) {
    if (!ResizeScratch(data, dataBytes)) return Fail(error, IS_ERR_NOMEM);
    got = io.Read(data.Data(), dataBytes);
  }
  const bool skips = RLESkipsPixels(data.Data(), got, h.info.biCompression == BI_RLE4, h.width, h.rows);
  if (!RovIrirev::DecodeBudgetAllows(h.width, h.rows, skips ? RovIrirev::kUnboundedData : RLEDataPixels(dataBytes),
                                     dataBytes))
    return RefuseRLEData(error, h);
  return true;
}

// The RLE path of both readers, from the data offset: 8-bit output keeps the indices, 24 and
// 32 bits go through the colour table.
HGLOBAL ReadRLE(CISIO& io, ISErrorCode& error, BMPHeaders& h, DWORD outBits) {
  if (outBits != 8 && outBits != 24 && outBits != 32)
    return RefuseFile(error, IS_ERR_BITDEPTH, "RLE BMP asked for at %u bits (8, 24 or 32 expected)", outBits), nullptr;
  if (h.os2) return RefuseFile(error, IS_ERR_NOTBMP, "OS/2 BMP with RLE compression"), nullptr;
  const bool rle4 = h.info.biCompression == BI_RLE4;
  if ((rle4 && h.info.biBitCount != 4) || (!rle4 && h.info.biBitCount != 8))
    return RefuseCompression(error, h, IS_ERR_BMPRLE), nullptr;
  if (!GoToData(io, error, h, IS_ERR_NOTBMP)) return nullptr;
  ISArray<BYTE> data, indices;
  uint32_t got = 0;
  if (!ReadRLEData(io, error, h, data, got)) return nullptr;
  const uint64_t pixels = h.width * h.rows;  // within the budget, so far from overflowing
  const uint64_t bpp = outBits / 8;
  uint64_t outBytes = 0;
  if (!ISAllocSize(outBytes, h.width, h.rows, bpp) || !ResizeScratch(indices, pixels))
    return Fail(error, IS_ERR_NOMEM), nullptr;
  std::memset(indices.Data(), 0, pixels);
  const uint64_t decoded = DecodeRLE(data.Data(), got, rle4, h.width, h.rows, indices.Data());
  const ISColourTable colours(h.table, h.tableEntries);
  ISOwnedBlock block;
  if (!block.Alloc(outBytes)) return Fail(error, IS_ERR_NOMEM), nullptr;
  BYTE* out = static_cast<BYTE*>(block.Get());
  for (uint64_t y = 0; y < h.rows; ++y) {
    if (!ProgressOrStop(error, y, h.rows)) return nullptr;
    const BYTE* src = indices.Data() + y * h.width;
    BYTE* dst = out + (h.topDown ? y : h.rows - 1 - y) * h.width * bpp;
    if (y >= decoded)
      FillUndecoded(dst, h.width * bpp, false);
    else if (outBits == 8)
      std::memcpy(dst, src, h.width);
    else
      IndexedRowToRGB(src, dst, static_cast<DWORD>(h.width), 8, &colours, nullptr, outBits == 32, 255);
  }
  if (decoded < h.rows) WarnEndedEarly("BMP", decoded, h.rows);
  return static_cast<HGLOBAL>(block.Release());
}

bool IsRLE(const BMPHeaders& h) {
  return h.info.biCompression == BI_RLE8 || h.info.biCompression == BI_RLE4;
}

// Before anything is allocated for them, the plain rows must be a picture the bytes left could
// give; `held` is the number of whole rows they hold, which are read (the others are filled).
bool PlainRowsAllowed(ISErrorCode& error, const BMPHeaders& h, uint64_t stride, uint64_t& held) {
  const uint32_t left = BytesLeft(h);
  if (!PlainDataAllowed("BMP", h.width, h.rows, PlainDataPixels(left, h.width, stride, h.info.biBitCount), left,
                        BudgetMultiply(stride, h.rows)))
    return Fail(error, IS_ERR_READ);
  held = std::min<uint64_t>(h.rows, left / stride);
  return true;
}

}  // namespace

HGLOBAL ReadBMPRGB(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, DWORD bits) {
  SetSize(width, height, 0, 0);
  BMPHeaders h;
  if (!ReadHeaders(io, error, h)) return nullptr;
  const DWORD fileBits = h.info.biBitCount;
  if (h.os2 && fileBits != 1 && fileBits != 4 && fileBits != 8 && fileBits != 24)
    return RefuseBitCount(error, h), nullptr;
  const DWORD comp = h.info.biCompression;
  const bool rle = (comp == BI_RLE8 && fileBits == 8) || (comp == BI_RLE4 && fileBits == 4);
  if (comp != BI_RGB && comp != BI_BITFIELDS && !rle) return RefuseCompression(error, h), nullptr;
  if (fileBits != 1 && fileBits != 4 && fileBits != 8 && fileBits != 16 && fileBits != 24 && fileBits != 32)
    return RefuseBitCount(error, h), nullptr;
  if (!ReadTable(io, error, h)) return nullptr;
  HGLOBAL image = nullptr;
  if (rle) {
    image = ReadRLE(io, error, h, bits);
  } else {
    if (!GoToData(io, error, h, IS_ERR_NOTBMP)) return nullptr;
    const uint64_t stride = DIBRowBytes(h.width, fileBits);
    uint64_t held = 0;
    if (!PlainRowsAllowed(error, h, stride, held)) return nullptr;
    const uint64_t bpp = bits == 32 ? 4 : 3;
    uint64_t outBytes = 0;
    ISArray<BYTE> row;
    if (!ISAllocSize(outBytes, h.width, h.rows, bpp) || !ResizeScratch(row, stride))
      return Fail(error, IS_ERR_NOMEM), nullptr;
    ISOwnedBlock block;
    if (!block.Alloc(outBytes)) return Fail(error, IS_ERR_NOMEM), nullptr;
    BYTE* out = static_cast<BYTE*>(block.Get());
    const DWORD* masks = h.hasMasks ? h.masks : nullptr;
    const ISColourTable colours(h.table, h.tableEntries);
    for (uint64_t y = 0; y < h.rows; ++y) {
      if (!ProgressOrStop(error, y, h.rows)) return nullptr;
      BYTE* dst = out + (h.topDown ? y : h.rows - 1 - y) * h.width * bpp;
      if (y >= held || !io.ReadExact(row.Data(), static_cast<uint32_t>(stride))) {
        held = std::min(held, y);
        FillUndecoded(dst, h.width * bpp, false);
        continue;
      }
      IndexedRowToRGB(row.Data(), dst, static_cast<DWORD>(h.width), fileBits, &colours, masks, bpp == 4, 255);
      // The fourth output byte is always opaque; a 32-bit file's spare byte is not alpha.
      if (bpp == 4 && fileBits == 32)
        for (uint64_t x = 0; x < h.width; ++x) dst[4 * x + 3] = 255;
    }
    if (held < h.rows) WarnEndedEarly("BMP", held, h.rows);
    image = static_cast<HGLOBAL>(block.Release());
  }
  if (image) SetSize(width, height, h.width, h.rows);
  return image;
}

HGLOBAL ReadBMP8(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette) {
  SetSize(width, height, 0, 0);
  if (!palette || (bits != 1 && bits != 8)) return Fail(error, IS_ERR_BADPARAM), nullptr;
  BMPHeaders h;
  if (!ReadHeaders(io, error, h)) return nullptr;
  const DWORD fileBits = h.info.biBitCount;
  if (fileBits == 0) return RefuseBitCount(error, h, IS_ERR_BITDEPTH), nullptr;
  if (fileBits > 8 || fileBits > bits)
    return RefuseFile(error, IS_ERR_BITDEPTH, "BMP of %u bits a pixel is deeper than the %u bit%s asked for",
                      static_cast<unsigned>(fileBits), static_cast<unsigned>(bits), PluralS(bits)),
           nullptr;
  if (fileBits != 1 && fileBits != 4 && fileBits != 8) return RefuseBitCount(error, h), nullptr;
  const DWORD comp = h.info.biCompression;
  if (comp != BI_RGB && !IsRLE(h)) return RefuseCompression(error, h), nullptr;
  if (!ReadTable(io, error, h)) return nullptr;
  for (DWORD i = 0; i < 256; ++i) palette[i] = i < h.tableEntries ? h.table[i] : h.table[0];
  HGLOBAL image = nullptr;
  if (IsRLE(h)) {
    image = ReadRLE(io, error, h, bits);
  } else {
    if (!GoToData(io, error, h, IS_ERR_NOTBMP)) return nullptr;
    const uint64_t stride = DIBRowBytes(h.width, fileBits);
    uint64_t held = 0;
    if (!PlainRowsAllowed(error, h, stride, held)) return nullptr;
    const uint64_t outRow = bits == 8 ? h.width : (h.width + 7) / 8;
    uint64_t outBytes = 0;
    ISArray<BYTE> row;
    if (!ISAllocSize(outBytes, outRow, h.rows) || !ResizeScratch(row, stride)) return Fail(error, IS_ERR_NOMEM), nullptr;
    ISOwnedBlock block;
    if (!block.Alloc(outBytes)) return Fail(error, IS_ERR_NOMEM), nullptr;
    BYTE* out = static_cast<BYTE*>(block.Get());
    for (uint64_t y = 0; y < h.rows; ++y) {
      if (!ProgressOrStop(error, y, h.rows)) return nullptr;
      BYTE* dst = out + (h.topDown ? y : h.rows - 1 - y) * outRow;
      if (y >= held || !io.ReadExact(row.Data(), static_cast<uint32_t>(stride))) {
        held = std::min(held, y);
        FillUndecoded(dst, outRow, bits == 1);
        continue;
      }
      if (bits == 8)
        UnpackRowTo8(row.Data(), dst, static_cast<DWORD>(h.width), fileBits);
      else
        std::memcpy(dst, row.Data(), outRow);
    }
    if (held < h.rows) WarnEndedEarly("BMP", held, h.rows);
    image = static_cast<HGLOBAL>(block.Release());
  }
  if (image) SetSize(width, height, h.width, h.rows);
  return image;
}

HGLOBAL ReadBMPAsStored(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height) {
  SetSize(width, height, 0, 0);
  BMPHeaders h;
  if (!ReadHeaders(io, error, h)) return nullptr;
  const DWORD bits = h.info.biBitCount;
  if (h.os2 ? (bits != 1 && bits != 4 && bits != 8 && bits != 24)
            : (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32))
    return RefuseBitCount(error, h), nullptr;
  const DWORD comp = h.info.biCompression;
  const bool rle = (comp == BI_RLE8 && bits == 8) || (comp == BI_RLE4 && bits == 4);
  if (comp != BI_RGB && !rle && !(comp == BI_BITFIELDS && (bits == 16 || bits == 32)))
    return RefuseCompression(error, h), nullptr;
  const uint64_t stride = DIBRowBytes(h.width, bits);
  uint64_t pixelBytes = 0;
  if (!ISMulSize(pixelBytes, stride, h.rows))
    return RefuseFile(error, IS_ERR_READ, "BMP of %llu rows of %llu bytes is larger than any size",
                      static_cast<unsigned long long>(h.rows), static_cast<unsigned long long>(stride)),
           nullptr;
  if (h.os2) {
    h.info.biSizeImage = static_cast<DWORD>(std::min<uint64_t>(pixelBytes, 0xFFFFFFFFu));
    if (bits <= 8) h.info.biClrUsed = 1u << bits;
  }
  // Bytes the header implies: the table (or masks) and every row.
  const uint64_t tableBytes = TableEntries(h) * 4ull + (comp == BI_BITFIELDS ? 12 : 0);
  if (!ReadTable(io, error, h)) return nullptr;
  // Data that does not follow the table (and is not at one of the offsets some writers leave
  // unset) is found at its offset.
  if (h.dataOffset != h.position && h.dataOffset != 54 && h.dataOffset != 14 &&
      !GoToData(io, error, h, IS_ERR_NOTBMP))
    return nullptr;
  // The rows must be a picture the bytes left could give.
  ISArray<BYTE> rleData;
  uint32_t rleBytes = 0;
  if (rle) {
    if (!ReadRLEData(io, error, h, rleData, rleBytes)) return nullptr;
  } else {
    const uint32_t left = BytesLeft(h);
    if (!PlainDataAllowed("BMP", h.width, h.rows, PlainDataPixels(left, h.width, stride, bits), left, pixelBytes))
      return Fail(error, IS_ERR_READ), nullptr;
  }
  const uint64_t dibBytes = 40 + tableBytes + pixelBytes;
  const uint64_t blockBytes = std::max<uint64_t>(h.sourceSize > 40 ? h.sourceSize - 40 : 0, dibBytes);
  if (blockBytes >= kGlobalAllocLimit) return Fail(error, IS_ERR_NOMEM), nullptr;
  ISOwnedBlock block;
  if (!block.Alloc(blockBytes)) return Fail(error, IS_ERR_NOMEM), nullptr;
  BYTE* dib = static_cast<BYTE*>(block.Get());
  WriteDIBHeader(dib, h.info);
  for (DWORD i = 0; i < h.tableEntries; ++i) std::memcpy(dib + 40 + 4 * i, &h.table[i], 4);
  if (h.hasMasks)
    for (int i = 0; i < 3; ++i) WriteLE32(dib + 40 + 4 * i, h.masks[i]);
  BYTE* rows = dib + 40 + tableBytes;
  // Rows the file lacks are mid grey, as in the other reads.
  uint64_t held = h.rows;
  if (h.os2) {
    for (uint64_t y = 0; y < h.rows; ++y) {
      if (!ProgressOrStop(error, y, h.rows)) return nullptr;
      if (y < held && !io.ReadExact(rows + y * stride, static_cast<uint32_t>(stride))) held = y;
      if (y >= held) FillUndecoded(rows + y * stride, stride, bits == 1);
    }
  } else {
    const uint64_t room = blockBytes - 40 - tableBytes;
    uint32_t got = 0;
    if (rle) {
      got = static_cast<uint32_t>(std::min<uint64_t>(rleBytes, room));
      if (got) std::memcpy(rows, rleData.Data(), got);
    } else {
      got = io.Read(rows, static_cast<uint32_t>(room));
    }
    if (!rle && got < pixelBytes) {
      held = got / stride;
      FillUndecoded(rows + held * stride, pixelBytes - held * stride, bits == 1);
    }
    // RLE data as stored: at least an end code, and the image size the header gives.
    const uint64_t wanted = std::max<uint64_t>(2, std::min<uint64_t>(h.info.biSizeImage, room));
    if (rle && got < wanted)
      return RefuseFile(error, IS_ERR_READ, "BMP file ends after %u bytes of RLE data (%u expected)", got,
                        static_cast<unsigned>(wanted)),
             nullptr;
  }
  if (held < h.rows) WarnEndedEarly("BMP", held, h.rows);
  SetSize(width, height, h.width, h.rows);
  return static_cast<HGLOBAL>(block.Release());
}
