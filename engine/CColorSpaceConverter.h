// Converts PackedRGB24 pictures from the colour space of DiMAGE cameras to sRGB: camera
// values are linearised, taken to XYZ (D50) by the camera matrix, to linear sRGB by the
// inverse of the sRGB matrix, shaped by a tone table and encoded with the sRGB curve.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

class CColorSpaceConverter {
 public:
  static constexpr int kCurvePoints = 512;

  CColorSpaceConverter() = default;
  virtual ~CColorSpaceConverter() = default;

  // Builds the linearisation and encoding tables and the combined matrix C = S^-1 K.
  void Setup();
  // Converts the picture in place (gamut mode 0: out-of-range values are clamped).
  void Convert(BYTE* image, int width, int height);
  // Converts one pixel of three bytes. Gamut mode 1 writes magenta (255, 0, 255) for a pixel
  // whose linear sRGB value lies outside 0..1. Setup must have run.
  void ConvertPixel(const BYTE* source, BYTE* destination, int gamutMode) const;

  // sRGB to XYZ and camera RGB to XYZ, row-major.
  static const double kS[3][3];
  static const double kK[3][3];
  // The camera's linearisation curve T and the tone table U, 512 entries each, increasing
  // from 0 to 1.
  static const double* CurveT();
  static const double* CurveU();

  const double (&Matrix() const)[3][3] { return C_; }
  double Linear(int i) const { return lin_[i]; }
  BYTE Encoded(int i) const { return enc_[i]; }

 private:
  double lin_[256] = {};
  BYTE enc_[1024] = {};
  double C_[3][3] = {};
};
