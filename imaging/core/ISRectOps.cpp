// Rectangle crop, paste (8- and 16-bit samples, 4- and 1-bit pixels) and fill, each clipped to
// the buffers it touches. Error codes: 1 no memory for blend tables, 5 bad argument, 14 stopped.
#include <algorithm>
#include <cstring>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISContainers.h"
#include "imaging/core/ISPixelHelpers.h"
#include "imaging/core/ISThreadState.h"

namespace {

inline int64_t Limit(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// The pastes of 8- and 16-bit samples share one body; Max is the largest sample value.
template <typename T, uint32_t Max>
bool PasteSamples(ISErrorCode& error, T* destination, DWORD destinationWidth, DWORD destinationHeight,
                  const T* source, DWORD sourceWidth, DWORD sourceHeight, LONG x, LONG y, double opacity,
                  DWORD samplesPerPixel, DWORD destinationRowStride, DWORD sourceRowStride, DWORD modeWord) {
  error = IS_ERR_OK;
  if (!destination || !source || static_cast<const void*>(destination) == static_cast<const void*>(source))
    return Fail(error, IS_ERR_BADPARAM);
  const bool bottomUp = (modeWord & kPasteBottomUp) != 0;
  const DWORD mode = modeWord & ~kPasteBottomUp;
  if (mode > 19) return Fail(error, IS_ERR_BADPARAM);
  if (opacity > 1.0) opacity = 1.0;
  if (!(opacity > 0.0)) opacity = 0.0;  // also a NaN
  const bool copy = opacity == 1.0;
  if (mode <= 1 && opacity == 0.0) return true;
  // Only the plain blend of mode 0 and the copies are built; the further combinations of the
  // other modes are refused rather than guessed.
  if (!copy && mode != 0) return Fail(error, IS_ERR_BADPARAM);
  if (copy && mode > 1) return Fail(error, IS_ERR_BADPARAM);

  const ISClip c = ClipRect(x, y, sourceWidth, sourceHeight, destinationWidth, destinationHeight);
  if (c.Empty()) return true;

  ISArray<T> a, b;
  if (!copy) {
    a.Resize(Max + 1);
    b.Resize(Max + 1);
    if (!a.Data() || !b.Data()) return Fail(error, IS_ERR_NOMEM);
    for (uint32_t v = 0; v <= Max; ++v) {
      a[v] = static_cast<T>((1.0 - opacity) * v);
      b[v] = static_cast<T>(opacity * v);
    }
  }
  const uint64_t n = static_cast<uint64_t>(c.x1 - c.x0) * samplesPerPixel;
  const DWORD rows = static_cast<DWORD>(c.y1 - c.y0);
  for (int64_t row = c.y0; row < c.y1; ++row) {
    const int64_t sy = bottomUp ? (sourceHeight - 1 - (row - y)) : (row - y);
    const T* s = source + static_cast<uint64_t>(sy) * sourceRowStride + static_cast<uint64_t>(c.x0 - x) * samplesPerPixel;
    T* d = destination + static_cast<uint64_t>(row) * destinationRowStride + static_cast<uint64_t>(c.x0) * samplesPerPixel;
    if (copy) {
      std::memmove(d, s, n * sizeof(T));
    } else {
      const T* ta = a.Data();
      const T* tb = b.Data();
      for (uint64_t i = 0; i < n; ++i) d[i] = static_cast<T>(ta[d[i]] + tb[s[i]]);
    }
    if (!ReportProgress(static_cast<DWORD>(row - c.y0), rows)) return Fail(error, IS_ERR_STOPPED);
  }
  return true;
}

inline BYTE GetNibble(const BYTE* row, int64_t x) { return (x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4); }
inline void SetNibble(BYTE* row, int64_t x, BYTE v) {
  BYTE& b = row[x >> 1];
  b = (x & 1) ? static_cast<BYTE>((b & 0xF0) | v) : static_cast<BYTE>((b & 0x0F) | (v << 4));
}
inline BYTE GetBit(const BYTE* row, int64_t x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }
inline void SetBit(BYTE* row, int64_t x, BYTE v) {
  const BYTE m = static_cast<BYTE>(0x80 >> (x & 7));
  if (v)
    row[x >> 3] |= m;
  else
    row[x >> 3] &= static_cast<BYTE>(~m);
}

}  // namespace

ISClip ClipRect(int64_t x, int64_t y, int64_t rectWidth, int64_t rectHeight, int64_t width, int64_t height) {
  ISClip c;
  c.x0 = Limit(x, 0, width);
  c.x1 = Limit(x + rectWidth, 0, width);
  c.y0 = Limit(y, 0, height);
  c.y1 = Limit(y + rectHeight, 0, height);
  return c;
}

bool CropRect(ISErrorCode& error, const BYTE* source, BYTE* destination, DWORD width, DWORD height,
              DWORD bytesPerPixel, LONG x, LONG y, DWORD rectWidth, DWORD rectHeight, DWORD sourceRowBytes,
              DWORD destinationRowBytes) {
  error = IS_ERR_OK;
  if (!source || !destination || source == destination || x < 0 || y < 0 || static_cast<DWORD>(x) >= width ||
      static_cast<DWORD>(y) >= height || rectWidth > width || rectHeight > height ||
      static_cast<uint64_t>(x) + rectWidth > width || static_cast<uint64_t>(y) + rectHeight > height ||
      sourceRowBytes < static_cast<uint64_t>(width) * bytesPerPixel ||
      destinationRowBytes < static_cast<uint64_t>(rectWidth) * bytesPerPixel)
    return Fail(error, IS_ERR_BADPARAM);
  const uint64_t n = static_cast<uint64_t>(rectWidth) * bytesPerPixel;
  for (DWORD r = 0; r < rectHeight; ++r) {
    const DWORD sy = static_cast<DWORD>(y) + r;
    std::memcpy(destination + static_cast<uint64_t>(r) * destinationRowBytes,
                source + static_cast<uint64_t>(sy) * sourceRowBytes + static_cast<uint64_t>(x) * bytesPerPixel, n);
    if (!ReportProgress(sy, height, false)) return Fail(error, IS_ERR_STOPPED);
  }
  return true;
}

bool PasteRect8(ISErrorCode& error, BYTE* destination, DWORD destinationWidth, DWORD destinationHeight,
                const BYTE* source, DWORD sourceWidth, DWORD sourceHeight, LONG x, LONG y, double opacity,
                DWORD bytesPerPixel, DWORD destinationRowBytes, DWORD sourceRowBytes, DWORD mode) {
  error = IS_ERR_OK;
  return PasteSamples<BYTE, 255>(error, destination, destinationWidth, destinationHeight, source, sourceWidth,
                                 sourceHeight, x, y, opacity, bytesPerPixel, destinationRowBytes, sourceRowBytes,
                                 mode);
}

bool PasteRect16(ISErrorCode& error, uint16_t* destination, DWORD destinationWidth, DWORD destinationHeight,
                 const uint16_t* source, DWORD sourceWidth, DWORD sourceHeight, LONG x, LONG y, double opacity,
                 DWORD samplesPerPixel, DWORD destinationRowStride, DWORD sourceRowStride, DWORD mode) {
  error = IS_ERR_OK;
  return PasteSamples<uint16_t, 65535>(error, destination, destinationWidth, destinationHeight, source, sourceWidth,
                                       sourceHeight, x, y, opacity, samplesPerPixel, destinationRowStride,
                                       sourceRowStride, mode);
}

bool PasteRect4Bit(ISErrorCode& error, BYTE* destination, DWORD destinationWidth, DWORD destinationHeight,
                   DWORD destinationRowBytes, const BYTE* source, DWORD sourceWidth, DWORD sourceHeight,
                   DWORD sourceRowBytes, LONG x, LONG y, DWORD /*flags*/) {
  error = IS_ERR_OK;
  if (!destination || !source || destination == source) return Fail(error, IS_ERR_BADPARAM);
  const ISClip c = ClipRect(x, y, sourceWidth, sourceHeight, destinationWidth, destinationHeight);
  if (c.Empty()) return true;
  const DWORD rows = static_cast<DWORD>(c.y1 - c.y0);
  const bool aligned = (c.x0 % 2 == 0) && (static_cast<int64_t>(x) % 2 == 0);
  for (int64_t row = c.y0; row < c.y1; ++row) {
    const BYTE* s = source + static_cast<uint64_t>(row - y) * sourceRowBytes;
    BYTE* d = destination + static_cast<uint64_t>(row) * destinationRowBytes;
    int64_t col = c.x0;
    if (aligned) {
      const int64_t pairs = (c.x1 - c.x0) / 2;
      std::memmove(d + c.x0 / 2, s + (c.x0 - x) / 2, static_cast<size_t>(pairs));
      col += 2 * pairs;
    }
    for (; col < c.x1; ++col) SetNibble(d, col, GetNibble(s, col - x));
    if (!ReportProgress(static_cast<DWORD>(row - c.y0), rows, false)) return Fail(error, IS_ERR_STOPPED);
  }
  return true;
}

bool PasteRect1Bit(ISErrorCode& error, BYTE* destination, DWORD destinationWidth, DWORD destinationHeight,
                   DWORD destinationRowBytes, const BYTE* source, DWORD sourceWidth, DWORD sourceHeight,
                   DWORD sourceRowBytes, LONG x, LONG y, DWORD flags) {
  error = IS_ERR_OK;
  if (!destination || !source || destination == source) return Fail(error, IS_ERR_BADPARAM);
  const ISClip c = ClipRect(x, y, sourceWidth, sourceHeight, destinationWidth, destinationHeight);
  if (c.Empty()) return true;
  const bool bottomUp = (flags & kPaste1BitBottomUp) != 0;
  const bool transparent = (flags & kPaste1BitTransparent) != 0;
  const BYTE value = (flags & kPaste1BitValue) ? 1 : 0;
  const DWORD rows = static_cast<DWORD>(c.y1 - c.y0);
  const bool aligned = (c.x0 % 8 == 0) && (static_cast<int64_t>(x) % 8 == 0);
  for (int64_t row = c.y0; row < c.y1; ++row) {
    const int64_t sy = bottomUp ? (sourceHeight - 1 - (row - y)) : (row - y);
    const BYTE* s = source + static_cast<uint64_t>(sy) * sourceRowBytes;
    BYTE* d = destination + static_cast<uint64_t>(row) * destinationRowBytes;
    int64_t col = c.x0;
    if (!transparent) {
      if (aligned) {
        const int64_t bytes = (c.x1 - c.x0) / 8;
        std::memmove(d + c.x0 / 8, s + (c.x0 - x) / 8, static_cast<size_t>(bytes));
        col += 8 * bytes;
      }
      for (; col < c.x1; ++col) SetBit(d, col, GetBit(s, col - x));
    } else {
      for (; col < c.x1; ++col)
        if (GetBit(s, col - x) == value) SetBit(d, col, value);
    }
    if (!ReportProgress(static_cast<DWORD>(row - c.y0), rows, false)) return Fail(error, IS_ERR_STOPPED);
  }
  return true;
}

bool FillRect(ISErrorCode& error, BYTE* buffer, DWORD width, DWORD height, DWORD rowBytes, LONG x, LONG y,
              DWORD rectWidth, DWORD rectHeight, COLORREF colour, DWORD bytesPerPixel, DWORD flags) {
  error = IS_ERR_OK;
  if (!buffer || (bytesPerPixel != 3 && bytesPerPixel != 4)) return Fail(error, IS_ERR_BADPARAM);
  if (rectWidth == 0 || rectHeight == 0) return true;
  const ISClip c = ClipRect(x, y, rectWidth, rectHeight, width, height);
  if (c.Empty()) return true;
  BYTE px[4] = {GetRValue(colour), GetGValue(colour), GetBValue(colour), static_cast<BYTE>(colour >> 24)};
  if (flags & 1) std::swap(px[0], px[2]);
  bool same = px[0] == px[1] && px[1] == px[2] && (bytesPerPixel == 3 || px[2] == px[3]);
  const bool whole = same && c.x0 == 0 && c.y0 == 0 && c.x1 == width && c.y1 == height;
  const uint64_t n = static_cast<uint64_t>(c.x1 - c.x0) * bytesPerPixel;
  const DWORD rows = static_cast<DWORD>(c.y1 - c.y0);
  for (int64_t row = c.y0; row < c.y1; ++row) {
    BYTE* d = buffer + static_cast<uint64_t>(row) * rowBytes;
    if (whole) {
      std::memset(d, px[0], rowBytes);  // the whole buffer, row padding included
    } else if (same) {
      std::memset(d + c.x0 * bytesPerPixel, px[0], n);
    } else {
      BYTE* p = d + c.x0 * bytesPerPixel;
      for (int64_t col = c.x0; col < c.x1; ++col, p += bytesPerPixel) std::memcpy(p, px, bytesPerPixel);
    }
    if (!ReportProgress(static_cast<DWORD>(row - c.y0), rows, false)) return Fail(error, IS_ERR_STOPPED);
  }
  return true;
}
