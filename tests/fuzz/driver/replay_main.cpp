// Stand-alone driver for the fuzz targets when libFuzzer is not linked: runs every seed file
// (files, or every file in a folder), then --runs=N deterministic mutations of them (bit
// flips, byte overwrites with boundary values, truncations, duplicated and removed spans).
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kMaxSeed = 1 << 20;  // larger seeds are cut: the targets explore structure

void AddPath(const std::string& path, std::vector<Bytes>& seeds) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    DIR* dir = opendir(path.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (dirent* e = readdir(dir))
      if (e->d_name[0] != '.') names.push_back(path + "/" + e->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const auto& n : names) AddPath(n, seeds);
    return;
  }
  std::ifstream in(path, std::ios::binary);
  Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (b.size() > kMaxSeed) b.resize(kMaxSeed);
  seeds.push_back(std::move(b));
}

uint64_t g_state = 0x9E3779B97F4A7C15ull;
uint64_t Next() {
  g_state ^= g_state << 13;
  g_state ^= g_state >> 7;
  g_state ^= g_state << 17;
  return g_state;
}

Bytes Mutate(const Bytes& seed) {
  Bytes b = seed;
  int edits = 1 + static_cast<int>(Next() % 4);
  for (int i = 0; i < edits; ++i) {
    if (b.empty()) {
      b.push_back(static_cast<uint8_t>(Next()));
      continue;
    }
    size_t at = Next() % b.size();
    switch (Next() % 6) {
      case 0: b[at] ^= static_cast<uint8_t>(1u << (Next() % 8)); break;
      case 1: {
        static const uint8_t kEdge[] = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF};
        b[at] = kEdge[Next() % sizeof(kEdge)];
        break;
      }
      case 2: b.resize(at); break;
      case 3: b[at] = static_cast<uint8_t>(Next()); break;
      case 4: {
        size_t len = std::min<size_t>(b.size() - at, 1 + Next() % 64);
        Bytes span(b.begin() + at, b.begin() + at + len);
        b.insert(b.begin() + at, span.begin(), span.end());
        break;
      }
      default: {
        size_t len = std::min<size_t>(b.size() - at, 1 + Next() % 64);
        b.erase(b.begin() + at, b.begin() + at + len);
        break;
      }
    }
  }
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  long runs = 0;
  std::vector<Bytes> seeds;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--runs=", 7) == 0) runs = std::atol(argv[i] + 7);
    else AddPath(argv[i], seeds);
  }
  seeds.push_back(Bytes());  // the empty input
  for (const Bytes& s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size());
  for (long r = 0; r < runs; ++r) {
    Bytes m = Mutate(seeds[Next() % seeds.size()]);
    LLVMFuzzerTestOneInput(m.data(), m.size());
  }
  std::printf("%zu seeds, %ld mutated inputs: no failure\n", seeds.size(), runs);
  return 0;
}
