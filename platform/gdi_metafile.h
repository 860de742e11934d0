// Metafiles of the GDI stand-in: enhanced metafiles (EMF) and Windows metafiles (WMF), read
// from files or memory, recorded through a metafile device context, converted EMF -> WMF, and
// played into a memory context's bitmap or straight into the caller's memory.
//
// The player draws what real metafiles carry: DIB transfers (StretchDIBits, SetDIBitsToDevice,
// BitBlt and StretchBlt with a DIB, PatBlt), solid pens, solid, hatched and DIB pattern brushes
// with object selection, rectangles, rounded rectangles, ellipses, polygons, poly-polygons,
// polylines, lines, paths of lines and Bezier curves, and text through the text layer, placed by
// the text alignment, cut to the clip. Every ternary raster operation is applied to DIB transfers and brush
// blits. Clipping: intersected and excluded rectangles and regions made of rectangles (every
// combination mode), saved and restored with the state; a clip path is not applied. Records it
// cannot draw are skipped. Mapping modes, window and viewport origins and extents follow GDI's
// arithmetic. Recording covers SetMapMode, the extents and origins, StretchDIBits and
// SetDIBitsToDevice.
//
// Every size, offset and count read from a metafile is checked against the record that holds
// it; a picture with an impossible header is refused (null handle), a bad record ends playback.
// Playback onto a canvas is held to a limit of drawing work (MetafilePlayback), and says why it
// ended before the end record.
#pragma once

#include <cstdint>

#include "platform/gdi.h"

struct HENHMETAFILE__;
struct HMETAFILE__;
typedef HENHMETAFILE__* HENHMETAFILE;
typedef HMETAFILE__* HMETAFILE;

// Mapping modes.
constexpr int MM_TEXT = 1;
constexpr int MM_LOMETRIC = 2;
constexpr int MM_HIMETRIC = 3;
constexpr int MM_LOENGLISH = 4;
constexpr int MM_HIENGLISH = 5;
constexpr int MM_TWIPS = 6;
constexpr int MM_ISOTROPIC = 7;
constexpr int MM_ANISOTROPIC = 8;

constexpr DWORD SRCCOPY = 0x00CC0020;

struct RECTL {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
struct SIZEL {
  LONG cx;
  LONG cy;
};

// The first record of an enhanced metafile (the fields the library reads).
struct ENHMETAHEADER {
  DWORD iType;
  DWORD nSize;
  RECTL rclBounds;   // device units of the reference device
  RECTL rclFrame;    // 0.01 mm
  DWORD dSignature;  // " EMF"
  DWORD nVersion;
  DWORD nBytes;
  DWORD nRecords;
  WORD nHandles;
  WORD sReserved;
  DWORD nDescription;
  DWORD offDescription;
  DWORD nPalEntries;
  SIZEL szlDevice;       // reference device, pixels
  SIZEL szlMillimeters;  // reference device, millimetres
};

struct METAFILEPICT {
  LONG mm;
  LONG xExt;  // 0.01 mm for MM_ANISOTROPIC and MM_ISOTROPIC
  LONG yExt;
  HMETAFILE hMF;
};

// Files. Null when missing, unreadable or not a metafile of that kind (a placeable Windows
// metafile is not a plain one).
HENHMETAFILE GetEnhMetaFileA(const char* path);
HMETAFILE GetMetaFileA(const char* path);
// An enhanced metafile from its bytes.
HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* bits);
// An enhanced metafile that plays a Windows metafile's records: the picture is picture's
// extents (MM_ANISOTROPIC / MM_ISOTROPIC in 0.01 mm; other modes or extents of 0 take the
// metafile's own window at the reference context's resolution). Null for records that are not
// a Windows metafile.
HENHMETAFILE SetWinMetaFileBits(UINT size, const BYTE* bits, HDC reference, const METAFILEPICT* picture);

BOOL DeleteEnhMetaFile(HENHMETAFILE emf);
BOOL DeleteMetaFile(HMETAFILE wmf);

// Bytes of a metafile: with out null the size; otherwise copies up to size bytes; 0 on failure.
UINT GetMetaFileBitsEx(HMETAFILE wmf, UINT size, LPVOID out);
UINT GetEnhMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* out);
// The enhanced metafile's records as a Windows metafile in the given mapping mode (only
// MM_ANISOTROPIC): window at (0, 0) with the picture's extent in reference pixels.
UINT GetWinMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* out, int mapMode, HDC reference);

// Header: with out null the size needed; else bytes copied (at most size); 0 on failure.
UINT GetEnhMetaFileHeader(HENHMETAFILE emf, UINT size, ENHMETAHEADER* out);

// Plays the picture so that its frame fills rect on dc's bitmap. FALSE for a bad handle, a
// record that is malformed, or data that ends early (drawing up to there is kept).
BOOL PlayEnhMetaFile(HDC dc, HENHMETAFILE emf, const RECT* rect);

// Memory of the caller's that a picture is played into with no bitmap in between (the picture a
// reader returns): `height` rows of `width` pixels, row y at bits + y x stride (a negative
// stride: the rows are stored last first, as in a bottom-up DIB). 24 bits a pixel are R, G, B;
// 32 bits are B, G, R, 0.
struct MetafileCanvas {
  BYTE* bits;
  LONG width;
  LONG height;
  LONG stride;
  WORD bitsPerPixel;
};

// How a playback ended.
enum MetafileEnd : uint32_t {
  kMetafileComplete,    // at the end record, or where data that the header agrees with ends
  kMetafileStopped,     // the work limit was reached (or memory ran out)
  kMetafileEndedEarly,  // the data ends before the size its header gives, or a record runs past it
  kMetafileDamaged,     // a record is malformed
};

// What a playback onto a canvas may cost, and what it did. The work is counted in pixels
// painted: each pixel a fill, line, DIB transfer or text sets, and as much again for the
// scanlines, polygon crossings, clip spans and glyph pixels it works through, so that every
// record costs about what it draws. A pixel of a pattern counts 3, one of a raster operation 4.
struct MetafilePlayback {
  uint64_t workLimit;        // in: the work past which playback stops (0: no limit)
  uint64_t work;             // the work done
  uint32_t records;          // records played (the one the limit stopped counts)
  uint32_t recordsInFile;    // records up to the end record or the end of the data
  uint32_t recordsDeclared;  // records the header gives (enhanced metafiles; 0 for Windows ones)
  uint64_t bytesPlayed;      // bytes from the start through the last whole record played
  uint64_t bytesDeclared;    // bytes the header gives
  uint64_t bytesInFile;      // bytes the metafile holds
  BOOL windows;              // Windows metafile records (else enhanced ones)
  MetafileEnd end;
};

// PlayEnhMetaFile onto a canvas, within playback's work limit, reporting into it (may be null).
// FALSE unless the playback was complete, and for a canvas that is not one.
BOOL PlayEnhMetaFileOnto(HENHMETAFILE emf, const MetafileCanvas* canvas, const RECT* rect,
                         MetafilePlayback* playback);

// A metafile context; reference null is the screen. frame (0.01 mm) null: the drawing's extent.
HDC CreateEnhMetaFileA(HDC reference, const char* file, const RECT* frame, const char* description);
// Ends recording (the context is deleted) and returns the metafile.
HENHMETAFILE CloseEnhMetaFile(HDC dc);

// Mapping on any context (recorded on a metafile context).
int SetMapMode(HDC dc, int mode);
int GetMapMode(HDC dc);
BOOL SetWindowExtEx(HDC dc, int x, int y, SIZE* old);
BOOL SetViewportExtEx(HDC dc, int x, int y, SIZE* old);
BOOL SetWindowOrgEx(HDC dc, int x, int y, POINT* old);
BOOL SetViewportOrgEx(HDC dc, int x, int y, POINT* old);
// Logical to device coordinates under the context's mapping.
BOOL LPtoDP(HDC dc, POINT* points, int count);

// DIB transfers: the rows copied (scan lines), 0 on failure. Supported DIBs: 1, 4, 8, 24 and 32
// bits, BI_RGB (and BI_BITFIELDS for 16 and 32 bits in metafiles).
int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop);
int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc, UINT startScan,
                      UINT lines, const void* bits, const BITMAPINFO* info, UINT usage);

// Number of live metafiles and metafile contexts, for leak checks in tests.
size_t GdiLiveMetafileCount();
