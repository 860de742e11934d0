// The objects behind the GDI stand-in's handles, shared by its source files (and by the
// metafile player, which draws on the same bitmaps). Not for use outside platform/.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gdi.h"

enum class GdiKind : uint8_t { Bitmap, Brush, Font, Palette, DC };

struct GdiObject {
  explicit GdiObject(GdiKind k) : kind(k) {}
  virtual ~GdiObject() = default;
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  GdiKind kind;
  bool stock = false;
  int selectedCount = 0;  // contexts this object is selected into
};

// A device-dependent bitmap: rows top first, each `rowBytes` long (padded to 2 bytes).
// 1 bit: the leftmost pixel in the most significant bit, 1 = white. 24 bits: B, G, R.
// 32 bits: B, G, R, 0.
struct GdiBitmap : GdiObject {
  GdiBitmap() : GdiObject(GdiKind::Bitmap) {}
  int32_t width = 0;
  int32_t height = 0;
  uint16_t bitsPerPixel = 1;
  uint32_t rowBytes = 0;
  std::vector<uint8_t> bits;
  uint8_t* Row(int32_t y) { return bits.data() + static_cast<size_t>(y) * rowBytes; }
  const uint8_t* Row(int32_t y) const { return bits.data() + static_cast<size_t>(y) * rowBytes; }
};

struct GdiBrush : GdiObject {
  GdiBrush() : GdiObject(GdiKind::Brush) {}
  COLORREF colour = 0;
};

struct GdiPalette : GdiObject {
  GdiPalette() : GdiObject(GdiKind::Palette) {}
  std::vector<PALETTEENTRY> entries;
};

class GdiFontFace;  // the FreeType face behind a font (platform/gdi_font.cpp)

struct GdiFont : GdiObject {
  GdiFont();
  ~GdiFont() override;
  LOGFONTA logFont{};
  std::unique_ptr<GdiFontFace> face;
};

struct GdiDC : GdiObject {
  GdiDC() : GdiObject(GdiKind::DC) {}
  bool isScreen = false;
  GdiBitmap* bitmap = nullptr;  // the drawing surface of a memory context
  GdiBrush* brush = nullptr;
  GdiFont* font = nullptr;
  GdiPalette* palette = nullptr;
  COLORREF bkColour = 0xFFFFFF;
  COLORREF textColour = 0;
  int bkMode = OPAQUE;
  // Mapping (SetMapMode and the window and viewport calls of platform/gdi_metafile.h).
  int mapMode = 1;  // MM_TEXT
  POINT windowOrg{0, 0};
  SIZE windowExt{1, 1};
  POINT viewportOrg{0, 0};
  SIZE viewportExt{1, 1};
};

// Registry of live objects.
void GdiRegister(GdiObject* object);
void GdiUnregister(GdiObject* object);
// The live object behind a handle when it has that kind, else null.
GdiObject* GdiLookup(const void* handle, GdiKind kind);
inline GdiDC* GdiLookupDC(HDC dc) { return static_cast<GdiDC*>(GdiLookup(dc, GdiKind::DC)); }
inline GdiBitmap* GdiLookupBitmap(HGDIOBJ b) { return static_cast<GdiBitmap*>(GdiLookup(b, GdiKind::Bitmap)); }
inline GdiFont* GdiLookupFont(HGDIOBJ f) { return static_cast<GdiFont*>(GdiLookup(f, GdiKind::Font)); }

// The process-wide default font (selected into every new context), created on first use;
// null when no font at all can be loaded.
GdiFont* GdiStockFont();

// Bitmaps above this many bytes are refused (the platform's global-memory limit).
constexpr uint64_t kGdiMaxBitmapBytes = 0x7FFDEFFFu;

// The monochrome bit a colour maps to on a 1-bit surface: 1 (white) for a light colour.
inline bool GdiColourIsLight(COLORREF c) {
  return GetRValue(c) * 30u + GetGValue(c) * 59u + GetBValue(c) * 11u >= 128u * 100u;
}

// Sets pixels [x0, x1) of one row of 1, 24 or 32 bits a pixel to a colour (24 bits: B, G, R, or
// R, G, B with rgb; 32 bits: B, G, R, 0); the caller has clipped to the row.
void GdiFillRow(uint8_t* row, uint16_t bitsPerPixel, bool rgb, int32_t x0, int32_t x1, COLORREF colour);
// Sets pixels [x0, x1) of row y to a colour; the caller has clipped to the bitmap.
inline void GdiFillSpan(GdiBitmap& bitmap, int32_t y, int32_t x0, int32_t x1, COLORREF colour) {
  GdiFillRow(bitmap.Row(y), bitmap.bitsPerPixel, false, x0, x1, colour);
}
