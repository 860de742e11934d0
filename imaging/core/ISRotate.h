// Quarter turns, flips and mirrors of 8-bit-sample, 16-bit-sample and 1-bit images, and the
// row copies the DIB and format layers share.
//
// Every operation here takes the caller's error word first, sets it to 0 on entry and leaves
// the failure code in it when it returns false (5 bad argument, 1 no scratch memory, 14
// stopped by the progress callback). They report progress through ReportProgress, which only
// speaks at call depth 1: an operation that calls one of these inside its own work holds an
// ISCallDepthGuard around the call so that the inner one stays silent.
#pragma once

#include <cstdint>

#include "qrv/imaging.h"

// Rotation modes: 0 a quarter turn clockwise (the top row becomes the right column), 1 a half
// turn, 2 a quarter turn counter-clockwise. A quarter turn gives an image `height` pixels
// wide and `width` pixels tall.
enum : uint32_t { kRotateClockwise = 0, kRotateHalf = 1, kRotateCounterClockwise = 2 };

// Two-buffer rotation of pixels of `bytesPerPixel` 8-bit samples.
bool Rotate8(ISErrorCode& error, const uint8_t* source, uint32_t width, uint32_t height, uint32_t sourceRowBytes,
             uint8_t* destination, uint32_t destinationRowBytes, uint32_t mode, uint32_t bytesPerPixel);
// The same for pixels of `samplesPerPixel` 16-bit samples; both strides count samples.
bool Rotate16(ISErrorCode& error, const uint16_t* source, uint32_t width, uint32_t height, uint32_t sourceStride,
              uint16_t* destination, uint32_t destinationStride, uint32_t mode, uint32_t samplesPerPixel);
// In place over packed rows (row bytes = width x bytes per pixel before and after).
bool Rotate8InPlace(ISErrorCode& error, uint8_t* buffer, uint32_t width, uint32_t height, uint32_t mode,
                    uint32_t bytesPerPixel);
bool Rotate16InPlace(ISErrorCode& error, uint16_t* buffer, uint32_t width, uint32_t height, uint32_t mode,
                     uint32_t samplesPerPixel);

// 1-bit images, leftmost pixel in the top bit. Mode word: bits 0-1 the rotation; bit 3 set
// means the destination was cleared before, so only set bits are ORed in.
enum : uint32_t { kRotate1BitDestinationCleared = 8 };
bool Rotate1Bit(ISErrorCode& error, const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
                uint32_t modeWord, uint32_t sourceRowBytes, uint32_t destinationRowBytes);

// Exchanges rows i and height - 1 - i, in place.
bool FlipVertical(ISErrorCode& error, uint8_t* buffer, uint32_t rowBytes, uint32_t height);
// Left-right mirrors, in place.
bool MirrorHorizontal(ISErrorCode& error, uint8_t* buffer, uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                      uint32_t rowBytes);
bool MirrorHorizontal16(ISErrorCode& error, uint16_t* buffer, uint32_t width, uint32_t height,
                        uint32_t samplesPerPixel, uint32_t rowStride);
bool MirrorHorizontal1Bit(ISErrorCode& error, uint8_t* buffer, uint32_t width, uint32_t height, uint32_t rowBytes);

// Shifts a row of `byteCount` bytes left by `bits` (1..7) bits; zeros come in on the right.
int ShiftRowBitsLeft(uint8_t* row, uint32_t byteCount, uint32_t bits);

// Copies `rowCount` rows, each of the lesser of the two row-bytes values.
bool CopyRows(ISErrorCode& error, const uint8_t* source, uint32_t sourceRowBytes, uint32_t rowCount,
              uint32_t destinationRowBytes, uint8_t* destination);

// Packed 3-byte pixels (width x height, top row first) into rows `destinationRowBytes` apart,
// last source row first; bytes 0 and 2 of every pixel exchanged unless keepOrder is set.
// Returns an error code: 0, or 5 for a zero size or a null buffer.
ISErrorCode RGB24ToBottomUpRows(const uint8_t* source, uint8_t* destination, uint32_t width, uint32_t height,
                                uint32_t destinationRowBytes, bool keepOrder);
