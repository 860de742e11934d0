// The per-image correction pipeline: settings refresh, scratch copies, the twelve steps in order,
// progress, thumbnails, cancel polls and the detailed-log lines.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/CImageFilter.h"
#include "engine/HtmlLog.h"
#include "engine/PipelineFrame.h"

double ApproxLog2(double x) {
  if (std::isnan(x)) return 0.0;
  if (x > 1152921504606846976.0) x = 1152921504606846976.0;  // 2^60: keeps the count finite
  double n = std::trunc(x);
  int k = 0;
  while (n > 1.0) {
    ++k;
    n = std::floor(n / 2.0);
    x = x / 2.0;
  }
  return k + (x - std::trunc(x));
}

double ApproxPower(double base, double exponent) {
  double r = base;
  const double whole = std::trunc(exponent);
  for (double i = 1.0; i < whole && i < 1e6; i += 1.0) {
    r *= base;
    if (r < 0.0001) {
      r = 0.0;
      break;
    }
  }
  return r + (r * base - r) * (exponent - whole);
}

double CastGamma(int value) {
  const double d = 255.0 - value;
  if (d == 128.0) return 1.0;
  if (d > 128.0) return (d / 128.0 - 1.0) / 2.0 + 1.0;
  return 1.0 / (((255.0 - d) / 128.0 - 1.0) / 2.0 + 1.0);
}

double MidtonesGamma(int value) {
  const double v = value;
  if (v > 128.0) return (v / 128.0 - 1.0) / 2.0 + 1.0;
  if (v < 128.0) return 1.0 / (((255.0 - v) / 128.0 - 1.0) * 2.0 + 1.0);
  return 1.0;
}

size_t PictureBytes(int width, int height) {
  if (width < 1 || height < 1) return 0;
  return static_cast<size_t>(width) * static_cast<size_t>(height) * 3u;
}

std::string Format(const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(&out[0], out.size(), format, args);
  va_end(args);
  out.resize(static_cast<size_t>(n));
  return out;
}

void PipelineRun::CopyAToScratch() {
  if (HasA()) std::memcpy(scratchA.get(), imageA, PictureBytes(widthA, heightA));
}

void PipelineRun::CopyBToScratch() {
  if (HasB()) std::memcpy(scratchB.get(), imageB, PictureBytes(widthB, heightB));
}

void PipelineRun::Status(const std::string& text) {
  if (progress) progress->SetStatusText(text);
}

void PipelineRun::Log(const std::string& text) {
  if (IsRun() && detailedLog) dlg.AppendLog(dlg.LogTime() + kLogFontStep + text + "</font><br>\r\n", 0);
}

void PipelineRun::LogError(const std::string& text) {
  if (IsRun()) dlg.LogEntryWarning(text);
}

bool PipelineRun::Poll() {
  if (progress && progress->CheckCancel()) {
    dlg.m_cancel = 1;
    return false;
  }
  return true;
}

bool PipelineRun::After(int position, bool thumbnail) {
  if (!progress) return true;
  progress->SetImagePos(position);
  if (thumbnail && HasA()) progress->ShowThumbnail(imageA, widthA, heightA);
  return Poll();
}

void CMainDialog::ProcessImage(BYTE* imageA, int widthA, int heightA, BYTE* imageB, int widthB, int heightB,
                               CProgressDlg* progress) {
  // A picture with a side below 1 counts as absent.
  if (PictureBytes(widthA, heightA) == 0) imageA = nullptr;
  if (PictureBytes(widthB, heightB) == 0) imageB = nullptr;
  if (!imageA && !imageB) return;

  m_pages.output.UpdateData(TRUE);
  m_pages.sizeQuality.UpdateData(TRUE);
  if (m_app.m_advancedMode == 1) {
    m_pages.sharpenAdvanced.UpdateData(TRUE);
    m_pages.hotPixelsAdvanced.UpdateData(TRUE);
    m_pages.denoiserAdvanced.UpdateData(TRUE);
  } else {
    m_pages.sharpenBasic.UpdateData(TRUE);
    m_pages.hotPixelsBasic.UpdateData(TRUE);
    m_pages.denoiserBasic.UpdateData(TRUE);
  }
  m_pages.textStamp.UpdateData(TRUE);

  PipelineRun run(*this, imageA, widthA, heightA, imageB, widthB, heightB, progress);
  try {
    run.detailedLog = m_pages.output.m_detailedLog;
    if (imageA) {
      run.scratchA.Allocate(PictureBytes(widthA, heightA));
      run.CopyAToScratch();
    }
    if (imageB) {
      run.scratchB.Allocate(PictureBytes(widthB, heightB));
      run.CopyBToScratch();
    }
    if (progress) {
      progress->SetImagePos(10);
      if (!run.Poll()) return;
    }

    run.advanced = m_app.m_advancedMode != 0 ? 1 : 0;
    CImageFilter filter;
    run.filter = &filter;

    if (!StepColorMatching(run)) return;
    if (!StepCastRemoval(run)) return;
    if (!StepAutoBalance(run)) return;
    if (!StepFilterSimulation(run)) return;
    if (!StepMidtones(run)) return;
    if (!StepBlackFrame(run)) return;
    if (!StepHotPixels(run)) return;
    if (!StepDenoiser(run)) return;
    if (!StepResize(run)) return;
    if (!StepSharpen(run)) return;
    if (!StepFinalColorFix(run)) return;
    StepTextStamp(run);
  } catch (const std::bad_alloc&) {
    // The scratch copies are released by their holders; the picture keeps the corrections made.
    run.LogError("Not enough memory to correct the picture");
  }
}
