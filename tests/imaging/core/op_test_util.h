// Helpers for the image-operation tests: a progress recorder installed in the thread's
// record, small image builders and a PPM reader for pictures made by reference tools.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "imaging/core/ISThreadState.h"

namespace optest {

// Installs a progress callback for its lifetime; records every (done, total) and answers
// `reply` (or `stopReply` from call number `stopAt` on).
class ProgressRecorder {
 public:
  explicit ProgressRecorder(BOOL reply = 1, size_t stopAt = SIZE_MAX, BOOL stopReply = 0)
      : reply_(reply), stopAt_(stopAt), stopReply_(stopReply) {
    ISThreadState* ts = GetThreadState();
    saved_ = ts->progressCallback;
    savedUser_ = ts->progressUser;
    ts->progressCallback = &ProgressRecorder::Callback;
    ts->progressUser = reinterpret_cast<uintptr_t>(this);
  }
  ~ProgressRecorder() {
    ISThreadState* ts = GetThreadState();
    ts->progressCallback = saved_;
    ts->progressUser = savedUser_;
  }
  ProgressRecorder(const ProgressRecorder&) = delete;
  ProgressRecorder& operator=(const ProgressRecorder&) = delete;

  std::vector<std::pair<DWORD, DWORD>> calls;

 private:
  static BOOL Callback(DWORD done, DWORD total, uintptr_t user) {
    auto* self = reinterpret_cast<ProgressRecorder*>(user);
    self->calls.emplace_back(done, total);
    return self->calls.size() > self->stopAt_ ? self->stopReply_ : self->reply_;
  }
  BOOL reply_;
  size_t stopAt_;
  BOOL stopReply_;
  ISProgressCallback saved_ = nullptr;
  uintptr_t savedUser_ = 0;
};

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed, int lo = 0, int hi = 255) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(lo, hi);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(dist(rng));
  return v;
}

// A binary PPM (P6, maxval 255): width, height and packed RGB rows; false when unreadable.
struct PPM {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> pixels;
};

// Next header number of a PNM file, skipping blanks and # comments.
inline bool PNMNumber(FILE* f, unsigned& v) {
  int c = std::fgetc(f);
  for (;;) {
    while (c == ' ' || c == '\n' || c == '\r' || c == '\t') c = std::fgetc(f);
    if (c != '#') break;
    while (c != '\n' && c != EOF) c = std::fgetc(f);
  }
  if (c < '0' || c > '9') return false;
  v = 0;
  while (c >= '0' && c <= '9') {
    v = v * 10 + unsigned(c - '0');
    c = std::fgetc(f);
  }
  return true;  // the one blank after the number is consumed
}

inline bool ReadPPM(const std::string& path, PPM& out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  unsigned w = 0, h = 0, maxval = 0;
  bool ok = std::fgetc(f) == 'P' && std::fgetc(f) == '6' && PNMNumber(f, w) && PNMNumber(f, h) &&
            PNMNumber(f, maxval) && maxval == 255;
  if (ok) {
    out.width = w;
    out.height = h;
    out.pixels.resize(size_t(w) * h * 3);
    ok = std::fread(out.pixels.data(), 1, out.pixels.size(), f) == out.pixels.size();
  }
  std::fclose(f);
  return ok;
}

inline bool WritePPM(const std::string& path, uint32_t w, uint32_t h, const uint8_t* rgb) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%u %u\n255\n", w, h);
  bool ok = std::fwrite(rgb, 1, size_t(w) * h * 3, f) == size_t(w) * h * 3;
  return std::fclose(f) == 0 && ok;
}

// The real ImageMagick, run single-threaded; "" when it is not installed.
inline std::string MagickConvert() {
  FILE* p = popen("/usr/bin/convert -version 2>/dev/null", "r");
  if (!p) return "";
  char buf[256] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, p);
  pclose(p);
  return std::string(buf, n).find("ImageMagick") != std::string::npos ? "MAGICK_THREAD_LIMIT=1 /usr/bin/convert"
                                                                       : "";
}

}  // namespace optest
