// What every TIFF reader shares: the page's fields, the working picture, the orientation step
// and the layout of the block handed to the caller.
#include <cstring>

#include "imaging/core/CISMemBlock.h"
#include "imaging/core/ISDIB.h"
#include "imaging/core/ISOpSupport.h"
#include "imaging/core/ISRotate.h"
#include "imaging/core/ISSizeMath.h"
#include "imaging/formats/ConvertResolution.h"
#include "imaging/formats/tiff/TIFFRead.h"

TIFFPageInfo GetTIFFPageInfo(TIFF* tif) {
  TIFFPageInfo info;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &info.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &info.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &info.bitsPerSample);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &info.samplesPerPixel);
  uint16_t* sampleInfo = nullptr;
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &info.extraSamples, &sampleInfo);
  info.hasPhotometric = TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &info.photometric) != 0;
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  info.hasColorMap = TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) != 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &info.planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &info.compression);
  if (!TIFFGetField(tif, TIFFTAG_ORIENTATION, &info.orientation) || info.orientation == 0) info.orientation = 1;
  info.tiled = TIFFIsTiled(tif) != 0;
  return info;
}

bool TIFFPicture::Allocate(uint32_t w, uint32_t h, uint32_t b) {
  width = w;
  height = h;
  bits = b;
  uint64_t bytes = 0;
  if (w == 0 || h == 0 || w > 0x7FFFFFFFu || h > 0x7FFFFFFFu || !ISAllocSize(bytes, RowBytes(), h) || !ResizeScratch(pixels, bytes)) return false;
  std::memset(pixels.Data(), 0, bytes);
  return true;
}

namespace {

struct OrientationSteps {
  int turn;  // rotation mode, or -1 for none
  bool flip;
  bool mirror;
};

OrientationSteps StepsFor(uint32_t orientation) {
  switch (orientation) {
    case 2: return {-1, true, true};
    case 3: return {-1, false, true};
    case 4: return {-1, false, false};
    case 5: return {static_cast<int>(kRotateClockwise), false, false};
    case 6: return {static_cast<int>(kRotateCounterClockwise), true, false};
    case 7: return {static_cast<int>(kRotateCounterClockwise), false, false};
    case 8: return {static_cast<int>(kRotateCounterClockwise), false, true};
    default: return {-1, true, false};
  }
}

}  // namespace

bool OrientTIFFPicture(ISErrorCode& error, TIFFPicture& p, uint32_t orientation, bool dib) {
  OrientationSteps steps = StepsFor(orientation);
  if (dib) steps.flip = !steps.flip;
  ISNestedCall nested;  // the helpers below are steps of the read: they report nothing
  ISErrorCode stepError = IS_ERR_OK;
  if (steps.turn >= 0) {
    TIFFPicture turned;
    if (!turned.Allocate(p.height, p.width, p.bits)) return error = IS_ERR_NOMEM, false;
    const auto mode = static_cast<uint32_t>(steps.turn);
    const auto srcRow = static_cast<uint32_t>(p.RowBytes());
    const auto dstRow = static_cast<uint32_t>(turned.RowBytes());
    bool ok = false;
    if (p.bits == 1)
      ok = Rotate1Bit(stepError, p.pixels.Data(), turned.pixels.Data(), p.width, p.height,
                      mode | kRotate1BitDestinationCleared, srcRow, dstRow);
    else if (p.bits == 16)
      ok = Rotate16(stepError, reinterpret_cast<const uint16_t*>(p.pixels.Data()), p.width, p.height, srcRow / 2,
                    reinterpret_cast<uint16_t*>(turned.pixels.Data()), dstRow / 2, mode, 1);
    else
      ok = Rotate8(stepError, p.pixels.Data(), p.width, p.height, srcRow, turned.pixels.Data(), dstRow, mode,
                   p.bits / 8);
    if (!ok) return error = stepError, false;
    p = std::move(turned);
  }
  const auto rowBytes = static_cast<uint32_t>(p.RowBytes());
  if (steps.flip && !FlipVertical(stepError, p.pixels.Data(), rowBytes, p.height)) return error = stepError, false;
  if (steps.mirror) {
    bool ok = false;
    if (p.bits == 1)
      ok = MirrorHorizontal1Bit(stepError, p.pixels.Data(), p.width, p.height, rowBytes);
    else if (p.bits == 16)
      ok = MirrorHorizontal16(stepError, reinterpret_cast<uint16_t*>(p.pixels.Data()), p.width, p.height, 1,
                              rowBytes / 2);
    else
      ok = MirrorHorizontal(stepError, p.pixels.Data(), p.width, p.height, p.bits / 8, rowBytes);
    if (!ok) return error = stepError, false;
  }
  return true;
}

namespace {

// Pixels per metre of the page's resolution. ResolutionUnit counts 1 none, 2 inch and 3
// centimetre; the conversion counts 0 none, 1 inch and 2 centimetre, so the unit is moved
// down by one first.
void PageResolutionPerMetre(TIFF* tif, LONG* x, LONG* y) {
  float xr = 0.0f, yr = 0.0f;
  uint16_t unit = 0;
  DWORD record[3] = {0, 0, 0};
  if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xr) && xr > 0.0f && xr < 4294967295.0f)
    record[0] = static_cast<DWORD>(xr);
  if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yr) && yr > 0.0f && yr < 4294967295.0f)
    record[1] = static_cast<DWORD>(yr);
  if (TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit)) record[2] = unit == 2 ? 1 : unit == 3 ? 2 : 0;
  *x = *y = 0;
  if (ConvertResolution(record, kResTIFF, kResPerMetre)) {
    *x = static_cast<LONG>(record[0]);
    *y = static_cast<LONG>(record[1]);
  }
}

}  // namespace

void* FinishTIFFPicture(ISErrorCode& error, TIFF* tif, const TIFFPicture& p, bool dib, bool padRows,
                        const RGBQUAD* palette, uint32_t paletteCount, uint32_t* width, uint32_t* height) {
  const uint64_t packed = p.RowBytes();
  uint64_t rowBytes = packed;
  uint64_t header = 0;
  if (dib) {
    rowBytes = DIBRowBytes(p.width, p.bits);
    header = kDIBHeaderBytes + uint64_t{paletteCount} * 4;
  } else if (padRows) {
    rowBytes = (uint64_t{p.width} + 1) / 2 * 4;
  }
  uint64_t bytes = 0, total = 0;
  ISOwnedBlock block;
  if (!ISAllocSize(bytes, rowBytes, p.height) || !ISAddSize(total, bytes, header) || !block.Alloc(total))
    return error = IS_ERR_NOMEM, nullptr;
  auto* out = static_cast<uint8_t*>(block.Get());
  if (dib) {
    BITMAPINFOHEADER h{};
    h.biSize = kDIBHeaderBytes;
    h.biWidth = static_cast<LONG>(p.width);
    h.biHeight = static_cast<LONG>(p.height);
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(p.bits);
    h.biCompression = 0;
    h.biSizeImage = static_cast<DWORD>(bytes);
    PageResolutionPerMetre(tif, &h.biXPelsPerMeter, &h.biYPelsPerMeter);
    h.biClrUsed = paletteCount;
    WriteDIBHeader(out, h);
    for (uint32_t i = 0; i < paletteCount; ++i) {
      uint8_t* e = out + kDIBHeaderBytes + i * 4;
      e[0] = palette[i].rgbBlue;
      e[1] = palette[i].rgbGreen;
      e[2] = palette[i].rgbRed;
      e[3] = palette[i].rgbReserved;
    }
  }
  const uint8_t* src = p.pixels.Data();
  uint8_t* dst = out + header;
  for (uint32_t y = 0; y < p.height; ++y) std::memcpy(dst + y * rowBytes, src + y * packed, packed);
  *width = p.width;
  *height = p.height;
  return block.Release();
}
