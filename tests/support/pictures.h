// Test pictures shared by the test programs: seeded random bytes, and binary PNM files (P5 grey,
// P6 RGB, maxval 255) as the reference tools read and write them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrvtest {

// `n` bytes drawn evenly from [lo, hi] by a generator seeded with `seed` (same seed, same bytes).
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed, int lo = 0, int hi = 255);

struct PNM {
  uint32_t width = 0, height = 0;
  uint32_t comps = 0;  // 1 for P5, 3 for P6
  std::vector<uint8_t> pixels;  // rows top first, width x comps bytes each
};

// The file's bytes of a P5 (comps 1) or P6 (comps 3) picture.
std::vector<uint8_t> MakePNM(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height, uint32_t comps);
// Parses a P5 or P6 file with maxval 255 (header comments allowed; bytes after the pixels are
// ignored); false when it is not one or is cut short.
bool ParsePNM(const std::vector<uint8_t>& file, PNM& out);
// ParsePNM of a file's contents.
bool ReadPNM(const std::string& path, PNM& out);

}  // namespace qrvtest
