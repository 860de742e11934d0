// GDI stand-in: the object registry, device contexts, bitmaps, brushes, palettes, selection,
// filling, device capabilities and the bitmap-bits transfer.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

#include "platform/gdi_internal.h"

namespace {

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}
std::unordered_set<const void*>& Registry() {
  static std::unordered_set<const void*>* live = new std::unordered_set<const void*>();
  return *live;
}

// The screen's fixed capabilities.
constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;
constexpr int kScreenWidthMM = 508;
constexpr int kScreenHeightMM = 286;
constexpr int kScreenDpi = 96;
constexpr int kScreenBits = 32;

GdiBitmap* NewBitmap(int width, int height, UINT bpp) {
  if (width <= 0 || height <= 0) return nullptr;
  if (bpp != 1 && bpp != 24 && bpp != 32) return nullptr;
  uint64_t row = ((static_cast<uint64_t>(width) * bpp + 15) / 16) * 2;
  if (row * static_cast<uint64_t>(height) >= kGdiMaxBitmapBytes) return nullptr;
  auto* b = new (std::nothrow) GdiBitmap();
  if (!b) return nullptr;
  try {
    b->bits.assign(static_cast<size_t>(row * static_cast<uint64_t>(height)), 0);
  } catch (const std::bad_alloc&) {
    delete b;
    return nullptr;
  }
  b->width = width;
  b->height = height;
  b->bitsPerPixel = static_cast<uint16_t>(bpp);
  b->rowBytes = static_cast<uint32_t>(row);
  return b;
}

// The 1 x 1 monochrome bitmap that every new memory context holds.
GdiBitmap* StockBitmap() {
  static GdiBitmap* b = [] {
    GdiBitmap* s = NewBitmap(1, 1, 1);
    if (s) {
      s->stock = true;
      GdiRegister(s);
    }
    return s;
  }();
  return b;
}

GdiBrush* StockBrush(COLORREF colour) {
  auto make = [](COLORREF c) {
    auto* s = new GdiBrush();
    s->colour = c;
    s->stock = true;
    GdiRegister(s);
    return s;
  };
  static GdiBrush* white = make(0xFFFFFF);
  static GdiBrush* black = make(0);
  return colour == 0 ? black : white;
}

// The twenty static colours of the default palette.
GdiPalette* StockPalette() {
  static GdiPalette* p = [] {
    static const BYTE kColours[20][3] = {
        {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
        {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
        {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
        {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    auto* s = new GdiPalette();
    for (const auto& c : kColours) s->entries.push_back(PALETTEENTRY{c[0], c[1], c[2], 0});
    s->stock = true;
    GdiRegister(s);
    return s;
  }();
  return p;
}

template <typename T>
void Select(T*& slot, T* object) {
  // Stock objects are shared by every thread's contexts and are never deleted: not counted.
  if (slot && !slot->stock) --slot->selectedCount;
  slot = object;
  if (slot && !slot->stock) ++slot->selectedCount;
}

GdiDC* NewDC(bool screen) {
  auto* dc = new (std::nothrow) GdiDC();
  if (!dc) return nullptr;
  dc->isScreen = screen;
  if (!screen) Select(dc->bitmap, StockBitmap());
  Select(dc->brush, StockBrush(0xFFFFFF));
  Select(dc->font, GdiStockFont());
  Select(dc->palette, StockPalette());
  GdiRegister(dc);
  return dc;
}

void ReleaseDCObject(GdiDC* dc) {
  GdiUnregister(dc);
  Select(dc->bitmap, static_cast<GdiBitmap*>(nullptr));
  Select(dc->brush, static_cast<GdiBrush*>(nullptr));
  Select(dc->font, static_cast<GdiFont*>(nullptr));
  Select(dc->palette, static_cast<GdiPalette*>(nullptr));
  delete dc;
}

}  // namespace

void GdiRegister(GdiObject* object) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry().insert(object);
}

void GdiUnregister(GdiObject* object) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry().erase(object);
}

GdiObject* GdiLookup(const void* handle, GdiKind kind) {
  if (!handle) return nullptr;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  if (!Registry().count(handle)) return nullptr;
  auto* object = static_cast<GdiObject*>(const_cast<void*>(handle));
  return object->kind == kind ? object : nullptr;
}

size_t GdiLiveObjectCount() {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  size_t n = 0;
  for (const void* h : Registry())
    if (!static_cast<const GdiObject*>(h)->stock) ++n;
  return n;
}

void GdiFillRow(uint8_t* row, uint16_t bitsPerPixel, bool rgb, int32_t x0, int32_t x1, COLORREF colour) {
  if (x0 >= x1) return;
  switch (bitsPerPixel) {
    case 1: {
      const bool set = GdiColourIsLight(colour);
      for (int32_t x = x0; x < x1; ++x) {
        const uint8_t bit = static_cast<uint8_t>(0x80u >> (x & 7));
        if (set) row[x >> 3] |= bit;
        else row[x >> 3] &= static_cast<uint8_t>(~bit);
      }
      break;
    }
    case 24: {
      const uint8_t r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
      const uint8_t c0 = rgb ? r : b, c2 = rgb ? b : r;
      for (uint8_t* q = row + static_cast<size_t>(x0) * 3, *end = row + static_cast<size_t>(x1) * 3; q < end; q += 3)
        q[0] = c0, q[1] = g, q[2] = c2;
      break;
    }
    case 32: {
      const uint8_t px[4] = {GetBValue(colour), GetGValue(colour), GetRValue(colour), 0};
      for (uint8_t* q = row + static_cast<size_t>(x0) * 4, *end = row + static_cast<size_t>(x1) * 4; q < end; q += 4)
        std::copy(px, px + 4, q);
      break;
    }
    default:
      break;
  }
}

HDC GetDC(HWND window) {
  if (window) return nullptr;  // only the screen exists
  return reinterpret_cast<HDC>(NewDC(true));
}

int ReleaseDC(HWND, HDC dc) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d || !d->isScreen) return 0;
  ReleaseDCObject(d);
  return 1;
}

HDC CreateCompatibleDC(HDC dc) {
  if (dc && !GdiLookupDC(dc)) return nullptr;
  return reinterpret_cast<HDC>(NewDC(false));
}

BOOL DeleteDC(HDC dc) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d) return FALSE;
  ReleaseDCObject(d);
  return TRUE;
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (planes != 1) return nullptr;
  GdiBitmap* b = NewBitmap(width, height, bitsPerPixel);
  if (!b) return nullptr;
  if (bits) std::memcpy(b->bits.data(), bits, b->bits.size());
  GdiRegister(b);
  return reinterpret_cast<HBITMAP>(b);
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d) return nullptr;
  UINT bpp = d->isScreen || !d->bitmap ? kScreenBits : d->bitmap->bitsPerPixel;
  GdiBitmap* b = NewBitmap(width, height, bpp);
  if (!b) return nullptr;
  GdiRegister(b);
  return reinterpret_cast<HBITMAP>(b);
}

HBRUSH CreateSolidBrush(COLORREF colour) {
  auto* b = new (std::nothrow) GdiBrush();
  if (!b) return nullptr;
  b->colour = colour & 0xFFFFFF;
  GdiRegister(b);
  return reinterpret_cast<HBRUSH>(b);
}

HPALETTE CreatePalette(const LOGPALETTE* palette) {
  if (!palette || palette->palVersion != 0x300 || palette->palNumEntries == 0) return nullptr;
  auto* p = new (std::nothrow) GdiPalette();
  if (!p) return nullptr;
  try {
    p->entries.assign(palette->palPalEntry, palette->palPalEntry + palette->palNumEntries);
  } catch (const std::bad_alloc&) {
    delete p;
    return nullptr;
  }
  GdiRegister(p);
  return reinterpret_cast<HPALETTE>(p);
}

HGDIOBJ GetStockObject(int which) {
  switch (which) {
    case WHITE_BRUSH:
      return StockBrush(0xFFFFFF);
    case BLACK_BRUSH:
      return StockBrush(0);
    case SYSTEM_FONT:
      return GdiStockFont();
    case DEFAULT_PALETTE:
      return StockPalette();
    default:
      return nullptr;
  }
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d || !object) return nullptr;
  if (GdiBitmap* b = GdiLookupBitmap(object)) {
    if (d->isScreen) return nullptr;
    if (b == d->bitmap) return b;
    if (b->selectedCount > 0 && !b->stock) return nullptr;  // selected into another context
    GdiBitmap* old = d->bitmap;
    Select(d->bitmap, b);
    return old;
  }
  if (auto* br = static_cast<GdiBrush*>(GdiLookup(object, GdiKind::Brush))) {
    GdiBrush* old = d->brush;
    Select(d->brush, br);
    return old;
  }
  if (GdiFont* f = GdiLookupFont(object)) {
    GdiFont* old = d->font;
    Select(d->font, f);
    return old;
  }
  return nullptr;
}

BOOL DeleteObject(HGDIOBJ object) {
  GdiObject* o = nullptr;
  for (GdiKind k : {GdiKind::Bitmap, GdiKind::Brush, GdiKind::Font, GdiKind::Palette}) {
    if ((o = GdiLookup(object, k))) break;
  }
  if (!o) return FALSE;
  if (o->stock) return TRUE;
  if (o->selectedCount > 0) return FALSE;
  GdiUnregister(o);
  delete o;
  return TRUE;
}

int GetObjectA(HGDIOBJ object, int size, LPVOID out) {
  if (GdiBitmap* b = GdiLookupBitmap(object)) {
    if (!out) return static_cast<int>(sizeof(BITMAP));
    if (size < static_cast<int>(sizeof(BITMAP))) return 0;
    BITMAP bm{};
    bm.bmType = 0;
    bm.bmWidth = b->width;
    bm.bmHeight = b->height;
    bm.bmWidthBytes = static_cast<LONG>(b->rowBytes);
    bm.bmPlanes = 1;
    bm.bmBitsPixel = b->bitsPerPixel;
    bm.bmBits = nullptr;
    std::memcpy(out, &bm, sizeof bm);
    return static_cast<int>(sizeof bm);
  }
  if (GdiFont* f = GdiLookupFont(object)) {
    if (!out) return static_cast<int>(sizeof(LOGFONTA));
    if (size < static_cast<int>(sizeof(LOGFONTA))) return 0;
    std::memcpy(out, &f->logFont, sizeof(LOGFONTA));
    return static_cast<int>(sizeof(LOGFONTA));
  }
  if (auto* p = static_cast<GdiPalette*>(GdiLookup(object, GdiKind::Palette))) {
    if (!out) return static_cast<int>(sizeof(WORD));
    if (size < static_cast<int>(sizeof(WORD))) return 0;
    WORD n = static_cast<WORD>(p->entries.size());
    std::memcpy(out, &n, sizeof n);
    return static_cast<int>(sizeof n);
  }
  return 0;
}

COLORREF SetBkColor(HDC dc, COLORREF colour) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d) return CLR_INVALID;
  COLORREF old = d->bkColour;
  d->bkColour = colour & 0xFFFFFF;
  return old;
}

COLORREF SetTextColor(HDC dc, COLORREF colour) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d) return CLR_INVALID;
  COLORREF old = d->textColour;
  d->textColour = colour & 0xFFFFFF;
  return old;
}

COLORREF GetBkColor(HDC dc) {
  GdiDC* d = GdiLookupDC(dc);
  return d ? d->bkColour : CLR_INVALID;
}

COLORREF GetTextColor(HDC dc) {
  GdiDC* d = GdiLookupDC(dc);
  return d ? d->textColour : CLR_INVALID;
}

int SetBkMode(HDC dc, int mode) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  int old = d->bkMode;
  d->bkMode = mode;
  return old;
}

int GetBkMode(HDC dc) {
  GdiDC* d = GdiLookupDC(dc);
  return d ? d->bkMode : 0;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  GdiDC* d = GdiLookupDC(dc);
  auto* br = static_cast<GdiBrush*>(GdiLookup(brush, GdiKind::Brush));
  if (!d || !rect || !br) return 0;
  if (!d->bitmap) return 1;  // the screen shows nothing
  GdiBitmap& b = *d->bitmap;
  int32_t x0 = std::max<int32_t>(rect->left, 0), x1 = std::min<int32_t>(rect->right, b.width);
  int32_t y0 = std::max<int32_t>(rect->top, 0), y1 = std::min<int32_t>(rect->bottom, b.height);
  for (int32_t y = y0; y < y1; ++y) GdiFillSpan(b, y, x0, x1, br->colour);
  return 1;
}

int GetDeviceCaps(HDC dc, int index) {
  GdiDC* d = GdiLookupDC(dc);
  if (!d) return 0;
  switch (index) {
    case HORZSIZE:
      return kScreenWidthMM;
    case VERTSIZE:
      return kScreenHeightMM;
    case HORZRES:
      return kScreenWidth;
    case VERTRES:
      return kScreenHeight;
    case BITSPIXEL:
      return d->isScreen || !d->bitmap ? kScreenBits : d->bitmap->bitsPerPixel;
    case PLANES:
      return 1;
    case NUMCOLORS:
      return -1;
    case RASTERCAPS:
      return RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
    case LOGPIXELSX:
    case LOGPIXELSY:
      return kScreenDpi;
    case SIZEPALETTE:
      return 0;
    default:
      return 0;
  }
}

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL) {
  GdiDC* d = GdiLookupDC(dc);
  auto* p = static_cast<GdiPalette*>(GdiLookup(palette, GdiKind::Palette));
  if (!d || !p) return nullptr;
  GdiPalette* old = d->palette;
  Select(d->palette, p);
  return reinterpret_cast<HPALETTE>(old);
}

UINT RealizePalette(HDC dc) { return GdiLookupDC(dc) ? 0 : 0xFFFFFFFFu; }

UINT GetSystemPaletteEntries(HDC, UINT, UINT, PALETTEENTRY*) { return 0; }

namespace {

// One bitmap row as a DIB row of dstBpp bits (1, 24 or 32).
void ConvertRow(const GdiBitmap& b, const uint8_t* src, uint8_t* dst, int dstBpp) {
  const int32_t w = b.width;
  if (b.bitsPerPixel == dstBpp) {
    std::memcpy(dst, src, (static_cast<size_t>(w) * dstBpp + 7) / 8);
    return;
  }
  if (b.bitsPerPixel == 1) {  // 0 black, 1 white
    const int step = dstBpp / 8;
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t v = (src[x >> 3] & (0x80u >> (x & 7))) ? 255 : 0;
      std::memset(dst + static_cast<size_t>(x) * step, v, 3);
      if (step == 4) dst[x * 4 + 3] = 0;
    }
    return;
  }
  const int sstep = b.bitsPerPixel / 8;
  if (dstBpp == 1) {
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t* p = src + static_cast<size_t>(x) * sstep;
      if (GdiColourIsLight(RGB(p[2], p[1], p[0]))) dst[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
    }
    return;
  }
  const int dstep = dstBpp / 8;
  for (int32_t x = 0; x < w; ++x) {
    std::memcpy(dst + static_cast<size_t>(x) * dstep, src + static_cast<size_t>(x) * sstep, 3);
    if (dstep == 4) dst[x * 4 + 3] = 0;
  }
}

}  // namespace

int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info, UINT usage) {
  GdiBitmap* b = GdiLookupBitmap(bitmap);
  if (!GdiLookupDC(dc) || !b || !info || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  if (usage != DIB_RGB_COLORS && usage != DIB_PAL_COLORS) return 0;
  BITMAPINFOHEADER& h = info->bmiHeader;
  if (!bits && h.biBitCount == 0) {
    h.biWidth = b->width;
    h.biHeight = b->height;
    h.biPlanes = 1;
    h.biBitCount = b->bitsPerPixel;
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(((static_cast<uint64_t>(b->width) * b->bitsPerPixel + 31) / 32) * 4 *
                                       static_cast<uint64_t>(b->height));
    return 1;
  }
  const int bpp = h.biBitCount;
  if ((bpp != 1 && bpp != 24 && bpp != 32) || h.biCompression != BI_RGB) return 0;
  h.biWidth = b->width;  // the transfer always covers the bitmap's width
  const bool bottomUp = h.biHeight >= 0;
  if (h.biHeight == 0) h.biHeight = b->height;
  h.biPlanes = 1;
  const uint64_t dibRow = ((static_cast<uint64_t>(b->width) * bpp + 31) / 32) * 4;
  h.biSizeImage = static_cast<DWORD>(dibRow * static_cast<uint64_t>(b->height));
  if (bpp == 1) {  // a monochrome DIB's colour table: black, then white
    info->bmiColors[0] = RGBQUAD{0, 0, 0, 0};
    (&info->bmiColors[0])[1] = RGBQUAD{255, 255, 255, 0};
  }
  if (!bits) return 1;
  const uint64_t rows = std::min<uint64_t>(lines, start < static_cast<uint64_t>(b->height)
                                                      ? static_cast<uint64_t>(b->height) - start
                                                      : 0);
  auto* out = static_cast<uint8_t*>(bits);
  for (uint64_t i = 0; i < rows; ++i) {
    const uint64_t dibIndex = start + i;  // counted from the DIB's first stored row
    const int32_t y = bottomUp ? static_cast<int32_t>(b->height - 1 - dibIndex) : static_cast<int32_t>(dibIndex);
    uint8_t* dst = out + i * dibRow;
    std::memset(dst, 0, static_cast<size_t>(dibRow));
    ConvertRow(*b, b->Row(y), dst, bpp);
  }
  return static_cast<int>(rows);
}
