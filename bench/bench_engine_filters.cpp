// Speed of the engine's own filters on a 6000 x 4000 RGB picture, each next to a plain memcpy
// of the same buffer as the yardstick measured in the same run; QRV_THREADS threads (all cores
// when unset; the comparison script runs one). The ratios to ImageMagick (hot pixels against
// -statistic Median 3x3, the resampler against -filter Triangle -resize 50%) come from
// bench/compare_engine_imagemagick.sh.
//
// QRV_BENCH_PPM=<path>: also write the test picture there as a binary PPM (for the script).
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <cstring>
#include <vector>

#include "engine/CColorSpaceConverter.h"
#include "engine/CFilterSim.h"
#include "engine/CImageFilter.h"
#include "engine/CResampler.h"

namespace {

using qrvbench::kBytes;
using qrvbench::kH;
using qrvbench::kW;

// A photo-like test picture: smooth gradients and shapes with fine noise and a sprinkling of
// hot pixels, deterministic.
const std::vector<BYTE>& Picture() { return qrvbench::PhotoPicture(true); }

// Times op(buf) on a working copy of the picture, refreshed outside the timed part of each
// iteration.
template <class Op>
void TimeInPlace(benchmark::State& state, Op op) {
  std::vector<BYTE> buf = Picture();
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(buf.data(), Picture().data(), kBytes);
    state.ResumeTiming();
    op(buf.data());
  }
  qrvbench::ReportRate(state);
}

// TimeInPlace with one filter object for the whole run.
template <class Op>
void TimeFilter(benchmark::State& state, Op op) {
  CImageFilter f;
  TimeInPlace(state, [&](BYTE* p) { op(f, p); });
}

void BM_Memcpy(benchmark::State& state) { qrvbench::TimeMemcpy(state, Picture()); }

// The pipeline's balance step: levels on a copy, blended back at 60 %. The copy itself is the
// pipeline's (a plain memcpy); BM_AutoLevelsBlend makes it outside the timed part,
// BM_AutoLevelsBlendWithCopy times it too.
void TimeAutoLevelsBlend(benchmark::State& state, bool timeCopy) {
  std::vector<BYTE> copy(kBytes);
  TimeFilter(state, [&](CImageFilter& f, BYTE* p) {
    if (!timeCopy) state.PauseTiming();
    std::memcpy(copy.data(), p, kBytes);
    if (!timeCopy) state.ResumeTiming();
    f.AutoLevels(copy.data(), kW, kH, 5, 250);
    f.Blend(p, kW, kH, copy.data(), kW, kH, 0.6, 0);
  });
}
void BM_AutoLevelsBlend(benchmark::State& state) { TimeAutoLevelsBlend(state, false); }
void BM_AutoLevelsBlendWithCopy(benchmark::State& state) { TimeAutoLevelsBlend(state, true); }

void BM_AutoLevels(benchmark::State& state) {
  TimeFilter(state, [](CImageFilter& f, BYTE* p) { f.AutoLevels(p, kW, kH, 5, 250); });
}
void BM_Blend(benchmark::State& state) {
  const std::vector<BYTE> other(Picture().rbegin(), Picture().rend());
  TimeFilter(state, [&](CImageFilter& f, BYTE* p) { f.Blend(p, kW, kH, other.data(), kW, kH, 0.6, 0); });
}
void BM_Gamma(benchmark::State& state) {
  TimeFilter(state, [](CImageFilter& f, BYTE* p) { f.Gamma(p, kW, kH, 1.2); });
}
void BM_ColorCastGamma(benchmark::State& state) {
  TimeFilter(state, [](CImageFilter& f, BYTE* p) { f.ColorCastGamma(p, kW, kH, 0.85, 1); });
}
void BM_Saturation(benchmark::State& state) {
  TimeFilter(state, [](CImageFilter& f, BYTE* p) { f.Saturation(p, kW, kH, 160); });
}
void BM_SubtractFrame(benchmark::State& state) {
  const std::vector<BYTE> frame(kBytes, 3);
  TimeFilter(state, [&](CImageFilter& f, BYTE* p) { f.SubtractFrame(p, kW, kH, p, frame.data()); });
}
void BM_FilterTint(benchmark::State& state) {
  TimeInPlace(state, [](BYTE* p) { CFilterSim::Apply(p, kW, kH, "#81A Filter", 255, 1, 0); });
}
void BM_ColorSpace(benchmark::State& state) {
  CColorSpaceConverter conv;
  TimeInPlace(state, [&](BYTE* p) { conv.Convert(p, kW, kH); });
}
void BM_RemoveHotPixels3(benchmark::State& state) {
  TimeFilter(state, [](CImageFilter& f, BYTE* p) { f.RemoveHotPixels(p, kW, kH, p, 255, 3); });
}
void BM_RemoveHotPixels5(benchmark::State& state) {
  TimeFilter(state, [](CImageFilter& f, BYTE* p) { f.RemoveHotPixels(p, kW, kH, p, 255, 5); });
}
void BM_SmoothSkin(benchmark::State& state) {
  TimeFilter(state, [](CImageFilter& f, BYTE* p) { f.SmoothSkin(p, kW, kH, 1.0, 1); });
}

void BM_ResamplerHalf(benchmark::State& state) {
  const auto& src = Picture();
  std::vector<BYTE> dst(size_t(kW / 2) * (kH / 2) * 3);
  for (auto _ : state) {
    CResampler r;
    benchmark::DoNotOptimize(r.Scale(src.data(), kW, kH, dst.data(), kW / 2, kH / 2));
  }
  qrvbench::ReportRate(state);
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
