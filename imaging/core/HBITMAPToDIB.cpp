// HBITMAPToDIB: a bitmap handle read into a new packed DIB of its own depth.
// Errors: 17 bit-field compression, 5 not a bitmap, 1 no memory, 25 the bits could not be read.
#include <cstring>

#include "imaging/core/ISDIB.h"
#include "imaging/core/ISGDI.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/core/ISThreadState.h"

namespace {

// A global block freed unless handed out.
class GlobalBlock {
 public:
  GlobalBlock() = default;
  ~GlobalBlock() {
    if (p_) GlobalFree(p_);
  }
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
  bool Alloc(uint64_t n) { return (p_ = SafeGlobalAlloc(n)) != nullptr; }
  bool Grow(uint64_t n) {
    HGLOBAL q = SafeGlobalReAlloc(p_, n);
    if (!q) return false;
    p_ = q;
    return true;
  }
  HGLOBAL Get() const { return p_; }
  HGLOBAL Release() {
    HGLOBAL p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  HGLOBAL p_ = nullptr;
};

// The palette realised in the context for the holder's lifetime.
class PaletteSelection {
 public:
  PaletteSelection(HDC dc, HPALETTE palette) : dc_(dc), old_(SelectPalette(dc, palette, FALSE)) {
    RealizePalette(dc);
  }
  ~PaletteSelection() {
    if (old_) SelectPalette(dc_, old_, FALSE);
  }
  PaletteSelection(const PaletteSelection&) = delete;
  PaletteSelection& operator=(const PaletteSelection&) = delete;

 private:
  HDC dc_;
  HPALETTE old_;
};

}  // namespace

HGLOBAL HBITMAPToDIB(ISErrorCode& error, HBITMAP bitmap, DWORD compression, HPALETTE palette) {
  error = IS_ERR_OK;
  if (compression == BI_BITFIELDS) {
    error = IS_ERR_INTERNAL;
    return nullptr;
  }
  if (!palette) palette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
  BITMAP bm{};
  if (!GetObject(bitmap, sizeof bm, &bm)) {
    error = IS_ERR_BADPARAM;
    return nullptr;
  }
  const DWORD bits = static_cast<DWORD>(bm.bmPlanes) * bm.bmBitsPixel;
  BITMAPINFOHEADER header{};
  header.biSize = kDIBHeaderBytes;
  header.biWidth = bm.bmWidth;
  header.biHeight = bm.bmHeight;
  header.biPlanes = 1;
  header.biBitCount = static_cast<WORD>(bits);
  header.biCompression = compression;
  const DWORD colours = bits > 31 || (1u << bits) > 256 ? 0 : 1u << bits;

  ISScreenDC screen;
  if (!screen.Get()) {
    error = IS_ERR_DC;
    return nullptr;
  }
  PaletteSelection realised(screen.Get(), palette);
  const uint64_t headerBytes = kDIBHeaderBytes + static_cast<uint64_t>(colours) * 4;
  GlobalBlock block;
  if (!block.Alloc(headerBytes)) {
    error = IS_ERR_NOMEM;
    return nullptr;
  }
  WriteDIBHeader(block.Get(), header);
  if (!GetDIBits(screen.Get(), bitmap, 0, static_cast<UINT>(bm.bmHeight), nullptr,
                 static_cast<BITMAPINFO*>(block.Get()), DIB_RGB_COLORS)) {
    error = IS_ERR_DIBITS;
    return nullptr;
  }
  header = ReadDIBHeader(block.Get());
  uint64_t imageBytes = header.biSizeImage;
  if (imageBytes == 0) {
    uint64_t row = 0;
    if (!ISMulSize(row, bits, static_cast<uint64_t>(static_cast<uint32_t>(bm.bmWidth))) ||
        !ISMulSize(imageBytes, ((row + 31) & ~uint64_t{31}) / 8, static_cast<uint64_t>(static_cast<uint32_t>(bm.bmHeight)))) {
      error = IS_ERR_NOMEM;
      return nullptr;
    }
    if (compression != BI_RGB) imageBytes = imageBytes * 3 / 2;
  }
  if (!block.Grow(headerBytes + imageBytes)) {
    error = IS_ERR_NOMEM;
    return nullptr;
  }
  auto* base = static_cast<BYTE*>(block.Get());
  if (!GetDIBits(screen.Get(), bitmap, 0, static_cast<UINT>(bm.bmHeight), base + headerBytes,
                 reinterpret_cast<BITMAPINFO*>(base), DIB_RGB_COLORS)) {
    error = IS_ERR_DIBITS;
    return nullptr;
  }
  return block.Release();
}
