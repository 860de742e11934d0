// Byte streams over files, memory blocks and caller callbacks.
#include "imaging/core/CISIO.h"

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

namespace {

// Every handle this library has handed out and not yet freed.
struct HandleRegistry {
  std::mutex mutex;
  std::unordered_set<const ISIOHandleRec*> live;
};

HandleRegistry& Registry() {
  static HandleRegistry* registry = new HandleRegistry;  // outlives every static user
  return *registry;
}

}  // namespace

ISIOHandle CISIO::NewHandle() {
  ISIOHandleRec* h = new (std::nothrow) ISIOHandleRec;
  if (!h) return nullptr;
  try {
    HandleRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.live.insert(h);
  } catch (...) {
    delete h;
    return nullptr;
  }
  return h;
}

void CISIO::DestroyHandle(ISIOHandle handle) {
  if (!handle) return;
  {
    HandleRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.live.erase(handle) == 0) return;  // not ours, or already freed
  }
  delete handle;
}

bool CISIO::IsValidHandle(ISIOHandle h) {
  if (!h) return false;
  {
    HandleRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.live.find(h) == r.live.end()) return false;
  }
  if (h->mark1 != kIOMark1 || h->mark2 != kIOMark2) return false;
  switch (h->kind) {
    case kIOFile: return h->stream != nullptr;
    case kIOWin32File: return h->win32File != nullptr;
    case kIOMemory: return h->base != nullptr && h->size != 0;
    case kIOCallbacks:
    case kIOCounting: return true;
    default: return false;
  }
}

void CISIO::MarkOpen() {
  h_->mark1 = kIOMark1;
  h_->mark2 = kIOMark2;
}

void CISIO::MarkClosed() {
  h_->mark1 = 0;
  h_->mark2 = 0;
}

bool CISIO::OpenFileSource(const char* path) {
  if (!path || !*path) return false;
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  h_->stream = f;
  h_->kind = kIOFile;
  h_->writable = false;
  h_->openFlag = 0;
  h_->path = path;
  MarkOpen();
  return true;
}

bool CISIO::OpenMemorySource(const void* base, uint32_t size) {
  if (!base || size == 0) return false;
  h_->kind = kIOMemory;
  h_->base = static_cast<unsigned char*>(const_cast<void*>(base));
  h_->size = size;
  h_->position = 0;
  h_->extent = 0;
  h_->writable = false;
  h_->openFlag = 0;
  MarkOpen();
  return true;
}

bool CISIO::OpenMemorySink(void* base, uint32_t size, uint32_t flag) {
  if (!OpenMemorySource(base, size)) return false;
  h_->writable = true;
  h_->openFlag = flag;
  return true;
}

bool CISIO::OpenFileSink(const char* path, uint32_t flag) {
  if (!path || !*path) return false;
  FILE* f = nullptr;
  if (flag == 1) {
    // Empty an existing file, then open it for update; a missing file cannot be opened.
    if (FILE* probe = std::fopen(path, "rb")) {
      std::fclose(probe);
      if (FILE* empty = std::fopen(path, "w")) std::fclose(empty);
    }
    f = std::fopen(path, "rb+");
  } else {
    f = std::fopen(path, "wb+");
  }
  if (!f) return false;
  h_->stream = f;
  h_->kind = kIOFile;
  h_->writable = true;
  h_->openFlag = flag;
  h_->extent = 0;
  h_->path = path;
  MarkOpen();
  return true;
}

bool CISIO::OpenCallbacks(ISIOOpenFn open, ISIOWriteFn write, ISIOReadFn read, ISIOSeekFn seek, ISIOTellFn tell,
                          ISIOSizeFn size, ISIOEofFn eof, ISIOCloseFn close, uintptr_t user, uint32_t flag) {
  if (!open || !write || !seek || !tell || !size || !eof || !close) return false;
  h_->kind = kIOCallbacks;
  h_->writable = true;
  h_->openFlag = flag;
  h_->open = open;
  h_->read = read;
  h_->write = write;
  h_->seek = seek;
  h_->tell = tell;
  h_->sizeFn = size;
  h_->eof = eof;
  h_->close = close;
  h_->user = user;
  MarkOpen();
  return open(user) != 0;
}

uint32_t CISIO::Read(void* buffer, uint32_t n) {
  if (!buffer || n == 0) return 0;
  switch (h_->kind) {
    case kIOFile: return static_cast<uint32_t>(std::fread(buffer, 1, n, h_->stream));
    case kIOMemory: {
      uint32_t limit = h_->writable ? h_->extent : h_->size;
      if (h_->position >= limit) return 0;
      uint32_t count = limit - h_->position;
      if (n < count) count = n;
      std::memcpy(buffer, h_->base + h_->position, count);
      h_->position += count;
      return count;
    }
    case kIOCallbacks: return h_->read ? h_->read(buffer, n, h_->user) : 0;
    default: return 0;
  }
}

bool CISIO::WriteItems(const void* buffer, uint32_t itemSize, uint32_t count) {
  if (!h_->writable) return false;
  uint64_t bytes = static_cast<uint64_t>(itemSize) * count;
  if (bytes == 0) return true;
  if (!buffer) return false;
  switch (h_->kind) {
    case kIOFile: return std::fwrite(buffer, itemSize, count, h_->stream) == count;
    case kIOMemory: {
      if (h_->position + bytes > h_->size) return false;  // every byte of the block is usable
      std::memcpy(h_->base + h_->position, buffer, static_cast<size_t>(bytes));
      h_->position += static_cast<uint32_t>(bytes);
      if (h_->position > h_->extent) h_->extent = h_->position;
      return true;
    }
    case kIOCallbacks:
      if (bytes > 0xFFFFFFFFu) return false;
      return h_->write(buffer, static_cast<DWORD>(bytes), h_->user) != 0;
    default: return false;
  }
}

bool CISIO::Seek(int32_t offset, int32_t origin) {
  switch (h_->kind) {
    case kIOFile: return std::fseek(h_->stream, offset, origin) == 0;
    case kIOMemory: {
      uint32_t limit = h_->writable ? h_->extent : h_->size;
      switch (origin) {
        case IS_SEEK_SET:
          if (offset < 0 || static_cast<uint32_t>(offset) >= h_->size) return false;
          h_->position = static_cast<uint32_t>(offset);
          break;
        case IS_SEEK_CUR: {
          uint32_t sum = h_->position + static_cast<uint32_t>(offset);
          if (sum >= h_->size) return false;
          h_->position = sum;
          break;
        }
        case IS_SEEK_END:
          if (offset > 0 || static_cast<int64_t>(limit) + offset < 0) return false;
          h_->position = static_cast<uint32_t>(static_cast<int64_t>(limit) + offset);
          return true;
        default: return false;
      }
      if (h_->writable && h_->position > h_->extent) h_->extent = h_->position;
      return true;
    }
    case kIOCallbacks: return h_->seek && h_->seek(offset, origin, h_->user) != 0;
    default: return false;
  }
}

bool CISIO::Tell(uint32_t* position) {
  if (!position) return false;
  *position = 0;
  switch (h_->kind) {
    case kIOFile: {
      long p = std::ftell(h_->stream);
      if (p < 0) return false;
      *position = static_cast<uint32_t>(p);
      return true;
    }
    case kIOMemory: *position = h_->position; return true;
    case kIOCallbacks: return h_->tell(h_->user, position) != 0;
    default: return false;
  }
}

bool CISIO::GetSize(uint32_t* size) {
  if (!size) return false;
  *size = 0;
  switch (h_->kind) {
    case kIOFile: {
      if (h_->writable && std::fflush(h_->stream) != 0) return false;
      long here = std::ftell(h_->stream);
      if (here < 0 || std::fseek(h_->stream, 0, SEEK_END) != 0) return false;
      long end = std::ftell(h_->stream);
      std::fseek(h_->stream, here, SEEK_SET);
      if (end < 0) return false;
      *size = static_cast<uint32_t>(end);
      return true;
    }
    case kIOMemory: *size = h_->writable ? h_->extent : h_->size; return true;
    case kIOCallbacks: return h_->sizeFn(h_->user, size) != 0;
    default: return false;
  }
}

bool CISIO::IsEOF() {
  switch (h_->kind) {
    case kIOFile: return std::feof(h_->stream) != 0;
    case kIOMemory: return h_->position >= h_->size;  // only once the last byte is consumed
    case kIOCallbacks: return h_->eof && h_->eof(h_->user) != 0;
    default: return false;
  }
}

bool CISIO::Close() {
  bool ok = false;
  switch (h_->kind) {
    case kIOFile:
      ok = h_->stream && std::fclose(h_->stream) == 0;
      h_->stream = nullptr;
      break;
    case kIOMemory: ok = true; break;
    case kIOCallbacks: ok = h_->close && h_->close(h_->user) != 0; break;
    default: break;
  }
  MarkClosed();
  return ok;
}
