// Display buffer: heap pixels, or an anonymous mapping for large buffers (falling back to
// the heap when the mapping fails). Every size is computed in 64 bits.
#include "engine/CDIBSection.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/file_mapping.h"

CDIBSection::CDIBSection() {
  Create(8, 8);
  empty_ = 1;
}

CDIBSection::~CDIBSection() { FreePixels(); }

uint64_t CDIBSection::PixelBytes(int width, int height) {
  if (width < 0 || height < 0) throw std::bad_alloc();
  uint64_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<uint64_t>(width), static_cast<uint64_t>(height), &bytes) ||
      __builtin_mul_overflow(bytes, uint64_t{4}, &bytes) || bytes > (uint64_t{1} << 62))
    throw std::bad_alloc();
  return bytes;
}

void CDIBSection::Create(int width, int height) {
  const uint64_t bytes = PixelBytes(width, height);
  FreePixels();  // a second Create on a live buffer must not leak the first one's memory
  header_ = new BITMAPINFOHEADER();
  std::memset(header_, 0, sizeof(*header_));
  header_->biSize = sizeof(BITMAPINFOHEADER);
  header_->biWidth = width;
  header_->biHeight = height;
  header_->biPlanes = 1;
  header_->biBitCount = 32;
  header_->biCompression = BI_RGB;

  bool mapped = false;
  if (mappingAllowed_ && width >= kMappingMinSide && height >= kMappingMinSide) mapped = CreateMapping(bytes);
  if (!mapped) {
    // calloc gives zero-filled pixels; at least one byte so a 0-sized buffer has an address.
    pixels_ = static_cast<BYTE*>(std::calloc(bytes == 0 ? 1 : static_cast<size_t>(bytes), 1));
    if (!pixels_) {
      delete header_;
      header_ = nullptr;
      throw std::bad_alloc();
    }
  }
  width_ = width;
  height_ = height;
  bitsPerPixel_ = 32;
  valid_ = 1;
  // A fresh mapping is zero-filled already; heap pixels come from calloc.
}

void CDIBSection::Recreate(int width, int height) {
  empty_ = 0;
  FreePixels();
  Create(width, height);
}

bool CDIBSection::CreateMapping(uint64_t bytes) {
  uint64_t total = bytes + kMappingSpare;
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                      static_cast<DWORD>(total >> 32), static_cast<DWORD>(total), nullptr);
  if (!mapping) {
    mappingHandle_ = nullptr;
    mappingView_ = nullptr;
    return false;
  }
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
  if (!view) {
    CloseMappingHandle(mapping);
    mappingHandle_ = nullptr;
    mappingView_ = nullptr;
    return false;
  }
  mappingHandle_ = mapping;
  mappingView_ = static_cast<BYTE*>(view);
  pixels_ = mappingView_;
  return true;
}

void CDIBSection::FreePixels() {
  if (mappingHandle_) {
    if (mappingView_) UnmapViewOfFile(mappingView_);
    CloseMappingHandle(mappingHandle_);
    mappingHandle_ = nullptr;
    mappingView_ = nullptr;
    pixels_ = nullptr;
  }
  std::free(pixels_);
  pixels_ = nullptr;
  delete header_;
  header_ = nullptr;
  width_ = 0;
  height_ = 0;
  valid_ = 0;
}

void CDIBSection::Draw(const DrawTarget& target, int x, int y) const {
  if (empty_ || !target || !header_ || !pixels_) return;
  target(x, y, *header_, pixels_);
}

void CDIBSection::SetFromRGB24(const BYTE* image, int width, int height) {
  if (!image || width < 0 || height < 0) return;
  Recreate(width, height);
  const size_t w = static_cast<size_t>(width);
  for (int j = 0; j < height; ++j) {
    const BYTE* src = image + static_cast<size_t>(height - 1 - j) * w * 3;
    BYTE* dst = pixels_ + static_cast<size_t>(j) * w * 4;
    for (size_t i = 0; i < w; ++i) {
      dst[4 * i] = src[3 * i + 2];
      dst[4 * i + 1] = src[3 * i + 1];
      dst[4 * i + 2] = src[3 * i];
      dst[4 * i + 3] = 255;
    }
  }
}

void CDIBSection::SetFromRGB24Rect(const BYTE* image, int width, int height, int left, int top, int right,
                                   int bottom) {
  if (!image) return;
  const int64_t cropWidth = static_cast<int64_t>(right) - left;
  const int64_t cropHeight = static_cast<int64_t>(bottom) - top;
  if (cropWidth < 1 || cropHeight < 1 || cropWidth > INT32_MAX || cropHeight > INT32_MAX) return;
  Recreate(static_cast<int>(cropWidth), static_cast<int>(cropHeight));
  const size_t cw = static_cast<size_t>(cropWidth);
  for (int64_t j = 0; j < cropHeight; ++j) {
    BYTE* dst = pixels_ + static_cast<size_t>(cropHeight - 1 - j) * cw * 4;
    const int64_t sy = top + j;
    const bool rowInside = sy >= 0 && sy < height;
    const BYTE* src = rowInside ? image + static_cast<size_t>(sy) * static_cast<size_t>(width) * 3 : nullptr;
    for (size_t i = 0; i < cw; ++i) {
      const int64_t sx = left + static_cast<int64_t>(i);
      BYTE* d = dst + 4 * i;
      if (rowInside && sx >= 0 && sx < width) {
        const BYTE* s = src + static_cast<size_t>(sx) * 3;
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
      } else {
        d[0] = d[1] = d[2] = 128;
      }
      d[3] = 255;
    }
  }
}

void CDIBSection::Copy(const CDIBSection* other) {
  if (!other || other->empty_ || other == this || !other->pixels_) return;
  Recreate(other->width_, other->height_);
  std::memcpy(pixels_, other->pixels_, static_cast<size_t>(PixelBytes(width_, height_)));
}

void CDIBSection::GetRGB24(BYTE* output, int width) const {
  if (!output || !pixels_ || width < 0) return;
  // Never more columns than an output row holds, so a short row length can't run past the
  // caller's width x height x 3 bytes.
  const size_t w = static_cast<size_t>(width < width_ ? width : width_);
  const size_t outRow = static_cast<size_t>(width);
  for (int j = 0; j < height_; ++j) {
    const BYTE* src = pixels_ + static_cast<size_t>(j) * static_cast<size_t>(width_) * 4;
    BYTE* dst = output + static_cast<size_t>(height_ - 1 - j) * outRow * 3;
    for (size_t i = 0; i < w; ++i) {
      dst[3 * i] = src[4 * i + 2];
      dst[3 * i + 1] = src[4 * i + 1];
      dst[3 * i + 2] = src[4 * i];
    }
  }
}
