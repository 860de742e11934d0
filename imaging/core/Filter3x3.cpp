// 3x3 neighbourhood filters: sharpen, soften and median, edges repeating their own samples.
// Errors: 5 null or shared buffers or more than 8 bytes per pixel, 14 stopped.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "imaging/core/ISFilters.h"
#include "imaging/core/ISOpSupport.h"

namespace {

template <typename T>
inline void Sort2(T& a, T& b) {
  const T lo = std::min(a, b);
  b = std::max(a, b);
  a = lo;
}

// A fixed 19-step compare-and-exchange network that leaves the median in p[4].
template <typename T>
inline T MedianNetwork(T* p) {
  Sort2(p[1], p[2]); Sort2(p[4], p[5]); Sort2(p[7], p[8]);
  Sort2(p[0], p[1]); Sort2(p[3], p[4]); Sort2(p[6], p[7]);
  Sort2(p[1], p[2]); Sort2(p[4], p[5]); Sort2(p[7], p[8]);
  Sort2(p[0], p[3]); Sort2(p[5], p[8]); Sort2(p[4], p[7]);
  Sort2(p[3], p[6]); Sort2(p[1], p[4]); Sort2(p[2], p[5]);
  Sort2(p[4], p[7]); Sort2(p[4], p[2]); Sort2(p[6], p[4]);
  Sort2(p[4], p[2]);
  return p[4];
}

// Limits a truncated filter result: 0 or less -> 0, at or above the maximum -> the maximum.
inline uint8_t Limit(int v, int maxValue) {
  if (v <= 0) return 0;
  if (v >= maxValue) return static_cast<uint8_t>(maxValue);
  return static_cast<uint8_t>(v);
}

}  // namespace

double Median9(double v[9]) { return MedianNetwork(v); }

bool Filter3x3(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
               uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes, int32_t amount,
               uint32_t mode, uint32_t channelMask) {
  return Filter3x3Core(error, source, destination, width, height, bytesPerPixel, sourceRowBytes,
                       destinationRowBytes, amount, mode, channelMask, 255);
}

namespace {

// One row of a 3x3 filter over every byte of its pixels: up, mid and down are the rows above,
// at and below (the row itself at the picture's edges), n the bytes per pixel.
struct Filter3x3Row {
  uint32_t mode;
  double f, keep;
  int maxV;
  uint32_t n;

  // The value of byte i whose left and right neighbours are at i - l and i + r.
  inline uint8_t One(const uint8_t* up, const uint8_t* mid, const uint8_t* down, size_t i, size_t l,
                     size_t r) const {
    const int C = mid[i];
    if (mode == kFilterMedian) {
      int v[9] = {up[i - l], up[i], up[i + r], mid[i - l], C, mid[i + r], down[i - l], down[i], down[i + r]};
      return static_cast<uint8_t>(MedianNetwork(v));
    }
    const int S = up[i - l] + up[i] + up[i + r] + mid[i - l] + mid[i + r] + down[i - l] + down[i] + down[i + r];
    const double v = mode == kFilterSharpen ? C - (S - 8 * C) * f : (S / 8) * f + C * keep;
    return Limit(static_cast<int>(v), maxV);
  }

  void Run(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint8_t* out, uint32_t width) const {
    const size_t bytes = size_t(width) * n;
    if (width <= 2) {
      for (size_t i = 0; i < bytes; ++i) {
        const size_t x = i / n;
        out[i] = One(up, mid, down, i, x > 0 ? n : 0, x + 1 < width ? n : 0);
      }
      return;
    }
    // Edge pixels repeat their own samples; the inner bytes all have both neighbours n away,
    // in loops of whole-vector operations.
    for (size_t i = 0; i < n; ++i) out[i] = One(up, mid, down, i, 0, n);
    for (size_t i = bytes - n; i < bytes; ++i) out[i] = One(up, mid, down, i, n, 0);
    const ptrdiff_t k = n;
    const size_t lo = n, hi = bytes - n;
    if (mode == kFilterMedian) {
      for (size_t i = lo; i < hi; ++i) {
        uint8_t v[9] = {up[i - k], up[i], up[i + k], mid[i - k], mid[i], mid[i + k], down[i - k], down[i], down[i + k]};
        out[i] = MedianNetwork(v);
      }
    } else if (mode == kFilterSharpen) {
      for (size_t i = lo; i < hi; ++i) {
        const int C = mid[i];
        const int S = up[i - k] + up[i] + up[i + k] + mid[i - k] + mid[i + k] + down[i - k] + down[i] + down[i + k];
        const int v = static_cast<int>(C - (S - 8 * C) * f);
        out[i] = static_cast<uint8_t>(v <= 0 ? 0 : v >= maxV ? maxV : v);
      }
    } else {
      for (size_t i = lo; i < hi; ++i) {
        const int C = mid[i];
        const int S = up[i - k] + up[i] + up[i + k] + mid[i - k] + mid[i + k] + down[i - k] + down[i] + down[i + k];
        const int v = static_cast<int>((S >> 3) * f + C * keep);
        out[i] = static_cast<uint8_t>(v <= 0 ? 0 : v >= maxV ? maxV : v);
      }
    }
  }
};

}  // namespace

bool Filter3x3Core(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width,
                   uint32_t height, uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes,
                   int32_t amount, uint32_t mode, uint32_t channelMask, uint32_t maxValue) {
  error = IS_ERR_OK;
  if (!source || !destination || source == destination || bytesPerPixel > 8 || mode > kFilterMedian) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  amount = std::min(std::max(amount, 0), 100);
  const double f = mode == kFilterSharpen ? amount * 0.005 : amount * 0.01;
  const uint32_t n = bytesPerPixel;
  const Filter3x3Row filter{mode, f, 1.0 - f, static_cast<int>(std::min<uint32_t>(maxValue, 0x7FFFFFFF)), n};
  uint32_t masked = 0;
  for (uint32_t c = 0; c < n; ++c) masked += (channelMask >> c) & 1u;
  const bool every = masked == n;
  const size_t rowBytes = size_t(width) * n;

  auto rows = [&](uint32_t y0, uint32_t y1) {
    if (!masked) return;
    std::vector<uint8_t> temp(every ? 0 : rowBytes);
    for (uint32_t y = y0; y < y1; ++y) {
      const uint8_t* mid = source + size_t(y) * sourceRowBytes;
      const uint8_t* up = y > 0 ? mid - sourceRowBytes : mid;
      const uint8_t* down = y + 1 < height ? mid + sourceRowBytes : mid;
      uint8_t* out = destination + size_t(y) * destinationRowBytes;
      if (every) {
        filter.Run(up, mid, down, out, width);
        continue;
      }
      // Some channels only: the whole row is worked and the masked bytes are copied out.
      filter.Run(up, mid, down, temp.data(), width);
      for (size_t i = 0; i < rowBytes; i += n)
        for (uint32_t c = 0; c < n; ++c)
          if ((channelMask >> c) & 1u) out[i + c] = temp[i + c];
    }
  };
  return RunRowsReported(error, height, 16, height, ISStopRule::kZeroOnly, rows);
}
