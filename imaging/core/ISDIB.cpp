// Packed-DIB header access, sizes, the palette-DIB builder and the conversion back to RGB.
// Error codes: 1 no memory or too large, 5 bad argument.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISDIB.h"

#include <cstring>

#include "imaging/core/ISPixelHelpers.h"
#include "imaging/core/ISRotate.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/core/ISThreadState.h"

namespace {

template <typename T>
T FailWith(ISErrorCode& error, ISErrorCode code, T result) {
  error = code;
  return result;
}

}  // namespace

BITMAPINFOHEADER ReadDIBHeader(const void* dib) {
  const BYTE* p = static_cast<const BYTE*>(dib);
  BITMAPINFOHEADER h;
  h.biSize = ReadLE32(p);
  h.biWidth = static_cast<LONG>(ReadLE32(p + 4));
  h.biHeight = static_cast<LONG>(ReadLE32(p + 8));
  h.biPlanes = ReadLE16(p + 12);
  h.biBitCount = ReadLE16(p + 14);
  h.biCompression = ReadLE32(p + 16);
  h.biSizeImage = ReadLE32(p + 20);
  h.biXPelsPerMeter = static_cast<LONG>(ReadLE32(p + 24));
  h.biYPelsPerMeter = static_cast<LONG>(ReadLE32(p + 28));
  h.biClrUsed = ReadLE32(p + 32);
  h.biClrImportant = ReadLE32(p + 36);
  return h;
}

void WriteDIBHeader(void* dib, const BITMAPINFOHEADER& h) {
  BYTE* p = static_cast<BYTE*>(dib);
  WriteLE32(p, h.biSize);
  WriteLE32(p + 4, static_cast<DWORD>(h.biWidth));
  WriteLE32(p + 8, static_cast<DWORD>(h.biHeight));
  WriteLE16(p + 12, h.biPlanes);
  WriteLE16(p + 14, h.biBitCount);
  WriteLE32(p + 16, h.biCompression);
  WriteLE32(p + 20, h.biSizeImage);
  WriteLE32(p + 24, static_cast<DWORD>(h.biXPelsPerMeter));
  WriteLE32(p + 28, static_cast<DWORD>(h.biYPelsPerMeter));
  WriteLE32(p + 32, h.biClrUsed);
  WriteLE32(p + 36, h.biClrImportant);
}

DWORD DIBColourCount(const BITMAPINFOHEADER& h) {
  if (h.biBitCount == 0 || h.biBitCount > 8) return 0;
  return h.biClrUsed ? h.biClrUsed : (1u << h.biBitCount);
}

bool GetDIBWidth(ISErrorCode& error, const void* dib, LONG* value) {
  error = IS_ERR_OK;
  if (value) *value = 0;
  if (!dib || !value || ReadLE32(static_cast<const BYTE*>(dib)) != kDIBHeaderBytes) return Fail(error, IS_ERR_BADPARAM);
  *value = ReadDIBHeader(dib).biWidth;
  return true;
}

bool GetDIBHeight(ISErrorCode& error, const void* dib, LONG* value) {
  error = IS_ERR_OK;
  if (value) *value = 0;
  if (!dib || !value || ReadLE32(static_cast<const BYTE*>(dib)) != kDIBHeaderBytes) return Fail(error, IS_ERR_BADPARAM);
  *value = ReadDIBHeader(dib).biHeight;
  return true;
}

uint64_t DIBSizeBytes(ISErrorCode& error, DWORD width, DWORD height, DWORD bitsPerPixel, DWORD colourCount) {
  error = IS_ERR_OK;
  if (width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) return FailWith<uint64_t>(error, IS_ERR_BADPARAM, 0);
  uint64_t table = 0;
  switch (bitsPerPixel) {
    case 1:
      if (colourCount > 2) return FailWith<uint64_t>(error, IS_ERR_BADPARAM, 0);
      table = 8;
      break;
    case 4:
    case 8:
      if (colourCount > (1u << bitsPerPixel)) return FailWith<uint64_t>(error, IS_ERR_BADPARAM, 0);
      table = 4ull * (colourCount ? colourCount : (1u << bitsPerPixel));
      break;
    case 24:
    case 32:
      break;
    default:
      return FailWith<uint64_t>(error, IS_ERR_BADPARAM, 0);
  }
  uint64_t rows = 0;
  const uint64_t rowBytes = DIBRowBytes(width, bitsPerPixel);
  uint64_t total = 0;
  if (!ISMulSize(rows, rowBytes, height) || !ISAddSize(total, rows, kDIBHeaderBytes + table) ||
      total >= kGlobalAllocLimit)
    return FailWith<uint64_t>(error, IS_ERR_NOMEM, 0);
  return total;
}

const BYTE* DIBBitsPtr(ISErrorCode& error, const void* dib) {
  error = IS_ERR_OK;
  if (!dib) return FailWith<std::nullptr_t>(error, IS_ERR_BADPARAM, nullptr);
  const BITMAPINFOHEADER h = ReadDIBHeader(dib);
  if (h.biSize != kDIBHeaderBytes) return FailWith<std::nullptr_t>(error, IS_ERR_BADPARAM, nullptr);
  const BYTE* p = static_cast<const BYTE*>(dib) + kDIBHeaderBytes;
  if (h.biBitCount >= 1 && h.biBitCount <= 8) return p + 4ull * DIBColourCount(h);
  if (h.biCompression == BI_BITFIELDS) return p + 12;
  return p;
}

BYTE* DIBBitsPtr(ISErrorCode& error, void* dib) {
  error = IS_ERR_OK;
  return const_cast<BYTE*>(DIBBitsPtr(error, static_cast<const void*>(dib)));
}

namespace {

// The header of an uncompressed DIB; colourCount is its biClrUsed and biClrImportant (0 for
// pixels without a colour table).
void WriteBuiltHeader(BYTE* dib, DWORD width, DWORD height, DWORD bits, uint64_t imageBytes, DWORD colourCount) {
  BITMAPINFOHEADER h = {};
  h.biSize = kDIBHeaderBytes;
  h.biWidth = static_cast<LONG>(width);
  h.biHeight = static_cast<LONG>(height);
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bits);
  h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<DWORD>(imageBytes);
  h.biClrUsed = colourCount;
  h.biClrImportant = colourCount;
  WriteDIBHeader(dib, h);
}

// Where a builder writes its DIB: the caller's `destination` when given, else a new zero-filled
// global block of `size` bytes held in `owned` (for the builder to free if a later step fails).
// Null with error 1 when that block cannot be had.
BYTE* DIBTarget(ISErrorCode& error, void* destination, uint64_t size, HGLOBAL& owned) {
  owned = nullptr;
  if (destination) return static_cast<BYTE*>(destination);
  owned = SafeGlobalAlloc(size);
  if (!owned) return FailWith<BYTE*>(error, IS_ERR_NOMEM, nullptr);
  return static_cast<BYTE*>(owned);
}

}  // namespace

void* RGBToDIB(ISErrorCode& error, const BYTE* rgb, DWORD width, DWORD height, void* destination, DWORD flags) {
  error = IS_ERR_OK;
  if (!rgb) return FailWith<std::nullptr_t>(error, IS_ERR_BADPARAM, nullptr);
  const uint64_t size = DIBSizeBytes(error, width, height, 24, 0);
  if (!size) return nullptr;
  const uint64_t rowBytes = DIBRowBytes(width, 24);
  HGLOBAL owned = nullptr;
  BYTE* dib = DIBTarget(error, destination, size, owned);
  if (!dib) return nullptr;
  WriteBuiltHeader(dib, width, height, 24, rowBytes * height, 0);
  BYTE* rows = dib + kDIBHeaderBytes;
  const ISErrorCode copied =
      RGB24ToBottomUpRows(rgb, rows, width, height, static_cast<uint32_t>(rowBytes), (flags & 1) != 0);
  if (copied != IS_ERR_OK) {
    GlobalFree(owned);
    return FailWith<std::nullptr_t>(error, copied, nullptr);
  }
  const uint64_t used = 3ull * width;
  if (used < rowBytes)  // row padding of a caller's buffer written as 0
    for (DWORD k = 0; k < height; ++k) std::memset(rows + k * rowBytes + used, 0, rowBytes - used);
  return dib;
}

void* RGBAToDIB(ISErrorCode& error, const BYTE* rgba, DWORD width, DWORD height, void* destination) {
  error = IS_ERR_OK;
  if (!rgba) return FailWith<std::nullptr_t>(error, IS_ERR_BADPARAM, nullptr);
  const uint64_t size = DIBSizeBytes(error, width, height, 32, 0);
  if (!size) return nullptr;
  const uint64_t rowBytes = 4ull * width;
  HGLOBAL owned = nullptr;
  BYTE* dib = DIBTarget(error, destination, size, owned);
  if (!dib) return nullptr;
  WriteBuiltHeader(dib, width, height, 32, rowBytes * height, 0);
  BYTE* rows = dib + kDIBHeaderBytes;
  std::memcpy(rows, rgba, rowBytes * height);
  SwapRB32Run(rows, width, height);
  // The row flip is part of this operation and reports no progress of its own.
  ISCallDepthGuard nested(GetThreadState());
  if (!FlipVertical(error, rows, static_cast<uint32_t>(rowBytes), height)) {
    GlobalFree(owned);
    return nullptr;
  }
  return dib;
}

void* IndexedToDIB(ISErrorCode& error, const BYTE* indices, DWORD width, DWORD height, DWORD colourCount,
                   DWORD bitsPerPixel, const RGBQUAD* table, void* destination) {
  error = IS_ERR_OK;
  if (!indices || !table || (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8))
    return FailWith<std::nullptr_t>(error, IS_ERR_BADPARAM, nullptr);
  const uint64_t size = DIBSizeBytes(error, width, height, bitsPerPixel, colourCount);
  if (!size) return nullptr;
  const uint64_t rowBytes = DIBRowBytes(width, bitsPerPixel);
  HGLOBAL owned = nullptr;
  BYTE* dib = DIBTarget(error, destination, size, owned);
  if (!dib) return nullptr;
  WriteBuiltHeader(dib, width, height, bitsPerPixel, rowBytes * height, colourCount);
  const DWORD entries = colourCount ? colourCount : (1u << bitsPerPixel);
  BYTE* t = dib + kDIBHeaderBytes;
  for (DWORD i = 0; i < entries; ++i, t += 4) {
    t[0] = table[i].rgbBlue;
    t[1] = table[i].rgbGreen;
    t[2] = table[i].rgbRed;
    t[3] = table[i].rgbReserved;
  }
  BYTE* rows = t;
  // The row packing is part of this operation and reports no progress of its own.
  ISCallDepthGuard nested(GetThreadState());
  for (DWORD k = 0; k < height; ++k) {
    const BYTE* src = indices + static_cast<uint64_t>(height - 1 - k) * width;
    BYTE* dst = rows + k * rowBytes;
    std::memset(dst, 0, rowBytes);
    if (!PackRowBits(error, src, width, 1, width, dst, bitsPerPixel)) {
      GlobalFree(owned);
      return nullptr;
    }
  }
  return dib;
}

bool DIBRowsToRGB(ISErrorCode& error, const BYTE* rows, const void* header, const RGBQUAD* colourTable, BYTE* rgb) {
  error = IS_ERR_OK;
  if (!rows || !header || !rgb) return Fail(error, IS_ERR_BADPARAM);
  const BITMAPINFOHEADER h = ReadDIBHeader(header);
  if (h.biSize != kDIBHeaderBytes || h.biWidth <= 0 || h.biHeight == 0) return Fail(error, IS_ERR_BADPARAM);
  const DWORD bits = h.biBitCount;
  const DWORD* masks = nullptr;
  DWORD maskWords[3];
  if (h.biCompression == BI_BITFIELDS) {
    if (bits != 16 && bits != 32) return Fail(error, IS_ERR_BADPARAM);
    const BYTE* m = static_cast<const BYTE*>(header) + kDIBHeaderBytes;
    for (int i = 0; i < 3; ++i) maskWords[i] = ReadLE32(m + 4 * i);
    masks = maskWords;
  } else if (h.biCompression != BI_RGB) {
    return Fail(error, IS_ERR_BADPARAM);
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return Fail(error, IS_ERR_BADPARAM);
  const DWORD width = static_cast<DWORD>(h.biWidth);
  const bool bottomUp = h.biHeight > 0;
  const uint64_t height = bottomUp ? static_cast<uint64_t>(h.biHeight) : static_cast<uint64_t>(-static_cast<int64_t>(h.biHeight));
  const uint64_t rowBytes = DIBRowBytes(width, bits);
  const uint64_t outRow = 3ull * width;
  const ISColourTable colours(colourTable, DIBColourCount(h));
  for (uint64_t y = 0; y < height; ++y) {
    const uint64_t stored = bottomUp ? height - 1 - y : y;
    IndexedRowToRGB(rows + stored * rowBytes, rgb + y * outRow, width, bits, &colours, masks, false, 0);
  }
  return true;
}

bool DIBToRGB(ISErrorCode& error, const void* dib, BYTE* rgb) {
  error = IS_ERR_OK;
  if (!dib || !rgb) return Fail(error, IS_ERR_BADPARAM);
  const BYTE* rows = DIBBitsPtr(error, dib);
  if (!rows) return false;
  const RGBQUAD* table = reinterpret_cast<const RGBQUAD*>(static_cast<const BYTE*>(dib) + kDIBHeaderBytes);
  return DIBRowsToRGB(error, rows, dib, table, rgb);
}
