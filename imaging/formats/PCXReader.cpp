// PCX reader: versions 0, 2, 3 and 5, 1 to 24 bits in bit planes or byte planes (32-bit files
// are refused as deeper than the request), lines run-length coded or stored as they are, the
// header palette or the 256-colour palette at the end. Errors: 1, 5, 14, 22, 28.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/CISMemBlock.h"
#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/formats/FormatRefusal.h"
#include "imaging/formats/PCXFormat.h"

namespace {

using RovIrirev::BudgetMultiply;

// What n bytes of lines decode to: a run byte and its value give at most 63 bytes, a byte
// below 0xC0 one; so at most n x 63 / 2 bytes, whole lines of every plane (the planes are
// stored one after another within each line, so a line is decoded whole even when the read
// uses only some of them).
uint64_t DecodableBytes(uint64_t n) { return BudgetMultiply(n, 63) / 2; }

}  // namespace

HGLOBAL ReadPCX(CISIO& io, ISErrorCode& error, DWORD* width, DWORD* height, DWORD bits, RGBQUAD* palette,
                bool asStored) {
  SetSize(width, height, 0, 0);
  BYTE h[128];
  uint32_t fileSize = 0;
  if (!io.Rewind() || !io.ReadExact(h, sizeof h) || !io.GetSize(&fileSize)) {
    if (!io.GetSize(&fileSize)) fileSize = 0;
    return RefuseFile(error, IS_ERR_BADPCX, "PCX file of %u bytes ends within its 128-byte header", fileSize), nullptr;
  }
  const DWORD version = h[1];
  if (h[0] != 10) return RefuseFile(error, IS_ERR_BADPCX, "the file begins %02X, not 0A", h[0]), nullptr;
  if (version != 0 && version != 2 && version != 3 && version != 5)
    return RefuseFile(error, IS_ERR_BADPCX, "PCX version %u (0, 2, 3 or 5 expected)", version), nullptr;
  // Encoding 1 is run-length coded lines; 0 is lines stored as they are.
  if (h[2] > 1) return RefuseFile(error, IS_ERR_BADPCX, "PCX encoding %u (0 or 1 expected)", h[2]), nullptr;
  const bool encoded = h[2] == 1;
  const DWORD xmin = ReadLE16(h + 4), ymin = ReadLE16(h + 6), xmax = ReadLE16(h + 8), ymax = ReadLE16(h + 10);
  if (xmax < xmin || ymax < ymin)
    return RefuseFile(error, IS_ERR_BADPCX, "PCX window from (%u, %u) to (%u, %u) holds no picture", xmin, ymin, xmax,
                      ymax),
           nullptr;
  const uint64_t w = xmax - xmin + 1ull, rows = ymax - ymin + 1ull;
  const DWORD planeBits = h[3], planes = h[65], bytesPerLine = ReadLE16(h + 66);
  const DWORD fileBits = planeBits * planes;
  auto refuseLayout = [&] {
    return RefuseFile(error, IS_ERR_BADPCX, "PCX of %u plane%s of %u bit%s is none that this build reads", planes,
                      PluralS(planes), planeBits, PluralS(planeBits));
  };
  if (fileBits == 0 || fileBits > 32) return refuseLayout(), nullptr;
  // Bit planes of 1, 2 or 4 bits giving an index of up to 8 bits; byte planes of one index or
  // of R, G, B. Four byte planes (R, G, B and a fourth) are a well-formed file of 32 bits,
  // deeper than any depth read, so they are refused below as deeper than the request.
  const bool bytePlanes = planeBits == 8;
  if (bytePlanes ? (planes != 1 && planes != 3 && planes != 4)
                 : ((planeBits != 1 && planeBits != 2 && planeBits != 4) || fileBits > 8))
    return refuseLayout(), nullptr;
  const bool rgbFile = bytePlanes && planes >= 3;
  if (bytesPerLine < (w * planeBits + 7) / 8)
    return RefuseFile(error, IS_ERR_BADPCX, "PCX lines of %u bytes a plane are too short for %llu pixels of %u bit%s",
                      bytesPerLine, static_cast<unsigned long long>(w), planeBits, PluralS(planeBits)),
           nullptr;
  if (asStored) bits = fileBits == 1 ? 1 : (rgbFile ? 24 : 8);
  if (fileBits > bits) {
    char reason[120];
    std::snprintf(reason, sizeof reason, "PCX of %u bit%s (%u plane%s of %u) is deeper than the %u bit%s asked for",
                  fileBits, fileBits == 1 ? "" : "s", planes, planes == 1 ? "" : "s", planeBits, bits,
                  bits == 1 ? "" : "s");
    ReplaceLastWarning(reason);
    return Fail(error, IS_ERR_BITDEPTH), nullptr;
  }
  if (bits <= 8 && !palette) return Fail(error, IS_ERR_BADPARAM), nullptr;

  RGBQUAD pal[256];
  for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  if (version == 5 && fileBits == 8 && fileSize >= 128 + 769) {
    BYTE tail[769];
    if (!io.Seek(static_cast<int32_t>(fileSize - 769), IS_SEEK_SET) || !io.ReadExact(tail, sizeof tail))
      return RefuseFile(error, IS_ERR_BADPCX, "the 256-colour palette at byte %u cannot be read", fileSize - 769),
             nullptr;
    if (tail[0] == 12)
      for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{tail[3 * i + 3], tail[3 * i + 2], tail[3 * i + 1], 0};
  } else if (fileBits < 8) {
    // The header holds 16 colours; deeper bit-plane files take those and repeat entry 0.
    const DWORD colours = std::min(1u << fileBits, 16u);
    if (fileBits == 1) {
      pal[0] = RGBQUAD{0, 0, 0, 0};
      pal[1] = RGBQUAD{255, 255, 255, 0};
    } else {
      for (DWORD i = 0; i < colours; ++i) pal[i] = RGBQUAD{h[16 + 3 * i + 2], h[16 + 3 * i + 1], h[16 + 3 * i], 0};
    }
    for (DWORD i = colours; i < 256; ++i) pal[i] = pal[0];
  }

  // Before anything is allocated the picture must be one the encoded lines could give.
  const uint64_t lineBytes = uint64_t{bytesPerLine} * planes;
  const uint64_t dataBytes = fileSize > 128 ? fileSize - 128u : 0u;
  if (!encoded) {
    if (!PlainDataAllowed("PCX", w, rows, BudgetMultiply(dataBytes / lineBytes, w), dataBytes,
                          BudgetMultiply(lineBytes, rows)))
      return Fail(error, IS_ERR_BADPCX), nullptr;
  } else if (!RovIrirev::DecodeBudgetAllows(w, rows, BudgetMultiply(DecodableBytes(dataBytes) / lineBytes, w),
                                            dataBytes)) {
    if (dataBytes == 0) ExplainRefusal("the file ends at byte %u, after its header", fileSize);
    return Fail(error, IS_ERR_BADPCX), nullptr;
  }
  const uint64_t outRow = bits == 1 ? (w + 7) / 8 : w * (bits / 8);
  uint64_t outBytes = 0;
  ISArray<BYTE> data, line;
  if (!ISAllocSize(outBytes, outRow, rows) || !ResizeScratch(data, dataBytes) || !ResizeScratch(line, lineBytes))
    return Fail(error, IS_ERR_NOMEM), nullptr;
  if (!io.Seek(128, IS_SEEK_SET) || !io.ReadExact(data.Data(), static_cast<uint32_t>(dataBytes)))
    return RefuseFile(error, IS_ERR_BADPCX, "the %llu bytes of PCX data after the header cannot be read",
                      static_cast<unsigned long long>(dataBytes)),
           nullptr;
  ISOwnedBlock block;
  if (!block.Alloc(outBytes)) return Fail(error, IS_ERR_NOMEM), nullptr;
  BYTE* out = static_cast<BYTE*>(block.Get());
  const BYTE* s = data.Data();
  const BYTE* end = s + dataBytes;
  const DWORD sampleMask = (1u << planeBits) - 1;
  uint64_t decoded = rows;
  for (uint64_t y = 0; y < rows; ++y) {
    if (!ProgressOrStop(error, y, rows)) return nullptr;
    BYTE* o = out + y * outRow;
    // One line of every plane; a run passing the end of the line is cut there. Lines the data
    // does not reach are mid grey (the filler of the JPEG reader), or index 0 at 1 bit.
    BYTE* l = line.Data();
    uint64_t filled = 0;
    if (!encoded) {
      filled = std::min<uint64_t>(lineBytes, static_cast<uint64_t>(end - s));
      if (filled) std::memcpy(l, s, filled);
      s += filled;
    }
    while (encoded && filled < lineBytes && s < end) {
      BYTE b = *s++;
      uint64_t count = 1;
      if (b >= 0xC0) {
        if (s >= end) break;
        count = b & 0x3F;
        b = *s++;
      }
      count = std::min(count, lineBytes - filled);
      std::memset(l + filled, b, count);
      filled += count;
    }
    if (filled < lineBytes) {
      decoded = std::min(decoded, y);
      std::memset(o, bits == 1 ? 0 : 128, outRow);
      continue;
    }
    if (rgbFile) {
      const BYTE* r = l;
      const BYTE* g = l + bytesPerLine;
      const BYTE* b = l + 2ull * bytesPerLine;
      for (uint64_t x = 0; x < w; ++x, o += 3) o[0] = r[x], o[1] = g[x], o[2] = b[x];
      continue;
    }
    for (uint64_t x = 0; x < w; ++x) {
      DWORD index;
      if (bytePlanes) {
        index = l[x];
      } else {
        index = 0;
        const uint64_t bit = x * planeBits;
        const DWORD shift = 8 - planeBits - static_cast<DWORD>(bit & 7);
        for (DWORD p = 0; p < planes; ++p)
          index |= ((l[p * bytesPerLine + (bit >> 3)] >> shift) & sampleMask) << (p * planeBits);
      }
      if (bits == 24) {
        const RGBQUAD& c = pal[index];
        o[3 * x] = c.rgbRed, o[3 * x + 1] = c.rgbGreen, o[3 * x + 2] = c.rgbBlue;
      } else if (bits == 8) {
        o[x] = static_cast<BYTE>(index);
      } else if (index & 1) {
        o[x >> 3] |= static_cast<BYTE>(0x80 >> (x & 7));
      }
    }
  }
  if (decoded < rows) WarnEndedEarly("PCX", decoded, rows);
  if (bits <= 8) std::memcpy(palette, pal, sizeof pal);
  SetSize(width, height, w, rows);
  return static_cast<HGLOBAL>(block.Release());
}
