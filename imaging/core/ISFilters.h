// Neighbourhood filters over images of 8-bit samples: the 3x3 sharpen, soften and median, the
// Gaussian blur, the unsharp mask and Crimmins speckle reduction.
//
// Image arguments: pixels, width, height, bytes per pixel, row bytes (the bytes past width x
// bytes per pixel are never touched). Channel mask bit i selects byte i of a pixel; a channel
// whose bit is clear is not written at all. The conventions of ISRotate.h hold: error word
// first (0 on entry, the code on a false return), progress only at call depth 1.
#pragma once

#include <cstdint>

#include "imaging/core/ISContainers.h"
#include "qrv/imaging.h"

enum : uint32_t { kFilterSharpen = 0, kFilterSoften = 1, kFilterMedian = 2 };

// 3x3 filters; amount 0..100 (clamped), mode kFilterSharpen / kFilterSoften / kFilterMedian.
// Errors: 5 null or shared buffers or more than 8 bytes per pixel; 14 stopped.
bool Filter3x3(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
               uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes, int32_t amount,
               uint32_t mode, uint32_t channelMask);
bool Filter3x3Core(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width,
                   uint32_t height, uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes,
                   int32_t amount, uint32_t mode, uint32_t channelMask, uint32_t maxValue);
// The median of nine values (they are reordered).
double Median9(double v[9]);

// Normalised Gaussian taps: 2 x ceil(2.5 sigma) + 1 of them. False when they cannot be held.
bool MakeGaussianKernel(double sigma, ISArray<float>& kernel);
// Separable Gaussian blur with taps outside the image left out and the rest renormalised.
// Errors: 5 null or shared buffers, 1 no room for the kernel or the float buffer, 14 stopped.
bool GaussianBlur(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width,
                  uint32_t height, uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes,
                  double sigma, uint32_t channelMask);
bool GaussianBlurCore(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width,
                      uint32_t height, uint32_t bytesPerPixel, uint32_t sourceRowBytes,
                      uint32_t destinationRowBytes, double sigma, uint32_t channelMask);

// Unsharp mask: the blurred image (sigma = radius) sharpens the source where the difference
// exceeds the threshold. Errors: 5, 1, 14 as the blur.
bool UnsharpMask(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
                 uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes, uint32_t threshold,
                 double amount, double radius, uint32_t channelMask);

// Crimmins speckle reduction, one iteration, in place. The channel is worked in a buffer with
// a one-sample border that always repeats the nearest edge sample, so that the picture's edge
// is treated like its interior.
struct ISSpeckleContext {
  ISErrorCode error = IS_ERR_OK;
  static const int kDx[4];  // 0, 1, 1, -1: vertical, horizontal, falling and rising diagonal
  static const int kDy[4];  // 1, 0, 1, 1
  uint32_t width = 0;       // of the rows being worked (the buffers are width + 2 by height + 2)
  uint32_t height = 0;
  ISArray<uint8_t> work;
  uint32_t bandRows = 0;    // rows finished per band of the channel; 0: the default
};
// Errors: 5 null image, 1 no room for the buffers, 14 stopped.
bool ReduceSpeckle(ISSpeckleContext& ctx, uint8_t* image, uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                   uint32_t rowBytes, uint32_t channelMask);
bool ReduceSpeckleChannel(ISSpeckleContext& ctx, uint8_t* channel, uint32_t width, uint32_t height,
                          uint32_t rowBytes, uint32_t bytesPerPixel);
// One direction (four steps) and one step over the padded buffer; the context's width,
// height and work buffer (same size as the padded buffer) must be set.
void CrimminsDirection(ISSpeckleContext& ctx, int direction, uint8_t* padded);
void CrimminsStep(ISSpeckleContext& ctx, int dx, int dy, int sign, uint8_t* padded);
// Makes the border of a padded (width + 2) x (height + 2) buffer repeat its edge samples.
void RefreshPaddedBorder(uint8_t* padded, uint32_t width, uint32_t height);
