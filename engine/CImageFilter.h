// The program's own pixel filters on PackedRGB24 pictures (rows top-down without padding,
// bytes R, G, B): automatic levels, blending, gamma, cast removal, saturation, black-frame
// subtraction and hot-pixel removal. Every operation works in place on the caller's memory.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

class CImageFilter {
 public:
  CImageFilter() = default;
  virtual ~CImageFilter() = default;

  // Stretches the luminance so that lowClip/255 of the pixels fall to black and
  // (255 - highClip)/255 rise to white, moving R, G and B of each pixel by its luminance
  // change. Stores the black and white points found. 1 done; 0 for a null picture, bad
  // sizes or when the luminance map can't be had (the picture is then unchanged).
  BOOL AutoLevels(BYTE* image, int width, int height, int lowClip, int highClip);
  // The same stretch with the points stored by the last AutoLevels.
  BOOL ApplyLevels(BYTE* image, int width, int height);
  // Mixes source into destination with the opacity (0..1); integer mode 0 truncates the sum
  // of the two weighted values, any other mode sums the truncated parts. 0 when refused.
  BOOL Blend(BYTE* destination, int width, int height, const BYTE* source, int sourceWidth, int sourceHeight,
             double opacity, int integerMode);
  // All three channels through t[i] = trunc((i / 256)^(1 / gamma) * 256); gamma 0 is the
  // identity. 0 for a null picture or a gamma that is not >= 0.
  BOOL Gamma(BYTE* image, int width, int height, double gamma);
  // Bytes selected by the mask (1: byte 0, 2: byte 1, 4: byte 2) through the table. 0 for a
  // null picture or table, or when the low eight bits of the mask are 0.
  BOOL ApplyLut(BYTE* image, int width, int height, int channelMask, const BYTE* table);
  // Cast removal: bends blue by the gamma; with mode 1 and a gamma below 1, green too.
  void ColorCastGamma(BYTE* image, int width, int height, double gamma, int mode);
  // Skin smoothing: the picture mixed from a softened copy (max(trunc(3 radius), 1) passes of
  // the library's 3x3 soften) in bright areas and a sharpened copy in dark ones; with the
  // pink-tones flag, reddish pixels are also brightened. 1 done; 0 for a null picture, bad
  // sizes, scratch memory that can't be had or a failed library filter (the picture is then
  // unchanged).
  BOOL SmoothSkin(BYTE* image, int width, int height, double radius, int pinkTones);
  // Saturation change; 128 leaves the picture as it is, 0 halves the saturation.
  void Saturation(BYTE* image, int width, int height, int amount);
  // output = max(a - b, 0) for every byte.
  void SubtractFrame(BYTE* output, int width, int height, const BYTE* a, const BYTE* b);
  // Darkens pixels that stand out above the median of their window (3, 5, 7 or 9: other
  // sizes are held to 3..9 and an even one becomes the next odd one). Pixels within the
  // window's radius of an edge stay. 1 done; 0 for null pictures, bad sizes or when the
  // scratch memory can't be had (the output is then unchanged).
  BOOL RemoveHotPixels(BYTE* output, int width, int height, const BYTE* source, int strength, int window);

  int GetBlackPoint() const { return blackPoint; }
  int GetWhitePoint() const { return whitePoint; }

  // Luminance map: one byte trunc(0.299 R + 0.587 G + 0.114 B) per pixel. 0 for null pointers.
  static BOOL ToLuminance(const BYTE* image, int width, int height, BYTE* map);
  // Median of nine samples.
  static BYTE Median9(const BYTE* v);

 private:
  // Finds and stores the points from a luminance histogram of n pixels (percentages of
  // pixels clipped to black and to white).
  void FindPoints(const uint64_t* histogram, uint64_t n, double lowPercent, double highPercent);
  // Luminance, then each channel moved by the stretch of the stored points.
  BOOL StretchLevels(BYTE* image, int width, int height, bool findPoints, double lowPercent, double highPercent);

  int32_t blackPoint = 0;
  int32_t whitePoint = 255;
};
