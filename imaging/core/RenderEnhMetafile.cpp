// RenderEnhMetafile: an enhanced metafile played onto the background colour, straight into the
// R, G, B rows it returns (or into a packed DIB of 32 bits with flags bit 1).
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "imaging/core/CISMemBlock.h"
#include "imaging/core/ISDIB.h"
#include "imaging/core/ISDecodeBudget.h"
#include "imaging/core/ISGDI.h"
#include "imaging/core/ISMetafile.h"
#include "imaging/core/ISThreadState.h"

namespace {

// A side in pixels from a double, truncated; false when it is not a usable size.
bool Side(double v, LONG& out) {
  if (!std::isfinite(v) || v < -2147483647.0 || v > 2147483647.0) return false;
  out = static_cast<LONG>(v);
  return true;
}

// Why a playback ended before the metafile did, for ISGetLastWarning: the picture is returned
// as far as it was drawn.
void WarnPlayback(const MetafilePlayback& p) {
  const char* format = p.windows ? "WMF" : "EMF";
  char text[128];
  switch (p.end) {
    case kMetafileStopped:
      std::snprintf(text, sizeof text, "drawing stopped after %" PRIu32 " of %" PRIu32 " records", p.records,
                    p.recordsInFile);
      SetLastWarning(text);
      break;
    case kMetafileEndedEarly:
      if (!p.windows && p.recordsDeclared > p.records)
        WarnEndedEarly(format, p.records, p.recordsDeclared, "records");
      else
        WarnEndedEarly(format, p.bytesPlayed, std::max(p.bytesDeclared, p.bytesInFile), "bytes");
      break;
    case kMetafileDamaged:
      std::snprintf(text, sizeof text, "%s file damaged at record %" PRIu32 ": drawn up to it", format,
                    p.records + 1);
      SetLastWarning(text);
      break;
    default:
      break;
  }
}

}  // namespace

HGLOBAL RenderEnhMetafile(CISMetafileContext& ctx, HENHMETAFILE emf, DWORD* outWidth, DWORD* outHeight,
                          DWORD reqWidth, DWORD reqHeight, COLORREF background, DWORD flags) {
  ENHMETAHEADER header{};
  if (GetEnhMetaFileHeader(emf, sizeof header, &header) == 0) {
    ctx.Fail(IS_ERR_BADWMF);
    return nullptr;
  }
  ISScreenDC screen;
  if (!screen.Get()) {
    ctx.Fail(IS_ERR_DC);
    return nullptr;
  }
  const BYTE* ph = ctx.placeable;
  const uint32_t key = ph[0] | (ph[1] << 8) | (ph[2] << 16) | (static_cast<uint32_t>(ph[3]) << 24);
  LONG width = 0, height = 0;
  bool ok = true;
  if (flags & kMetafileRequestedSize) {
    ok = reqWidth <= 0x7FFFFFFF && reqHeight <= 0x7FFFFFFF;
    width = static_cast<LONG>(reqWidth);
    height = static_cast<LONG>(reqHeight);
  } else if (key != kPlaceableKey) {
    if (header.szlMillimeters.cx <= 0 || header.szlMillimeters.cy <= 0) {
      ctx.Fail(IS_ERR_BADWMF);
      return nullptr;
    }
    const double kx = 1.0 / (header.szlMillimeters.cx * 100.0);
    const float ky = 1.0f / (static_cast<float>(header.szlMillimeters.cy) * 100.0f);
    const float devY = static_cast<float>(header.szlDevice.cy);
    LONG left = 0, right = 0, top = 0, bottom = 0;
    ok = Side(header.rclFrame.left * kx * header.szlDevice.cx, left) &&
         Side(header.rclFrame.right * kx * header.szlDevice.cx, right) &&
         Side(static_cast<double>(header.rclFrame.top * ky * devY), top) &&
         Side(static_cast<double>(header.rclFrame.bottom * ky * devY), bottom);
    width = static_cast<LONG>(static_cast<int64_t>(right) - left);
    height = static_cast<LONG>(static_cast<int64_t>(bottom) - top);
    ok = ok && static_cast<int64_t>(right) - left == width && static_cast<int64_t>(bottom) - top == height;
  } else {
    const int32_t left = static_cast<int16_t>(ph[6] | (ph[7] << 8)), top = static_cast<int16_t>(ph[8] | (ph[9] << 8));
    const int32_t right = static_cast<int16_t>(ph[10] | (ph[11] << 8));
    const int32_t bottom = static_cast<int16_t>(ph[12] | (ph[13] << 8));
    const uint32_t unitsPerInch = ph[14] | (ph[15] << 8);
    if (unitsPerInch == 0) {
      ctx.Fail(IS_ERR_BADWMF);
      return nullptr;
    }
    ok = Side((right - left) * 2540.0 / unitsPerInch / 2540.0 * GetDeviceCaps(screen.Get(), LOGPIXELSX), width) &&
         Side((bottom - top) * 2540.0 / unitsPerInch / 2540.0 * GetDeviceCaps(screen.Get(), LOGPIXELSY), height);
  }
  if (ok && (flags & kMetafilePercent)) {
    ok = Side(reqWidth * 0.01 * width, width) && Side(reqHeight * 0.01 * height, height);
  }
  if (!ReportProgress(1, 4)) {
    ctx.Fail(IS_ERR_STOPPED);
    return nullptr;
  }
  // Nothing in a metafile bounds the picture it draws: the render is held to the budget's
  // ceiling for data whose size cannot be checked before the picture is made. The picture the
  // caller receives is the render's only canvas: the records are played straight into it.
  ok = ok && width > 0 && height > 0 &&
       RovIrirev::DecodeBudgetAllows(static_cast<uint64_t>(width), static_cast<uint64_t>(height),
                                     RovIrirev::kUnboundedData, 0);
  if (!ok) {
    ctx.Fail(IS_ERR_COMPATBITMAP);
    return nullptr;
  }
  const bool asDIB = (flags & kMetafileAsDIB) != 0;
  const uint64_t pixelBytes = asDIB ? 4 : 3;
  const uint64_t rowBytes = static_cast<uint64_t>(width) * pixelBytes;
  const uint64_t headerBytes = asDIB ? kDIBHeaderBytes : 0;
  ISOwnedBlock block;
  if (!block.Alloc(headerBytes + rowBytes * static_cast<uint64_t>(height))) {
    ctx.Fail(IS_ERR_NOMEM);
    return nullptr;
  }
  auto* base = static_cast<BYTE*>(block.Get());
  MetafileCanvas canvas{base, width, height, static_cast<LONG>(rowBytes), static_cast<WORD>(pixelBytes * 8)};
  if (asDIB) {
    // A packed DIB of 32 bits, bottom-up, as the screen's bitmaps are read back.
    BITMAPINFOHEADER header{};
    header.biSize = kDIBHeaderBytes;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(rowBytes * static_cast<uint64_t>(height));
    WriteDIBHeader(base, header);
    canvas.bits = base + headerBytes + rowBytes * static_cast<uint64_t>(height - 1);
    canvas.stride = -canvas.stride;
  }
  // The background: every pixel, in the canvas's layout.
  const BYTE bg[4] = {asDIB ? GetBValue(background) : GetRValue(background), GetGValue(background),
                      asDIB ? GetRValue(background) : GetBValue(background), 0};
  for (LONG y = 0; y < height; ++y) {
    BYTE* row = canvas.bits + static_cast<ptrdiff_t>(y) * canvas.stride;
    for (uint64_t x = 0; x < rowBytes; x += pixelBytes) std::memcpy(row + x, bg, pixelBytes);
  }
  if (!ReportProgress(2, 4)) {
    ctx.Fail(IS_ERR_STOPPED);
    return nullptr;
  }
  // Drawing is held to a budget of work as the canvas is to the ceiling; what could be drawn is
  // kept, as GDI's player does, with the reason it stopped.
  const RECT all{0, 0, width, height};
  MetafilePlayback playback{};
  playback.workLimit = MetafileDrawingBudget(static_cast<uint64_t>(width) * static_cast<uint64_t>(height));
  PlayEnhMetaFileOnto(emf, &canvas, &all, &playback);
  WarnPlayback(playback);
  if (!ReportProgress(3, 4)) {
    ctx.Fail(IS_ERR_STOPPED);
    return nullptr;
  }
  if (outWidth) *outWidth = static_cast<DWORD>(width);
  if (outHeight) *outHeight = static_cast<DWORD>(height);
  return static_cast<HGLOBAL>(block.Release());
}
