// Speed of JPEG decoding and encoding of a 6000 x 4000 picture through the entry points, each
// iteration timed next to the reference tools over the same files in the same run: ISReadJPG
// against `djpeg -pnm`, ISWriteJPG against `cjpeg -baseline -dct int -quality 90`. The tools'
// times include starting the process; the "ratio" counter is ours / tool.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/global_memory.h"
#include "qrv/imaging.h"

namespace {

constexpr DWORD kW = 6000, kH = 4000;
constexpr DWORD kQuality = 90;

// A photo-like picture: gradients, shapes and fine noise, deterministic.
const std::vector<BYTE>& Picture() {
  static const std::vector<BYTE> pic = [] {
    std::vector<BYTE> p(size_t{kW} * kH * 3);
    uint32_t seed = 12345;
    for (DWORD y = 0; y < kH; ++y)
      for (DWORD x = 0; x < kW; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int noise = static_cast<int>(seed >> 28) - 8;
        const bool disc = ((x / 500) + (y / 400)) % 3 == 0;
        const int v[3] = {static_cast<int>(x * 200 / kW) + (disc ? 40 : 0) + noise,
                          static_cast<int>(y * 180 / kH) + 30 + noise / 2,
                          static_cast<int>((x + y) * 120 / (kW + kH)) + 60 - (disc ? 30 : 0) + noise};
        BYTE* px = &p[(size_t{y} * kW + x) * 3];
        for (int c = 0; c < 3; ++c) px[c] = static_cast<BYTE>(v[c] < 0 ? 0 : v[c] > 255 ? 255 : v[c]);
      }
    return p;
  }();
  return pic;
}

struct Files {
  std::string dir, ppm, jpeg, out;
  Files() {
    char tmpl[] = "/tmp/qrvbench-jpeg-XXXXXX";
    dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    ppm = dir + "/in.ppm";
    jpeg = dir + "/in.jpg";
    out = dir + "/out.jpg";
    if (FILE* f = std::fopen(ppm.c_str(), "wb")) {
      std::fprintf(f, "P6\n%u %u\n255\n", kW, kH);
      std::fwrite(Picture().data(), 1, Picture().size(), f);
      std::fclose(f);
    }
    ISIOHandle sink = ISOpenFileSink(jpeg.c_str(), 0);
    ISWriteJPG(sink, Picture().data(), kW, kH, kQuality, 24, nullptr, 0);
    ISCloseSink(sink);
  }
  ~Files() {
    std::remove(ppm.c_str());
    std::remove(jpeg.c_str());
    std::remove(out.c_str());
    rmdir(dir.c_str());
  }
};

const Files& TestFiles() {
  static const Files files;
  return files;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void Report(benchmark::State& state, double ours, double tool) {
  state.counters["MP/s"] = benchmark::Counter(double(kW) * kH / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["tool_s"] = tool / state.iterations();
  state.counters["ratio"] = tool > 0 ? ours / tool : 0;
}

void BM_DecodeVsDjpeg(benchmark::State& state) {
  const Files& f = TestFiles();
  const std::string command = "djpeg -pnm -outfile /dev/null " + f.jpeg;
  double ours = 0, tool = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    ISIOHandle src = ISOpenFileSource(f.jpeg.c_str());
    DWORD w = 0, h = 0;
    HGLOBAL image = ISReadJPG(src, &w, &h, 24, 0);
    ISCloseSource(src);
    auto t1 = std::chrono::steady_clock::now();
    if (!image) state.SkipWithError("ISReadJPG failed");
    GlobalFree(image);
    auto t2 = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) state.SkipWithError("djpeg failed");
    auto t3 = std::chrono::steady_clock::now();
    ours += Seconds(t0, t1);
    tool += Seconds(t2, t3);
    state.SetIterationTime(Seconds(t0, t1));
  }
  Report(state, ours, tool);
}

void BM_EncodeVsCjpeg(benchmark::State& state) {
  const Files& f = TestFiles();
  const std::string command =
      "cjpeg -baseline -dct int -quality " + std::to_string(kQuality) + " -outfile " + f.out + " " + f.ppm;
  double ours = 0, tool = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    ISIOHandle sink = ISOpenFileSink(f.out.c_str(), 0);
    DWORD size = ISWriteJPG(sink, Picture().data(), kW, kH, kQuality, 24, nullptr, 0);
    ISCloseSink(sink);
    auto t1 = std::chrono::steady_clock::now();
    if (size == 0) state.SkipWithError("ISWriteJPG failed");
    if (std::system(command.c_str()) != 0) state.SkipWithError("cjpeg failed");
    auto t2 = std::chrono::steady_clock::now();
    ours += Seconds(t0, t1);
    tool += Seconds(t1, t2);
    state.SetIterationTime(Seconds(t0, t1));
  }
  Report(state, ours, tool);
}

BENCHMARK(BM_DecodeVsDjpeg)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_EncodeVsCjpeg)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
