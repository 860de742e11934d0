// The byte stream under every reader and writer: a file, a memory block or caller callbacks
// behind one opaque handle. CISIO wraps a handle without owning it.
#pragma once

#include <cstdio>
#include <string>

#include "qrv/imaging.h"

enum ISIOKind : uint32_t {
  kIOClosed = 0,
  kIOFile = 1,
  kIOMemory = 2,
  kIOCallbacks = 3,
  kIOWin32File = 4,  // reserved: accepted by the validity test, opened by nothing
  kIOCounting = 5,   // reserved likewise
};

constexpr uint32_t kIOMark1 = 0x07475590u;
constexpr uint32_t kIOMark2 = 0x12345678u;

struct ISIOHandleRec {
  uint32_t mark1 = 0;
  FILE* stream = nullptr;
  void* win32File = nullptr;
  uint32_t kind = kIOClosed;
  unsigned char* base = nullptr;
  uint32_t size = 0;
  uint32_t position = 0;
  uint32_t extent = 0;  // highest position a write or seek reached on a writable block
  std::string path;
  bool writable = false;
  uint32_t openFlag = 0;
  ISIOOpenFn open = nullptr;
  ISIOReadFn read = nullptr;
  ISIOWriteFn write = nullptr;
  ISIOSeekFn seek = nullptr;
  ISIOTellFn tell = nullptr;
  ISIOSizeFn sizeFn = nullptr;
  ISIOEofFn eof = nullptr;
  ISIOCloseFn close = nullptr;
  uintptr_t user = 0;
  uint32_t mark2 = 0;
};

class CISIO {
 public:
  explicit CISIO(ISIOHandle handle) : h_(handle) {}
  CISIO(const CISIO&) = default;
  virtual ~CISIO() = default;
  virtual CISIO& operator=(const CISIO& other) {
    h_ = other.h_;
    return *this;
  }

  // A new, registered, closed handle; null when out of memory. Destroy frees and unregisters.
  static ISIOHandle NewHandle();
  static void DestroyHandle(ISIOHandle handle);

  // True only for a handle that is live (opened through this library and not yet freed),
  // carries both marks, has a known kind and the resources its kind needs.
  static bool IsValidHandle(ISIOHandle handle);
  bool IsValid() const { return IsValidHandle(h_); }
  ISIOHandle Handle() const { return h_; }

  void MarkOpen();
  void MarkClosed();

  bool OpenFileSource(const char* path);
  bool OpenMemorySource(const void* base, uint32_t size);
  bool OpenMemorySink(void* base, uint32_t size, uint32_t flag);
  bool OpenFileSink(const char* path, uint32_t flag);
  bool OpenCallbacks(ISIOOpenFn open, ISIOWriteFn write, ISIOReadFn read, ISIOSeekFn seek, ISIOTellFn tell,
                     ISIOSizeFn size, ISIOEofFn eof, ISIOCloseFn close, uintptr_t user, uint32_t flag);

  uint32_t Read(void* buffer, uint32_t n);
  bool ReadExact(void* buffer, uint32_t n) { return Read(buffer, n) == n; }
  bool Write(const void* buffer, uint32_t n) { return WriteItems(buffer, 1, n); }
  bool WriteItems(const void* buffer, uint32_t itemSize, uint32_t count);
  bool Seek(int32_t offset, int32_t origin);
  bool Rewind() { return Seek(0, IS_SEEK_SET); }
  bool Tell(uint32_t* position);
  bool GetSize(uint32_t* size);
  bool IsEOF();
  bool Close();

 private:
  ISIOHandle h_;
};
