// The resampler's passes. Weights are computed once per pass and output position; each
// sample accumulates in a float (product and sum taken in double) over its source window
// from left to right and is written as trunc(sum + 0.5). The column pass runs row by row,
// accumulating whole source rows into a row of accumulators: the order of the terms of every
// sample is unchanged, so the result is the same as column by column.
#include "engine/CResampler.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>

#include "engine/CResampleFilter.h"
#include "engine/CScratchBuffer.h"
#include "platform/thread_pool.h"

namespace {

inline BYTE ToByte(float accumulator) {
  const int v = static_cast<int>(accumulator + 0.5);
  return static_cast<BYTE>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

}  // namespace

bool CResampler::CalcContributions(Contributions& list, int lineSize, int sourceSize, double scale) {
  if (lineSize < 1 || sourceSize < 1 || !(scale > 0.0)) return false;
  CBilinearFilter filter(1.0);
  double width = filter.GetWidth();
  double fscale = 1.0;
  if (scale < 1.0) {
    width = width / scale;
    fscale = scale;
  }
  // Window 2 ceil(w) + 1. A span never holds more than sourceSize samples, so when the
  // window would be larger than twice the line (an absurd shrink) the line's length serves
  // as well and keeps the list's size bounded.
  const double window = 2 * std::ceil(width) + 1;
  list.windowSize = window > 2.0 * sourceSize + 1 || window > 0x7FFFFFFF ? sourceSize : static_cast<int>(window);
  list.positions = lineSize;
  try {
    list.weights.assign(static_cast<size_t>(lineSize) * static_cast<size_t>(list.windowSize), 0.0);
    list.left.assign(static_cast<size_t>(lineSize), 0);
    list.right.assign(static_cast<size_t>(lineSize), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int u = 0; u < lineSize; ++u) {
    const double center = u / scale;
    int left = static_cast<int>(std::floor(center - width));
    if (left < 0) left = 0;
    const double rightEdge = std::ceil(center + width);
    int right = rightEdge >= sourceSize - 1 ? sourceSize - 1 : static_cast<int>(rightEdge);
    if (right - left + 1 > list.windowSize) ++left;
    double* w = &list.weights[static_cast<size_t>(u) * static_cast<size_t>(list.windowSize)];
    double total = 0.0;
    for (int i = left; i <= right; ++i) {
      const double weight = fscale * filter.Filter(fscale * (center - i));
      w[i - left] = weight;
      total += weight;
    }
    if (total > 0.0)
      for (int i = left; i <= right; ++i) w[i - left] /= total;
    list.left[static_cast<size_t>(u)] = left;
    list.right[static_cast<size_t>(u)] = right;
  }
  return true;
}

bool CResampler::Report(int percent) {
  if (progress_ && progress_(percent) == 0) aborted_ = true;
  return !aborted_;
}

bool CResampler::ScaleRows(const BYTE* source, int sourceWidth, int height, BYTE* temporary, int newWidth) {
  Contributions list;
  if (!CalcContributions(list, newWidth, sourceWidth, static_cast<double>(newWidth) / sourceWidth)) return false;
  const size_t window = static_cast<size_t>(list.windowSize);
  auto rows = [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
      if (progress_ && !Report(static_cast<int>(static_cast<double>(y) / height * 50.0))) return false;
      const BYTE* in = source + static_cast<size_t>(y) * static_cast<size_t>(sourceWidth) * 3;
      BYTE* out = temporary + static_cast<size_t>(y) * static_cast<size_t>(newWidth) * 3;
      for (int x = 0; x < newWidth; ++x) {
        const int left = list.left[static_cast<size_t>(x)];
        const int right = list.right[static_cast<size_t>(x)];
        const double* w = &list.weights[static_cast<size_t>(x) * window];
        float r = 0.0f, g = 0.0f, b = 0.0f;
        const BYTE* p = in + static_cast<size_t>(left) * 3;
        for (int i = 0; i <= right - left; ++i, p += 3) {
          r = static_cast<float>(r + w[i] * p[0]);
          g = static_cast<float>(g + w[i] * p[1]);
          b = static_cast<float>(b + w[i] * p[2]);
        }
        out[3 * x] = ToByte(r);
        out[3 * x + 1] = ToByte(g);
        out[3 * x + 2] = ToByte(b);
      }
    }
    return true;
  };
  // With a progress callback the rows run in order on this thread, reporting as they go.
  if (progress_) return rows(0, height);
  qrv::ParallelRows(static_cast<uint32_t>(height), 16,
                    [&](uint32_t y0, uint32_t y1) { rows(static_cast<int>(y0), static_cast<int>(y1)); });
  return true;
}

bool CResampler::ScaleColumns(const BYTE* temporary, int width, int sourceHeight, BYTE* destination,
                              int newHeight) {
  Contributions list;
  if (!CalcContributions(list, newHeight, sourceHeight, static_cast<double>(newHeight) / sourceHeight))
    return false;
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  const size_t window = static_cast<size_t>(list.windowSize);
  auto rows = [&](int y0, int y1) {
    CScratchBuffer<float> accumulators;
    if (!accumulators.Allocate(rowBytes)) return false;
    float* acc = accumulators.get();
    for (int y = y0; y < y1; ++y) {
      if (progress_ && !Report(50 + static_cast<int>(static_cast<double>(y) / newHeight * 50.0))) return false;
      const int left = list.left[static_cast<size_t>(y)];
      const int right = list.right[static_cast<size_t>(y)];
      const double* w = &list.weights[static_cast<size_t>(y) * window];
      std::fill(acc, acc + rowBytes, 0.0f);
      for (int i = 0; i <= right - left; ++i) {
        const double weight = w[i];
        const BYTE* in = temporary + static_cast<size_t>(left + i) * rowBytes;
        for (size_t k = 0; k < rowBytes; ++k) acc[k] = static_cast<float>(acc[k] + weight * in[k]);
      }
      BYTE* out = destination + static_cast<size_t>(y) * rowBytes;
      for (size_t k = 0; k < rowBytes; ++k) out[k] = ToByte(acc[k]);
    }
    return true;
  };
  if (progress_) return rows(0, newHeight);
  std::atomic<bool> ok{true};
  qrv::ParallelRows(static_cast<uint32_t>(newHeight), 16, [&](uint32_t y0, uint32_t y1) {
    if (!rows(static_cast<int>(y0), static_cast<int>(y1))) ok = false;
  });
  return ok;
}

BYTE* CResampler::Scale(const BYTE* source, int sourceWidth, int sourceHeight, BYTE* destination, int newWidth,
                        int newHeight) {
  aborted_ = false;
  if (!source || !destination || sourceWidth < 1 || sourceHeight < 1 || newWidth < 1 || newHeight < 1)
    return nullptr;
  CScratchBuffer<BYTE> temporary;
  if (!temporary.Allocate(static_cast<uint64_t>(newWidth) * static_cast<uint64_t>(sourceHeight) * 3))
    return nullptr;
  if (!ScaleRows(source, sourceWidth, sourceHeight, temporary.get(), newWidth)) return nullptr;
  if (!ScaleColumns(temporary.get(), newWidth, sourceHeight, destination, newHeight)) return nullptr;
  return destination;
}
