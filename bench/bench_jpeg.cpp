// Speed of JPEG decoding and encoding of a 6000 x 4000 picture through the entry points, each
// iteration timed next to the reference tools over the same files in the same run: ISReadJPG
// against `djpeg -pnm`, ISWriteJPG against `cjpeg -baseline -dct int -quality 90`. The tools'
// times include starting the process; the "ratio" counter is ours / tool.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/global_memory.h"
#include "qrv/imaging.h"

namespace {

constexpr DWORD kW = qrvbench::kW, kH = qrvbench::kH;
constexpr DWORD kQuality = 90;

// A photo-like picture: gradients, shapes and fine noise, deterministic.
const std::vector<BYTE>& Picture() {
  static const std::vector<BYTE> pic = qrvbench::MakePhotoPicture(false);
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
    qrvbench::WritePPM(ppm, Picture(), kW, kH);
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

using qrvbench::Clock;
using qrvbench::Seconds;

void Report(benchmark::State& state, double ours, double tool) {
  qrvbench::ReportRate(state);
  state.counters["tool_s"] = tool / state.iterations();
  state.counters["ratio"] = tool > 0 ? ours / tool : 0;
}

void BM_DecodeVsDjpeg(benchmark::State& state) {
  const Files& f = TestFiles();
  qrvbench::TimeAgainstTool(state, "djpeg -pnm -outfile /dev/null " + f.jpeg, "ISReadJPG failed", [&] {
    ISIOHandle src = ISOpenFileSource(f.jpeg.c_str());
    DWORD w = 0, h = 0;
    HGLOBAL image = ISReadJPG(src, &w, &h, 24, 0);
    ISCloseSource(src);
    return image;
  });
}

void BM_EncodeVsCjpeg(benchmark::State& state) {
  const Files& f = TestFiles();
  const std::string command =
      "cjpeg -baseline -dct int -quality " + std::to_string(kQuality) + " -outfile " + f.out + " " + f.ppm;
  double ours = 0, tool = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    ISIOHandle sink = ISOpenFileSink(f.out.c_str(), 0);
    DWORD size = ISWriteJPG(sink, Picture().data(), kW, kH, kQuality, 24, nullptr, 0);
    ISCloseSink(sink);
    auto t1 = Clock::now();
    if (size == 0) state.SkipWithError("ISWriteJPG failed");
    if (std::system(command.c_str()) != 0) state.SkipWithError("cjpeg failed");
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    tool += Seconds(t1, t2);
    state.SetIterationTime(Seconds(t0, t1));
  }
  Report(state, ours, tool);
}

BENCHMARK(BM_DecodeVsDjpeg)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_EncodeVsCjpeg)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
