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

// Bilinear resize. Errors: 5 a zero size, depth or buffer, or row bytes below width x bytes
// per pixel; 1 no room for the column tables; 14 stopped.
bool ResizeBilinear(ISErrorCode& error, const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight,
                    uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                    uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes);
bool ResizeBilinearCore(ISErrorCode& error, const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight,
                        uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                        uint32_t bytesPerPixel, uint32_t sourceRowBytes, uint32_t destinationRowBytes);

// Bicubic resize by cubic convolution (a = -1). Errors: 5 a null or shared buffer or a zero
// size; 1 no room for the tables; 14 stopped (by a reply of exactly 0).
bool ResizeBicubic(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t sourceRowBytes,
                   uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                   uint32_t destinationRowBytes, uint32_t bytesPerPixel, uint32_t maxValue, ISErrorCode& error);
bool ResizeBicubicCore(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t sourceRowBytes,
                       uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                       uint32_t destinationRowBytes, uint32_t bytesPerPixel, uint32_t maxValue, ISErrorCode& error);

// A resampling kernel: its value at t.
typedef double (*ISResampleKernel)(double t);
double BoxKernel(double t);
double TriangleKernel(double t);
double HammingKernel(double t);
double GaussianKernel(double t);
double BellKernel(double t);
double BSplineKernel(double t);
double HermiteKernel(double t);
double Lanczos3Kernel(double t);
double MitchellKernel(double t);
double SincKernel(double t);
double HanningKernel(double t);
double CatmullRomKernel(double t);
// The kernel and support of filter index 0..13; returns 0, or 5 (outputs untouched) above 13.
ISErrorCode SelectResampleFilter(ISResampleKernel* kernel, double* support, uint32_t index);

// Two-pass filtered resampling with filter 0..13 (8 = Lanczos3). Errors: 5 a null buffer, a
// zero size or depth, or a filter above 13; 68 a destination side below the filter's rounded-up
// support; 1 no room for the contributor lists or the intermediate column; 14 stopped (by a
// reply of exactly 0).
bool ResampleImage(ISErrorCode& error, const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight,
                   uint8_t* destination, uint32_t destinationWidth, uint32_t destinationHeight,
                   uint32_t bytesPerPixel, uint32_t filter, uint32_t sourceRowBytes, uint32_t destinationRowBytes);
