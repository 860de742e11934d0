// Tone adjustments in place through per-channel 256-entry tables: histogram equalisation of a
// value range, gamma, clipped levels with an optional midpoint curve, and the luma-only
// adjustment. Error codes: 1 no memory, 5 bad argument, 14 stopped by the progress callback.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISContainers.h"
#include "imaging/core/ISPixelHelpers.h"
#include "imaging/core/ISThreadState.h"

namespace {

bool BadImage(const BYTE* pixels, DWORD bytesPerPixel) {
  return !pixels || bytesPerPixel == 0 || bytesPerPixel > 8;
}

// Counts of each value of channel c.
void ChannelHistogram(const BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes, DWORD c,
                      uint64_t hist[256]) {
  std::memset(hist, 0, 256 * sizeof(uint64_t));
  for (DWORD y = 0; y < height; ++y) {
    const BYTE* p = pixels + static_cast<uint64_t>(y) * rowBytes + c;
    for (DWORD x = 0; x < width; ++x, p += bytesPerPixel) ++hist[*p];
  }
}

// Equalisation table of the values inside [low, high]; values outside keep their own value.
void RangeTable(const uint64_t hist[256], DWORD low, DWORD high, BYTE table[256]) {
  for (int i = 0; i < 256; ++i) table[i] = static_cast<BYTE>(i);
  if (low > high) std::swap(low, high);
  if (low > 255) return;
  if (high > 255) high = 255;
  uint64_t inRange = 0;
  for (DWORD v = low; v <= high; ++v) inRange += hist[v];
  if (inRange == 0) return;
  uint64_t cumulative = 0;
  for (DWORD v = low; v <= high; ++v) {
    cumulative += hist[v];
    table[v] = static_cast<BYTE>(cumulative * 255 / inRange);
  }
}

// Levels table: the darkest lowPercent and brightest highPercent of `total` pixels clipped, the
// rest stretched over 0..255; with the midpoint flag a gamma curve then takes the median of the
// stretched channel to 127.5.
void LevelsTable(const uint64_t hist[256], uint64_t total, double lowPercent, double highPercent, DWORD flags,
                 BYTE table[256]) {
  for (int i = 0; i < 256; ++i) table[i] = static_cast<BYTE>(i);
  if (total == 0) return;
  if (!(lowPercent > 0)) lowPercent = 0;
  if (!(highPercent > 0)) highPercent = 0;
  if (lowPercent > 100) lowPercent = 100;
  if (highPercent > 100) highPercent = 100;
  const double lowCount = total * (lowPercent / 100.0);
  const double highCount = total * (highPercent / 100.0);
  // lo: the brightest of the darkest lowCount pixels (at least the darkest value present), so
  // that those pixels become 0; hi likewise from the bright end.
  int minV = 0, maxV = 255;
  while (minV < 255 && hist[minV] == 0) ++minV;
  while (maxV > 0 && hist[maxV] == 0) --maxV;
  int lo = 0;
  uint64_t cumulative = hist[0];
  while (lo < 255 && static_cast<double>(cumulative) < lowCount) cumulative += hist[++lo];
  if (lo < minV) lo = minV;
  int hi = 255;
  cumulative = hist[255];
  while (hi > 0 && static_cast<double>(cumulative) < highCount) cumulative += hist[--hi];
  if (hi > maxV) hi = maxV;
  if (hi <= lo) return;  // nothing left to stretch
  const int span = hi - lo;
  for (int i = 0; i < 256; ++i) {
    const int v = i <= lo ? 0 : (i >= hi ? 255 : (i - lo) * 255 / span);
    table[i] = static_cast<BYTE>(v);
  }
  if (!(flags & kHistogramMidpoint)) return;
  // Median of the stretched channel.
  uint64_t stretched[256] = {};
  for (int i = 0; i < 256; ++i) stretched[table[i]] += hist[i];
  cumulative = 0;
  int median = 0;
  while (median < 255 && (cumulative + stretched[median]) * 2 < total) cumulative += stretched[median++];
  if (median <= 0 || median >= 255) return;
  const double g = std::log(0.5) / std::log(median / 255.0);
  BYTE curve[256];
  for (int i = 0; i < 256; ++i) curve[i] = static_cast<BYTE>(255.0 * std::pow(i / 255.0, g));
  for (int i = 0; i < 256; ++i) table[i] = curve[table[i]];
}

// A double argument taken as a sample value: negatives and NaN are 0, large values 256.
DWORD ValueArgument(double v) { return v > 0 ? static_cast<DWORD>(v < 256 ? v : 256) : 0; }

}  // namespace

bool ApplyChannelTables(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel,
                        DWORD rowBytes, const BYTE* const* tables) {
  error = IS_ERR_OK;
  if (BadImage(pixels, bytesPerPixel) || !tables) return Fail(error, IS_ERR_BADPARAM);
  for (DWORD y = 0; y < height; ++y) {
    BYTE* row = pixels + static_cast<uint64_t>(y) * rowBytes;
    for (DWORD c = 0; c < bytesPerPixel; ++c) {
      const BYTE* t = tables[c];
      if (!t) continue;
      BYTE* p = row + c;
      for (DWORD x = 0; x < width; ++x, p += bytesPerPixel) *p = t[*p];
    }
    if (!ReportProgress(y, height)) return Fail(error, IS_ERR_STOPPED);
  }
  return true;
}

bool RemapChannelRange(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel,
                       DWORD rowBytes, DWORD low, DWORD high, DWORD channelMask) {
  error = IS_ERR_OK;
  if (BadImage(pixels, bytesPerPixel)) return Fail(error, IS_ERR_BADPARAM);
  BYTE tables[8][256];
  const BYTE* use[8] = {};
  uint64_t hist[256];
  for (DWORD c = 0; c < bytesPerPixel; ++c) {
    if (!(channelMask & (1u << c))) continue;
    ChannelHistogram(pixels, width, height, bytesPerPixel, rowBytes, c, hist);
    RangeTable(hist, low, high, tables[c]);
    use[c] = tables[c];
  }
  return ApplyChannelTables(error, pixels, width, height, bytesPerPixel, rowBytes, use);
}

bool ApplyGamma(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel, DWORD rowBytes,
                double gamma, DWORD flags) {
  error = IS_ERR_OK;
  if (BadImage(pixels, bytesPerPixel) || gamma < 0 || std::isnan(gamma)) return Fail(error, IS_ERR_BADPARAM);
  const double exponent = gamma == 0 ? 1.0 : 1.0 / gamma;
  BYTE table[256];
  for (int i = 0; i < 256; ++i) {
    const double v = 256.0 * std::pow(i / 256.0, exponent);
    table[i] = static_cast<BYTE>(v >= 255.0 ? 255 : v);
  }
  const BYTE* use[8] = {};
  for (DWORD c = 0; c < bytesPerPixel; ++c) use[c] = table;
  if (bytesPerPixel == 4 && !(flags & 1)) use[3] = nullptr;
  return ApplyChannelTables(error, pixels, width, height, bytesPerPixel, rowBytes, use);
}

bool HistogramAdjust(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel,
                     DWORD rowBytes, double lowPercent, double highPercent, DWORD flags, DWORD channelMask) {
  error = IS_ERR_OK;
  if (BadImage(pixels, bytesPerPixel)) return Fail(error, IS_ERR_BADPARAM);
  BYTE tables[8][256];
  const BYTE* use[8] = {};
  uint64_t hist[256];
  const uint64_t total = static_cast<uint64_t>(width) * height;
  for (DWORD c = 0; c < bytesPerPixel; ++c) {
    if (!(channelMask & (1u << c))) continue;
    ChannelHistogram(pixels, width, height, bytesPerPixel, rowBytes, c, hist);
    LevelsTable(hist, total, lowPercent, highPercent, flags, tables[c]);
    use[c] = tables[c];
  }
  return ApplyChannelTables(error, pixels, width, height, bytesPerPixel, rowBytes, use);
}

bool LumaChromaAdjust(ISErrorCode& error, BYTE* pixels, DWORD width, DWORD height, DWORD bytesPerPixel,
                      DWORD rowBytes, DWORD method, double low, double high, DWORD flags) {
  error = IS_ERR_OK;
  if (!pixels || (bytesPerPixel != 3 && bytesPerPixel != 4) || method > 1) return Fail(error, IS_ERR_BADPARAM);
  if (width == 0 || height == 0) return true;
  const uint64_t n = static_cast<uint64_t>(width) * height;
  if (n >= 0x80000000u) return Fail(error, IS_ERR_NOMEM);
  ISArray<BYTE> grey;
  grey.Resize(static_cast<uint32_t>(n));
  ISArray<BYTE> original;
  original.Resize(static_cast<uint32_t>(n));
  if (!grey.Data() || !original.Data()) return Fail(error, IS_ERR_NOMEM);
  for (DWORD y = 0; y < height; ++y) {
    const BYTE* p = pixels + static_cast<uint64_t>(y) * rowBytes;
    BYTE* g = grey.Data() + static_cast<uint64_t>(y) * width;
    for (DWORD x = 0; x < width; ++x, p += bytesPerPixel)
      g[x] = static_cast<BYTE>(0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]);
  }
  std::memcpy(original.Data(), grey.Data(), n);
  {
    // The grey adjustment is part of this operation and reports no progress of its own.
    ISCallDepthGuard nested(GetThreadState());
    const bool ok = method == 0
                        ? HistogramAdjust(error, grey.Data(), width, height, 1, width, low, high, flags, 1)
                        : RemapChannelRange(error, grey.Data(), width, height, 1, width, ValueArgument(low),
                                            ValueArgument(high), 1);
    if (!ok) return false;
  }
  for (DWORD y = 0; y < height; ++y) {
    BYTE* p = pixels + static_cast<uint64_t>(y) * rowBytes;
    const BYTE* g = grey.Data() + static_cast<uint64_t>(y) * width;
    const BYTE* o = original.Data() + static_cast<uint64_t>(y) * width;
    for (DWORD x = 0; x < width; ++x, p += bytesPerPixel) {
      const int delta = static_cast<int>(g[x]) - o[x];
      for (int c = 0; c < 3; ++c) {
        const int v = p[c] + delta;
        p[c] = static_cast<BYTE>(v < 0 ? 0 : (v > 255 ? 255 : v));
      }
    }
    if (!ReportProgress(y, height)) return Fail(error, IS_ERR_STOPPED);
  }
  return true;
}
