// The last step of the PSD and TGA as-stored reads: the decoded pixels (rows top first) laid
// out as a packed DIB.
#pragma once

#include "imaging/core/ISDIB.h"
#include "imaging/core/ISOpSupport.h"

// A 24-bit DIB from R, G, B pixels, or a 32-bit one from R, G, B, A pixels with `alpha`. Null with
// the error set (1 when the conversion gave no reason).
inline void* DecodedRGBToDIB(ISErrorCode& error, const BYTE* pixels, DWORD width, DWORD height, bool alpha) {
  void* dib = nullptr;
  {
    ISNestedCall nested;
    dib = alpha ? RGBAToDIB(error, pixels, width, height, nullptr) : RGBToDIB(error, pixels, width, height, nullptr, 0);
  }
  if (!dib && error == IS_ERR_OK) error = IS_ERR_NOMEM;
  return dib;
}

// An 8-bit DIB from index bytes and their 256-entry palette; null as DecodedRGBToDIB.
inline void* DecodedIndicesToDIB(ISErrorCode& error, const BYTE* indices, DWORD width, DWORD height,
                                 const RGBQUAD* palette) {
  void* dib = nullptr;
  {
    ISNestedCall nested;
    dib = IndexedToDIB(error, indices, width, height, 256, 8, palette, nullptr);
  }
  if (!dib && error == IS_ERR_OK) error = IS_ERR_NOMEM;
  return dib;
}
