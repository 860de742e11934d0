// Levels tables: v = (255x - inBlack) / (inWhite - inBlack), bent by 1/gamma (odd-symmetric
// for negative v), stretched to the output range; entries are rounded and held to 0..255.
#include "engine/CToneCurve.h"

#include <cmath>
#include <cstddef>

#include "engine/PixelBands.h"

CToneCurve::CToneCurve() {
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 256; ++i) tables_[t][i] = static_cast<uint32_t>(i);
}

CToneCurve::~CToneCurve() = default;

double CToneCurve::Levels(int inBlack, int inWhite, int outBlack, int outWhite, double gamma, double x) {
  double v = 255.0 * x - inBlack;
  if (inWhite != inBlack) v /= static_cast<double>(inWhite - inBlack);
  if (gamma != 0.0) {
    double e = 1.0 / gamma;
    v = v >= 0.0 ? std::pow(v, e) : -std::pow(-v, e);
  }
  if (outWhite >= outBlack)
    v = static_cast<double>(outWhite - outBlack) * v + outBlack;
  else
    v = outBlack - static_cast<double>(outBlack - outWhite) * v;
  return v / 255.0;
}

void CToneCurve::FillFromLevels(uint32_t* table, int inBlack, int inWhite, int outBlack, int outWhite,
                                double gamma) {
  for (int i = 0; i < 256; ++i) {
    double y = Levels(inBlack, inWhite, outBlack, outWhite, gamma, i / 255.0) * 255.0 + 0.5;
    if (!(y >= 0.0))
      table[i] = 0;  // also NaN
    else if (y >= 255.0)
      table[i] = 255;
    else
      table[i] = static_cast<uint32_t>(y);
  }
}

void CToneCurve::SetLevels2(int inBlack, int inWhite, int outBlack, int outWhite, double gamma) {
  FillFromLevels(tables_[1], inBlack, inWhite, outBlack, outWhite, gamma);
}

void CToneCurve::SetLevels3(int inBlack, int inWhite, int outBlack, int outWhite, double gamma) {
  FillFromLevels(tables_[2], inBlack, inWhite, outBlack, outWhite, gamma);
}

void CToneCurve::ApplyThird(BYTE* image, int width, int height) const {
  if (!image || width <= 0 || height <= 0) return;
  BYTE lut[256];
  for (int i = 0; i < 256; ++i) lut[i] = static_cast<BYTE>(tables_[2][i]);
  BYTE* p = image + 2;
  ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
    const BYTE* const table = lut;  // in a register: no byte store can reach it
    BYTE* const blue = p;
    for (uint64_t i = first; i < last; ++i) blue[3 * i] = table[blue[3 * i]];
  });
}

void CToneCurve::ApplyAll(BYTE* image, int width, int height) const {
  if (!image || width <= 0 || height <= 0) return;
  BYTE lut[3][256];
  for (int t = 0; t < 3; ++t)
    for (int i = 0; i < 256; ++i) lut[t][i] = static_cast<BYTE>(tables_[t][i]);
  ForPixelBands(width, height, [&](uint64_t first, uint64_t last) {
    // In registers: no byte store can reach these copies.
    const BYTE* const r = lut[0];
    const BYTE* const g = lut[1];
    const BYTE* const b = lut[2];
    BYTE* const pixels = image;
    for (uint64_t i = first; i < last; ++i) {
      BYTE* p = pixels + 3 * i;
      p[0] = r[p[0]];
      p[1] = g[p[1]];
      p[2] = b[p[2]];
    }
  });
}
