// ISWriteTIFF: one image of 1, 4, 8, 16, 24 or 32 bits per pixel written as a TIFF page.
// Errors: 5, 38, 1, 4, 14, 17, 20, 24.
#include "imaging/core/ISEntryFrame.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/formats/tiff/CISTIFFWriter.h"

extern "C" BOOL ISWriteTIFF(ISIOHandle sink, const BYTE* pixels, DWORD width, DWORD height, DWORD bits,
                            const RGBQUAD* palette, DWORD compression, const ISResolution* resolution, DWORD flags) {
  return ISRunWriter(sink, [&](CISIO& io, ISErrorCode& error, ISThreadState&) -> BOOL {
    if (!pixels) return error = IS_ERR_BADPARAM, FALSE;
    uint64_t rowBytes = 0;
    switch (bits) {
      case 1: rowBytes = (uint64_t{width} + 7) / 8; break;
      case 4: rowBytes = (uint64_t{width} + 1) / 2; break;
      case 8: rowBytes = width; break;
      case 16: rowBytes = uint64_t{width} * 2; break;
      case 24:
      case 32: rowBytes = uint64_t{width} * bits / 8; break;
      default: return error = IS_ERR_BADPARAM, FALSE;
    }
    uint64_t total = 0;
    if (!ISAllocSize(total, rowBytes, height)) return error = IS_ERR_NOMEM, FALSE;
    CISTIFFWriter context;
    if (resolution) {
      context.resolutionX = resolution->x;
      context.resolutionY = resolution->y;
      context.resolutionUnit = resolution->unit;
    }
    DWORD size = 0;
    switch (bits) {
      case 1: size = WriteTIFF1(context, io, pixels, width, height, compression, flags); break;
      case 4: size = WriteTIFF4(context, io, pixels, width, height, palette, compression, flags); break;
      case 8: size = WriteTIFF8(context, io, pixels, width, height, palette, compression, flags); break;
      case 16: size = WriteTIFF16(context, io, pixels, width, height, compression, flags); break;
      default: size = WriteTIFFRGB(context, io, pixels, width, height, bits, compression, flags); break;
    }
    error = context.error;
    return size != 0 && error == IS_ERR_OK ? TRUE : FALSE;
  });
}
