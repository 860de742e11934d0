// Speed of the image operations on a 6000 x 4000 RGB picture, single thread: megapixels per
// second per operation. bench/compare_imagemagick.sh runs ImageMagick's comparable operators
// on the same picture and prints the ratios.
//
// QRV_BENCH_PPM=<path>: also write the test picture there as a binary PPM (for the script).
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "qrv/imaging.h"

namespace {

constexpr DWORD kW = 6000, kH = 4000, kRow = kW * 3;

// A photo-like test picture: smooth gradients and shapes with fine noise, deterministic.
const std::vector<BYTE>& Picture() {
  static const std::vector<BYTE> pic = qrvbench::MakePhotoPicture(false);
  return pic;
}

void Report(benchmark::State& state) { qrvbench::ReportRate(state); }

void BM_Memcpy(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
  }
  Report(state);
}

void BM_SharpenImage(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(src.size());
  for (auto _ : state) ISSharpenImage(src.data(), kW, kH, 3, kRow, dst.data(), kRow, 50, 7);
  Report(state);
}

void BM_SoftenImage(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(src.size());
  for (auto _ : state) ISSoftenImage(src.data(), kW, kH, 3, kRow, dst.data(), kRow, 100, 7);
  Report(state);
}

void BM_MedianFilterImage(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(src.size());
  for (auto _ : state) ISMedianFilterImage(src.data(), kW, kH, 3, kRow, dst.data(), kRow, 7);
  Report(state);
}

void BM_BlurImage(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(src.size());
  for (auto _ : state) ISBlurImage(src.data(), kW, kH, 3, kRow, dst.data(), kRow, 2.0, 7);
  Report(state);
}

// Compared with: convert in.ppm -unsharp 0x2+1+0 out.ppm
void BM_UnsharpMask(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(src.size());
  for (auto _ : state) ISUnsharpMask(src.data(), kW, kH, 3, kRow, dst.data(), kRow, 0, 1.0, 2.0, 7);
  Report(state);
}

// Compared with: convert in.ppm -despeckle out.ppm (one pass each).
void BM_RemoveSpeckles(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> img(src.size());
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(img.data(), src.data(), src.size());
    state.ResumeTiming();
    ISRemoveSpeckles(img.data(), kW, kH, 3, kRow, 7);
  }
  Report(state);
}

// Compared with: convert in.ppm -filter Lanczos -resize 50% out.ppm
void BM_ResampleLanczos3Half(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(size_t(kW / 2) * 3 * (kH / 2));
  for (auto _ : state) ISResampleImage(src.data(), kW, kH, kRow, dst.data(), kW / 2, kH / 2, kW / 2 * 3, 3, 8);
  Report(state);
}

void BM_ResizeBilinearHalf(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(size_t(kW / 2) * 3 * (kH / 2));
  for (auto _ : state) ISResizeBilinear(src.data(), kW, kH, kRow, dst.data(), kW / 2, kH / 2, kW / 2 * 3, 3);
  Report(state);
}

void BM_ResizeBicubicHalf(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(size_t(kW / 2) * 3 * (kH / 2));
  for (auto _ : state) ISResizeBicubic(src.data(), kW, kH, kRow, dst.data(), kW / 2, kH / 2, kW / 2 * 3, 3);
  Report(state);
}

// Compared with: convert in.ppm -rotate 90 out.ppm
void BM_RotateImage90(benchmark::State& state) {
  std::vector<BYTE> img = Picture();
  DWORD w = kW, h = kH;
  for (auto _ : state) {
    ISRotateImage(img.data(), w, h, 0, 3);
    std::swap(w, h);
  }
  Report(state);
}

void BM_FlipVertical(benchmark::State& state) {
  std::vector<BYTE> img = Picture();
  for (auto _ : state) ISFlipVertical(img.data(), kRow, kH);
  Report(state);
}

void BM_FlipHorizontal(benchmark::State& state) {
  std::vector<BYTE> img = Picture();
  for (auto _ : state) ISFlipHorizontal(img.data(), kW, kH, 3, kRow);
  Report(state);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SharpenImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SoftenImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MedianFilterImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlurImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnsharpMask)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveSpeckles)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResampleLanczos3Half)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizeBilinearHalf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizeBicubicHalf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateImage90)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlipVertical)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlipHorizontal)->Unit(benchmark::kMillisecond);
