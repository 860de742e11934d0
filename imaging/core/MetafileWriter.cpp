// WriteEMF and WriteWMF: an RGB picture drawn as one 24-bit DIB into a memory metafile recorded
// on the screen's context, then written as enhanced records or converted to Windows records
// (after a placeable header when asked).
#include <new>
#include <vector>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISDIB.h"
#include "imaging/core/ISGDI.h"
#include "imaging/core/ISMetafile.h"

namespace {

// A global-memory block freed by the holder.
class GlobalBlock {
 public:
  explicit GlobalBlock(void* p) : p_(p) {}
  ~GlobalBlock() {
    if (p_) GlobalFree(p_);
  }
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
  void* Get() const { return p_; }

 private:
  void* p_;
};

class EnhMetafile {
 public:
  explicit EnhMetafile(HENHMETAFILE h) : h_(h) {}
  ~EnhMetafile() {
    if (h_) DeleteEnhMetaFile(h_);
  }
  EnhMetafile(const EnhMetafile&) = delete;
  EnhMetafile& operator=(const EnhMetafile&) = delete;
  HENHMETAFILE Get() const { return h_; }

 private:
  HENHMETAFILE h_;
};

// A metafile context that is closed (its metafile deleted) unless Close is called.
class Recording {
 public:
  Recording(HDC reference, const RECT& frame) : dc_(CreateEnhMetaFileA(reference, nullptr, &frame, "")) {}
  ~Recording() {
    if (dc_) DeleteEnhMetaFile(CloseEnhMetaFile(dc_));
  }
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;
  HDC Get() const { return dc_; }
  HENHMETAFILE Close() {
    HENHMETAFILE h = CloseEnhMetaFile(dc_);
    dc_ = nullptr;
    return h;
  }

 private:
  HDC dc_;
};

// Steps shared by both writers: the DIB, the screen's measures and the recorded metafile.
// Returns the metafile, or null with the error set (10 when closing the recording failed).
HENHMETAFILE Record(CISMetafileContext& ctx, HDC screen, const BYTE* rgb, DWORD width, DWORD height, bool windows) {
  if (!rgb || width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) {
    ctx.Fail(IS_ERR_BADPARAM);
    return nullptr;
  }
  ISErrorCode error = IS_ERR_OK;
  GlobalBlock dib(RGBToDIB(error, rgb, width, height, nullptr, 0));
  if (!dib.Get()) {
    ctx.Fail(error ? error : IS_ERR_NOMEM);
    return nullptr;
  }
  if (!screen) {
    ctx.Fail(IS_ERR_DC);
    return nullptr;
  }
  const int64_t dpiX = GetDeviceCaps(screen, LOGPIXELSX), dpiY = GetDeviceCaps(screen, LOGPIXELSY);
  const int64_t mmX = GetDeviceCaps(screen, HORZSIZE), mmY = GetDeviceCaps(screen, VERTSIZE);
  const int64_t resX = GetDeviceCaps(screen, HORZRES), resY = GetDeviceCaps(screen, VERTRES);
  const RECT frame{0, 0, static_cast<LONG>(mmX * width * 100 / resX), static_cast<LONG>(mmY * height * 100 / resY)};
  Recording rec(screen, frame);
  if (!rec.Get()) {
    ctx.Fail(IS_ERR_DC);
    return nullptr;
  }
  SetMapMode(rec.Get(), windows ? MM_ANISOTROPIC : MM_ISOTROPIC);
  SetWindowExtEx(rec.Get(), static_cast<int>(dpiX), static_cast<int>(dpiY), nullptr);
  SetViewportExtEx(rec.Get(), static_cast<int>(dpiX), static_cast<int>(dpiY), nullptr);
  const auto* info = static_cast<const BITMAPINFO*>(dib.Get());
  const BYTE* bits = DIBBitsPtr(error, dib.Get());
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  const int lines = windows ? SetDIBitsToDevice(rec.Get(), 0, 0, width, height, 0, 0, 0, height, bits, info, 1)
                            : StretchDIBits(rec.Get(), 0, 0, w, h, 0, 0, w, h, bits, info, DIB_RGB_COLORS, SRCCOPY);
  if (lines != h) {
    ctx.Fail(IS_ERR_DC);
    return nullptr;
  }
  HENHMETAFILE recorded = rec.Close();
  if (!recorded && ctx.error == IS_ERR_OK) ctx.Fail(IS_ERR_DC);
  return recorded;
}

// Fetches the metafile's `size` bytes through getBits(buffer), which returns how many it gave,
// and writes them to the sink. Returns the sink's position after them, or 0 with the error set.
template <typename GetBits>
uint32_t WriteMetafileBits(CISMetafileContext& ctx, CISIO& sink, UINT size, GetBits&& getBits) {
  std::vector<BYTE> bits;
  try {
    bits.resize(size);
  } catch (const std::bad_alloc&) {
    ctx.Fail(IS_ERR_NOMEM);
    return 0;
  }
  if (getBits(bits.data()) != size || !sink.Write(bits.data(), size)) {
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
  EnhMetafile emf(Record(ctx, screen.Get(), rgb, width, height, false));
  if (!emf.Get()) return 0;
  const UINT size = GetEnhMetaFileBits(emf.Get(), 0, nullptr);
  if (size == 0) {
    ctx.Fail(IS_ERR_NOMETABITS);
    return 0;
  }
  return WriteMetafileBits(ctx, sink, size, [&](BYTE* bits) { return GetEnhMetaFileBits(emf.Get(), size, bits); });
}

uint32_t WriteWMF(CISMetafileContext& ctx, CISIO& sink, const BYTE* rgb, DWORD width, DWORD height, bool placeable) {
  ISScreenDC screen;
  EnhMetafile emf(Record(ctx, screen.Get(), rgb, width, height, true));
  if (!emf.Get()) return 0;
  const UINT size = GetWinMetaFileBits(emf.Get(), 0, nullptr, MM_ANISOTROPIC, screen.Get());
  if (size == 0) {
    ctx.Fail(IS_ERR_NOMETABITS);
    return 0;
  }
  if (placeable) {
    ENHMETAHEADER header{};
    GetEnhMetaFileHeader(emf.Get(), sizeof header, &header);
    BYTE p[kPlaceableHeaderBytes] = {};
    const auto put16 = [&](int at, uint32_t v) {
      p[at] = static_cast<BYTE>(v);
      p[at + 1] = static_cast<BYTE>(v >> 8);
    };
    put16(0, kPlaceableKey & 0xFFFF);
    put16(2, kPlaceableKey >> 16);
    put16(6, static_cast<uint32_t>(header.rclFrame.left * 1000 / 2540));
    put16(8, static_cast<uint32_t>(header.rclFrame.top * 1000 / 2540));
    put16(10, static_cast<uint32_t>(header.rclFrame.right * 1000 / 2540));
    put16(12, static_cast<uint32_t>(header.rclFrame.bottom * 1000 / 2540));
    put16(14, 1000);
    put16(20, PlaceableHeaderChecksum(p));
    if (!sink.Write(p, sizeof p)) {
      ctx.Fail(IS_ERR_WRITE);
      return 0;
    }
  }
  return WriteMetafileBits(ctx, sink, size, [&](BYTE* bits) {
    return GetWinMetaFileBits(emf.Get(), size, bits, MM_ANISOTROPIC, screen.Get());
  });
}
