// Image memory: global memory with zero fill, or the thread's allocation callbacks.
#include "imaging/core/CISMemBlock.h"

#include "imaging/core/ISThreadState.h"

bool CISMemBlock::Alloc(uint64_t size) {
  Reset();
  ISThreadState* ts = GetThreadState();
  if (ts && ts->allocCallback) {
    void* p = ts->allocCallback(size, ts->allocUser);
    if (!p) return false;
    kind_ = kCallback;
    data_ = p;
    return true;
  }
  if (size == 0 || size >= kGlobalAllocLimit) return false;
  handle_ = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
  kind_ = kGlobal;
  return handle_ != nullptr;
}

bool CISMemBlock::ReAlloc(uint64_t size) {
  if (kind_ == kCallback) {
    ISThreadState* ts = GetThreadState();
    if (!ts || !ts->reallocCallback) return false;
    void* p = ts->reallocCallback(data_, size, ts->allocUser);
    if (!p) return false;
    data_ = p;
    return true;
  }
  if (size == 0) return false;
  HGLOBAL p = SafeGlobalReAlloc(handle_, size);
  if (!p) return false;
  handle_ = p;
  return true;
}

bool CISMemBlock::Free() {
  bool ok = true;
  if (kind_ == kGlobal) {
    if (handle_) GlobalFree(handle_);
  } else {
    ISThreadState* ts = GetThreadState();
    ok = ts && ts->freeCallback && ts->freeCallback(data_, ts->allocUser) == 1;
  }
  Reset();
  return ok;
}
