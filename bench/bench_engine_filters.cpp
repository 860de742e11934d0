// Speed of the engine's own filters on a 6000 x 4000 RGB picture, single thread, each next to
// a plain memcpy of the same buffer as the yardstick measured in the same run. The ratios to
// ImageMagick (hot pixels against -statistic Median 3x3, the resampler against -filter
// Triangle -resize 50%) come from bench/compare_engine_imagemagick.sh.
//
// QRV_BENCH_PPM=<path>: also write the test picture there as a binary PPM (for the script).
#include <benchmark/benchmark.h>

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
  static const std::vector<BYTE> pic = [] {
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
        if ((seed >> 8) % 5000 == 0) r = g = b = 250;  // hot pixel
        BYTE* px = &p[(size_t(y) * kW + x) * 3];
        px[0] = BYTE(r < 0 ? 0 : r > 255 ? 255 : r);
        px[1] = BYTE(g < 0 ? 0 : g > 255 ? 255 : g);
        px[2] = BYTE(b < 0 ? 0 : b > 255 ? 255 : b);
      }
    if (const char* path = std::getenv("QRV_BENCH_PPM")) {
      if (FILE* f = std::fopen(path, "wb")) {
        std::fprintf(f, "P6\n%d %d\n255\n", kW, kH);
        std::fwrite(p.data(), 1, p.size(), f);
        std::fclose(f);
      }
    }
    return p;
  }();
  return pic;
}

void Report(benchmark::State& state) {
  state.counters["MP/s"] =
      benchmark::Counter(double(kW) * kH / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}

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
