// The display buffer of the before and after views: a 32-bit bitmap in memory (bytes B, G, R,
// A per pixel, rows bottom-up) that imports and exports PackedRGB24 pictures and hands its
// rows to whoever draws. Buffers whose sides are both 1201 or more live in an anonymous
// memory mapping (with 6000 bytes to spare) instead of the heap.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/win32_types.h"

class CDIBSection {
 public:
  // Receives a whole buffer to draw: the top-left corner (x, y), the header (biHeight
  // positive: row 0 of the pixels is the bottom row) and the pixels.
  typedef std::function<void(int x, int y, const BITMAPINFOHEADER& header, const BYTE* pixels)> DrawTarget;

  // Sides from which both must reach for a mapping, and the spare bytes a mapping gets.
  static constexpr int kMappingMinSide = 1201;
  static constexpr uint64_t kMappingSpare = 6000;

  // An empty 8 x 8 buffer.
  CDIBSection();
  virtual ~CDIBSection();
  CDIBSection(const CDIBSection&) = delete;
  CDIBSection& operator=(const CDIBSection&) = delete;

  // The runtime class record's name.
  static const char* GetRuntimeClassName() { return "CDIBSection"; }

  // Allocates the header and zero-filled pixels (releasing any it held). Throws
  // std::bad_alloc when the heap can't give them or a side is negative or the size absurd.
  void Create(int width, int height);
  // Clears the empty flag, releases the pixels, then Create.
  void Recreate(int width, int height);
  // Puts the pixels in an anonymous mapping of bytes + 6000; true on success.
  bool CreateMapping(uint64_t bytes);
  // Releases the pixels (heap or mapping) and the header.
  void FreePixels();

  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  BYTE* GetBits() const { return pixels_; }
  const BITMAPINFOHEADER* GetHeader() const { return header_; }
  bool IsEmpty() const { return empty_ != 0; }
  bool IsMapped() const { return mappingView_ != nullptr; }

  // Hands the whole buffer to the target with its top-left corner at (x, y), unless empty.
  void Draw(const DrawTarget& target, int x, int y) const;
  // Recreate at the picture's size and import it (A = 255).
  void SetFromRGB24(const BYTE* image, int width, int height);
  // Recreate at the rectangle's size and import that crop; positions outside the picture
  // become grey (128, 128, 128). Nothing for a null picture or an empty rectangle.
  void SetFromRGB24Rect(const BYTE* image, int width, int height, int left, int top, int right, int bottom);
  // Becomes an exact copy of the other buffer; nothing when it is null or empty.
  void Copy(const CDIBSection* other);
  // Exports the buffer into a PackedRGB24 picture whose rows are `width` pixels long (the
  // caller passes the buffer's own width and width x height x 3 bytes).
  void GetRGB24(BYTE* output, int width) const;

 private:
  static uint64_t PixelBytes(int width, int height);

  int32_t mappingAllowed_ = 1;
  BITMAPINFOHEADER* header_ = nullptr;
  BYTE* pixels_ = nullptr;
  int32_t valid_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t empty_ = 1;
  int32_t bitsPerPixel_ = 32;
  HANDLE mappingHandle_ = nullptr;
  BYTE* mappingView_ = nullptr;
};
