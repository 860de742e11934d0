// Metafile objects of the GDI stand-in: reading EMF and WMF bytes, the header, recording through
// a metafile context, the EMF -> WMF conversion, mapping on contexts and the DIB transfers.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "platform/gdi_metafile_internal.h"
#include "platform/gdi_metafile_surface.h"

namespace {

std::mutex& MfMutex() {
  static std::mutex m;
  return m;
}
std::unordered_set<const void*>& MfLive() {
  static auto* s = new std::unordered_set<const void*>();
  return *s;
}

// Metafile files are read whole; larger ones are refused.
constexpr long kMaxMetafileBytes = 256L << 20;

// The recorder behind a metafile context.
struct Recorder {
  std::vector<uint8_t> records;
  uint32_t count = 0;
  RECT frame{0, 0, 0, 0};
  bool hasFrame = false;
  RECT bounds{0, 0, -1, -1};  // device pixels drawn
};
std::unordered_map<const void*, Recorder*>& Recorders() {
  static auto* m = new std::unordered_map<const void*, Recorder*>();
  return *m;
}

void Track(const void* p, bool live) {
  std::lock_guard<std::mutex> lock(MfMutex());
  if (live) MfLive().insert(p);
  else MfLive().erase(p);
}
bool IsLive(const void* p) {
  if (!p) return false;
  std::lock_guard<std::mutex> lock(MfMutex());
  return MfLive().count(p) != 0;
}
GdiMetafile* LookupEmf(HENHMETAFILE h) { return IsLive(h) ? reinterpret_cast<GdiMetafile*>(h) : nullptr; }
GdiWinMetafile* LookupWmf(HMETAFILE h) { return IsLive(h) ? reinterpret_cast<GdiWinMetafile*>(h) : nullptr; }
Recorder* LookupRecorder(HDC dc) {
  if (!dc) return nullptr;
  std::lock_guard<std::mutex> lock(MfMutex());
  auto it = Recorders().find(dc);
  return it == Recorders().end() ? nullptr : it->second;
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>& out) {
  if (!path) return false;
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  bool ok = std::fseek(f, 0, SEEK_END) == 0;
  const long n = ok ? std::ftell(f) : -1;
  ok = ok && n > 0 && n <= kMaxMetafileBytes && std::fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    try {
      out.resize(static_cast<size_t>(n));
      ok = std::fread(out.data(), 1, out.size(), f) == out.size();
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  std::fclose(f);
  return ok;
}

// Header of enhanced-metafile bytes; false when they are not one.
bool ParseEmfHeader(const uint8_t* d, size_t n, ENHMETAHEADER& h, size_t& length) {
  if (n < kEmfHeaderMin) return false;
  h.iType = MfU32(d);
  h.nSize = MfU32(d + 4);
  if (h.iType != EMR_HEADER || h.nSize < kEmfHeaderMin || h.nSize > n || MfU32(d + 40) != kEmfSignature) return false;
  auto rect = [&](size_t o) { return RECTL{MfI32(d + o), MfI32(d + o + 4), MfI32(d + o + 8), MfI32(d + o + 12)}; };
  h.rclBounds = rect(8);
  h.rclFrame = rect(24);
  h.dSignature = kEmfSignature;
  h.nVersion = MfU32(d + 44);
  h.nBytes = MfU32(d + 48);
  h.nRecords = MfU32(d + 52);
  h.nHandles = MfU16(d + 56);
  h.sReserved = 0;
  h.nDescription = MfU32(d + 60);
  h.offDescription = MfU32(d + 64);
  h.nPalEntries = MfU32(d + 68);
  h.szlDevice = SIZEL{MfI32(d + 72), MfI32(d + 76)};
  h.szlMillimeters = SIZEL{MfI32(d + 80), MfI32(d + 84)};
  if (h.szlDevice.cx <= 0 || h.szlDevice.cy <= 0 || h.szlMillimeters.cx <= 0 || h.szlMillimeters.cy <= 0) return false;
  // Files whose byte count is wrong are played up to their real end.
  length = h.nBytes >= h.nSize && h.nBytes <= n ? h.nBytes : n;
  return true;
}

bool IsWmfHeader(const uint8_t* d, size_t n) {
  if (n < 18) return false;
  const uint16_t type = MfU16(d), headerWords = MfU16(d + 2), version = MfU16(d + 4);
  return (type == 1 || type == 2) && headerWords == 9 && (version == 0x100 || version == 0x300);
}

HENHMETAFILE NewEmf(GdiMetafile* mf) {
  Track(mf, true);
  return reinterpret_cast<HENHMETAFILE>(mf);
}

void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}
void Set32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}

// The screen's reference values (platform/gdi.h).
constexpr int kRefW = 1920, kRefH = 1080, kRefMmW = 508, kRefMmH = 286;

// The metafile's own window extent (the first SETWINDOWEXT record), or 0 x 0.
void WmfWindowExt(const std::vector<uint8_t>& d, int32_t& cx, int32_t& cy) {
  cx = cy = 0;
  size_t pos = static_cast<size_t>(MfU16(d.data() + 2)) * 2;
  for (int guard = 0; pos + 6 <= d.size() && guard < 100000; ++guard) {
    const uint64_t words = MfU32(d.data() + pos);
    const uint16_t fn = MfU16(d.data() + pos + 4);
    if (words < 3 || words * 2 > d.size() - pos || fn == 0) return;
    if (fn == 0x020C && words >= 5) {
      cy = MfI16(d.data() + pos + 6);
      cx = MfI16(d.data() + pos + 8);
      return;
    }
    pos += static_cast<size_t>(words * 2);
  }
}

}  // namespace

size_t GdiLiveMetafileCount() {
  std::lock_guard<std::mutex> lock(MfMutex());
  return MfLive().size() + Recorders().size();
}

HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* bits) {
  if (!bits) return nullptr;
  auto* mf = new (std::nothrow) GdiMetafile();
  if (!mf) return nullptr;
  size_t length = 0;
  if (!ParseEmfHeader(bits, size, mf->header, length)) {
    delete mf;
    return nullptr;
  }
  try {
    mf->bytes.assign(bits, bits + length);
  } catch (const std::bad_alloc&) {
    delete mf;
    return nullptr;
  }
  return NewEmf(mf);
}

HENHMETAFILE GetEnhMetaFileA(const char* path) {
  std::vector<uint8_t> d;
  if (!ReadWholeFile(path, d)) return nullptr;
  return SetEnhMetaFileBits(static_cast<UINT>(d.size()), d.data());
}

HMETAFILE GetMetaFileA(const char* path) {
  std::vector<uint8_t> d;
  if (!ReadWholeFile(path, d) || !IsWmfHeader(d.data(), d.size())) return nullptr;
  auto* mf = new (std::nothrow) GdiWinMetafile();
  if (!mf) return nullptr;
  mf->bytes.swap(d);
  Track(mf, true);
  return reinterpret_cast<HMETAFILE>(mf);
}

HENHMETAFILE SetWinMetaFileBits(UINT size, const BYTE* bits, HDC reference, const METAFILEPICT* picture) {
  if (!bits || !IsWmfHeader(bits, size)) return nullptr;
  if (reference && !GdiLookupDC(reference)) return nullptr;
  auto* mf = new (std::nothrow) GdiMetafile();
  if (!mf) return nullptr;
  try {
    mf->bytes.assign(bits, bits + size);
  } catch (const std::bad_alloc&) {
    delete mf;
    return nullptr;
  }
  mf->isWmf = true;
  ENHMETAHEADER& h = mf->header;
  h.iType = EMR_HEADER;
  h.nSize = kEmfHeaderMin;
  h.dSignature = kEmfSignature;
  h.nVersion = 0x10000;
  h.nBytes = size;
  h.szlDevice = SIZEL{kRefW, kRefH};
  h.szlMillimeters = SIZEL{kRefMmW, kRefMmH};
  int32_t cx = 0, cy = 0;
  if (picture && (picture->mm == MM_ANISOTROPIC || picture->mm == MM_ISOTROPIC) && picture->xExt > 0 &&
      picture->yExt > 0) {
    cx = picture->xExt;
    cy = picture->yExt;
  } else {  // the metafile's window, as pixels of the reference device
    int32_t wx, wy;
    WmfWindowExt(mf->bytes, wx, wy);
    cx = static_cast<int32_t>(std::abs(static_cast<int64_t>(wx)) * kRefMmW * 100 / kRefW);
    cy = static_cast<int32_t>(std::abs(static_cast<int64_t>(wy)) * kRefMmH * 100 / kRefH);
  }
  if (cx <= 0 || cy <= 0) {
    delete mf;
    return nullptr;
  }
  h.rclFrame = RECTL{0, 0, cx, cy};
  h.rclBounds = RECTL{0, 0, static_cast<LONG>(static_cast<int64_t>(cx) * kRefW / (kRefMmW * 100)),
                      static_cast<LONG>(static_cast<int64_t>(cy) * kRefH / (kRefMmH * 100))};
  return NewEmf(mf);
}

BOOL DeleteEnhMetaFile(HENHMETAFILE emf) {
  GdiMetafile* mf = LookupEmf(emf);
  if (!mf) return FALSE;
  Track(mf, false);
  delete mf;
  return TRUE;
}

BOOL DeleteMetaFile(HMETAFILE wmf) {
  GdiWinMetafile* mf = LookupWmf(wmf);
  if (!mf) return FALSE;
  Track(mf, false);
  delete mf;
  return TRUE;
}

UINT GetMetaFileBitsEx(HMETAFILE wmf, UINT size, LPVOID out) {
  GdiWinMetafile* mf = LookupWmf(wmf);
  if (!mf) return 0;
  const UINT n = static_cast<UINT>(mf->bytes.size());
  if (!out) return n;
  const UINT copied = std::min(n, size);
  std::memcpy(out, mf->bytes.data(), copied);
  return copied;
}

UINT GetEnhMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* out) {
  GdiMetafile* mf = LookupEmf(emf);
  if (!mf || mf->isWmf) return 0;  // a wrapped Windows metafile has no enhanced records
  const UINT n = static_cast<UINT>(mf->bytes.size());
  if (!out) return n;
  const UINT copied = std::min(n, size);
  std::memcpy(out, mf->bytes.data(), copied);
  return copied;
}

UINT GetEnhMetaFileHeader(HENHMETAFILE emf, UINT size, ENHMETAHEADER* out) {
  GdiMetafile* mf = LookupEmf(emf);
  if (!mf) return 0;
  if (!out) return sizeof(ENHMETAHEADER);
  const UINT copied = std::min<UINT>(size, sizeof(ENHMETAHEADER));
  std::memcpy(out, &mf->header, copied);
  return copied;
}

BOOL PlayEnhMetaFile(HDC dc, HENHMETAFILE emf, const RECT* rect) {
  GdiDC* d = GdiLookupDC(dc);
  GdiMetafile* mf = LookupEmf(emf);
  if (!d || !mf || !rect) return FALSE;
  if (!d->bitmap) return TRUE;  // the screen shows nothing
  return GdiPlayMetafile(*mf, metafile_player::SurfaceOf(*d->bitmap), *rect, nullptr) ? TRUE : FALSE;
}

BOOL PlayEnhMetaFileOnto(HENHMETAFILE emf, const MetafileCanvas* canvas, const RECT* rect,
                         MetafilePlayback* playback) {
  GdiMetafile* mf = LookupEmf(emf);
  if (!mf || !canvas || !rect || !canvas->bits || canvas->width <= 0 || canvas->height <= 0) return FALSE;
  if (canvas->bitsPerPixel != 24 && canvas->bitsPerPixel != 32) return FALSE;
  const int64_t rowBytes = static_cast<int64_t>(canvas->width) * (canvas->bitsPerPixel / 8);
  if (std::abs(static_cast<int64_t>(canvas->stride)) < rowBytes) return FALSE;
  metafile_player::Surface s;
  s.first = canvas->bits;
  s.stride = canvas->stride;
  s.width = canvas->width;
  s.height = canvas->height;
  s.bitsPerPixel = canvas->bitsPerPixel;
  s.rgb = canvas->bitsPerPixel == 24;
  return GdiPlayMetafile(*mf, s, *rect, playback) ? TRUE : FALSE;
}

// ---- Recording ----

HDC CreateEnhMetaFileA(HDC reference, const char* file, const RECT* frame, const char*) {
  if (file) return nullptr;  // memory metafiles only
  if (reference && !GdiLookupDC(reference)) return nullptr;
  HDC dc = CreateCompatibleDC(reference);
  if (!dc) return nullptr;
  auto* r = new (std::nothrow) Recorder();
  if (!r) {
    DeleteDC(dc);
    return nullptr;
  }
  if (frame) {
    r->frame = *frame;
    r->hasFrame = true;
  }
  std::lock_guard<std::mutex> lock(MfMutex());
  Recorders()[dc] = r;
  return dc;
}

namespace {

void Record(Recorder& r, uint32_t type, const std::vector<uint32_t>& words) {
  Put32(r.records, type);
  Put32(r.records, static_cast<uint32_t>(8 + 4 * words.size()));
  for (uint32_t w : words) Put32(r.records, w);
  ++r.count;
}

void Grow(Recorder& r, const GdiDC& d, double x0, double y0, double x1, double y1) {
  double ax, ay, bx, by;
  GdiMapPoint(d, x0, y0, &ax, &ay);
  GdiMapPoint(d, x1, y1, &bx, &by);
  RECT b{static_cast<LONG>(std::min(ax, bx)), static_cast<LONG>(std::min(ay, by)),
         static_cast<LONG>(std::max(ax, bx)) - 1, static_cast<LONG>(std::max(ay, by)) - 1};
  if (r.bounds.right < r.bounds.left) r.bounds = b;
  else r.bounds = RECT{std::min(r.bounds.left, b.left), std::min(r.bounds.top, b.top),
                       std::max(r.bounds.right, b.right), std::max(r.bounds.bottom, b.bottom)};
}

// A DIB record (STRETCHDIBITS or SETDIBITSTODEVICE): fixed words, then header, table and bits.
bool RecordDIB(Recorder& r, uint32_t type, std::vector<uint32_t> fixed, size_t fixedAt, const BITMAPINFO* info,
               const void* bits, uint64_t lines) {
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize != 40 || h.biWidth <= 0 || h.biHeight == 0 || h.biPlanes != 1) return false;
  const uint32_t bpp = h.biBitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
  const uint32_t colours = bpp <= 8 ? (h.biClrUsed ? std::min<uint32_t>(h.biClrUsed, 1u << bpp) : 1u << bpp) : 0;
  const uint64_t rowBytes = ((static_cast<uint64_t>(h.biWidth) * bpp + 31) / 32) * 4;
  const uint64_t bitsBytes = rowBytes * lines;
  const uint64_t infoBytes = 40 + 4ull * colours;
  const uint64_t total = 8 + fixed.size() * 4 + infoBytes + bitsBytes;
  if (total >= 0x7FFDEFFFu) return false;
  const uint32_t offBmi = static_cast<uint32_t>(8 + fixed.size() * 4);
  fixed[fixedAt] = offBmi;
  fixed[fixedAt + 1] = static_cast<uint32_t>(infoBytes);
  fixed[fixedAt + 2] = static_cast<uint32_t>(offBmi + infoBytes);
  fixed[fixedAt + 3] = static_cast<uint32_t>(bitsBytes);
  const size_t start = r.records.size();
  Put32(r.records, type);
  Put32(r.records, static_cast<uint32_t>(total));
  for (uint32_t w : fixed) Put32(r.records, w);
  Put32(r.records, 40);
  Put32(r.records, static_cast<uint32_t>(h.biWidth));
  Put32(r.records, static_cast<uint32_t>(lines == static_cast<uint64_t>(std::abs(h.biHeight))
                                             ? h.biHeight
                                             : (h.biHeight > 0 ? static_cast<LONG>(lines) : -static_cast<LONG>(lines))));
  Put16(r.records, 1);
  Put16(r.records, bpp);
  Put32(r.records, BI_RGB);
  Put32(r.records, static_cast<uint32_t>(bitsBytes));
  Put32(r.records, static_cast<uint32_t>(h.biXPelsPerMeter));
  Put32(r.records, static_cast<uint32_t>(h.biYPelsPerMeter));
  Put32(r.records, colours);
  Put32(r.records, 0);
  const auto* table = reinterpret_cast<const uint8_t*>(info->bmiColors);
  r.records.insert(r.records.end(), table, table + 4 * colours);
  const auto* b = static_cast<const uint8_t*>(bits);
  r.records.insert(r.records.end(), b, b + bitsBytes);
  (void)start;
  ++r.count;
  return true;
}

}  // namespace

HENHMETAFILE CloseEnhMetaFile(HDC dc) {
  Recorder* r = LookupRecorder(dc);
  if (!r) return nullptr;
  {
    std::lock_guard<std::mutex> lock(MfMutex());
    Recorders().erase(dc);
  }
  std::unique_ptr<Recorder> owner(r);
  DeleteDC(dc);
  auto* mf = new (std::nothrow) GdiMetafile();
  if (!mf) return nullptr;
  try {
    ENHMETAHEADER& h = mf->header;
    const RECT b = r->bounds.right < r->bounds.left ? RECT{0, 0, -1, -1} : r->bounds;
    RECT frame = r->frame;
    if (!r->hasFrame)
      frame = RECT{b.left * kRefMmW * 100 / kRefW, b.top * kRefMmH * 100 / kRefH,
                   (b.right + 1) * kRefMmW * 100 / kRefW, (b.bottom + 1) * kRefMmH * 100 / kRefH};
    std::vector<uint8_t>& v = mf->bytes;
    constexpr uint32_t kHeaderSize = 108;
    Put32(v, EMR_HEADER);
    Put32(v, kHeaderSize);
    for (LONG x : {b.left, b.top, b.right, b.bottom, frame.left, frame.top, frame.right, frame.bottom})
      Put32(v, static_cast<uint32_t>(x));
    Put32(v, kEmfSignature);
    Put32(v, 0x10000);
    Put32(v, 0);  // nBytes, set below
    Put32(v, r->count + 2);
    Put16(v, 1);  // handles: the table's reserved entry only
    Put16(v, 0);
    Put32(v, 0);
    Put32(v, 0);
    Put32(v, 0);
    for (uint32_t x : {kRefW, kRefH, kRefMmW, kRefMmH}) Put32(v, x);
    Put32(v, 0);  // cbPixelFormat
    Put32(v, 0);  // offPixelFormat
    Put32(v, 0);  // bOpenGL
    Put32(v, kRefMmW * 1000);
    Put32(v, kRefMmH * 1000);
    v.insert(v.end(), r->records.begin(), r->records.end());
    for (uint32_t x : {static_cast<uint32_t>(EMR_EOF), 20u, 0u, 16u, 20u}) Put32(v, x);
    Set32(v, 48, static_cast<uint32_t>(v.size()));
    size_t length;
    ParseEmfHeader(v.data(), v.size(), h, length);
  } catch (const std::bad_alloc&) {
    delete mf;
    return nullptr;
  }
  return NewEmf(mf);
}

// ---- Mapping ----

void GdiMapPoint(const GdiDC& d, double x, double y, double* dx, double* dy) {
  const double sx = d.windowExt.cx != 0 ? static_cast<double>(d.viewportExt.cx) / d.windowExt.cx : 1;
  const double sy = d.windowExt.cy != 0 ? static_cast<double>(d.viewportExt.cy) / d.windowExt.cy : 1;
  *dx = (x - d.windowOrg.x) * sx + d.viewportOrg.x;
  *dy = (y - d.windowOrg.y) * sy + d.viewportOrg.y;
}

int SetMapMode(HDC dc, int mode) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d || mode < MM_TEXT || mode > MM_ANISOTROPIC) return 0;
  const int old = d->mapMode;
  d->mapMode = mode;
  // Fixed modes on the 96-dpi device: window and viewport extents give their scale.
  const auto fixed = [&](LONG unitsPer254Mm) {
    d->windowExt = SIZE{unitsPer254Mm, unitsPer254Mm};
    d->viewportExt = SIZE{96 * 10, -96 * 10};
  };
  switch (mode) {
    case MM_LOMETRIC: fixed(2540); break;
    case MM_HIMETRIC: fixed(25400); break;
    case MM_LOENGLISH: fixed(1000); break;
    case MM_HIENGLISH: fixed(10000); break;
    case MM_TWIPS: fixed(14400); break;
    case MM_TEXT: d->windowExt = d->viewportExt = SIZE{1, 1}; break;
    default: break;
  }
  if (Recorder* r = LookupRecorder(dc)) Record(*r, EMR_SETMAPMODE, {static_cast<uint32_t>(mode)});
  return old;
}

int GetMapMode(HDC dc) {
  GdiDC* d = GdiLookupDC(dc);
  return d ? d->mapMode : 0;
}

namespace {

void FixIsotropic(GdiDC& d) {
  if (d.mapMode != MM_ISOTROPIC || d.windowExt.cx == 0 || d.windowExt.cy == 0) return;
  const double sx = std::fabs(static_cast<double>(d.viewportExt.cx) / d.windowExt.cx);
  const double sy = std::fabs(static_cast<double>(d.viewportExt.cy) / d.windowExt.cy);
  if (sx > sy) d.viewportExt.cx = static_cast<LONG>((d.viewportExt.cx < 0 ? -1 : 1) * sy * std::abs(d.windowExt.cx));
  else if (sy > sx) d.viewportExt.cy = static_cast<LONG>((d.viewportExt.cy < 0 ? -1 : 1) * sx * std::abs(d.windowExt.cy));
}

BOOL SetExt(HDC dc, int x, int y, SIZE* old, bool window) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d) return FALSE;
  SIZE& s = window ? d->windowExt : d->viewportExt;
  if (old) *old = s;
  if (d->mapMode != MM_ISOTROPIC && d->mapMode != MM_ANISOTROPIC) return TRUE;  // ignored
  if (x == 0 || y == 0) return FALSE;
  s = SIZE{x, y};
  FixIsotropic(*d);
  if (Recorder* r = LookupRecorder(dc))
    Record(*r, window ? EMR_SETWINDOWEXTEX : EMR_SETVIEWPORTEXTEX, {static_cast<uint32_t>(x), static_cast<uint32_t>(y)});
  return TRUE;
}

BOOL SetOrg(HDC dc, int x, int y, POINT* old, bool window) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d) return FALSE;
  POINT& p = window ? d->windowOrg : d->viewportOrg;
  if (old) *old = p;
  p = POINT{x, y};
  if (Recorder* r = LookupRecorder(dc))
    Record(*r, window ? EMR_SETWINDOWORGEX : EMR_SETVIEWPORTORGEX, {static_cast<uint32_t>(x), static_cast<uint32_t>(y)});
  return TRUE;
}

}  // namespace

BOOL SetWindowExtEx(HDC dc, int x, int y, SIZE* old) { return SetExt(dc, x, y, old, true); }
BOOL SetViewportExtEx(HDC dc, int x, int y, SIZE* old) { return SetExt(dc, x, y, old, false); }
BOOL SetWindowOrgEx(HDC dc, int x, int y, POINT* old) { return SetOrg(dc, x, y, old, true); }
BOOL SetViewportOrgEx(HDC dc, int x, int y, POINT* old) { return SetOrg(dc, x, y, old, false); }

BOOL LPtoDP(HDC dc, POINT* points, int count) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d || !points || count < 0) return FALSE;
  for (int i = 0; i < count; ++i) {
    double x, y;
    GdiMapPoint(*d, points[i].x, points[i].y, &x, &y);
    points[i] = POINT{static_cast<LONG>(std::lround(x)), static_cast<LONG>(std::lround(y))};
  }
  return TRUE;
}

// ---- DIB transfers ----

namespace {

// Bytes of a DIB's header and colour table, and of its rows; false when unsupported.
bool DIBSizes(const BITMAPINFO* info, uint64_t& infoBytes, uint64_t& rowBytes) {
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize != 40 || h.biWidth <= 0 || h.biHeight == 0 || h.biCompression != BI_RGB) return false;
  const uint32_t bpp = h.biBitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return false;
  const uint32_t colours = bpp <= 8 ? (h.biClrUsed ? std::min<uint32_t>(h.biClrUsed, 1u << bpp) : 1u << bpp) : 0;
  infoBytes = 40 + 4ull * colours;
  rowBytes = ((static_cast<uint64_t>(h.biWidth) * bpp + 31) / 32) * 4;
  return true;
}

}  // namespace

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
  GdiDC* d = GdiLookupDC(dc);
  uint64_t infoBytes, rowBytes;
  if (!d || !bits || !info || usage != DIB_RGB_COLORS || rop != SRCCOPY || !DIBSizes(info, infoBytes, rowBytes))
    return 0;
  const uint64_t rows = static_cast<uint64_t>(std::abs(static_cast<int64_t>(info->bmiHeader.biHeight)));
  if (Recorder* r = LookupRecorder(dc)) {
    std::vector<uint32_t> w = {0, 0, 0, 0, static_cast<uint32_t>(xDest), static_cast<uint32_t>(yDest),
                               static_cast<uint32_t>(xSrc), static_cast<uint32_t>(ySrc),
                               static_cast<uint32_t>(srcWidth), static_cast<uint32_t>(srcHeight),
                               0, 0, 0, 0, usage, rop, static_cast<uint32_t>(destWidth),
                               static_cast<uint32_t>(destHeight)};
    try {
      if (!RecordDIB(*r, EMR_STRETCHDIBITS, w, 10, info, bits, rows)) return 0;
    } catch (const std::bad_alloc&) {
      return 0;
    }
    Grow(*r, *d, xDest, yDest, static_cast<double>(xDest) + destWidth, static_cast<double>(yDest) + destHeight);
    return static_cast<int>(std::abs(srcHeight));
  }
  if (d->bitmap) {
    double ax, ay, bx, by;
    GdiMapPoint(*d, xDest, yDest, &ax, &ay);
    GdiMapPoint(*d, static_cast<double>(xDest) + destWidth, static_cast<double>(yDest) + destHeight, &bx, &by);
    if (!GdiDrawDIB(*d->bitmap, ax, ay, bx - ax, by - ay, xSrc, ySrc, srcWidth, srcHeight,
                    reinterpret_cast<const uint8_t*>(info), static_cast<size_t>(infoBytes),
                    static_cast<const uint8_t*>(bits), static_cast<size_t>(rowBytes * rows)))
      return 0;
  }
  return static_cast<int>(std::abs(srcHeight));
}

int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc, UINT startScan,
                      UINT lines, const void* bits, const BITMAPINFO* info, UINT usage) {
  GdiDC* d = GdiLookupDC(dc);
  uint64_t infoBytes, rowBytes;
  if (!d || !bits || !info || usage > DIB_PAL_COLORS || !DIBSizes(info, infoBytes, rowBytes)) return 0;
  const uint64_t rows = static_cast<uint64_t>(std::abs(static_cast<int64_t>(info->bmiHeader.biHeight)));
  if (startScan != 0 || lines == 0 || lines > rows || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return 0;
  if (Recorder* r = LookupRecorder(dc)) {
    std::vector<uint32_t> w = {0, 0, 0, 0, static_cast<uint32_t>(xDest), static_cast<uint32_t>(yDest),
                               static_cast<uint32_t>(xSrc), static_cast<uint32_t>(ySrc), width, height,
                               0, 0, 0, 0, DIB_RGB_COLORS, startScan, lines};
    try {
      if (!RecordDIB(*r, EMR_SETDIBITSTODEVICE, w, 10, info, bits, lines)) return 0;
    } catch (const std::bad_alloc&) {
      return 0;
    }
    Grow(*r, *d, xDest, yDest, static_cast<double>(xDest) + width, static_cast<double>(yDest) + height);
    return static_cast<int>(lines);
  }
  if (d->bitmap) {
    double ax, ay;
    GdiMapPoint(*d, xDest, yDest, &ax, &ay);
    if (!GdiDrawDIB(*d->bitmap, ax, ay, width, height, xSrc, ySrc, static_cast<int32_t>(width),
                    static_cast<int32_t>(height), reinterpret_cast<const uint8_t*>(info),
                    static_cast<size_t>(infoBytes), static_cast<const uint8_t*>(bits),
                    static_cast<size_t>(rowBytes * rows)))
      return 0;
  }
  return static_cast<int>(lines);
}

// ---- EMF -> WMF ----

UINT GetWinMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* out, int mapMode, HDC reference) {
  GdiMetafile* mf = LookupEmf(emf);
  if (!mf || mf->isWmf || mapMode != MM_ANISOTROPIC || (reference && !GdiLookupDC(reference))) return 0;
  const ENHMETAHEADER& h = mf->header;
  const double pxX = static_cast<double>(h.szlDevice.cx) / (h.szlMillimeters.cx * 100.0);
  const double pxY = static_cast<double>(h.szlDevice.cy) / (h.szlMillimeters.cy * 100.0);
  const int64_t winX = std::llround((static_cast<double>(h.rclFrame.right) - h.rclFrame.left) * pxX);
  const int64_t winY = std::llround((static_cast<double>(h.rclFrame.bottom) - h.rclFrame.top) * pxY);
  const int64_t orgX = std::llround(h.rclFrame.left * pxX), orgY = std::llround(h.rclFrame.top * pxY);
  if (winX <= 0 || winY <= 0 || winX > 32767 || winY > 32767) return 0;
  std::vector<uint8_t> v;
  uint32_t maxRecord = 0;
  try {
    for (uint32_t x : {1u, 9u, 0x300u}) Put16(v, x);
    Put32(v, 0);  // size in words, set below
    Put16(v, 0);  // objects
    Put32(v, 0);  // largest record, set below
    Put16(v, 0);
    auto rec = [&](uint16_t fn, std::vector<uint16_t> params) {
      const uint32_t words = static_cast<uint32_t>(3 + params.size());
      Put32(v, words);
      Put16(v, fn);
      for (uint16_t p : params) Put16(v, p);
      maxRecord = std::max(maxRecord, words);
    };
    rec(0x0103, {MM_ANISOTROPIC});
    rec(0x020B, {static_cast<uint16_t>(orgY), static_cast<uint16_t>(orgX)});
    rec(0x020C, {static_cast<uint16_t>(winY), static_cast<uint16_t>(winX)});
    // The DIB records, in the recording context's device pixels.
    GdiDC page;
    const std::vector<uint8_t>& d = mf->bytes;
    size_t pos = MfU32(d.data() + 4);
    while (pos + 8 <= d.size()) {
      const uint8_t* r = d.data() + pos;
      const uint32_t type = MfU32(r), rs = MfU32(r + 4);
      if (rs < 8 || rs > d.size() - pos || type == EMR_EOF) break;
      pos += rs;
      auto I = [&](uint32_t o) { return MfI32(r + o); };
      if (type == EMR_SETMAPMODE && rs >= 12) page.mapMode = I(8);
      else if ((type == EMR_SETWINDOWEXTEX || type == EMR_SETVIEWPORTEXTEX) && rs >= 16 && I(8) && I(12))
        (type == EMR_SETWINDOWEXTEX ? page.windowExt : page.viewportExt) = SIZE{I(8), I(12)};
      else if ((type == EMR_SETWINDOWORGEX || type == EMR_SETVIEWPORTORGEX) && rs >= 16)
        (type == EMR_SETWINDOWORGEX ? page.windowOrg : page.viewportOrg) = POINT{I(8), I(12)};
      else if ((type == EMR_STRETCHDIBITS && rs >= 80) || (type == EMR_SETDIBITSTODEVICE && rs >= 76)) {
        const uint32_t offBmi = MfU32(r + 48), cbBmi = MfU32(r + 52), offBits = MfU32(r + 56), cbBits = MfU32(r + 60);
        if (cbBmi < 40 || offBmi > rs || cbBmi > rs - offBmi || offBits > rs || cbBits > rs - offBits) continue;
        const bool stretch = type == EMR_STRETCHDIBITS;
        const int32_t dw = stretch ? I(72) : I(40), dh = stretch ? I(76) : I(44);
        double ax, ay, bx, by;
        GdiMapPoint(page, I(24), I(28), &ax, &ay);
        GdiMapPoint(page, static_cast<double>(I(24)) + dw, static_cast<double>(I(28)) + dh, &bx, &by);
        const uint64_t words = 3 + 2 + 9 + (static_cast<uint64_t>(cbBmi) + cbBits + 1) / 2;
        if (words * 2 + v.size() >= 0x7FFDEFFFu) return 0;
        const auto s16 = [](double x) { return static_cast<uint16_t>(static_cast<int16_t>(std::lround(x))); };
        Put32(v, static_cast<uint32_t>(words));
        Put16(v, 0x0F43);
        Put32(v, SRCCOPY);
        Put16(v, DIB_RGB_COLORS);
        for (int32_t x : {I(44), I(40), I(36), I(32)}) Put16(v, static_cast<uint16_t>(x));
        for (uint16_t x : {s16(by - ay), s16(bx - ax), s16(ay), s16(ax)}) Put16(v, x);
        v.insert(v.end(), r + offBmi, r + offBmi + cbBmi);
        v.insert(v.end(), r + offBits, r + offBits + cbBits);
        if ((cbBmi + cbBits) & 1) v.push_back(0);
        maxRecord = std::max<uint32_t>(maxRecord, static_cast<uint32_t>(words));
      }
    }
    rec(0x0000, {});
  } catch (const std::bad_alloc&) {
    return 0;
  }
  Set32(v, 6, static_cast<uint32_t>(v.size() / 2));
  Set32(v, 12, maxRecord);
  const UINT n = static_cast<UINT>(v.size());
  if (!out) return n;
  const UINT copied = std::min(n, size);
  std::memcpy(out, v.data(), copied);
  return copied;
}
