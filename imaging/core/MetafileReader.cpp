// Reading a metafile file: LoadMetafileImage, OpenMetafileByName, ReadPlaceableWMFFile and
// ReadPlaceableWMF. An enhanced metafile is taken as it is; a plain Windows metafile is wrapped
// with a 1000 x 1000 picture; a placeable one is wrapped with the extents its header gives.
#include <unistd.h>

#include <cstring>
#include <new>
#include <vector>

#include "imaging/core/CISIO.h"
#include "imaging/core/ISGDI.h"
#include "imaging/core/ISMetafile.h"
#include "imaging/core/ISThreadState.h"

namespace {

// A file source opened on a new handle, closed and destroyed by the holder.
class FileSource {
 public:
  FileSource() : handle_(CISIO::NewHandle()), io_(handle_) {}
  ~FileSource() {
    if (open_) io_.Close();
    if (handle_) CISIO::DestroyHandle(handle_);
  }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  bool Open(const char* name) { return handle_ && (open_ = io_.OpenFileSource(name)); }
  CISIO& IO() { return io_; }

 private:
  ISIOHandle handle_;
  CISIO io_;
  bool open_ = false;
};

// A Windows metafile handle, deleted by the holder.
class WinMetafile {
 public:
  explicit WinMetafile(HMETAFILE h) : h_(h) {}
  ~WinMetafile() {
    if (h_) DeleteMetaFile(h_);
  }
  WinMetafile(const WinMetafile&) = delete;
  WinMetafile& operator=(const WinMetafile&) = delete;
  HMETAFILE Get() const { return h_; }

 private:
  HMETAFILE h_;
};

int16_t I16(const BYTE* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }
uint16_t U16(const BYTE* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

HENHMETAFILE ReadPlaceableWMF(CISMetafileContext& ctx, CISIO& source, DWORD reqWidth, DWORD reqHeight) {
  uint32_t length = 0;
  if (!source.GetSize(&length) || length == 0) {
    ctx.Fail(IS_ERR_BADWMF);
    return nullptr;
  }
  if (static_cast<uint64_t>(length) + 1024 >= 0x7FFDEFFFu) {
    ctx.Fail(IS_ERR_NOMEM);
    return nullptr;
  }
  std::vector<BYTE> buffer;
  try {
    buffer.assign(static_cast<size_t>(length) + 1024, 0);
  } catch (const std::bad_alloc&) {
    ctx.Fail(IS_ERR_NOMEM);
    return nullptr;
  }
  if (!source.Rewind() || !source.ReadExact(buffer.data(), length)) {
    ctx.Fail(IS_ERR_READ);
    return nullptr;
  }
  const BYTE* b = buffer.data();
  const bool keyed = length >= 4 && (b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24)) ==
                                        kPlaceableKey;
  METAFILEPICT pict{MM_ANISOTROPIC, static_cast<LONG>(reqWidth), static_cast<LONG>(reqHeight), nullptr};
  uint32_t start = 0;
  if (keyed) {
    if (length < kPlaceableHeaderBytes) {
      ctx.Fail(IS_ERR_BADWMF);
      return nullptr;
    }
    const int32_t left = I16(b + 6), top = I16(b + 8), right = I16(b + 10), bottom = I16(b + 12);
    const uint32_t unitsPerInch = U16(b + 14);
    // Refused before anything is made: no units per inch, empty bounds, or a picture whose
    // bitmap at the screen's resolution would be beyond the allocation limit.
    if (unitsPerInch == 0 || right <= left || bottom <= top) {
      ctx.Fail(IS_ERR_BADWMF);
      return nullptr;
    }
    const double w = (right - left) * 2540.0 / unitsPerInch / 2540.0 * 96;
    const double h = (bottom - top) * 2540.0 / unitsPerInch / 2540.0 * 96;
    if (w < 1 || h < 1 || w * h * 4 >= 0x7FFDEFFF) {
      ctx.Fail(IS_ERR_BADWMF);
      return nullptr;
    }
    pict.xExt = static_cast<LONG>((right - left) * 2540 / static_cast<int32_t>(unitsPerInch));
    pict.yExt = static_cast<LONG>((bottom - top) * 2540 / static_cast<int32_t>(unitsPerInch));
    start = kPlaceableHeaderBytes;
  }
  std::memcpy(ctx.placeable, b, kPlaceableHeaderBytes);  // the buffer has 1024 bytes to spare
  ISScreenDC screen;
  HENHMETAFILE emf = SetWinMetaFileBits(length - start, b + start, screen.Get(), &pict);
  if (!emf) ctx.Fail(IS_ERR_SETWINMETAFILE);
  return emf;
}

HENHMETAFILE ReadPlaceableWMFFile(CISMetafileContext& ctx, const char* name, DWORD reqWidth, DWORD reqHeight) {
  FileSource source;
  if (!source.Open(name)) {
    ctx.Fail(IS_ERR_OPEN);
    return nullptr;
  }
  return ReadPlaceableWMF(ctx, source.IO(), reqWidth, reqHeight);
}

HENHMETAFILE OpenMetafileByName(CISMetafileContext& ctx, const char* name, DWORD reqWidth, DWORD reqHeight) {
  if (HENHMETAFILE emf = GetEnhMetaFileA(name)) return emf;
  WinMetafile wmf(GetMetaFileA(name));
  if (wmf.Get()) {
    const UINT size = GetMetaFileBitsEx(wmf.Get(), 0, nullptr);
    if (size == 0) {
      ctx.Fail(IS_ERR_BADWMF);
      return nullptr;
    }
    std::vector<BYTE> bits;
    try {
      bits.resize(size);
    } catch (const std::bad_alloc&) {
      ctx.Fail(IS_ERR_NOMEM);
      return nullptr;
    }
    if (GetMetaFileBitsEx(wmf.Get(), size, bits.data()) != size) {
      ctx.Fail(IS_ERR_BADWMF);
      return nullptr;
    }
    const METAFILEPICT pict{MM_ANISOTROPIC, 1000, 1000, nullptr};
    ISScreenDC screen;
    HENHMETAFILE emf = SetWinMetaFileBits(size, bits.data(), screen.Get(), &pict);
    if (!emf) ctx.Fail(IS_ERR_BADWMF);
    return emf;
  }
  return ReadPlaceableWMFFile(ctx, name, reqWidth, reqHeight);
}

HGLOBAL LoadMetafileImage(CISMetafileContext& ctx, const char* name, DWORD* outWidth, DWORD* outHeight,
                          DWORD reqWidth, DWORD reqHeight, COLORREF background, DWORD flags) {
  if (outWidth) *outWidth = 0;
  if (outHeight) *outHeight = 0;
  if (!name) {
    ctx.Fail(IS_ERR_BADPARAM);
    return nullptr;
  }
  if (!ReportProgress(0, 4, false)) {
    ctx.Fail(IS_ERR_STOPPED);
    return nullptr;
  }
  if (access(name, F_OK) != 0) {
    ctx.Fail(IS_ERR_OPEN);
    return nullptr;
  }
  HENHMETAFILE emf = OpenMetafileByName(ctx, name, reqWidth, reqHeight);
  if (!emf) {
    if (ctx.error == IS_ERR_OK) ctx.Fail(IS_ERR_BADWMF);
    return nullptr;
  }
  HGLOBAL result = RenderEnhMetafile(ctx, emf, outWidth, outHeight, reqWidth, reqHeight, background, flags);
  DeleteEnhMetaFile(emf);
  return result;
}
