// Per-channel tone tables built from a levels mapping (input black and white, output black
// and white, gamma) and applied to PackedRGB24 pictures (bytes R, G, B per pixel).
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

class CToneCurve {
 public:
  // Tables 1 to 3 (bytes 0, 1, 2 of a pixel) start as the identity.
  CToneCurve();
  virtual ~CToneCurve();
  CToneCurve(const CToneCurve&) = delete;
  CToneCurve& operator=(const CToneCurve&) = delete;

  // The levels mapping of x (0..1) to a value nominally 0..1.
  static double Levels(int inBlack, int inWhite, int outBlack, int outWhite, double gamma, double x);
  // Fill table 2 (byte 1, green) or table 3 (byte 2, blue) from Levels.
  void SetLevels2(int inBlack, int inWhite, int outBlack, int outWhite, double gamma);
  void SetLevels3(int inBlack, int inWhite, int outBlack, int outWhite, double gamma);

  // Byte 2 of each pixel through table 3; nothing for a null picture.
  void ApplyThird(BYTE* image, int width, int height) const;
  // Bytes 0, 1, 2 through tables 1, 2, 3; nothing for a null picture.
  void ApplyAll(BYTE* image, int width, int height) const;

  // Entry i of table 1, 2 or 3 (tests and callers that inspect a curve).
  uint32_t Entry(int table, int i) const { return tables_[table - 1][i]; }

 private:
  void FillFromLevels(uint32_t* table, int inBlack, int inWhite, int outBlack, int outWhite, double gamma);

  // Four tables of 256 entries; the fourth is kept for the layout and unused.
  uint32_t tables_[4][256];
};
