// Scratch memory of the engine's own filters: an owned, uninitialised heap block that is
// freed on every way out. Requests at or above the global allocation limit are refused, as
// they are for every picture buffer, so absurd sizes fail cleanly instead of overcommitting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

#include "platform/global_memory.h"

template <typename T>
class CScratchBuffer {
 public:
  CScratchBuffer() = default;
  // Takes count elements; false (and nothing held) on overflow, on the limit or when the
  // heap is exhausted.
  bool Allocate(uint64_t count) {
    data_.reset();
    size_ = 0;
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(count, static_cast<uint64_t>(sizeof(T)), &bytes) || bytes >= kGlobalAllocLimit)
      return false;
    data_.reset(new (std::nothrow) T[count == 0 ? 1 : static_cast<size_t>(count)]);
    if (!data_) return false;
    size_ = static_cast<size_t>(count);
    return true;
  }
  T* get() const { return data_.get(); }
  size_t size() const { return size_; }
  void swap(CScratchBuffer& other) {
    data_.swap(other.data_);
    std::swap(size_, other.size_);
  }

 private:
  std::unique_ptr<T[]> data_;
  size_t size_ = 0;
};
