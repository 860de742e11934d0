// Small helpers the image operations share: scratch arrays sized from 64-bit products, and
// the per-row progress report with its stop rule.
#pragma once

#include <cstdint>

#include "imaging/core/ISContainers.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/core/ISThreadState.h"
#include "platform/thread_pool.h"
#include "platform/wide_vectors.h"

// Gives `array` count elements when the count (and its size in bytes) is one the library may
// allocate; false leaves it empty, and the caller reports error 1.
template <typename T>
bool ResizeScratch(ISArray<T>& array, uint64_t count) {
  uint64_t bytes = 0;
  if (count == 0 || count > 0x7FFFFFFFu || !ISAllocSize(bytes, count, sizeof(T))) {
    array.Free();
    return false;
  }
  array.Resize(static_cast<uint32_t>(count));
  return array.Data() != nullptr;
}

// Progress stop rules: most operations stop on a reply of 0 or less, some only on exactly 0.
enum class ISStopRule { kZeroOrNegative, kZeroOnly };

// Reports (done, total) and turns a stop into error 14; true to go on.
inline bool ProgressOrStop(ISErrorCode& error, uint64_t done, uint64_t total,
                           ISStopRule rule = ISStopRule::kZeroOrNegative) {
  if (ReportProgress(static_cast<DWORD>(done), static_cast<DWORD>(total), rule == ISStopRule::kZeroOrNegative))
    return true;
  error = IS_ERR_STOPPED;
  return false;
}

// True when a progress report of this thread would reach a callback (call depth 1 with a
// callback installed): operations with a faster form that reports differently use it only
// when nobody is listening.
inline bool ProgressIsHeard() {
  ISThreadState* ts = GetThreadState();
  return ts && ts->callDepth == 1 && ts->progressCallback;
}

// Runs rowFn(y0, y1) over the rows [0, rows). When a progress callback listens, the rows run
// one at a time on this thread with a report (y, total) after each, so that a stop leaves
// exactly the rows before it written; otherwise they are shared out over the thread pool in
// bands of at least minRows. rowFn must touch no per-thread library state. False when stopped.
template <typename RowFn>
bool RunRowsReported(ISErrorCode& error, uint32_t rows, uint32_t minRows, uint64_t total, ISStopRule rule,
                     const RowFn& rowFn) {
  if (ProgressIsHeard()) {
    for (uint32_t y = 0; y < rows; ++y) {
      rowFn(y, y + 1);
      if (!ProgressOrStop(error, y, total, rule)) return false;
    }
    return true;
  }
  qrv::ParallelRows(rows, minRows, rowFn);
  return true;
}

// Holds the call depth raised while an operation runs another one as a step of its own work,
// so that the inner one reports no progress.
class ISNestedCall {
 public:
  ISNestedCall() : guard_(GetThreadState()) {}

 private:
  ISCallDepthGuard guard_;
};

// Rounds to the nearest integer, ties to even, as nearbyint does in the default rounding
// mode, for |v| below 2^51, without a library call per sample: adding and removing 1.5 x 2^52
// leaves exactly the rounded value.
inline double RoundTiesEven(double v) {
  constexpr double kShift = 6755399441055744.0;
  return (v + kShift) - kShift;  // not folded: the build allows no reassociation
}
