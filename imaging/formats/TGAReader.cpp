// Truevision TGA readers: to R, G, B (A), to palette indices and as a packed DIB; types 1, 2,
// 3 and their run-length forms 9, 10, 11, from any of the four corners the descriptor names.
// Errors: 1, 3, 14, 28, 32.
#include <algorithm>
#include <cstring>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/CISMemBlock.h"
#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISDIB.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/formats/DecodedDIB.h"
#include "imaging/formats/FormatRefusal.h"
#include "imaging/formats/TGAFormat.h"

namespace {

using RovIrirev::BudgetMultiply;

struct TGAContext {
  BYTE header[18] = {};
  DWORD type = 0;
  DWORD depth = 0;
  DWORD pixelBytes = 0;
  uint64_t width = 0;
  uint64_t height = 0;
  bool mapped = false;  // pixels index the colour map
  bool grey = false;
  bool rle = false;
  bool topDown = false;     // descriptor bit 5: rows stored top first
  bool rightToLeft = false; // descriptor bit 4: pixels of a row stored right to left
  bool hasMap = false;
  RGBQUAD map[256] = {};
  uint32_t sourceSize = 0;
  uint32_t position = 0;
};

// The header, the id field and the colour map.
bool ReadHead(CISIO& io, ISErrorCode& error, TGAContext& c) {
  if (!io.ReadExact(c.header, 18)) {
    if (!io.GetSize(&c.sourceSize)) c.sourceSize = 0;
    return RefuseFile(error, IS_ERR_READ, "TGA file of %u bytes ends within its 18-byte header", c.sourceSize);
  }
  if (!io.GetSize(&c.sourceSize)) return RefuseFile(error, IS_ERR_READ, "the size of the TGA source cannot be had");
  const BYTE* h = c.header;
  c.type = h[2];
  if (c.type == 0) return RefuseFile(error, IS_ERR_BADTGA, "TGA image type 0 holds no picture");
  if (c.type == 32 || c.type == 33)
    return RefuseFile(error, IS_ERR_BADTGA, "TGA image type %u (Huffman-coded) is not read by this build", c.type);
  if ((c.type >= 4 && c.type <= 8) || c.type > 11)
    return RefuseFile(error, IS_ERR_BADTGA, "TGA image type %u is none that a TGA file has", c.type);
  c.width = ReadLE16(h + 12);
  c.height = ReadLE16(h + 14);
  if (c.width == 0 || c.height == 0)
    return RefuseFile(error, IS_ERR_BADTGA, "TGA of %u x %u pixels has no picture", static_cast<unsigned>(c.width),
                      static_cast<unsigned>(c.height));
  c.depth = h[16];
  c.topDown = (h[17] & 0x20) != 0;
  c.rightToLeft = (h[17] & 0x10) != 0;
  c.rle = c.type >= 9;
  c.grey = c.type == 3 || c.type == 11;
  c.hasMap = h[1] != 0;
  c.mapped = c.hasMap && c.type != 2 && c.type != 3 && c.type != 10;
  c.pixelBytes = (c.depth + 7) / 8;
  BYTE id[255];
  if (!io.ReadExact(id, h[0]))
    return RefuseFile(error, IS_ERR_READ, "TGA file of %u bytes ends within its %u-byte image id", c.sourceSize, h[0]);
  c.position = 18 + h[0];
  if (c.hasMap) {
    const DWORD first = ReadLE16(h + 3), length = ReadLE16(h + 5), entryBits = h[7];
    if (entryBits != 8 && entryBits != 15 && entryBits != 16 && entryBits != 24 && entryBits != 32)
      return RefuseFile(error, IS_ERR_BADTGA, "TGA colour map of %u-bit entries (8, 15, 16, 24 or 32 expected)",
                        static_cast<unsigned>(entryBits));
    const DWORD entryBytes = (entryBits + 7) / 8;
    BYTE e[4];
    for (DWORD i = 0; i < length; ++i) {
      if (!io.ReadExact(e, entryBytes))
        return RefuseFile(error, IS_ERR_READ, "TGA file of %u bytes ends within its colour map of %u entries",
                          c.sourceSize, static_cast<unsigned>(length));
      // Entries past 256 are read over and dropped.
      if (first + i >= 256) continue;
      RGBQUAD& q = c.map[first + i];
      switch (entryBits) {
        case 8: q = RGBQUAD{e[0], e[0], e[0], 255}; break;
        case 15:
        case 16: {
          const DWORD v = ReadLE16(e);
          q = RGBQUAD{BYTE((v << 3) & 0xF8), BYTE((v >> 2) & 0xF8), BYTE((v >> 7) & 0xF8), 255};
          break;
        }
        case 24: q = RGBQUAD{e[0], e[1], e[2], 255}; break;
        default: q = RGBQUAD{e[0], e[1], e[2], e[3]}; break;
      }
    }
    c.position += length * entryBytes;
  }
  return true;
}

// The pixel data as stored, one pixel after another in file order (pixelBytes each); RLE
// packets may cross rows and stop at the end of the image. Before anything is allocated the
// picture must be one the bytes left could give: a plain pixel takes pixelBytes bytes, and a
// run packet (1 byte and one pixel) gives at most 128 pixels, which no literal packet beats.
// `rows` is the number of stored rows the data holds whole: all of them unless it ends early.
bool ReadPixels(CISIO& io, ISErrorCode& error, const TGAContext& c, ISArray<BYTE>& raw, uint64_t& rows) {
  const uint32_t available = c.sourceSize > c.position ? c.sourceSize - c.position : 0;
  const uint64_t pb = c.pixelBytes;
  const uint64_t dataPixels = c.rle ? BudgetMultiply(available, 128) / (1 + pb) : available / pb;
  if (!c.rle) {
    if (!PlainDataAllowed("TGA", c.width, c.height, dataPixels, available,
                          BudgetMultiply(BudgetMultiply(c.width, c.height), pb)))
      return Fail(error, IS_ERR_READ);
  } else if (!RovIrirev::DecodeBudgetAllows(c.width, c.height, dataPixels, available)) {
    if (available == 0) ExplainRefusal("the file ends at byte %u, where its pixel data begins", c.sourceSize);
    return Fail(error, IS_ERR_READ);
  }
  const uint64_t pixels = c.width * c.height;  // within the budget: 16-bit sides
  if (!ResizeScratch(raw, pixels * pb)) return Fail(error, IS_ERR_NOMEM);
  uint64_t done = 0;  // pixels decoded
  if (!c.rle) {
    done = io.Read(raw.Data(), static_cast<uint32_t>(pixels * pb)) / pb;
  } else {
    ISArray<BYTE> data;
    if (!ResizeScratch(data, available))
      return RefuseFile(error, IS_ERR_READ, "no memory for the %u bytes of TGA data", available);
    const uint32_t got = io.Read(data.Data(), available);
    const BYTE* s = data.Data();
    const BYTE* end = s + std::min(got, available);
    BYTE* d = raw.Data();
    while (done < pixels && s < end) {
      const BYTE packet = *s++;
      uint64_t n = std::min<uint64_t>((packet & 127) + 1u, pixels - done);
      if (packet & 128) {
        if (static_cast<uint64_t>(end - s) < pb) break;
        for (uint64_t k = 0; k < n; ++k, d += pb) std::memcpy(d, s, pb);
        s += pb;
      } else {
        n = std::min<uint64_t>(n, static_cast<uint64_t>(end - s) / pb);
        std::memcpy(d, s, n * pb);
        d += n * pb;
        s += n * pb;
      }
      done += n;
    }
  }
  rows = std::min<uint64_t>(c.height, done / c.width);
  return true;
}

// One stored row of pixels to R, G, B (A) bytes.
void RowToRGB(const TGAContext& c, const BYTE* s, BYTE* d, uint64_t bpp) {
  const uint64_t w = c.width;
  switch (c.depth) {
    case 8:
      for (uint64_t x = 0; x < w; ++x, d += bpp) {
        if (c.mapped) {
          const RGBQUAD& q = c.map[s[x]];
          d[0] = q.rgbRed, d[1] = q.rgbGreen, d[2] = q.rgbBlue;
          if (bpp == 4) d[3] = q.rgbReserved;
        } else {
          d[0] = d[1] = d[2] = s[x];
          if (bpp == 4) d[3] = 255;
        }
      }
      break;
    case 15:
    case 16:
      if (c.grey) {
        // Grey plus alpha: the grey level, then its alpha byte (kept only at 32 bits).
        for (uint64_t x = 0; x < w; ++x, s += 2, d += bpp) {
          d[0] = d[1] = d[2] = s[0];
          if (bpp == 4) d[3] = s[1];
        }
        break;
      }
      for (uint64_t x = 0; x < w; ++x, s += 2, d += bpp) {
        const DWORD v = ReadLE16(s);
        d[0] = static_cast<BYTE>((v >> 7) & 0xF8);
        d[1] = static_cast<BYTE>((v >> 2) & 0xF8);
        d[2] = static_cast<BYTE>((v << 3) & 0xF8);
        if (bpp == 4) d[3] = 255;
      }
      break;
    case 24:
      for (uint64_t x = 0; x < w; ++x, s += 3, d += bpp) {
        d[0] = s[2], d[1] = s[1], d[2] = s[0];
        if (bpp == 4) d[3] = 255;
      }
      break;
    default:
      for (uint64_t x = 0; x < w; ++x, s += 4, d += bpp) {
        d[0] = s[2], d[1] = s[1], d[2] = s[0];
        if (bpp == 4) d[3] = s[3];
      }
      break;
  }
}

// A row of `width` pixels of `bpp` bytes stored right to left, put left to right.
void MirrorRow(BYTE* row, uint64_t width, uint64_t bpp) {
  for (uint64_t a = 0, b = width - 1; a < b; ++a, --b) std::swap_ranges(row + a * bpp, row + (a + 1) * bpp, row + b * bpp);
}

// The picture at 24 or 32 bits into a new block (top row first, leftmost pixel first).
bool DecodeRGB(CISIO& io, ISErrorCode& error, TGAContext& c, DWORD bits, ISOwnedBlock& block) {
  if (c.depth != 8 && c.depth != 15 && c.depth != 16 && c.depth != 24 && c.depth != 32)
    return RefuseFile(error, IS_ERR_BADTGA, "TGA of %u bits a pixel (8, 15, 16, 24 or 32 expected)", c.depth);
  ISArray<BYTE> raw;
  uint64_t decoded = 0;
  if (!ReadPixels(io, error, c, raw, decoded)) return false;
  const uint64_t bpp = bits / 8;
  uint64_t outBytes = 0;
  if (!ISAllocSize(outBytes, c.width, c.height, bpp) || !block.Alloc(outBytes)) return Fail(error, IS_ERR_NOMEM);
  BYTE* out = static_cast<BYTE*>(block.Get());
  for (uint64_t y = 0; y < c.height; ++y) {
    if (!ProgressOrStop(error, y, c.height)) return false;
    const uint64_t dy = c.topDown ? y : c.height - 1 - y;
    BYTE* row = out + dy * c.width * bpp;
    if (y >= decoded) {
      std::memset(row, 128, c.width * bpp);
      continue;
    }
    RowToRGB(c, raw.Data() + y * c.width * c.pixelBytes, row, bpp);
    if (c.rightToLeft) MirrorRow(row, c.width, bpp);
  }
  if (decoded < c.height) WarnEndedEarly("TGA", decoded, c.height);
  return true;
}

// The picture as indices (top row first, leftmost pixel first) with its palette.
bool DecodeIndices(CISIO& io, ISErrorCode& error, TGAContext& c, RGBQUAD* palette, ISOwnedBlock& block) {
  if (c.depth > 8)
    return RefuseFile(error, IS_ERR_BITDEPTH, "TGA of %u bits a pixel is deeper than the 8 bits asked for", c.depth);
  if (c.type != 1 && c.type != 3 && c.type != 9 && c.type != 11)
    return RefuseFile(error, IS_ERR_BITDEPTH, "TGA image type %u (true colour) has no indices to read at 8 bits",
                      c.type);
  if (c.depth != 8)
    return RefuseFile(error, IS_ERR_BADTGA, "TGA of %u bits a pixel (8 expected for indices)", c.depth);
  std::memset(palette, 0, 256 * sizeof(RGBQUAD));
  if (c.hasMap) {
    std::memcpy(palette, c.map, sizeof c.map);
  } else if (!c.grey) {
    return RefuseFile(error, IS_ERR_BADTGA, "colour-mapped TGA (image type %u) without a colour map", c.type);
  } else {
    for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 255};
  }
  ISArray<BYTE> raw;
  uint64_t decoded = 0;
  if (!ReadPixels(io, error, c, raw, decoded)) return false;
  if (!block.Alloc(c.width * c.height)) return Fail(error, IS_ERR_NOMEM);
  BYTE* out = static_cast<BYTE*>(block.Get());
  for (uint64_t y = 0; y < c.height; ++y) {
    if (!ProgressOrStop(error, y, c.height)) return false;
    const uint64_t dy = c.topDown ? y : c.height - 1 - y;
    BYTE* row = out + dy * c.width;
    if (y >= decoded) {
      std::memset(row, 128, c.width);
      continue;
    }
    std::memcpy(row, raw.Data() + y * c.width, c.width);
    if (c.rightToLeft) MirrorRow(row, c.width, 1);
  }
  if (decoded < c.height) WarnEndedEarly("TGA", decoded, c.height);
  return true;
}

}  // namespace

HGLOBAL ReadTGARGB(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, DWORD bits) {
  SetSize(width, height, 0, 0);
  TGAContext c;
  if (!ReadHead(io, error, c)) return nullptr;
  ISOwnedBlock block;
  if (!DecodeRGB(io, error, c, bits, block)) return nullptr;
  SetSize(width, height, c.width, c.height);
  return static_cast<HGLOBAL>(block.Release());
}

HGLOBAL ReadTGA8(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, RGBQUAD* palette) {
  SetSize(width, height, 0, 0);
  if (!palette) return Fail(error, IS_ERR_BADPARAM), nullptr;
  TGAContext c;
  if (!ReadHead(io, error, c)) return nullptr;
  ISOwnedBlock block;
  if (!DecodeIndices(io, error, c, palette, block)) return nullptr;
  SetSize(width, height, c.width, c.height);
  return static_cast<HGLOBAL>(block.Release());
}

HGLOBAL ReadTGAAsStored(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height) {
  SetSize(width, height, 0, 0);
  TGAContext c;
  if (!ReadHead(io, error, c)) return nullptr;
  ISOwnedBlock pixels;
  void* dib = nullptr;
  const DWORD w = static_cast<DWORD>(c.width), h = static_cast<DWORD>(c.height);
  if (c.depth > 8) {
    const DWORD bits = c.depth == 32 ? 32 : 24;
    if (!DecodeRGB(io, error, c, bits, pixels)) return nullptr;
    dib = DecodedRGBToDIB(error, static_cast<const BYTE*>(pixels.Get()), w, h, bits == 32);
  } else {
    RGBQUAD palette[256];
    if (!DecodeIndices(io, error, c, palette, pixels)) return nullptr;
    dib = DecodedIndicesToDIB(error, static_cast<const BYTE*>(pixels.Get()), w, h, palette);
  }
  if (!dib) return nullptr;
  SetSize(width, height, c.width, c.height);
  return static_cast<HGLOBAL>(dib);
}
