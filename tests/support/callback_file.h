// A growable in-memory file behind the caller-callback kind of source and sink, for the tests
// of the I/O layer and of writers that seek back: reads, writes and seeks go to `bytes`.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "qrv/imaging.h"

namespace qrvtest {

struct CallbackFile {
  std::vector<uint8_t> bytes;
  uint32_t position = 0;
  bool opened = false;
  bool failClose = false;       // the close callback reports a failure
  size_t failAfter = SIZE_MAX;  // a write that would pass this many bytes fails

  // A handle over this file; `flag` as ISOpenCallbackSource takes it.
  ISIOHandle Open(DWORD flag = 0) {
    return ISOpenCallbackSource(OnOpen, OnWrite, OnRead, OnSeek, OnTell, OnSize, OnEof, OnClose, flag,
                                reinterpret_cast<uintptr_t>(this));
  }

  static CallbackFile* Of(uintptr_t user) { return reinterpret_cast<CallbackFile*>(user); }
  static BOOL OnOpen(uintptr_t user) { return Of(user)->opened = true, TRUE; }
  static DWORD OnRead(void* buffer, DWORD count, uintptr_t user) {
    CallbackFile* f = Of(user);
    const size_t available = f->position < f->bytes.size() ? f->bytes.size() - f->position : 0;
    const DWORD n = count < available ? count : static_cast<DWORD>(available);
    std::memcpy(buffer, f->bytes.data() + f->position, n);
    f->position += n;
    return n;
  }
  static BOOL OnWrite(const void* buffer, DWORD count, uintptr_t user) {
    CallbackFile* f = Of(user);
    const size_t end = f->position + size_t{count};
    if (end > f->failAfter) return FALSE;
    if (end > f->bytes.size()) f->bytes.resize(end);
    std::memcpy(f->bytes.data() + f->position, buffer, count);
    f->position += count;
    return TRUE;
  }
  static BOOL OnSeek(int32_t offset, int32_t origin, uintptr_t user) {
    CallbackFile* f = Of(user);
    const int64_t base = origin == IS_SEEK_SET   ? 0
                         : origin == IS_SEEK_CUR ? int64_t{f->position}
                                                 : static_cast<int64_t>(f->bytes.size());
    if (base + offset < 0) return FALSE;
    f->position = static_cast<uint32_t>(base + offset);
    return TRUE;
  }
  static BOOL OnTell(uintptr_t user, DWORD* position) { return *position = Of(user)->position, TRUE; }
  static BOOL OnSize(uintptr_t user, DWORD* size) {
    return *size = static_cast<DWORD>(Of(user)->bytes.size()), TRUE;
  }
  static BOOL OnEof(uintptr_t user) { return Of(user)->position >= Of(user)->bytes.size(); }
  static BOOL OnClose(uintptr_t user) { return Of(user)->failClose ? FALSE : TRUE; }
};

}  // namespace qrvtest
