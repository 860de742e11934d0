// Separable Gaussian blur: a horizontal pass into a float buffer, then a vertical pass into
// the destination; taps outside the image are left out and the rest renormalised.
// Errors: 5 null or shared buffers, 1 no room for the kernel or the buffer, 14 stopped.
#include <algorithm>
#include <cmath>
#include <vector>

#include "imaging/core/ISFilters.h"
#include "imaging/core/ISOpSupport.h"

namespace {

// Kernels longer than this are refused (error 1): a sigma of about 400000 and more, far past
// any picture, whose per-pixel work would never end.
constexpr double kMaxKernelTaps = 1 << 20;

inline bool UsableWeight(double w) { return w != 0.0 && !std::isnan(w); }

// One row of the horizontal pass: out[x] = sum K[i + half] * in[x + i] / sum K[i + half] over
// the taps inside the row, summed in tap order.
void BlurRow(const double* in, uint32_t w, const double* k, int half, double fullSum, double* acc, float* out) {
  const int64_t W = w;
  const int64_t innerLo = std::min<int64_t>(half, W);
  const int64_t innerHi = std::max<int64_t>(innerLo, W - half);  // [innerLo, innerHi): every tap inside
  // Edge columns: bounds per tap.
  auto edge = [&](int64_t x) {
    double a = 0.0, s = 0.0;
    // Only the taps that land inside the row, in tap order.
    const int64_t lo = std::max<int64_t>(-half, -x), hi = std::min<int64_t>(half, W - 1 - x);
    for (int64_t i = lo; i <= hi; ++i) {
      a += k[i + half] * in[x + i];
      s += k[i + half];
    }
    out[x] = UsableWeight(s) ? static_cast<float>(a / s) : 0.0f;
  };
  for (int64_t x = 0; x < innerLo; ++x) edge(x);
  for (int64_t x = std::max(innerHi, innerLo); x < W; ++x) edge(x);
  if (innerHi <= innerLo) return;
  // Interior: every tap is inside; the taps run outermost so that the columns vectorise, and
  // each output still sums its products in tap order.
  const int64_t count = innerHi - innerLo;
  double* a = acc;
  std::fill(a, a + count, 0.0);
  for (int64_t t = 0; t <= 2 * half; ++t) {
    const double kt = k[t];
    const double* src = in + innerLo - half + t;
    for (int64_t x = 0; x < count; ++x) a[x] += kt * src[x];
  }
  float* o = out + innerLo;
  if (UsableWeight(fullSum)) {
    for (int64_t x = 0; x < count; ++x) o[x] = static_cast<float>(a[x] / fullSum);
  } else {
    std::fill(o, o + count, 0.0f);
  }
}

}  // namespace

bool MakeGaussianKernel(double sigma, ISArray<float>& kernel) {
  const double taps = 2.0 * std::ceil(2.5 * sigma) + 1.0;
  if (!(taps >= 1.0) || taps > kMaxKernelTaps) {
    kernel.Free();
    return false;
  }
  const int n = static_cast<int>(taps);
  const int half = n / 2;
  kernel.Resize(static_cast<uint32_t>(n));
  if (!kernel.Data()) return false;
  const double scale = std::sqrt(6.2831853) * sigma;
  double sum = 0.0;
  for (int k = 0; k < n; ++k) {
    const double i = k - half;
    const double v = std::pow(2.71828, i * i * (-0.5) / (sigma * sigma)) / scale;
    kernel[k] = static_cast<float>(v);
    sum += v;
  }
  const double inv = 1.0 / sum;
  for (int k = 0; k < n; ++k) kernel[k] = static_cast<float>(kernel[k] * inv);
  return true;
}

bool GaussianBlur(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width,
                  uint32_t height, uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes,
                  double sigma, uint32_t channelMask) {
  return GaussianBlurCore(error, source, destination, width, height, bytesPerPixel, sourceRowBytes,
                          destinationRowBytes, sigma, channelMask);
}

bool GaussianBlurCore(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width,
                      uint32_t height, uint32_t bytesPerPixel, uint32_t sourceRowBytes,
                      uint32_t destinationRowBytes, double sigma, uint32_t channelMask) {
  error = IS_ERR_OK;
  if (!source || !destination || source == destination) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  if (!(sigma > 0.0)) sigma = 0.0;  // also a sigma that is not a number
  ISArray<float> kernel;
  ISArray<float> buffer;
  if (!MakeGaussianKernel(sigma, kernel) ||
      (uint64_t(width) * height > 0 && !ResizeScratch(buffer, uint64_t(width) * height))) {
    error = IS_ERR_NOMEM;
    return false;
  }
  const int half = static_cast<int>(kernel.Count() / 2);
  const int taps = static_cast<int>(kernel.Count());
  std::vector<double> k(kernel.Data(), kernel.Data() + taps);
  double fullSum = 0.0;
  for (int t = 0; t < taps; ++t) fullSum += k[t];
  const uint32_t w = width, h = height, n = bytesPerPixel;
  std::vector<double> row(w), acc(w);
  float* buf = buffer.Data();

  for (uint32_t c = 0; c < n; ++c) {
    const bool masked = (channelMask & (c < 32 ? 1u << c : 0u)) != 0;
    if (masked && w && h) {
      for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* s = source + size_t(y) * sourceRowBytes + c;
        for (uint32_t x = 0; x < w; ++x) row[x] = s[size_t(x) * n];
        BlurRow(row.data(), w, k.data(), half, fullSum, acc.data(), buf + size_t(y) * w);
      }
    }
    // An unmasked channel gives only the second of its two reports.
    if (masked && !ProgressOrStop(error, 2 * uint64_t(c), 2 * uint64_t(n))) return false;
    if (masked && w && h) {
      for (uint32_t y = 0; y < h; ++y) {
        // The taps whose rows are inside, and their weight sum in tap order.
        const int lo = -static_cast<int>(std::min<uint32_t>(y, half));
        const int hi = static_cast<int>(std::min<uint32_t>(h - 1 - y, half));
        double wsum = 0.0;
        for (int i = lo; i <= hi; ++i) wsum += k[i + half];
        uint8_t* d = destination + size_t(y) * destinationRowBytes + c;
        if (!UsableWeight(wsum)) {
          const uint8_t* s = source + size_t(y) * sourceRowBytes + c;
          for (uint32_t x = 0; x < w; ++x) d[size_t(x) * n] = s[size_t(x) * n];
          continue;
        }
        std::fill(acc.begin(), acc.end(), 0.0);
        double* a = acc.data();
        for (int i = lo; i <= hi; ++i) {
          const double ki = k[i + half];
          const float* b = buf + size_t(int64_t(y) + i) * w;
          for (uint32_t x = 0; x < w; ++x) a[x] += ki * b[x];
        }
        for (uint32_t x = 0; x < w; ++x) {
          // trunc(acc / wsum + 0.5), the conversion truncating (the value lies in 0..255.5).
          const double v = a[x] / wsum + 0.5;
          d[size_t(x) * n] = !(v > 0.0) ? 0 : v >= 255.0 ? 255 : static_cast<uint8_t>(static_cast<int>(v));
        }
      }
    }
    if (!ProgressOrStop(error, 2 * uint64_t(c) + 1, 2 * uint64_t(n))) return false;
  }
  return true;
}
