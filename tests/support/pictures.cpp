// Test pictures (see pictures.h).
#include "support/pictures.h"

#include <random>

#include "support/test_support.h"

namespace qrvtest {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed, int lo, int hi) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(lo, hi);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(dist(rng));
  return v;
}

std::vector<uint8_t> MakePNM(const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height, uint32_t comps) {
  const std::string head = std::string(comps == 1 ? "P5" : "P6") + "\n" + std::to_string(width) + " " +
                           std::to_string(height) + "\n255\n";
  std::vector<uint8_t> out(head.begin(), head.end());
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

bool ParsePNM(const std::vector<uint8_t>& file, PNM& out) {
  size_t pos = 2;
  // Next header number, skipping blanks and # comments; the one blank after it is consumed.
  auto number = [&](uint32_t& v) {
    for (;;) {
      while (pos < file.size() && (file[pos] == ' ' || file[pos] == '\n' || file[pos] == '\r' || file[pos] == '\t'))
        ++pos;
      if (pos >= file.size() || file[pos] != '#') break;
      while (pos < file.size() && file[pos] != '\n') ++pos;
    }
    if (pos >= file.size() || file[pos] < '0' || file[pos] > '9') return false;
    uint64_t n = 0;
    while (pos < file.size() && file[pos] >= '0' && file[pos] <= '9' && n < (1u << 20)) n = n * 10 + (file[pos++] - '0');
    v = static_cast<uint32_t>(n);
    ++pos;
    return true;
  };
  if (file.size() < 2 || file[0] != 'P' || (file[1] != '5' && file[1] != '6')) return false;
  const uint32_t comps = file[1] == '5' ? 1 : 3;
  uint32_t w = 0, h = 0, maxval = 0;
  if (!number(w) || !number(h) || !number(maxval) || maxval != 255) return false;
  const size_t bytes = size_t{w} * h * comps;
  if (pos > file.size() || file.size() - pos < bytes) return false;
  out.width = w;
  out.height = h;
  out.comps = comps;
  out.pixels.assign(file.begin() + static_cast<long>(pos), file.begin() + static_cast<long>(pos + bytes));
  return true;
}

bool ReadPNM(const std::string& path, PNM& out) { return ParsePNM(ReadFileBytes(path), out); }

}  // namespace qrvtest
