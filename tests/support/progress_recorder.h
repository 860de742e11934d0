// Records the progress reports of the code under test: installed in the thread's record for
// its lifetime, it keeps every (done, total) and answers as told.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "imaging/core/ISThreadState.h"

namespace qrvtest {

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

}  // namespace qrvtest
