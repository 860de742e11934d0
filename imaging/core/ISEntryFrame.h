// The frame every public entry point follows: the thread's record (nothing at all when there
// is none), the last error (and, for an outermost call, the last warning) cleared, one call-depth guard, no exception let out, the
// operation's error stored on the way out.
#pragma once

#include <new>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISContainers.h"
#include "imaging/core/ISThreadState.h"

// Per-call context of an image operation: the error word first, then the bit tables that the
// pixel packers share.
struct CISOpContext {
  ISErrorCode error = IS_ERR_OK;
  static const uint8_t kBitMasks[8];     // 1, 2, 4 ... 128
  static const uint8_t kBitReverse[256]; // i with its 8 bits in reverse order
  bool Fail(ISErrorCode code) {
    error = code;
    return false;
  }
};

// Stores a failure code and gives false, for `return Fail(error, code);`.
inline bool Fail(ISErrorCode& error, ISErrorCode code) {
  error = code;
  return false;
}

// Hands a reader's picture size to its out-pointers; either may be null.
inline void SetSize(DWORD* width, DWORD* height, uint64_t w, uint64_t h) {
  if (width) *width = static_cast<DWORD>(w);
  if (height) *height = static_cast<DWORD>(h);
}

// Runs body(ISErrorCode& error, ISThreadState& ts) under the frame and returns its result;
// `failure` is returned when no record can be had or the body throws.
template <typename Result, typename Body>
Result ISRunEntry(Result failure, Body&& body) {
  ISThreadState* ts = GetThreadState();
  if (!ts) return failure;
  ts->lastError = IS_ERR_OK;
  // A call made from inside another keeps the outer call's warning.
  if (ts->callDepth == 0) ts->lastWarning.clear();
  ISErrorCode error = IS_ERR_OK;
  Result result = failure;
  {
    ISCallDepthGuard depth(ts);
    try {
      result = body(error, *ts);
    } catch (const RovIrirev::ISException& e) {
      error = e.Code() ? e.Code() : IS_ERR_INTERNAL;
      result = failure;
    } catch (const std::bad_alloc&) {
      error = IS_ERR_NOMEM;
      result = failure;
    } catch (...) {
      error = IS_ERR_INTERNAL;
      result = failure;
    }
  }
  ts->lastError = error;
  return result;
}

// Entry points that take an I/O handle: null is error 5, a handle that is not live is 38.
bool ISCheckHandle(ISIOHandle handle, ISErrorCode& error);

// The reader frame: the handle checked, then body(CISIO&, ISErrorCode&, ISThreadState&)
// returns the image block or null. A reader builds its block in an ISOwnedBlock, so a
// failure on any path frees it.
template <typename Body>
HGLOBAL ISRunReader(ISIOHandle source, Body&& body) {
  return ISRunEntry<HGLOBAL>(nullptr, [&](ISErrorCode& error, ISThreadState& ts) -> HGLOBAL {
    if (!ISCheckHandle(source, error)) return nullptr;
    CISIO io(source);
    HGLOBAL result = body(io, error, ts);
    return error == IS_ERR_OK ? result : nullptr;
  });
}

// The writer frame: as the reader's, with a BOOL result (never the sink's size on failure).
template <typename Body>
BOOL ISRunWriter(ISIOHandle sink, Body&& body) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState& ts) -> BOOL {
    if (!ISCheckHandle(sink, error)) return FALSE;
    CISIO io(sink);
    BOOL result = body(io, error, ts);
    return error == IS_ERR_OK ? result : FALSE;
  });
}

// The operation frame: body(CISOpContext&) returns 1 or 0; the context's error is stored.
template <typename Body>
BOOL ISRunOperation(Body&& body) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    CISOpContext ctx;
    BOOL result = body(ctx);
    error = ctx.error;
    return error == IS_ERR_OK ? result : FALSE;
  });
}
