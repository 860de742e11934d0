// WriteEMF and WriteWMF: an RGB picture written as an enhanced metafile holding one 24-bit DIB,
// with the records a metafile context of the screen makes for it, or as a (placeable) Windows
// metafile converted from those records. The records go to the sink as they are made, the DIB
// row by row from the picture, so that writing takes no copy of the picture.
#include <cmath>
#include <cstdint>
#include <vector>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISGDI.h"
#include "imaging/core/ISMetafile.h"

namespace {

// Little-endian fields of a record, gathered before they go to the sink.
struct Fields {
  std::vector<BYTE> b;
  void U16(uint32_t v) {
    b.push_back(static_cast<BYTE>(v));
    b.push_back(static_cast<BYTE>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
};

// The picture as the screen's metafile context records it: frame, mapping and DIB sizes.
struct Recorded {
  DWORD width = 0, height = 0;
  uint32_t dpiX = 0, dpiY = 0;
  uint32_t resX = 0, resY = 0, mmX = 0, mmY = 0;  // the reference device
  RECT frame{0, 0, 0, 0};                         // 0.01 mm
  uint64_t rowBytes = 0, bitsBytes = 0;           // the DIB's rows
};

constexpr uint32_t kDIBFieldsBytes = 40;
constexpr uint32_t kDIBRecordFixed = 8 + 18 * 4;  // STRETCHDIBITS / SETDIBITSTODEVICE before the DIB
constexpr uint64_t kRecordLimit = 0x7FFDEFFFu;    // the largest metafile the context makes

// The measures the writers share; false with the error set (5 bad arguments, 10 no screen,
// 1 a DIB beyond the allocation limit, 10 a record beyond the metafile limit).
bool Measure(CISMetafileContext& ctx, HDC screen, const BYTE* rgb, DWORD width, DWORD height, Recorded& r) {
  if (!rgb || width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return ctx.Fail(IS_ERR_BADPARAM);
  r.width = width;
  r.height = height;
  r.rowBytes = ((static_cast<uint64_t>(width) * 24 + 31) / 32) * 4;
  r.bitsBytes = r.rowBytes * height;
  if (kDIBFieldsBytes + r.bitsBytes >= kGlobalAllocLimit) return ctx.Fail(IS_ERR_NOMEM);
  if (!screen) return ctx.Fail(IS_ERR_DC);
  r.dpiX = static_cast<uint32_t>(GetDeviceCaps(screen, LOGPIXELSX));
  r.dpiY = static_cast<uint32_t>(GetDeviceCaps(screen, LOGPIXELSY));
  const int64_t mmX = GetDeviceCaps(screen, HORZSIZE), mmY = GetDeviceCaps(screen, VERTSIZE);
  const int64_t resX = GetDeviceCaps(screen, HORZRES), resY = GetDeviceCaps(screen, VERTRES);
  if (mmX <= 0 || mmY <= 0 || resX <= 0 || resY <= 0) return ctx.Fail(IS_ERR_DC);
  r.mmX = static_cast<uint32_t>(mmX), r.mmY = static_cast<uint32_t>(mmY);
  r.resX = static_cast<uint32_t>(resX), r.resY = static_cast<uint32_t>(resY);
  r.frame = RECT{0, 0, static_cast<LONG>(mmX * width * 100 / resX), static_cast<LONG>(mmY * height * 100 / resY)};
  if (kDIBRecordFixed + kDIBFieldsBytes + r.bitsBytes >= kRecordLimit) return ctx.Fail(IS_ERR_DC);
  return true;
}

// The DIB's header fields: 24 bits, BI_RGB, bottom-up, no colour table.
void DIBFields(Fields& f, const Recorded& r) {
  for (uint32_t v : {kDIBFieldsBytes, static_cast<uint32_t>(r.width), static_cast<uint32_t>(r.height)}) f.U32(v);
  f.U16(1);
  f.U16(24);
  for (uint32_t v : {static_cast<uint32_t>(BI_RGB), static_cast<uint32_t>(r.bitsBytes), 0u, 0u, 0u, 0u}) f.U32(v);
}

// Writes the DIB's rows: the picture's last row first, B, G, R, each padded to 4 bytes.
bool WriteDIBRows(CISIO& sink, const BYTE* rgb, const Recorded& r) {
  std::vector<BYTE> row(static_cast<size_t>(r.rowBytes), 0);
  const size_t stride = static_cast<size_t>(r.width) * 3;
  for (DWORD k = 0; k < r.height; ++k) {
    const BYTE* src = rgb + static_cast<size_t>(r.height - 1 - k) * stride;
    for (size_t x = 0; x < stride; x += 3) {
      row[x] = src[x + 2];
      row[x + 1] = src[x + 1];
      row[x + 2] = src[x];
    }
    if (!sink.Write(row.data(), static_cast<uint32_t>(row.size()))) return false;
  }
  return true;
}

// The sink's position after a successful write, or 0 with error 4.
uint32_t Finish(CISMetafileContext& ctx, CISIO& sink, bool written) {
  if (!written) {
    ctx.Fail(IS_ERR_WRITE);
    return 0;
  }
  uint32_t position = 0;
  sink.Tell(&position);
  return position;
}

}  // namespace

uint32_t WriteEMF(CISMetafileContext& ctx, CISIO& sink, const BYTE* rgb, DWORD width, DWORD height) {
  ISScreenDC screen;
  Recorded r;
  if (!Measure(ctx, screen.Get(), rgb, width, height, r)) return 0;
  // Header, SETMAPMODE (isotropic), window and viewport extents of the screen's resolution,
  // STRETCHDIBITS of the whole DIB onto (0, 0, width, height), end of file.
  constexpr uint32_t kHeaderBytes = 108, kEofBytes = 20;
  const uint32_t dibRecord = static_cast<uint32_t>(kDIBRecordFixed + kDIBFieldsBytes + r.bitsBytes);
  const uint32_t total = kHeaderBytes + 12 + 16 + 16 + dibRecord + kEofBytes;
  Fields f;
  f.U32(1);  // EMR_HEADER
  f.U32(kHeaderBytes);
  for (LONG v : {LONG{0}, LONG{0}, static_cast<LONG>(width - 1), static_cast<LONG>(height - 1)})  // bounds, pixels
    f.U32(static_cast<uint32_t>(v));
  for (LONG v : {r.frame.left, r.frame.top, r.frame.right, r.frame.bottom}) f.U32(static_cast<uint32_t>(v));
  f.U32(0x464D4520u);  // " EMF"
  f.U32(0x10000);
  f.U32(total);
  f.U32(6);  // records
  f.U16(1);  // handles: the table's reserved entry only
  f.U16(0);
  for (uint32_t v : {0u, 0u, 0u, r.resX, r.resY, r.mmX, r.mmY, 0u, 0u, 0u, r.mmX * 1000, r.mmY * 1000}) f.U32(v);
  for (uint32_t v : {17u, 12u, static_cast<uint32_t>(MM_ISOTROPIC)}) f.U32(v);
  for (uint32_t v : {9u, 16u, r.dpiX, r.dpiY, 11u, 16u, r.dpiX, r.dpiY}) f.U32(v);
  const uint32_t w = width, h = height;
  for (uint32_t v : {81u, dibRecord, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u, w, h, kDIBRecordFixed, kDIBFieldsBytes,
                     kDIBRecordFixed + kDIBFieldsBytes, static_cast<uint32_t>(r.bitsBytes),
                     static_cast<uint32_t>(DIB_RGB_COLORS), static_cast<uint32_t>(SRCCOPY), w, h})
    f.U32(v);
  DIBFields(f, r);
  Fields eof;
  for (uint32_t v : {14u, kEofBytes, 0u, 16u, kEofBytes}) eof.U32(v);
  const bool written = sink.Write(f.b.data(), static_cast<uint32_t>(f.b.size())) && WriteDIBRows(sink, rgb, r) &&
                       sink.Write(eof.b.data(), static_cast<uint32_t>(eof.b.size()));
  return Finish(ctx, sink, written);
}

uint32_t WriteWMF(CISMetafileContext& ctx, CISIO& sink, const BYTE* rgb, DWORD width, DWORD height, bool placeable) {
  ISScreenDC screen;
  Recorded r;
  if (!Measure(ctx, screen.Get(), rgb, width, height, r)) return 0;
  // The window: the frame in pixels of the reference device, which Windows records hold in 16
  // bits.
  const double pxX = static_cast<double>(r.resX) / (r.mmX * 100.0), pxY = static_cast<double>(r.resY) / (r.mmY * 100.0);
  const int64_t winX = std::llround(static_cast<double>(r.frame.right) * pxX);
  const int64_t winY = std::llround(static_cast<double>(r.frame.bottom) * pxY);
  const uint64_t dibWords = 3 + 2 + 9 + (kDIBFieldsBytes + r.bitsBytes + 1) / 2;
  constexpr uint32_t kHeaderWords = 9, kEndWords = 3;
  const uint64_t totalWords = kHeaderWords + 4 + 5 + 5 + dibWords + kEndWords;
  if (winX <= 0 || winY <= 0 || winX > 32767 || winY > 32767 || totalWords * 2 >= kRecordLimit) {
    ctx.Fail(IS_ERR_NOMETABITS);
    return 0;
  }
  if (placeable) {
    BYTE p[kPlaceableHeaderBytes] = {};
    const auto put16 = [&](int at, uint32_t v) {
      p[at] = static_cast<BYTE>(v);
      p[at + 1] = static_cast<BYTE>(v >> 8);
    };
    put16(0, kPlaceableKey & 0xFFFF);
    put16(2, kPlaceableKey >> 16);
    put16(6, static_cast<uint32_t>(r.frame.left * 1000 / 2540));
    put16(8, static_cast<uint32_t>(r.frame.top * 1000 / 2540));
    put16(10, static_cast<uint32_t>(r.frame.right * 1000 / 2540));
    put16(12, static_cast<uint32_t>(r.frame.bottom * 1000 / 2540));
    put16(14, 1000);
    put16(20, PlaceableHeaderChecksum(p));
    if (!sink.Write(p, sizeof p)) {
      ctx.Fail(IS_ERR_WRITE);
      return 0;
    }
  }
  // Header, SETMAPMODE (anisotropic), window origin and extent, STRETCHDIB of the whole DIB
  // (SRCCOPY) onto (0, 0, width, height), end.
  Fields f;
  for (uint32_t v : {1u, kHeaderWords, 0x300u}) f.U16(v);
  f.U32(static_cast<uint32_t>(totalWords));
  f.U16(0);  // objects
  f.U32(static_cast<uint32_t>(dibWords));  // the largest record
  f.U16(0);
  f.U32(4);
  for (uint32_t v : {0x0103u, static_cast<uint32_t>(MM_ANISOTROPIC)}) f.U16(v);
  f.U32(5);
  for (uint32_t v : {0x020Bu, 0u, 0u}) f.U16(v);
  f.U32(5);
  for (uint32_t v : {0x020Cu, static_cast<uint32_t>(winY), static_cast<uint32_t>(winX)}) f.U16(v);
  f.U32(static_cast<uint32_t>(dibWords));
  f.U16(0x0F43);
  f.U32(SRCCOPY);
  f.U16(DIB_RGB_COLORS);
  for (uint32_t v : {height, width, 0u, 0u, height, width, 0u, 0u}) f.U16(v);  // source, then destination
  DIBFields(f, r);
  Fields end;
  end.U32(kEndWords);
  end.U16(0);
  const bool written = sink.Write(f.b.data(), static_cast<uint32_t>(f.b.size())) && WriteDIBRows(sink, rgb, r) &&
                       sink.Write(end.b.data(), static_cast<uint32_t>(end.b.size()));
  return Finish(ctx, sink, written);
}
