// Size changes of images of 8-bit samples: box reduction by whole-pixel blocks, bilinear and
// bicubic resize, and filtered two-pass resampling with fourteen kernels.
//
// The conventions of the image operations hold (see ISRotate.h): error word set to 0 on entry
// and holding the failure code on a false return; progress only at call depth 1.
#pragma once

#include <cstdint>

#include "qrv/imaging.h"

// Averages n x n blocks (n = the lesser whole step of the two directions) into a smaller
// destination; equal sizes copy the rows. maxValue is the largest sample (255).
// Errors: 5 null buffer, a destination side of 0 or larger than the source's, or blocks so
// large that their sums could overflow; 14 stopped.
bool BoxReduce(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint8_t* destination,
               uint32_t bytesPerPixel, uint32_t destinationWidth, uint32_t destinationHeight,
               uint32_t sourceRowBytes, uint32_t destinationRowBytes, uint32_t maxValue, ISErrorCode& error);
