// Small helpers of the engine's filter tests: random pictures and PPM files.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace enginetest {

inline std::vector<uint8_t> RandomPicture(int width, int height, uint32_t seed, int lo = 0, int hi = 255) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(lo, hi);
  std::vector<uint8_t> p(static_cast<size_t>(width) * height * 3);
  for (auto& b : p) b = static_cast<uint8_t>(dist(rng));
  return p;
}

// Reads a binary PPM (P6, maxval 255) as PackedRGB24; false when it is not one.
inline bool ParsePPM(const std::vector<uint8_t>& file, int& width, int& height, std::vector<uint8_t>& pixels) {
  size_t pos = 0;
  auto token = [&](std::string& out) {
    out.clear();
    while (pos < file.size()) {
      if (file[pos] == '#') {
        while (pos < file.size() && file[pos] != '\n') ++pos;
      } else if (isspace(file[pos])) {
        ++pos;
      } else {
        break;
      }
    }
    while (pos < file.size() && !isspace(file[pos])) out.push_back(static_cast<char>(file[pos++]));
    return !out.empty();
  };
  std::string magic, w, h, maxval;
  if (!token(magic) || magic != "P6" || !token(w) || !token(h) || !token(maxval) || maxval != "255") return false;
  ++pos;  // the single blank after maxval
  width = std::stoi(w);
  height = std::stoi(h);
  const size_t bytes = static_cast<size_t>(width) * height * 3;
  if (file.size() < pos + bytes) return false;
  pixels.assign(file.begin() + static_cast<long>(pos), file.begin() + static_cast<long>(pos + bytes));
  return true;
}

inline std::vector<uint8_t> MakePPM(int width, int height, const std::vector<uint8_t>& pixels) {
  std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  std::vector<uint8_t> out(head.begin(), head.end());
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

}  // namespace enginetest
