// Red/blue exchanges, grey conversion, palette expansion and row unpacking and packing.
// Error codes: 5 bad argument, 14 stopped by the progress callback.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISPixelHelpers.h"

#include <cstring>

#include "imaging/core/ISThreadState.h"

namespace {

template <typename T>
inline void SwapRow(T* p, DWORD width, DWORD step) {
  for (DWORD x = 0; x < width; ++x, p += step) {
    T t = p[0];
    p[0] = p[2];
    p[2] = t;
  }
}

inline BYTE MaskChannel(DWORD p, DWORD mask, int shift) {
  DWORD v = p & mask;
  return static_cast<BYTE>(shift >= 0 ? (v >> shift) : (v << -shift));
}

}  // namespace

ISColourTable::ISColourTable(const RGBQUAD* palette, DWORD count, bool keepOrder) {
  if (!palette || count == 0) {
    std::memset(rgb, 0, sizeof rgb);
    return;
  }
  const DWORD n = count > 256 ? 256 : count;
  for (DWORD i = 0; i < 256; ++i) {
    const BYTE* e = reinterpret_cast<const BYTE*>(&palette[i < n ? i : 0]);
    rgb[i][0] = keepOrder ? e[0] : e[2];
    rgb[i][1] = e[1];
    rgb[i][2] = keepOrder ? e[2] : e[0];
  }
}

// ---------------------------------------------------------------------------------------
// Red/blue exchanges
// ---------------------------------------------------------------------------------------

bool SwapRB24(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD rowBytes) {
  error = IS_ERR_OK;
  if (!pixels) return Fail(error, IS_ERR_BADPARAM);
  for (DWORD y = 0; y < height; ++y) SwapRow(pixels + static_cast<uint64_t>(y) * rowBytes, width, 3);
  return true;
}

bool SwapRB32(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD rowBytes) {
  error = IS_ERR_OK;
  if (!pixels) return Fail(error, IS_ERR_BADPARAM);
  for (DWORD y = 0; y < height; ++y) SwapRow(pixels + static_cast<uint64_t>(y) * rowBytes, width, 4);
  return true;
}

bool SwapRB48(ISErrorCode& error, uint16_t* pixels, DWORD width, DWORD height, DWORD rowStride) {
  error = IS_ERR_OK;
  if (!pixels) return Fail(error, IS_ERR_BADPARAM);
  for (DWORD y = 0; y < height; ++y) SwapRow(pixels + static_cast<uint64_t>(y) * rowStride, width, 3);
  return true;
}

void SwapRB24Run(BYTE* pixels, DWORD width, DWORD height) {
  uint64_t n = static_cast<uint64_t>(width) * height;
  for (BYTE* p = pixels; n; --n, p += 3) {
    BYTE t = p[0];
    p[0] = p[2];
    p[2] = t;
  }
}

void SwapRB32Run(BYTE* pixels, DWORD width, DWORD height) {
  uint64_t n = static_cast<uint64_t>(width) * height;
  for (BYTE* p = pixels; n; --n, p += 4) {
    BYTE t = p[0];
    p[0] = p[2];
    p[2] = t;
  }
}

// ---------------------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------------------

bool RGBToGrey(ISErrorCode& error, const BYTE* source, DWORD width, DWORD height, DWORD bytesPerPixel,
               DWORD sourceRowBytes, DWORD destinationRowBytes, DWORD flags, BYTE* destination) {
  error = IS_ERR_OK;
  if (!source || !destination || (bytesPerPixel != 3 && bytesPerPixel != 4)) return Fail(error, IS_ERR_BADPARAM);
  const int ri = (flags & 1) ? 2 : 0;
  const int bi = 2 - ri;
  for (DWORD y = 0; y < height; ++y) {
    const BYTE* s = source + static_cast<uint64_t>(y) * sourceRowBytes;
    BYTE* d = destination + static_cast<uint64_t>(y) * destinationRowBytes;
    for (DWORD x = 0; x < width; ++x, s += bytesPerPixel)
      d[x] = static_cast<BYTE>((601u * s[1] + 306u * s[ri] + 117u * s[bi]) >> 10);
    if (!ReportProgress(y, height)) return Fail(error, IS_ERR_STOPPED);
  }
  return true;
}

bool PaletteToRGB(ISErrorCode& error, const BYTE* indices, BYTE* destination, DWORD width, DWORD height,
                  DWORD indexRowBytes, DWORD destinationRowBytes, DWORD paletteCount, const RGBQUAD* palette,
                  DWORD flags) {
  error = IS_ERR_OK;
  if (!indices || !destination || !palette) return Fail(error, IS_ERR_BADPARAM);
  const ISColourTable lut(palette, paletteCount, (flags & 1) != 0);
  for (DWORD y = 0; y < height; ++y) {
    const BYTE* s = indices + static_cast<uint64_t>(y) * indexRowBytes;
    BYTE* d = destination + static_cast<uint64_t>(y) * destinationRowBytes;
    for (DWORD x = 0; x < width; ++x, d += 3) {
      const BYTE* c = lut.rgb[s[x]];
      d[0] = c[0];
      d[1] = c[1];
      d[2] = c[2];
    }
    if (!ReportProgress(y, height)) return Fail(error, IS_ERR_STOPPED);
  }
  return true;
}

bool RGB24ToRGBA32(ISErrorCode& error, const BYTE* source, DWORD width, DWORD height, DWORD sourceRowBytes,
                   DWORD destinationRowBytes, BYTE alpha, BYTE* destination) {
  error = IS_ERR_OK;
  if (!source || !destination) return Fail(error, IS_ERR_BADPARAM);
  for (DWORD y = 0; y < height; ++y) {
    const BYTE* s = source + static_cast<uint64_t>(y) * sourceRowBytes;
    BYTE* d = destination + static_cast<uint64_t>(y) * destinationRowBytes;
    for (DWORD x = 0; x < width; ++x, s += 3, d += 4) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = alpha;
    }
    if (!ReportProgress(y, height, false)) return Fail(error, IS_ERR_STOPPED);
  }
  return true;
}

int ColourMaskShifts(const DWORD* colourMasks, int shifts[3], DWORD pixelBits) {
  if (!colourMasks) return 0;
  const DWORD limit = pixelBits >= 32 ? 32 : pixelBits;
  for (int c = 0; c < 3; ++c) {
    const DWORD m = limit >= 32 ? colourMasks[c] : (colourMasks[c] & ((1u << limit) - 1));
    shifts[c] = 0;
    if (!m) continue;
    int low = __builtin_ctz(m);
    int top = low;
    while (top + 1 < 32 && (m & (1u << (top + 1)))) ++top;
    shifts[c] = top - 7;
  }
  return 1;
}

bool IndexedRowToRGB(const BYTE* row, BYTE* destination, DWORD width, DWORD bitsPerPixel, const RGBQUAD* palette,
                     DWORD paletteCount, const DWORD* colourMasks, bool addAlpha, BYTE alpha) {
  if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8)
    return IndexedRowToRGB(row, destination, width, bitsPerPixel, nullptr, colourMasks, addAlpha, alpha);
  const ISColourTable colours(palette, paletteCount);
  return IndexedRowToRGB(row, destination, width, bitsPerPixel, &colours, colourMasks, addAlpha, alpha);
}

bool IndexedRowToRGB(const BYTE* row, BYTE* destination, DWORD width, DWORD bitsPerPixel, const ISColourTable* colours,
                     const DWORD* colourMasks, bool addAlpha, BYTE alpha) {
  const DWORD step = addAlpha ? 4 : 3;
  BYTE* d = destination;
  switch (bitsPerPixel) {
    case 1:
    case 4:
    case 8: {
      if (!colours) return false;
      const ISColourTable& lut = *colours;
      for (DWORD x = 0; x < width; ++x, d += step) {
        BYTE i;
        if (bitsPerPixel == 8)
          i = row[x];
        else if (bitsPerPixel == 4)
          i = (x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4);
        else
          i = (row[x >> 3] >> (7 - (x & 7))) & 1;
        const BYTE* c = lut.rgb[i];
        d[0] = c[0];
        d[1] = c[1];
        d[2] = c[2];
        if (addAlpha) d[3] = alpha;
      }
      return true;
    }
    case 16: {
      int shifts[3];
      const bool masked = ColourMaskShifts(colourMasks, shifts, 16) != 0;
      for (DWORD x = 0; x < width; ++x, d += step) {
        const DWORD p = ReadLE16(row + 2 * static_cast<uint64_t>(x));
        if (masked) {
          d[0] = MaskChannel(p, colourMasks[0] & 0xFFFF, shifts[0]);
          d[1] = MaskChannel(p, colourMasks[1] & 0xFFFF, shifts[1]);
          d[2] = MaskChannel(p, colourMasks[2] & 0xFFFF, shifts[2]);
        } else {
          d[0] = static_cast<BYTE>(((p >> 10) & 31) * 255 / 31);
          d[1] = static_cast<BYTE>(((p >> 5) & 31) * 255 / 31);
          d[2] = static_cast<BYTE>((p & 31) * 255 / 31);
        }
        if (addAlpha) d[3] = alpha;
      }
      return true;
    }
    case 24: {
      const BYTE* s = row;
      for (DWORD x = 0; x < width; ++x, s += 3, d += step) {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
        if (addAlpha) d[3] = alpha;
      }
      return true;
    }
    case 32: {
      int shifts[3];
      const bool masked = ColourMaskShifts(colourMasks, shifts, 32) != 0;
      const BYTE* s = row;
      for (DWORD x = 0; x < width; ++x, s += 4, d += step) {
        const DWORD p = ReadLE32(s);
        if (masked) {
          d[0] = MaskChannel(p, colourMasks[0], shifts[0]);
          d[1] = MaskChannel(p, colourMasks[1], shifts[1]);
          d[2] = MaskChannel(p, colourMasks[2], shifts[2]);
        } else {
          d[0] = static_cast<BYTE>(p >> 16);
          d[1] = static_cast<BYTE>(p >> 8);
          d[2] = static_cast<BYTE>(p);
        }
        if (addAlpha) d[3] = static_cast<BYTE>(p >> 24);
      }
      return true;
    }
    default:
      return false;
  }
}

void UnpackRowTo8(const BYTE* row, BYTE* destination, DWORD width, DWORD bitsPerPixel) {
  switch (bitsPerPixel) {
    case 1:
      for (DWORD x = 0; x < width; ++x) destination[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
      break;
    case 4:
      for (DWORD x = 0; x < width; ++x) destination[x] = (x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4);
      break;
    case 8:
      std::memmove(destination, row, width);
      break;
    default:
      break;
  }
}

void Pack2BitTo4Bit(const BYTE* row, BYTE* destination, DWORD bitsPerPixel, DWORD width) {
  if (bitsPerPixel != 2) return;
  // Each source byte holds four pixels and becomes two destination bytes.
  const DWORD full = width / 4;
  for (DWORD i = 0; i < full; ++i) {
    const BYTE b = row[i];
    destination[2 * i] = static_cast<BYTE>(((b >> 6) << 4) | ((b >> 4) & 3));
    destination[2 * i + 1] = static_cast<BYTE>((((b >> 2) & 3) << 4) | (b & 3));
  }
  for (DWORD x = full * 4; x < width; ++x) {
    const BYTE v = (row[x >> 2] >> (6 - 2 * (x & 3))) & 3;
    BYTE& d = destination[x >> 1];
    if (x & 1)
      d = static_cast<BYTE>((d & 0xF0) | v);
    else
      d = static_cast<BYTE>(v << 4);  // low nibble 0 until the odd pixel fills it
  }
}

bool UnpackBits(ISErrorCode& error, const BYTE* source, DWORD count, DWORD rows, DWORD bits, BYTE* destination) {
  error = IS_ERR_OK;
  if (!source || !destination || bits == 0 || bits > 8) return Fail(error, IS_ERR_BADPARAM);
  const uint64_t n = static_cast<uint64_t>(count) * rows;
  if (bits == 8) {
    std::memcpy(destination, source, n);
    return true;
  }
  if (8 % bits == 0) {
    const DWORD per = 8 / bits;
    const BYTE mask = static_cast<BYTE>((1u << bits) - 1);
    for (uint64_t i = 0; i < n; ++i) {
      const DWORD k = static_cast<DWORD>(i % per);
      destination[i] = (source[i / per] >> (8 - bits * (k + 1))) & mask;
    }
    return true;
  }
  // Depths that straddle bytes: a running bit buffer.
  const DWORD mask = (1u << bits) - 1;
  uint32_t acc = 0;
  DWORD have = 0;
  const BYTE* s = source;
  for (uint64_t i = 0; i < n; ++i) {
    if (have < bits) {
      acc = (acc << 8) | *s++;
      have += 8;
    }
    have -= bits;
    destination[i] = static_cast<BYTE>((acc >> have) & mask);
  }
  return true;
}

bool PackRowBits(ISErrorCode& error, const BYTE* source, DWORD width, DWORD height, DWORD sourceRowBytes,
                 BYTE* destination, DWORD bits) {
  error = IS_ERR_OK;
  if (!source || !destination || bits == 0 || bits > 8) return Fail(error, IS_ERR_BADPARAM);
  const DWORD mask = (1u << bits) - 1;
  uint32_t acc = 0;
  DWORD have = 0;
  BYTE* d = destination;
  for (DWORD y = 0; y < height; ++y) {
    const BYTE* s = source + static_cast<uint64_t>(y) * sourceRowBytes;
    if (bits == 8 && have == 0) {
      std::memcpy(d, s, width);
      d += width;
    } else {
      for (DWORD x = 0; x < width; ++x) {
        acc = (acc << bits) | (s[x] & mask);
        have += bits;
        if (have >= 8) {
          have -= 8;
          *d++ = static_cast<BYTE>(acc >> have);
        }
      }
    }
    if (!ReportProgress(y, height)) return Fail(error, IS_ERR_STOPPED);
  }
  if (have) *d = static_cast<BYTE>(acc << (8 - have));
  return true;
}
