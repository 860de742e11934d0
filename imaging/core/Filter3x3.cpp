// 3x3 neighbourhood filters: sharpen, soften and median, edges repeating their own samples.
// Errors: 5 null or shared buffers or more than 8 bytes per pixel, 14 stopped.
#include <algorithm>
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
  const double keep = 1.0 - f;
  const int maxV = static_cast<int>(std::min<uint32_t>(maxValue, 0x7FFFFFFF));
  const uint32_t n = bytesPerPixel;
  uint32_t channels[8];
  uint32_t channelCount = 0;
  for (uint32_t c = 0; c < n; ++c)
    if (channelMask & (1u << c)) channels[channelCount++] = c;

  // The soften's two products depend on S / 8 (0..510) and C (0..255) alone.
  std::vector<double> softS, softC;
  if (mode == kFilterSoften) {
    softS.resize(511);
    softC.resize(256);
    for (int i = 0; i < 511; ++i) softS[i] = i * f;
    for (int i = 0; i < 256; ++i) softC[i] = i * keep;
  }

  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* mid = source + size_t(y) * sourceRowBytes;
    const uint8_t* up = y > 0 ? mid - sourceRowBytes : mid;
    const uint8_t* down = y + 1 < height ? mid + sourceRowBytes : mid;
    uint8_t* out = destination + size_t(y) * destinationRowBytes;
    if (channelCount) {
      for (uint32_t x = 0; x < width; ++x) {
        const size_t o = size_t(x) * n;
        const size_t l = x > 0 ? o - n : o;
        const size_t r = x + 1 < width ? o + n : o;
        for (uint32_t k = 0; k < channelCount; ++k) {
          const uint32_t c = channels[k];
          const int C = mid[o + c];
          if (mode == kFilterMedian) {
            // The same network as Median9, on the samples as integers (same order, same result).
            int v[9] = {up[l + c], up[o + c], up[r + c], mid[l + c], C, mid[r + c], down[l + c], down[o + c],
                        down[r + c]};
            out[o + c] = static_cast<uint8_t>(MedianNetwork(v));
            continue;
          }
          const int S = up[l + c] + up[o + c] + up[r + c] + mid[l + c] + mid[r + c] + down[l + c] + down[o + c] +
                        down[r + c];
          double v;
          if (mode == kFilterSharpen)
            v = C - (S - 8 * C) * f;
          else
            v = softS[S / 8] + softC[C];
          out[o + c] = Limit(static_cast<int>(v), maxV);
        }
      }
    }
    if (!ProgressOrStop(error, y, height, ISStopRule::kZeroOnly)) return false;
  }
  return true;
}
