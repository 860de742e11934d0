// A small GDI stand-in: device contexts (the screen and memory contexts), device-dependent
// bitmaps of 1, 24 and 32 bits, solid brushes, palettes, and the bitmap-bits transfer.
// Fonts and text drawing are declared in platform/gdi_text.h.
//
// The screen has fixed capabilities: 1920 x 1080 pixels on 508 x 286 mm, 96 dpi, 32 bits per
// pixel, no palette, RC_DI_BITMAP. A memory context starts with a 1 x 1 monochrome bitmap.
// Handles are checked against a registry of live objects; a stale or foreign handle is refused,
// never dereferenced. Objects may be used from any thread, one thread at a time each.
#pragma once

#include "platform/win32_types.h"

struct HDC__;
struct HBITMAP__;
struct HBRUSH__;
struct HFONT__;
struct HPALETTE__;
struct HWND__;
typedef HDC__* HDC;
typedef HBITMAP__* HBITMAP;
typedef HBRUSH__* HBRUSH;
typedef HFONT__* HFONT;
typedef HPALETTE__* HPALETTE;
typedef HWND__* HWND;
typedef void* HGDIOBJ;

typedef int32_t INT32;
typedef int16_t SHORT;

constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Stock objects.
constexpr int WHITE_BRUSH = 0;
constexpr int BLACK_BRUSH = 4;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_PALETTE = 15;

// Device capabilities.
constexpr int HORZSIZE = 4;
constexpr int VERTSIZE = 6;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMCOLORS = 24;
constexpr int RASTERCAPS = 38;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int SIZEPALETTE = 104;
constexpr int RC_BITBLT = 0x0001;
constexpr int RC_BITMAP64 = 0x0008;
constexpr int RC_DI_BITMAP = 0x0080;
constexpr int RC_PALETTE = 0x0100;
constexpr int RC_DIBTODEV = 0x0200;
constexpr int RC_STRETCHBLT = 0x0800;
constexpr int RC_STRETCHDIB = 0x2000;

// Colour-table use of the DIB calls.
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;  // bytes per row, rows padded to 2 bytes
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;      // null for a device-dependent bitmap
};

struct PALETTEENTRY {
  BYTE peRed;
  BYTE peGreen;
  BYTE peBlue;
  BYTE peFlags;
};

struct LOGPALETTE {
  WORD palVersion;
  WORD palNumEntries;
  PALETTEENTRY palPalEntry[1];
};

// The screen's context (window null) and its release.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);

// A memory context compatible with dc (null: the screen), holding a 1 x 1 monochrome bitmap.
HDC CreateCompatibleDC(HDC dc);
// Deletes a memory context; the objects selected into it are released, not deleted.
BOOL DeleteDC(HDC dc);

// A bitmap of width x height, one plane of 1, 24 or 32 bits per pixel; bits (optional) holds
// its rows top first, each padded to 2 bytes. Monochrome bit 1 is white.
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
// A bitmap in the format of dc's surface: 32 bits for the screen, the selected bitmap's for a
// memory context.
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);

HBRUSH CreateSolidBrush(COLORREF colour);
HPALETTE CreatePalette(const LOGPALETTE* palette);
HGDIOBJ GetStockObject(int which);

// Selects a bitmap, brush or font into dc and returns the one it replaces (null on failure).
// A bitmap can be selected into one memory context at a time.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Deletes a bitmap, brush, font or palette. An object still selected into a context, or a
// stale handle, is refused; stock objects are left alone (success).
BOOL DeleteObject(HGDIOBJ object);
// BITMAP for a bitmap, LOGFONTA for a font, the entry count (WORD) for a palette. Returns the
// bytes written, or the size needed when out is null; 0 on failure.
int GetObjectA(HGDIOBJ object, int size, LPVOID out);
inline int GetObject(HGDIOBJ object, int size, LPVOID out) { return GetObjectA(object, size, out); }

COLORREF SetBkColor(HDC dc, COLORREF colour);
COLORREF SetTextColor(HDC dc, COLORREF colour);
COLORREF GetBkColor(HDC dc);
COLORREF GetTextColor(HDC dc);
int SetBkMode(HDC dc, int mode);
int GetBkMode(HDC dc);

// Fills rect (right and bottom exclusive) on dc's bitmap with the brush's colour, clipped to
// the bitmap. Returns nonzero on success.
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);

int GetDeviceCaps(HDC dc, int index);

HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
UINT RealizePalette(HDC dc);
// The screen has no palette: always 0 entries.
UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries);

// Reads `lines` rows of bitmap from row `start` (counted from the DIB's first stored row) into
// bits, as a DIB described by info's header: 1, 24 or 32 bits, BI_RGB, bottom-up for a
// positive height. With bits null and biBitCount 0 it fills the header from the bitmap; with
// bits null otherwise it fills biSizeImage and the colour table. Returns the rows copied (or
// nonzero for a header query), 0 on failure. The bitmap need not be selected anywhere.
int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits, BITMAPINFO* info, UINT usage);

// Number of live objects of this process (bitmaps, brushes, fonts, palettes and contexts),
// for leak checks in tests.
size_t GdiLiveObjectCount();
