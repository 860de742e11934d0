// Public entry points of the I/O layer: opening, reading, writing, seeking and closing
// sources and sinks, and the callback table for a separate decoder.
// Errors: 1 out of memory, 2 file not opened, 4 final flush or close failed, 5 bad argument,
// 38 a handle that is not live.
#include "imaging/core/CISIO.h"
#include "imaging/core/ISEntryFrame.h"

bool ISCheckHandle(ISIOHandle handle, ISErrorCode& error) {
  if (!handle) {
    error = IS_ERR_BADPARAM;
    return false;
  }
  if (!CISIO::IsValidHandle(handle)) {
    error = IS_ERR_BADHANDLE;
    return false;
  }
  return true;
}

namespace {

// Allocates a handle, runs open on it, and frees it again when open fails.
template <typename Open>
ISIOHandle OpenHandle(ISErrorCode& error, ISErrorCode openFailure, Open&& open) {
  ISIOHandle h = CISIO::NewHandle();
  if (!h) {
    error = IS_ERR_NOMEM;
    return nullptr;
  }
  CISIO io(h);
  if (!open(io)) {
    CISIO::DestroyHandle(h);
    error = openFailure;
    return nullptr;
  }
  return h;
}

}  // namespace

extern "C" {

ISIOHandle ISOpenFileSource(const char* path) {
  return ISRunEntry<ISIOHandle>(nullptr, [&](ISErrorCode& error, ISThreadState&) -> ISIOHandle {
    if (!path || !*path) return error = IS_ERR_BADPARAM, nullptr;
    return OpenHandle(error, IS_ERR_OPEN, [&](CISIO& io) { return io.OpenFileSource(path); });
  });
}

ISIOHandle ISOpenMemorySource(const void* base, DWORD size) {
  return ISRunEntry<ISIOHandle>(nullptr, [&](ISErrorCode& error, ISThreadState&) -> ISIOHandle {
    if (!base || size == 0) return error = IS_ERR_BADPARAM, nullptr;
    return OpenHandle(error, IS_ERR_BADPARAM, [&](CISIO& io) { return io.OpenMemorySource(base, size); });
  });
}

ISIOHandle ISOpenFileSink(const char* path, DWORD flag) {
  return ISRunEntry<ISIOHandle>(nullptr, [&](ISErrorCode& error, ISThreadState&) -> ISIOHandle {
    if (!path || !*path) return error = IS_ERR_BADPARAM, nullptr;
    return OpenHandle(error, IS_ERR_OPEN, [&](CISIO& io) { return io.OpenFileSink(path, flag); });
  });
}

ISIOHandle ISOpenMemorySink(void* base, DWORD size, DWORD flag) {
  return ISRunEntry<ISIOHandle>(nullptr, [&](ISErrorCode& error, ISThreadState&) -> ISIOHandle {
    if (!base || size == 0) return error = IS_ERR_BADPARAM, nullptr;
    return OpenHandle(error, IS_ERR_BADPARAM, [&](CISIO& io) { return io.OpenMemorySink(base, size, flag); });
  });
}

ISIOHandle ISOpenCallbackSource(ISIOOpenFn open, ISIOWriteFn write, ISIOReadFn read, ISIOSeekFn seek,
                                ISIOTellFn tell, ISIOSizeFn size, ISIOEofFn eof, ISIOCloseFn close, DWORD flag,
                                uintptr_t user) {
  return ISRunEntry<ISIOHandle>(nullptr, [&](ISErrorCode& error, ISThreadState&) -> ISIOHandle {
    return OpenHandle(error, IS_ERR_BADPARAM, [&](CISIO& io) {
      return io.OpenCallbacks(open, write, read, seek, tell, size, eof, close, user, flag);
    });
  });
}

DWORD ISReadSource(ISIOHandle handle, void* buffer, DWORD count) {
  return ISRunEntry<DWORD>(0, [&](ISErrorCode& error, ISThreadState&) -> DWORD {
    if (!ISCheckHandle(handle, error)) return 0;
    if (!buffer) return error = IS_ERR_BADPARAM, 0;
    return CISIO(handle).Read(buffer, count);
  });
}

BOOL ISWriteSink(ISIOHandle handle, const void* buffer, DWORD count) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    if (!ISCheckHandle(handle, error)) return FALSE;
    if (!buffer) return error = IS_ERR_BADPARAM, FALSE;
    return CISIO(handle).Write(buffer, count) ? TRUE : FALSE;
  });
}

BOOL ISSeekSource(ISIOHandle handle, int32_t offset, int32_t origin) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    if (!ISCheckHandle(handle, error)) return FALSE;
    return CISIO(handle).Seek(offset, origin) ? TRUE : FALSE;
  });
}

BOOL ISTellSource(ISIOHandle handle, DWORD* position) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    if (!position) return error = IS_ERR_BADPARAM, FALSE;
    *position = 0;
    if (!ISCheckHandle(handle, error)) return FALSE;
    return CISIO(handle).Tell(position) ? TRUE : FALSE;
  });
}

BOOL ISGetSourceSize(ISIOHandle handle, DWORD* size) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    if (!size) return error = IS_ERR_BADPARAM, FALSE;
    *size = 0;
    if (!ISCheckHandle(handle, error)) return FALSE;
    return CISIO(handle).GetSize(size) ? TRUE : FALSE;
  });
}

BOOL ISIsSourceAtEnd(ISIOHandle handle) {
  return ISRunEntry<BOOL>(FALSE, [&](ISErrorCode& error, ISThreadState&) -> BOOL {
    if (!ISCheckHandle(handle, error)) return FALSE;
    return CISIO(handle).IsEOF() ? TRUE : FALSE;
  });
}

DWORD ISCloseSource(ISIOHandle handle) {
  return ISRunEntry<DWORD>(0, [&](ISErrorCode& error, ISThreadState&) -> DWORD {
    if (!ISCheckHandle(handle, error)) return 0;
    CISIO io(handle);
    uint32_t position = 0;
    io.Tell(&position);
    io.Close();
    CISIO::DestroyHandle(handle);
    return position;
  });
}

DWORD ISCloseSink(ISIOHandle handle) {
  return ISRunEntry<DWORD>(0, [&](ISErrorCode& error, ISThreadState&) -> DWORD {
    if (!ISCheckHandle(handle, error)) return 0;
    CISIO io(handle);
    uint32_t size = 0;
    bool flushed = io.GetSize(&size);
    bool closed = io.Close();
    CISIO::DestroyHandle(handle);
    // A sink whose last bytes did not reach their target is never reported as written.
    if (!flushed || !closed) return error = IS_ERR_WRITE, 0;
    return size;
  });
}

}  // extern "C"

namespace {

void TableGetAllocCallbacks(ISAllocCallback* alloc, ISReAllocCallback* realloc, ISFreeCallback* free,
                            uintptr_t* user) {
  ISThreadState* ts = GetThreadState();
  if (alloc) *alloc = ts ? ts->allocCallback : nullptr;
  if (realloc) *realloc = ts ? ts->reallocCallback : nullptr;
  if (free) *free = ts ? ts->freeCallback : nullptr;
  if (user) *user = ts ? ts->allocUser : 0;
}

void TableSetError(ISErrorCode code) { SetLastErrorCode(code); }

}  // namespace

extern "C" ISIOCallbackTable* ISGetIOCallbackTable(ISIOHandle handle) {
  return ISRunEntry<ISIOCallbackTable*>(nullptr, [&](ISErrorCode& error, ISThreadState&) -> ISIOCallbackTable* {
    auto* table = static_cast<ISIOCallbackTable*>(SafeGlobalAlloc(sizeof(ISIOCallbackTable)));
    if (!table) return error = IS_ERR_NOMEM, nullptr;
    table->size = sizeof(ISIOCallbackTable);
    table->handle = handle;
    table->read = ISReadSource;
    table->write = ISWriteSink;
    table->seek = ISSeekSource;
    table->tell = ISTellSource;
    table->getSize = ISGetSourceSize;
    table->atEnd = ISIsSourceAtEnd;
    table->getProgressCallback = ISGetProgressCallback;
    table->getAllocCallbacks = TableGetAllocCallbacks;
    table->setError = TableSetError;
    table->reserved = 0;
    return table;
  });
}
