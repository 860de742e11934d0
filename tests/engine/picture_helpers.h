// Small helpers of the engine's filter tests: random pictures and PPM files, over the shared
// test pictures.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "support/pictures.h"
#include "support/test_support.h"

namespace enginetest {

// A width x height PackedRGB24 picture of seeded random samples in [lo, hi].
inline std::vector<uint8_t> RandomPicture(int width, int height, uint32_t seed, int lo = 0, int hi = 255) {
  return qrvtest::RandomBytes(static_cast<size_t>(width) * height * 3, seed, lo, hi);
}

// Reads a binary PPM (P6, maxval 255) as PackedRGB24; false when it is not one.
inline bool ParsePPM(const std::vector<uint8_t>& file, int& width, int& height, std::vector<uint8_t>& pixels) {
  qrvtest::PNM pnm;
  if (!qrvtest::ParsePNM(file, pnm) || pnm.comps != 3) return false;
  width = static_cast<int>(pnm.width);
  height = static_cast<int>(pnm.height);
  pixels = std::move(pnm.pixels);
  return true;
}

}  // namespace enginetest
