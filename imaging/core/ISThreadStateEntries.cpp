// Public entry points that work only on the thread's record: last error, progress callback,
// the JPEG comment and marker lists, and the JPEG options.
// Errors: 1 out of memory, 5 bad index or argument, 55 (ISGetLastError) no thread record.
#include <cstring>

#include "imaging/core/ISEntryFrame.h"

namespace {

// A new global-memory copy of n bytes with a terminating zero after them.
HGLOBAL CopyToGlobal(const void* data, uint64_t n) {
  auto* block = static_cast<unsigned char*>(SafeGlobalAlloc(n + 1));
  if (block && n) std::memcpy(block, data, static_cast<size_t>(n));
  return block;
}

int32_t ClampSampling(int32_t v) { return v < 2 ? 1 : (v > 4 ? 4 : v); }

}  // namespace

extern "C" {

ISErrorCode ISGetLastError(void) {
  ISThreadState* ts = GetThreadState();
  return ts ? ts->lastError : IS_ERR_NOSTATE;
}

const char* ISGetLastWarning(void) {
  ISThreadState* ts = GetThreadState();
  return ts ? ts->lastWarning.c_str() : "";
}

ISProgressCallback ISGetProgressCallback(uintptr_t* user) {
  if (user) *user = 0;
  return ISRunEntry<ISProgressCallback>(nullptr, [&](ISErrorCode&, ISThreadState& ts) -> ISProgressCallback {
    if (user) *user = ts.progressUser;
    return ts.progressCallback;
  });
}

DWORD ISGetJPGCommentCount(void) {
  return ISRunEntry<DWORD>(0, [&](ISErrorCode&, ISThreadState& ts) -> DWORD {
    return static_cast<DWORD>(ts.jpg.commentsRead.Size());
  });
}

HGLOBAL ISGetJPGComment(DWORD index) {
  return ISRunEntry<HGLOBAL>(nullptr, [&](ISErrorCode& error, ISThreadState& ts) -> HGLOBAL {
    if (index >= ts.jpg.commentsRead.Size()) return error = IS_ERR_BADPARAM, nullptr;
    const CFileDataTag* tag = ts.jpg.commentsRead[index];
    const std::string& text = tag ? tag->text : std::string();
    HGLOBAL copy = CopyToGlobal(text.data(), text.size());
    if (!copy) error = IS_ERR_NOMEM;
    return copy;
  });
}

BOOL ISAddJPGComment(const char* text) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState& ts) -> BOOL {
    if (!text) return error = IS_ERR_BADPARAM, FALSE;
    auto* tag = new (std::nothrow) CFileDataTag;
    if (!tag) return error = IS_ERR_NOMEM, FALSE;
    tag->id = 0;
    tag->text = text;
    if (!ts.jpg.commentsToWrite.Add(tag)) return error = IS_ERR_NOMEM, FALSE;
    return TRUE;
  });
}

BOOL ISClearJPGComments(void) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode&, ISThreadState& ts) -> BOOL {
    ts.jpg.commentsToWrite.Clear();
    return TRUE;
  });
}

DWORD ISGetJPGMarkerCount(void) {
  return ISRunEntry<DWORD>(0, [&](ISErrorCode&, ISThreadState& ts) -> DWORD {
    return static_cast<DWORD>(ts.jpg.markersRead.Size());
  });
}

BOOL ISGetJPGMarker(DWORD index, HGLOBAL* data, DWORD* length, DWORD* markerCode) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState& ts) -> BOOL {
    if (data) *data = nullptr;
    if (length) *length = 0;
    if (markerCode) *markerCode = 0;
    if (!data || !length || !markerCode) return error = IS_ERR_BADPARAM, FALSE;
    if (index >= ts.jpg.markersRead.Size() || !ts.jpg.markersRead[index]) return error = IS_ERR_BADPARAM, FALSE;
    const CFileDataTag& tag = *ts.jpg.markersRead[index];
    HGLOBAL copy = CopyToGlobal(tag.data.Data(), tag.data.Count());
    if (!copy) return error = IS_ERR_NOMEM, FALSE;
    *data = copy;
    *length = tag.data.Count();
    *markerCode = tag.id;
    return TRUE;
  });
}

BOOL ISAddJPGMarker(const BYTE* data, DWORD length, DWORD markerCode) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState& ts) -> BOOL {
    if (length == 0) return TRUE;  // nothing to write
    if (!data) return error = IS_ERR_BADPARAM, FALSE;
    auto* tag = new (std::nothrow) CFileDataTag;
    if (!tag) return error = IS_ERR_NOMEM, FALSE;
    tag->id = markerCode;
    if (!tag->data.Assign(data, length)) {
      delete tag;
      return error = IS_ERR_NOMEM, FALSE;
    }
    if (!ts.jpg.markersToWrite.Add(tag)) return error = IS_ERR_NOMEM, FALSE;
    return TRUE;
  });
}

BOOL ISClearJPGMarkers(void) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode&, ISThreadState& ts) -> BOOL {
    ts.jpg.markersToWrite.Clear();
    return TRUE;
  });
}

void ISSetJPGDCTMethod(DWORD method) {
  ISRunEntry<int>(0, [&](ISErrorCode&, ISThreadState& ts) {
    ts.jpg.dctMethod = static_cast<int32_t>(method);
    return 1;
  });
}

void ISSetJPGSampling(const int32_t* horizontal, const int32_t* vertical) {
  ISRunEntry<int>(0, [&](ISErrorCode&, ISThreadState& ts) {
    if (!horizontal || !vertical) {
      ts.jpg.customSampling = 0;
      return 1;
    }
    for (int i = 0; i < kJPGSamplingEntries; ++i) {
      ts.jpg.hSampling[i] = ClampSampling(horizontal[i]);
      ts.jpg.vSampling[i] = ClampSampling(vertical[i]);
    }
    ts.jpg.customSampling = 1;
    return 1;
  });
}

void ISSetJPGReadScale(DWORD numerator, DWORD denominator) {
  ISRunEntry<int>(0, [&](ISErrorCode&, ISThreadState& ts) {
    ts.jpg.readScaleNum = numerator;
    ts.jpg.readScaleDen = denominator;
    return 1;
  });
}

}  // extern "C"
