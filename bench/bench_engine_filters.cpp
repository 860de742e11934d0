// Speed of the engine's own filters on a 6000 x 4000 RGB picture, single thread, each next to
// a plain memcpy of the same buffer as the yardstick measured in the same run. The ratios to
// ImageMagick (hot pixels against -statistic Median 3x3, the resampler against -filter
// Triangle -resize 50%) come from bench/compare_engine_imagemagick.sh.
//
// QRV_BENCH_PPM=<path>: also write the test picture there as a binary PPM (for the script).
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/CColorSpaceConverter.h"
#include "engine/CFilterSim.h"
#include "engine/CImageFilter.h"
#include "engine/CResampler.h"

namespace {

constexpr int kW = 6000, kH = 4000;
constexpr size_t kBytes = size_t(kW) * kH * 3;

// A photo-like test picture: smooth gradients and shapes with fine noise and a sprinkling of
// hot pixels, deterministic.
const std::vector<BYTE>& Picture() {
  static const std::vector<BYTE> pic = qrvbench::MakePhotoPicture(true);
  return pic;
}

void Report(benchmark::State& state) { qrvbench::ReportRate(state); }

// A working copy, refreshed outside the timed part of each iteration.
struct Work {
  std::vector<BYTE> buf = Picture();
  void Refresh(benchmark::State& state) {
    state.PauseTiming();
    std::memcpy(buf.data(), Picture().data(), kBytes);
    state.ResumeTiming();
  }
};

void BM_Memcpy(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
  }
  Report(state);
}

// The pipeline's balance step: levels on a copy, blended back at 60 %. The copy itself is the
// pipeline's (a plain memcpy) and is made outside the timed part; BM_AutoLevelsBlendWithCopy
// times it too.
void BM_AutoLevelsBlend(benchmark::State& state) {
  Work work;
  std::vector<BYTE> copy(kBytes);
  CImageFilter f;
  for (auto _ : state) {
    work.Refresh(state);
    state.PauseTiming();
    std::memcpy(copy.data(), work.buf.data(), kBytes);
    state.ResumeTiming();
    f.AutoLevels(copy.data(), kW, kH, 5, 250);
    f.Blend(work.buf.data(), kW, kH, copy.data(), kW, kH, 0.6, 0);
  }
  Report(state);
}

void BM_AutoLevelsBlendWithCopy(benchmark::State& state) {
  Work work;
  std::vector<BYTE> copy(kBytes);
  CImageFilter f;
  for (auto _ : state) {
    work.Refresh(state);
    std::memcpy(copy.data(), work.buf.data(), kBytes);
    f.AutoLevels(copy.data(), kW, kH, 5, 250);
    f.Blend(work.buf.data(), kW, kH, copy.data(), kW, kH, 0.6, 0);
  }
  Report(state);
}

void BM_AutoLevels(benchmark::State& state) {
  Work work;
  CImageFilter f;
  for (auto _ : state) {
    work.Refresh(state);
    f.AutoLevels(work.buf.data(), kW, kH, 5, 250);
  }
  Report(state);
}

void BM_Blend(benchmark::State& state) {
  Work work;
  std::vector<BYTE> other(Picture().rbegin(), Picture().rend());
  CImageFilter f;
  for (auto _ : state) {
    work.Refresh(state);
    f.Blend(work.buf.data(), kW, kH, other.data(), kW, kH, 0.6, 0);
  }
  Report(state);
}

void BM_Gamma(benchmark::State& state) {
  Work work;
  CImageFilter f;
  for (auto _ : state) {
    work.Refresh(state);
    f.Gamma(work.buf.data(), kW, kH, 1.2);
  }
  Report(state);
}

void BM_ColorCastGamma(benchmark::State& state) {
  Work work;
  CImageFilter f;
  for (auto _ : state) {
    work.Refresh(state);
    f.ColorCastGamma(work.buf.data(), kW, kH, 0.85, 1);
  }
  Report(state);
}

void BM_Saturation(benchmark::State& state) {
  Work work;
  CImageFilter f;
  for (auto _ : state) {
    work.Refresh(state);
    f.Saturation(work.buf.data(), kW, kH, 160);
  }
  Report(state);
}

void BM_SubtractFrame(benchmark::State& state) {
  Work work;
  std::vector<BYTE> frame(kBytes, 3);
  CImageFilter f;
  for (auto _ : state) {
    work.Refresh(state);
    f.SubtractFrame(work.buf.data(), kW, kH, work.buf.data(), frame.data());
  }
  Report(state);
}

void BM_FilterTint(benchmark::State& state) {
  Work work;
  for (auto _ : state) {
    work.Refresh(state);
    CFilterSim::Apply(work.buf.data(), kW, kH, "#81A Filter", 255, 1, 0);
  }
  Report(state);
}

void BM_ColorSpace(benchmark::State& state) {
  Work work;
  CColorSpaceConverter conv;
  for (auto _ : state) {
    work.Refresh(state);
    conv.Convert(work.buf.data(), kW, kH);
  }
  Report(state);
}

void BM_RemoveHotPixels3(benchmark::State& state) {
  Work work;
  CImageFilter f;
  for (auto _ : state) {
    work.Refresh(state);
    f.RemoveHotPixels(work.buf.data(), kW, kH, work.buf.data(), 255, 3);
  }
  Report(state);
}

void BM_RemoveHotPixels5(benchmark::State& state) {
  Work work;
  CImageFilter f;
  for (auto _ : state) {
    work.Refresh(state);
    f.RemoveHotPixels(work.buf.data(), kW, kH, work.buf.data(), 255, 5);
  }
  Report(state);
}

void BM_SmoothSkin(benchmark::State& state) {
  Work work;
  CImageFilter f;
  for (auto _ : state) {
    work.Refresh(state);
    f.SmoothSkin(work.buf.data(), kW, kH, 1.0, 1);
  }
  Report(state);
}

void BM_ResamplerHalf(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(size_t(kW / 2) * (kH / 2) * 3);
  for (auto _ : state) {
    CResampler r;
    benchmark::DoNotOptimize(r.Scale(src.data(), kW, kH, dst.data(), kW / 2, kH / 2));
  }
  Report(state);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutoLevelsBlend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutoLevelsBlendWithCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AutoLevels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blend)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gamma)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorCastGamma)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Saturation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SubtractFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterTint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColorSpace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveHotPixels3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveHotPixels5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SmoothSkin)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResamplerHalf)->Unit(benchmark::kMillisecond);
