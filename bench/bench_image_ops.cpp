// Speed of the image operations on a 6000 x 4000 RGB picture: megapixels per second per
// operation, on QRV_THREADS threads (all cores when unset; the comparison script runs one).
// bench/compare_imagemagick.sh runs ImageMagick's comparable operators on the same picture and
// prints the ratios.
//
// QRV_BENCH_PPM=<path>: also write the test picture there as a binary PPM (for the script).
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <cstring>
#include <utility>
#include <vector>

#include "qrv/imaging.h"

namespace {

constexpr DWORD kW = qrvbench::kW, kH = qrvbench::kH, kRow = kW * 3;
constexpr size_t kHalfBytes = size_t(kW / 2) * 3 * (kH / 2);

// A photo-like test picture: smooth gradients and shapes with fine noise, deterministic.
const std::vector<BYTE>& Picture() { return qrvbench::PhotoPicture(false); }

// Times op(src, dst) from the picture into a buffer of dstBytes.
template <class Op>
void TimeToBuffer(benchmark::State& state, size_t dstBytes, Op op) {
  const auto& src = Picture();
  std::vector<BYTE> dst(dstBytes);
  for (auto _ : state) op(src.data(), dst.data());
  qrvbench::ReportRate(state);
}

void BM_Memcpy(benchmark::State& state) { qrvbench::TimeMemcpy(state, Picture()); }

void BM_SharpenImage(benchmark::State& state) {
  TimeToBuffer(state, qrvbench::kBytes,
               [](const BYTE* s, BYTE* d) { ISSharpenImage(s, kW, kH, 3, kRow, d, kRow, 50, 7); });
}

void BM_SoftenImage(benchmark::State& state) {
  TimeToBuffer(state, qrvbench::kBytes,
               [](const BYTE* s, BYTE* d) { ISSoftenImage(s, kW, kH, 3, kRow, d, kRow, 100, 7); });
}

void BM_MedianFilterImage(benchmark::State& state) {
  TimeToBuffer(state, qrvbench::kBytes,
               [](const BYTE* s, BYTE* d) { ISMedianFilterImage(s, kW, kH, 3, kRow, d, kRow, 7); });
}

void BM_BlurImage(benchmark::State& state) {
  TimeToBuffer(state, qrvbench::kBytes,
               [](const BYTE* s, BYTE* d) { ISBlurImage(s, kW, kH, 3, kRow, d, kRow, 2.0, 7); });
}

// Compared with: convert in.ppm -unsharp 0x2+1+0 out.ppm
void BM_UnsharpMask(benchmark::State& state) {
  TimeToBuffer(state, qrvbench::kBytes,
               [](const BYTE* s, BYTE* d) { ISUnsharpMask(s, kW, kH, 3, kRow, d, kRow, 0, 1.0, 2.0, 7); });
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
  qrvbench::ReportRate(state);
}

// Compared with: convert in.ppm -filter Lanczos -resize 50% out.ppm
void BM_ResampleLanczos3Half(benchmark::State& state) {
  TimeToBuffer(state, kHalfBytes, [](const BYTE* s, BYTE* d) {
    ISResampleImage(s, kW, kH, kRow, d, kW / 2, kH / 2, kW / 2 * 3, 3, 8);
  });
}

void BM_ResizeBilinearHalf(benchmark::State& state) {
  TimeToBuffer(state, kHalfBytes, [](const BYTE* s, BYTE* d) {
    ISResizeBilinear(s, kW, kH, kRow, d, kW / 2, kH / 2, kW / 2 * 3, 3);
  });
}

void BM_ResizeBicubicHalf(benchmark::State& state) {
  TimeToBuffer(state, kHalfBytes, [](const BYTE* s, BYTE* d) {
    ISResizeBicubic(s, kW, kH, kRow, d, kW / 2, kH / 2, kW / 2 * 3, 3);
  });
}

// Compared with: convert in.ppm -rotate 90 out.ppm
void BM_RotateImage90(benchmark::State& state) {
  std::vector<BYTE> img = Picture();
  DWORD w = kW, h = kH;
  for (auto _ : state) {
    ISRotateImage(img.data(), w, h, 0, 3);
    std::swap(w, h);
  }
  qrvbench::ReportRate(state);
}

void BM_FlipVertical(benchmark::State& state) {
  std::vector<BYTE> img = Picture();
  for (auto _ : state) ISFlipVertical(img.data(), kRow, kH);
  qrvbench::ReportRate(state);
}

void BM_FlipHorizontal(benchmark::State& state) {
  std::vector<BYTE> img = Picture();
  for (auto _ : state) ISFlipHorizontal(img.data(), kW, kH, 3, kRow);
  qrvbench::ReportRate(state);
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
