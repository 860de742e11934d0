// The JPEG quality search: the working picture is encoded into a sink that only counts bytes,
// bisecting the range of qualities until the largest one whose file fits the limit is found.
#include <algorithm>
#include <cstdio>

#include <qrv/imaging.h>

#include "engine/OutputExif.h"
#include "engine/shell/CMainDialog.h"

namespace {

// Position and size (largest position reached) of the counting sink.
struct ByteCounter {
  uint32_t position = 0;
  uint32_t size = 0;
};

ByteCounter* CounterOf(uintptr_t user) { return reinterpret_cast<ByteCounter*>(user); }

BOOL CounterOpen(uintptr_t user) {
  CounterOf(user)->position = 0;
  CounterOf(user)->size = 0;
  return 1;
}

BOOL CounterWrite(const void*, DWORD count, uintptr_t user) {
  ByteCounter* c = CounterOf(user);
  c->position += count;
  c->size = std::max(c->size, c->position);
  return 1;
}

BOOL CounterSeek(int32_t offset, int32_t origin, uintptr_t user) {
  ByteCounter* c = CounterOf(user);
  if (origin == IS_SEEK_SET) {
    c->position = static_cast<uint32_t>(offset);
  } else if (origin == IS_SEEK_CUR) {
    c->position += static_cast<uint32_t>(offset);
  } else if (origin == IS_SEEK_END && offset < 1) {
    c->position = c->size + static_cast<uint32_t>(offset);
    return 1;
  } else {
    return 0;
  }
  c->size = std::max(c->size, c->position);
  return 1;
}

BOOL CounterTell(uintptr_t user, DWORD* position) {
  if (position) *position = CounterOf(user)->position;
  return 1;
}

BOOL CounterSize(uintptr_t user, DWORD* size) {
  if (size) *size = CounterOf(user)->size;
  return 1;
}

BOOL CounterEof(uintptr_t) { return 0; }

BOOL CounterClose(uintptr_t user) { return user != 0; }

}  // namespace

int CMainDialog::EncodedSizeAtQuality(int quality) {
  ByteCounter counter;
  ISIOHandle sink = ISOpenCallbackSource(CounterOpen, CounterWrite, nullptr, CounterSeek, CounterTell, CounterSize,
                                         CounterEof, CounterClose, 0, reinterpret_cast<uintptr_t>(&counter));
  if (!sink) return 0;
  // The same metadata as the written file, so that a probe's size is the final size.
  const DWORD size = WriteWorkingJpeg(*this, sink, quality, nullptr);
  ISCloseSink(sink);
  return static_cast<int>(std::min<DWORD>(size, 0x7FFFFFFF));
}

int CMainDialog::FindQualityForSize(int low, int high, int limit, CProgressDlg* progress) {
  // Iterative form of the bisection: each probe halves the interval.
  for (;;) {
    if (low == high || low == high - 1 || high < low) return low;
    const int mid = low + (high - low) / 2;
    const int size = EncodedSizeAtQuality(mid);
    if (progress) {
      char text[48];
      std::snprintf(text, sizeof text, "Test Quality: %d", mid);
      progress->SetStatusText(text);
    }
    if (size == limit) return mid;
    // A probe that failed to encode counts as too large.
    if (size > 0 && size < limit)
      low = mid;
    else
      high = mid;
  }
}

int CMainDialog::FindQualityInRange(int limit, int minimum, CProgressDlg* progress) {
  const int low = std::min(minimum, 99);
  const int high = std::min(m_pages.sizeQuality.m_cq, 99);
  if (low >= high) return low;
  const int q = FindQualityForSize(low, high, limit, progress);
  return std::min(std::max(q, low), high);
}

int CMainDialog::FindQualityAtLeast(int limit, int minimum, CProgressDlg* progress) {
  return std::max(FindQualityInRange(limit, minimum, progress), minimum);
}
