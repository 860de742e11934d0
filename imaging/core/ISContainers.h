// The library's small building blocks: counted arrays, owning pointer vectors, the tagged
// data record of JPEG comments and markers, and the library's exception.
#pragma once

#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "qrv/imaging.h"

// A counted array that owns its storage. Count is 0 whenever data is null.
template <typename T>
class ISArray {
 public:
  ISArray() = default;
  ISArray(const ISArray& other) { CopyFrom(other); }
  ISArray(ISArray&& other) noexcept : count_(other.count_), data_(other.data_) {
    other.count_ = 0;
    other.data_ = nullptr;
  }
  ISArray& operator=(const ISArray& other) {
    if (this != &other) CopyFrom(other);
    return *this;
  }
  ISArray& operator=(ISArray&& other) noexcept {
    if (this != &other) {
      Free();
      std::swap(count_, other.count_);
      std::swap(data_, other.data_);
    }
    return *this;
  }
  ~ISArray() { Free(); }

  // Gives the array n elements; contents are never kept. Keeps the storage when n equals the
  // count. On allocation failure the array is left empty (callers test Data() or Count()).
  void Resize(uint32_t n) {
    if (n == count_ && data_) return;
    Free();
    if (static_cast<int32_t>(n) > 0) {
      data_ = new (std::nothrow) T[n];
      if (data_) count_ = n;
    }
  }

  // Resize, then copy n elements from src; false when the storage could not be had.
  bool Assign(const T* src, uint32_t n) {
    Resize(n);
    if (n == 0) return true;
    if (!data_) return false;
    std::memcpy(data_, src, sizeof(T) * n);
    return true;
  }

  void Free() {
    delete[] data_;
    data_ = nullptr;
    count_ = 0;
  }

  uint32_t Count() const { return count_; }
  T* Data() { return data_; }
  const T* Data() const { return data_; }
  bool Empty() const { return count_ == 0; }
  T& operator[](uint32_t i) { return data_[i]; }
  const T& operator[](uint32_t i) const { return data_[i]; }

 private:
  void CopyFrom(const ISArray& other) { Assign(other.data_, other.count_); }

  uint32_t count_ = 0;
  T* data_ = nullptr;
};

// An owning vector of element pointers: destruction and Clear delete every non-null element.
template <typename T>
class ISPtrVector {
 public:
  ISPtrVector() = default;
  ISPtrVector(const ISPtrVector&) = delete;
  ISPtrVector& operator=(const ISPtrVector&) = delete;
  virtual ~ISPtrVector() { Clear(); }

  void Clear() {
    for (T* item : items_) delete item;
    items_.clear();
  }
  // Takes ownership of item; false (and the item deleted) when the vector cannot grow.
  bool Add(T* item) {
    try {
      items_.push_back(item);
      return true;
    } catch (const std::bad_alloc&) {
      delete item;
      return false;
    }
  }
  size_t Size() const { return items_.size(); }
  T* operator[](size_t i) const { return items_[i]; }
  std::vector<T*>& Items() { return items_; }

 private:
  std::vector<T*> items_;
};

// One JPEG comment (id 0, the text) or marker (id = marker code, the payload).
class CFileDataTag {
 public:
  uint32_t id = 0;
  std::string text;
  ISArray<unsigned char> data;
};

namespace RovIrirev {

// The library's exception: thrown by value inside the library, turned into an error code at
// its entry points.
class ISException : public std::exception {
 public:
  explicit ISException(const char* message) : code_(0), message_(message ? message : "") {}
  ISException(ISErrorCode code, const char* message) : code_(code), message_(message ? message : "") {}
  ISException(const ISException&) = default;
  ISException& operator=(const ISException&) = default;
  ~ISException() override = default;

  const char* what() const noexcept override { return message_.c_str(); }
  ISErrorCode Code() const { return code_; }

 private:
  ISErrorCode code_;
  std::string message_;
};

}  // namespace RovIrirev

// One text chunk of a PNG file: text, key, compressed (1 for zTXt, 0 for tEXt).
struct ISKeyTextPair {
  ISKeyTextPair() = default;
  ISKeyTextPair(std::string k, std::string t, uint32_t flag)
      : text(std::move(t)), key(std::move(k)), compressed(flag) {}
  std::string text;
  std::string key;
  uint32_t compressed = 0;
};
