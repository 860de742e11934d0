// The memory behind every image buffer a reader hands out: global memory, or the thread's
// allocation callbacks when a caller installed them.
#pragma once

#include <cstdint>

#include "qrv/imaging.h"

class CISMemBlock {
 public:
  enum Kind : uint32_t { kGlobal = 0, kCallback = 1 };

  CISMemBlock() { Reset(); }

  // Forgets the block without freeing it (a reader hands the pointer to its caller).
  void Reset() {
    kind_ = kGlobal;
    handle_ = nullptr;
    data_ = nullptr;
  }
  // A new zero-filled block of size bytes; false for 0 bytes, for sizes at or over the
  // allocation limit and when memory is exhausted.
  bool Alloc(uint64_t size);
  // Resizes the block, keeping its contents; on failure the old block stays in place.
  bool ReAlloc(uint64_t size);
  // Frees the block and resets; false when a callback free failed.
  bool Free();
  void* GetPtr() const { return kind_ == kCallback ? data_ : handle_; }
  Kind GetKind() const { return kind_; }

 private:
  Kind kind_;
  HGLOBAL handle_;
  void* data_;
};

// Owns a block until Release hands it to the caller; frees it on every other way out.
class ISOwnedBlock {
 public:
  ISOwnedBlock() = default;
  ISOwnedBlock(const ISOwnedBlock&) = delete;
  ISOwnedBlock& operator=(const ISOwnedBlock&) = delete;
  ~ISOwnedBlock() { block_.Free(); }

  bool Alloc(uint64_t size) { return block_.Alloc(size); }
  bool ReAlloc(uint64_t size) { return block_.ReAlloc(size); }
  void* Get() const { return block_.GetPtr(); }
  void* Release() {
    void* p = block_.GetPtr();
    block_.Reset();
    return p;
  }

 private:
  CISMemBlock block_;
};
