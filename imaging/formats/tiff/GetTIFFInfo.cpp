// GetTIFFInfo: size, depth and resolution of one page.
#include "imaging/formats/tiff/TIFFClient.h"
#include "imaging/formats/tiff/TIFFRead.h"

bool GetTIFFInfo(ISErrorCode& error, CISIO& source, DWORD page, DWORD* width, DWORD* height, DWORD* bitsPerPixel,
                 DWORD* xRes, DWORD* yRes, DWORD* unit) {
  *width = *height = *bitsPerPixel = *xRes = *yRes = *unit = 0;
  // libtiff reads the header from where the stream stands.
  source.Rewind();
  TIFFHandleHolder holder(OpenTIFFClient(source, "r", TIFFDirectoryAllocLimit(source)));
  TIFF* tif = holder.Get();
  if (!tif) return error = IS_ERR_BADTIFF, false;
  if (!SelectTIFFPage(error, tif, page)) return false;
  uint32_t w = 0, h = 0;
  uint16_t resolutionUnit = 0, samples = 1, bitsPerSample = 1;
  float xr = 0.0f, yr = 0.0f;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &resolutionUnit);
  TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xr);
  TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yr);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
  // Resolutions truncated toward zero; values no 32-bit word can hold count as none.
  auto truncate = [](float v) { return v > 0.0f && v < 4294967295.0f ? static_cast<DWORD>(v) : 0u; };
  *width = w;
  *height = h;
  *bitsPerPixel = DWORD{bitsPerSample} * samples;
  *xRes = truncate(xr);
  *yRes = truncate(yr);
  *unit = resolutionUnit;
  error = IS_ERR_OK;
  return true;
}
