// ProcessImage on a 6000 x 4000 picture with the shipped default profile in advanced mode and
// every step on, with the time of each step; the yardstick is djpeg + cjpeg decoding and
// encoding the same picture, timed in the same run.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "app/pages/Profile.h"
#include "engine/shell/CMainDialog.h"

namespace {

using qrvbench::Clock;
using qrvbench::Seconds;

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

std::string SourceDir() {
  std::string f = __FILE__;
  return f.substr(0, f.rfind('/')) + "/..";
}

// A camera-like picture: smooth gradients, a colour cast, noise and a few hot pixels.
std::vector<BYTE> MakePicture() {
  std::vector<BYTE> p(static_cast<size_t>(kWidth) * kHeight * 3);
  uint32_t seed = 1;
  for (int y = 0; y < kHeight; ++y) {
    BYTE* row = p.data() + static_cast<size_t>(y) * kWidth * 3;
    for (int x = 0; x < kWidth; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int n = static_cast<int>((seed >> 24) % 17) - 8;
      const int base = 40 + (x * 140) / kWidth + (y * 50) / kHeight + n;
      row[x * 3 + 0] = static_cast<BYTE>(std::min(255, base + 20));
      row[x * 3 + 1] = static_cast<BYTE>(std::min(255, base + 5));
      row[x * 3 + 2] = static_cast<BYTE>(std::max(0, base - 15));
      if ((seed & 0xFFFFF) == 7) row[x * 3 + 0] = row[x * 3 + 1] = row[x * 3 + 2] = 250;
    }
  }
  return p;
}

// Times each step from its status text to the next step's.
class StepTimer : public CProgressDlg {
 public:
  std::map<std::string, double> totals;  // seconds per step
  void Start() {
    current_ = "frame";
    since_ = Clock::now();
  }
  void Stop() { Switch(""); }
  void SetStatusText(const std::string& text) override { Switch(text); }
  int CheckCancel() override { return 0; }
  void SetImagePos(int) override {}
  void ShowThumbnail(const BYTE*, int, int) override {}

 private:
  void Switch(const std::string& next) {
    const Clock::time_point now = Clock::now();
    if (!current_.empty()) totals[current_] += Seconds(since_, now);
    current_ = next;
    since_ = now;
  }
  std::string current_;
  Clock::time_point since_;
};

double TimeCommand(const std::string& command) {
  const Clock::time_point t0 = Clock::now();
  const int rc = std::system(command.c_str());
  const double s = Seconds(t0, Clock::now());
  return rc == 0 ? s : -1.0;
}

// djpeg + cjpeg on the picture (PPM in a temporary folder); -1 when the tools are missing.
double DecodeEncodeSeconds(const std::vector<BYTE>& picture, const std::string& dir) {
  if (std::system("command -v cjpeg >/dev/null 2>&1 && command -v djpeg >/dev/null 2>&1") != 0) return -1.0;
  const std::string ppm = dir + "/in.ppm", jpg = dir + "/in.jpg";
  if (!qrvbench::WritePPM(ppm, picture, kWidth, kHeight)) return -1.0;
  const double enc = TimeCommand("cjpeg -quality 90 " + ppm + " > " + jpg);
  const double dec = TimeCommand("djpeg " + jpg + " > " + dir + "/out.ppm");
  if (enc < 0 || dec < 0) return -1.0;
  return enc + dec;
}

void BM_ProcessImageDefaultProfile(benchmark::State& state) {
  char tmpl[] = "/tmp/qrv_bench_XXXXXX";
  const std::string home = mkdtemp(tmpl) ? tmpl : "/tmp";
  mkdir((home + "/help").c_str(), 0777);

  CBatchApp app;
  CMainDialog dlg(app);
  dlg.SetHomeFolder(home);
  CIniFile ini;
  if (!ini.Load(SourceDir() + "/app/default.qrv")) {
    state.SkipWithError("default.qrv not found");
    return;
  }
  // Every step on: colour matching for any camera, a filter, black frame, resize.
  for (const char* s : {"Mode.Advanced=1", "sRGB.Test=1", "FilterSim.Enabled=1", "FilterSim.Name=#1A Filter",
                        "HotPixels.BF=1", "Size.Type=1", "Size.Percent=50", "Output.DetailedLog=1"})
    ini.SetFromAssignment(s);
  ReadProfile(ini, dlg.m_pages, app.m_advancedMode);

  const std::vector<BYTE> picture = MakePicture();
  dlg.m_blackFrame.assign(picture.size(), 2);
  dlg.m_blackFrameWidth = kWidth;
  dlg.m_blackFrameHeight = kHeight;
  dlg.m_exifPresent = 1;
  dlg.m_exposureSeconds = 2.0;  // long enough for black frame and hot pixels
  dlg.m_fNumber = 5.6;
  dlg.m_iso = 400;
  dlg.m_flash = 0;
  dlg.m_subjectDistance = 10.0;  // two speckle passes
  dlg.m_model = "Minolta DiMAGE A1";

  const double yardstick = DecodeEncodeSeconds(picture, home);

  StepTimer timer;
  double total = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    dlg.m_workImage = picture;
    dlg.m_workWidth = kWidth;
    dlg.m_workHeight = kHeight;
    state.ResumeTiming();
    const Clock::time_point t0 = Clock::now();
    timer.Start();
    dlg.ProcessImage(dlg.m_workImage.data(), kWidth, kHeight, nullptr, 0, 0, &timer);
    timer.Stop();
    total += Seconds(t0, Clock::now());
  }
  const double n = static_cast<double>(state.iterations());
  for (const auto& step : timer.totals) state.counters["ms " + step.first] = step.second / n * 1000.0;
  state.counters["Mpix/s"] = kWidth * static_cast<double>(kHeight) / 1e6 / (total / n);
  if (yardstick > 0) {
    state.counters["ms djpeg+cjpeg"] = yardstick * 1000.0;
    state.counters["ratio to djpeg+cjpeg"] = (total / n) / yardstick;
  }
  std::system(("rm -rf " + home).c_str());
}

BENCHMARK(BM_ProcessImageDefaultProfile)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
