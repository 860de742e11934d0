// Shared by the metafile objects (gdi_metafile.cpp) and the player (the other gdi_metafile_*.cpp).
// Not for use outside platform/.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/gdi_internal.h"
#include "platform/gdi_metafile.h"

// Enhanced-metafile record types used here.
enum : uint32_t {
  EMR_HEADER = 1,
  EMR_POLYBEZIER = 2,
  EMR_POLYGON = 3,
  EMR_POLYLINE = 4,
  EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6,
  EMR_POLYPOLYLINE = 7,
  EMR_POLYPOLYGON = 8,
  EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10,
  EMR_SETVIEWPORTEXTEX = 11,
  EMR_SETVIEWPORTORGEX = 12,
  EMR_EOF = 14,
  EMR_SETMAPMODE = 17,
  EMR_SETBKMODE = 18,
  EMR_SETPOLYFILLMODE = 19,
  EMR_SETTEXTALIGN = 22,
  EMR_SETTEXTCOLOR = 24,
  EMR_SETBKCOLOR = 25,
  EMR_MOVETOEX = 27,
  EMR_EXCLUDECLIPRECT = 29,
  EMR_INTERSECTCLIPRECT = 30,
  EMR_SAVEDC = 33,
  EMR_RESTOREDC = 34,
  EMR_SETWORLDTRANSFORM = 35,
  EMR_MODIFYWORLDTRANSFORM = 36,
  EMR_SELECTOBJECT = 37,
  EMR_CREATEPEN = 38,
  EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40,
  EMR_ELLIPSE = 42,
  EMR_RECTANGLE = 43,
  EMR_ROUNDRECT = 44,
  EMR_LINETO = 54,
  EMR_BEGINPATH = 59,
  EMR_ENDPATH = 60,
  EMR_CLOSEFIGURE = 61,
  EMR_FILLPATH = 62,
  EMR_STROKEANDFILLPATH = 63,
  EMR_STROKEPATH = 64,
  EMR_ABORTPATH = 68,
  EMR_EXTSELECTCLIPRGN = 75,
  EMR_BITBLT = 76,
  EMR_STRETCHBLT = 77,
  EMR_SETDIBITSTODEVICE = 80,
  EMR_STRETCHDIBITS = 81,
  EMR_EXTCREATEFONTINDIRECTW = 82,
  EMR_EXTTEXTOUTW = 84,
  EMR_POLYBEZIER16 = 85,
  EMR_POLYGON16 = 86,
  EMR_POLYLINE16 = 87,
  EMR_POLYBEZIERTO16 = 88,
  EMR_POLYLINETO16 = 89,
  EMR_POLYPOLYLINE16 = 90,
  EMR_POLYPOLYGON16 = 91,
  EMR_CREATEDIBPATTERNBRUSHPT = 94,
  EMR_EXTCREATEPEN = 95,
};

constexpr uint32_t kEmfSignature = 0x464D4520u;  // " EMF"
constexpr uint32_t kEmfHeaderMin = 88;           // through szlMillimeters

// The object behind HENHMETAFILE: either enhanced-metafile bytes, or a Windows metafile's bytes
// (from its 18-byte header on) played inside the header's frame.
struct GdiMetafile {
  bool isWmf = false;
  std::vector<uint8_t> bytes;
  ENHMETAHEADER header{};
};

// The object behind HMETAFILE: a Windows metafile's bytes from its 18-byte header on.
struct GdiWinMetafile {
  std::vector<uint8_t> bytes;
};

inline uint16_t MfU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline int16_t MfI16(const uint8_t* p) { return static_cast<int16_t>(MfU16(p)); }
inline uint32_t MfU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t MfI32(const uint8_t* p) { return static_cast<int32_t>(MfU32(p)); }

namespace metafile_player {
struct Surface;
}  // namespace metafile_player

// Plays a metafile onto a surface so that its frame fills dest, within playback's work limit and
// reporting into it (may be null). False unless the playback was complete.
bool GdiPlayMetafile(const GdiMetafile& mf, const metafile_player::Surface& surface, const RECT& dest,
                     MetafilePlayback* playback);

// Receives the pixels of a DIB transfer row by row: the colours of pixels [x0, x1) of row y,
// inside the bitmap. Returns false to end the transfer.
class GdiDIBSink {
 public:
  virtual bool Row(int32_t y, int32_t x0, int32_t x1, const COLORREF* colours) = 0;

 protected:
  ~GdiDIBSink() = default;
};

// Draws a packed DIB's source rectangle (xSrc, ySrc from the DIB's lower-left corner for a
// bottom-up DIB, as GDI counts) stretched to the device rectangle (x, y, w, h; negative sides
// mirror), clipped to the bitmap. info points at infoSize bytes, bits at bitsSize bytes. The
// pixels are copied onto the bitmap, or handed to sink when there is one.
// False for an unsupported or inconsistent DIB.
bool GdiDrawDIB(GdiBitmap& bitmap, double x, double y, double w, double h, int32_t xSrc, int32_t ySrc, int32_t srcW,
                int32_t srcH, const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize,
                GdiDIBSink* sink = nullptr);


// Maps a logical point through a context's mapping to device coordinates.
void GdiMapPoint(const GdiDC& dc, double x, double y, double* dx, double* dy);

// ---- Shared by the player's parts ----

namespace metafile_player {

struct PointF {
  double x, y;
};
typedef std::vector<PointF> Figure;

// Points, figures and crossings a single record may produce (bounds work on hostile files).
constexpr size_t kMaxPoints = 1u << 20;
constexpr int kBezierSteps = 16;

// v limited to 0..limit before it becomes an integer (far-off coordinates stay defined).
inline int32_t ClampTo(double v, int32_t limit) {
  if (!(v > 0)) return 0;
  return v >= limit ? limit : static_cast<int32_t>(v);
}

// The drawing work a playback may do and has done, in pixels painted: every pixel a primitive
// sets, and as much again for the scanlines, crossings, clip spans and glyph pixels it works
// through. A primitive spends before it works; once the limit is passed nothing more is drawn.
class Meter {
 public:
  explicit Meter(uint64_t limit = UINT64_MAX) : limit_(limit) {}
  // Adds n; false once the work is past the limit.
  bool Spend(uint64_t n) {
    used_ = n > UINT64_MAX - used_ ? UINT64_MAX : used_ + n;
    return used_ <= limit_;
  }
  bool Out() const { return used_ > limit_; }
  uint64_t Used() const { return used_; }

 private:
  uint64_t limit_;
  uint64_t used_ = 0;
};

// The meter's weights, in pixels painted by a solid fill in the same time: a pixel of a pattern
// or a hatch, of a raster operation, of a DIB read for a transfer, a step of a one-pixel line
// (a row apart on steep lines), a row or span of a clip region made and combined, a font
// matched and loaded, and a glyph rendered (besides the cell's pixels it costs).
constexpr uint64_t kPatternPixel = 12, kRopPixel = 8, kDIBPixel = 8, kLineStep = 64, kRegionRow = 8;
constexpr uint64_t kFontMade = uint64_t{1} << 19, kGlyphRendered = 4096;

}  // namespace metafile_player

