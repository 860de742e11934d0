// The library's use of the GDI stand-in: holders that release device contexts and GDI objects
// on every way out, and the bitmap-handle conversions (a bitmap to a packed DIB or to R, G, B
// rows) that the text drawing and the metafile reader share.
#pragma once

#include "platform/gdi.h"
#include "qrv/imaging.h"

// A memory context (CreateCompatibleDC), deleted by the holder.
class ISMemoryDC {
 public:
  explicit ISMemoryDC(HDC compatibleWith = nullptr) : dc_(CreateCompatibleDC(compatibleWith)) {}
  ~ISMemoryDC() {
    if (dc_) DeleteDC(dc_);
  }
  ISMemoryDC(const ISMemoryDC&) = delete;
  ISMemoryDC& operator=(const ISMemoryDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HDC dc_;
};

// The screen's context (GetDC), released by the holder.
class ISScreenDC {
 public:
  ISScreenDC() : dc_(GetDC(nullptr)) {}
  ~ISScreenDC() {
    if (dc_) ReleaseDC(nullptr, dc_);
  }
  ISScreenDC(const ISScreenDC&) = delete;
  ISScreenDC& operator=(const ISScreenDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HDC dc_;
};

// A bitmap, brush, font or palette, deleted by the holder.
template <typename Handle>
class ISGdiObject {
 public:
  explicit ISGdiObject(Handle h = nullptr) : h_(h) {}
  ~ISGdiObject() {
    if (h_) DeleteObject(h_);
  }
  ISGdiObject(const ISGdiObject&) = delete;
  ISGdiObject& operator=(const ISGdiObject&) = delete;
  Handle Get() const { return h_; }
  void Reset(Handle h) {
    if (h_) DeleteObject(h_);
    h_ = h;
  }

 private:
  Handle h_;
};

// An object selected into a context for the holder's lifetime: the object it replaced is
// selected back at the end (so the object can then be deleted).
class ISSelection {
 public:
  ISSelection(HDC dc, HGDIOBJ object) : dc_(dc), old_(dc && object ? SelectObject(dc, object) : nullptr) {}
  ~ISSelection() { Restore(); }
  ISSelection(const ISSelection&) = delete;
  ISSelection& operator=(const ISSelection&) = delete;
  bool Ok() const { return old_ != nullptr; }
  void Restore() {
    if (old_) SelectObject(dc_, old_);
    old_ = nullptr;
  }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// A new packed DIB (global memory) of the bitmap's own depth, read through the screen's
// context with `palette` (null: the default palette) realised. Errors: 17 compression 3
// (bit fields), 5 not a bitmap, 1 no memory, 25 the bits could not be read.
HGLOBAL HBITMAPToDIB(ISErrorCode& error, HBITMAP bitmap, DWORD compression, HPALETTE palette);

// The bitmap's pixels as R, G, B rows (width x 3 bytes each, top first) in rgb. Errors: 5 null
// context, 26 the device cannot transfer DIBs, and those of HBITMAPToDIB and DIBToRGB.
bool BitmapToRGB(ISErrorCode& error, HBITMAP bitmap, HDC dc, HPALETTE palette, BYTE* rgb);
