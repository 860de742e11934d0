// The state of one ProcessImage call, shared by the pipeline's steps: the two images and their
// scratch copies, the progress window, the mode, the filter object, and the helpers for status
// text, progress with thumbnail and cancel poll, and detailed-log lines.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "engine/shell/CMainDialog.h"

class CImageFilter;

// Piecewise-linear base-2 logarithm: exact at powers of two, linear between them; x itself
// below 1. NaN gives 0; values beyond 2^60 count as 2^60.
double ApproxLog2(double x);
// base^exponent by repeated products, with the fractional part interpolated linearly.
double ApproxPower(double base, double exponent);

// The gamma of a cast-removal and of a midtones control value (128 = neutral).
double CastGamma(int value);
double MidtonesGamma(int value);

// A heap buffer of `bytes` bytes, uninitialised, freed on every exit path.
class PipelineBuffer {
 public:
  void Allocate(size_t bytes) {
    data_.reset(new BYTE[bytes == 0 ? 1 : bytes]);
    size_ = bytes;
  }
  void Reset() {
    data_.reset();
    size_ = 0;
  }
  BYTE* get() const { return data_.get(); }
  size_t size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }

 private:
  std::unique_ptr<BYTE[]> data_;
  size_t size_ = 0;
};

// The resize target of a picture (see the resize step); {0, 0} when nothing is to be done.
void ResizeTarget(int type, int percent, int boxWidth, int boxHeight, int width, int height, int* outW, int* outH);

// Bytes of a PackedRGB24 picture; 0 for a side below 1.
size_t PictureBytes(int width, int height);

struct PipelineRun {
  PipelineRun(CMainDialog& d, BYTE* a, int wa, int ha, BYTE* b, int wb, int hb, CProgressDlg* p)
      : dlg(d), imageA(a), widthA(wa), heightA(ha), imageB(b), widthB(wb), heightB(hb), progress(p) {}

  CMainDialog& dlg;
  BYTE* imageA;
  int widthA, heightA;
  BYTE* imageB;
  int widthB, heightB;
  CProgressDlg* progress;
  int advanced = 0;     // the mode word: 0 simple, otherwise advanced
  int detailedLog = 0;
  PipelineBuffer scratchA, scratchB;
  CImageFilter* filter = nullptr;

  bool HasA() const { return static_cast<bool>(scratchA); }
  bool HasB() const { return static_cast<bool>(scratchB); }
  // A run passes no second image.
  bool IsRun() const { return !scratchB; }

  // Copies image A (B) into its scratch copy.
  void CopyAToScratch();
  void CopyBToScratch();

  // Status line, only with a progress window.
  void Status(const std::string& text);
  // A blue step line, only in a run with the detailed log on.
  void Log(const std::string& text);
  // A red line, in every run.
  void LogError(const std::string& text);
  // Cancel poll: false (and the cancel word set) when the user cancelled.
  bool Poll();
  // The progress value after a step, the thumbnail of image A where asked, then the poll.
  bool After(int position, bool thumbnail);
};

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
