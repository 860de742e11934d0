// Two-pass triangle resampler for PackedRGB24 pictures: rows to the new width, then columns
// to the new height, each output sample a normalised weighted sum of its source window.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32_types.h"

class CResampler {
 public:
  // Called with a percentage 0..99; a zero reply stops the resampling.
  typedef int (*ProgressCallback)(int percent);

  // The weights of one pass: for each output position the source span left..right and its
  // weights (window-size entries per position; those past right are 0).
  struct Contributions {
    int positions = 0;
    int windowSize = 0;
    std::vector<double> weights;  // positions x windowSize
    std::vector<int32_t> left;
    std::vector<int32_t> right;
  };

  explicit CResampler(ProgressCallback progress = nullptr) : progress_(progress) {}
  virtual ~CResampler() = default;

  // Scales source (sourceWidth x sourceHeight) into destination (newWidth x newHeight x 3
  // bytes, caller-owned). Returns destination; null when stopped, when a side is below 1 or
  // a pointer is null, or when scratch memory can't be had.
  BYTE* Scale(const BYTE* source, int sourceWidth, int sourceHeight, BYTE* destination, int newWidth,
              int newHeight);

  // The contributions for `lineSize` output positions over `sourceSize` source samples,
  // scale = new size / old size. False when memory can't be had.
  static bool CalcContributions(Contributions& list, int lineSize, int sourceSize, double scale);

 private:
  bool ScaleRows(const BYTE* source, int sourceWidth, int height, BYTE* temporary, int newWidth);
  bool ScaleColumns(const BYTE* temporary, int width, int sourceHeight, BYTE* destination, int newHeight);
  bool Report(int percent);

  ProgressCallback progress_;
  bool aborted_ = false;
};
