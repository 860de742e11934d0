// Shared by the benchmark programs: the deterministic photo-like test picture, PPM export, the
// plain memcpy yardstick, wall-clock seconds and the rate counter.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/global_memory.h"
#include "qrv/imaging.h"

namespace qrvbench {

constexpr int kW = 6000, kH = 4000;
constexpr size_t kRow = size_t(kW) * 3, kBytes = kRow * kH;

using Clock = std::chrono::steady_clock;

// Seconds from a to b.
inline double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Writes a width x height RGB picture as a binary PPM; false when the file can't be opened.
inline bool WritePPM(const std::string& path, const std::vector<BYTE>& rgb, int width, int height) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", width, height);
  std::fwrite(rgb.data(), 1, rgb.size(), f);
  std::fclose(f);
  return true;
}

// Smooth gradients and shapes with fine noise; with hotPixels, about one pixel in 5000 is
// set to 250.
inline std::vector<BYTE> MakePhotoPicture(bool hotPixels) {
  std::vector<BYTE> p(kBytes);
  uint32_t seed = 12345;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = int(seed >> 28) - 8;
      const bool disc = ((x / 500) + (y / 400)) % 3 == 0;
      int r = x * 200 / kW + (disc ? 40 : 0) + noise;
      int g = y * 180 / kH + 30 + noise / 2;
      int b = (x + y) * 120 / (kW + kH) + 60 - (disc ? 30 : 0) + noise;
      if (hotPixels && (seed >> 8) % 5000 == 0) r = g = b = 250;
      BYTE* px = &p[size_t(y) * kRow + size_t(x) * 3];
      px[0] = BYTE(r < 0 ? 0 : r > 255 ? 255 : r);
      px[1] = BYTE(g < 0 ? 0 : g > 255 ? 255 : g);
      px[2] = BYTE(b < 0 ? 0 : b > 255 ? 255 : b);
    }
  return p;
}

// The 6000 x 4000 test picture, made once per program. When QRV_BENCH_PPM names a file, it is
// also written there as a PPM for the side-by-side comparison scripts.
inline const std::vector<BYTE>& PhotoPicture(bool hotPixels) {
  static const auto made = [](bool hot) {
    std::vector<BYTE> p = MakePhotoPicture(hot);
    if (const char* path = std::getenv("QRV_BENCH_PPM")) WritePPM(path, p, kW, kH);
    return p;
  };
  if (hotPixels) {
    static const std::vector<BYTE> withHotPixels = made(true);
    return withHotPixels;
  }
  static const std::vector<BYTE> plain = made(false);
  return plain;
}

// Megapixels per second of a 6000 x 4000 picture.
inline void ReportRate(benchmark::State& state) {
  state.counters["MP/s"] =
      benchmark::Counter(double(kW) * kH / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}

// The yardstick each program times next to its operations: a plain memcpy of the picture.
inline void TimeMemcpy(benchmark::State& state, const std::vector<BYTE>& src) {
  std::vector<BYTE> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
  }
  ReportRate(state);
}

// A read of ours timed next to a reference tool's shell command, once each per iteration; the
// iteration's time is ours, without freeing the block `read()` returns (null when it failed).
// Reports the rate, the tool's seconds per run ("tool_s") and ours / tool ("ratio").
template <typename Read>
void TimeAgainstTool(benchmark::State& state, const std::string& command, const char* what, Read&& read) {
  double mine = 0, tool = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    HGLOBAL image = read();
    const auto t1 = Clock::now();
    if (!image) state.SkipWithError(what);
    GlobalFree(image);
    const auto t2 = Clock::now();
    if (std::system(command.c_str()) != 0) state.SkipWithError("the reference tool failed");
    const auto t3 = Clock::now();
    mine += Seconds(t0, t1);
    tool += Seconds(t2, t3);
    state.SetIterationTime(Seconds(t0, t1));
  }
  ReportRate(state);
  state.counters["tool_s"] = tool / state.iterations();
  state.counters["ratio"] = tool > 0 ? mine / tool : 0;
}

}  // namespace qrvbench
