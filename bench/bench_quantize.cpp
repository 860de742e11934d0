// Palette choice after every picture load: ISBuildPalette (cube builder, flags 0) on a
// 6000 x 4000 RGB picture, against a plain memcpy of the same buffer in the same run. The
// target is a ratio of at most 10; ISReduceColors (build and error-diffused mapping) is shown
// for reference.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <chrono>
#include <cstring>
#include <vector>

#include "qrv/imaging.h"

namespace {

constexpr DWORD kW = qrvbench::kW, kH = qrvbench::kH, kRow = kW * 3;

// A photo-like picture: gradients and shapes with fine noise, deterministic.
const std::vector<BYTE>& Picture() { return qrvbench::PhotoPicture(false); }

void BM_Memcpy(benchmark::State& state) { qrvbench::TimeMemcpy(state, Picture()); }
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

void BM_BuildPalette(benchmark::State& state) {
  const auto& src = Picture();
  RGBQUAD pal[256];
  UINT used = 0;
  for (auto _ : state) {
    ISBuildPalette(src.data(), kW, kH, kRow, 256, pal, &used, 0);
    benchmark::DoNotOptimize(pal);
  }
  qrvbench::ReportRate(state);
}
BENCHMARK(BM_BuildPalette)->Unit(benchmark::kMillisecond);

void BM_ReduceColors(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(size_t(kW) * kH);
  RGBQUAD pal[256];
  for (auto _ : state) {
    ISReduceColors(src.data(), kW, kH, kRow, dst.data(), kW, 256, pal, 1, 20, 0);
    benchmark::DoNotOptimize(dst.data());
  }
  qrvbench::ReportRate(state);
}
BENCHMARK(BM_ReduceColors)->Unit(benchmark::kMillisecond);

// The ratio the target names, measured back to back: best of five of each.
void BM_BuildPaletteOverMemcpy(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(src.size());
  RGBQUAD pal[256];
  UINT used = 0;
  using qrvbench::Clock;
  double ratio = 0;
  for (auto _ : state) {
    double bestCopy = 1e30, bestBuild = 1e30;
    for (int i = 0; i < 5; ++i) {
      auto t0 = Clock::now();
      std::memcpy(dst.data(), src.data(), src.size());
      benchmark::DoNotOptimize(dst.data());
      auto t1 = Clock::now();
      ISBuildPalette(src.data(), kW, kH, kRow, 256, pal, &used, 0);
      benchmark::DoNotOptimize(pal);
      auto t2 = Clock::now();
      bestCopy = std::min(bestCopy, qrvbench::Seconds(t0, t1));
      bestBuild = std::min(bestBuild, qrvbench::Seconds(t1, t2));
    }
    ratio = bestBuild / bestCopy;
  }
  state.counters["ratio"] = ratio;
}
BENCHMARK(BM_BuildPaletteOverMemcpy)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
